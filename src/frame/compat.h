// The C API as the module uses it: Python.h, and what it reads of a thread state.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Whether an exception is set in the thread state (what PyErr_Occurred() tells of the
// thread state at hand).
inline bool exception_set(PyThreadState* state) {
#if PY_VERSION_HEX >= 0x030C0000
    return state->current_exception != nullptr;
#else
    return state->curexc_type != nullptr;
#endif
}
