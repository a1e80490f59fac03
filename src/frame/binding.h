// Binding the arguments of a call to a method's parameters.
#pragma once

#include "compat.h"

namespace cm {

struct Signature {
    const char* name;         // the bare method name, as the error texts show it
    PyObject* const* params;  // parameter names (interned), in order
    int count;                // N: all parameters
    int required;             // R: parameters without a default
    PyObject* defaults;       // the N - R defaults (a tuple), or nullptr
};

// Whether the arguments of a vectorcall are already the parameters in order: every
// parameter given, by position or by a keyword that is the parameter's own name object,
// keywords in parameter order. Binding then changes nothing, and the arguments serve
// as they are (bind would fill the slots with the very same values).
inline bool in_place(const Signature& sig, Py_ssize_t nargs, PyObject* kwnames) {
    if (kwnames == nullptr) return nargs == sig.count;
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    if (nargs + nkw != sig.count) return false;
    for (Py_ssize_t k = 0; k < nkw; k++)
        if (PyTuple_GET_ITEM(kwnames, k) != sig.params[nargs + k]) return false;
    return true;
}

// Fills slots[0..count) with borrowed references to the arguments and defaults.
// Returns -1 with TypeError set when the call does not fit; allocates nothing.
int bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots);

}  // namespace cm
