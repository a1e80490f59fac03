// Binding the arguments of a call to a method's parameters.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace cm {

struct Signature {
    const char* name;         // the bare method name, as the error texts show it
    PyObject* const* params;  // parameter names (interned), in order
    int count;                // N: all parameters
    int required;             // R: parameters without a default
    PyObject* defaults;       // the N - R defaults (a tuple), or nullptr
};

// Fills slots[0..count) with borrowed references to the arguments and defaults.
// Returns -1 with TypeError set when the call does not fit; allocates nothing.
int bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots);

}  // namespace cm
