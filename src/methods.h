// The methods of _Crypt, in the order of the class namespace.
#pragma once

#include "frame/function.h"

#include <span>

namespace cm {

std::span<const MethodDef> method_table();

}  // namespace cm
