// For a method whose body is not written yet.
#pragma once

#include "ref.h"

namespace cm {

[[noreturn]] inline void not_implemented(const char* method) {
    PyErr_Format(PyExc_NotImplementedError, "_Crypt.%s is not implemented yet", method);
    raised();
}

}  // namespace cm
