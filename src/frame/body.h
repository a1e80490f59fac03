// What a method body sees: its call (the line, module globals, CHECK), the operations
// on objects, and the constants.
#pragma once

#include "call.h"
#include "constants.h"
#include "operations.h"
