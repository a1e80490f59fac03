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
    PyObject* value;
    int found = namespace_item(globals, name.get(), &value);
    if (found > 0) [[likely]] return Ref::borrow(value);
    return global_missed(globals, name, found, value);
}

}  // namespace cm
