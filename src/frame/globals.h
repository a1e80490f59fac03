// The look-up of module globals.
#pragma once

#include "lookup.h"
#include "ref.h"

namespace cm {

// A global found neither remembered nor in the globals: the builtins module, else
// NameError (an empty handle).
Ref global_missed(PyObject* globals, Obj name, int found, PyObject* value);

// A module global as a function body sees it: the function's globals (the module's
// dictionary) first, then the builtins module, else NameError (an empty handle).
// Looked up at every use.
inline Ref global(PyObject* globals, Obj name) {
    // namespace_item leaves value unset when it answers -1; passing an indeterminate
    // pointer on is undefined behaviour, which clang (19, -O2) takes to mean that -1
    // never comes, and drops the check for it (a crash on the first miss).
    PyObject* value = nullptr;
    int found = namespace_item(globals, name.get(), &value);
    if (found > 0) [[likely]] return Ref::borrow(value);
    return global_missed(globals, name, found, value);
}

}  // namespace cm
