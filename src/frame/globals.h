// The module's process-wide state and the look-up of module globals.
#pragma once

#include "ref.h"

#include <cstdint>

namespace cm {

// Set while the module executes and for the rest of the process; forgotten again
// only when execution fails.
struct Process {
    PyObject* module = nullptr;    // the module object
    PyObject* dict = nullptr;      // its dictionary: the methods' globals
    PyObject* builtins = nullptr;  // the builtins module
    int64_t interpreter_id = -1;   // the one interpreter the module may live in
};
extern Process process;

// A global found neither remembered nor in the module's dictionary: the builtins
// module, else NameError (an empty handle).
Ref global_missed(PyObject* name, int found, PyObject* value);

// A module global as a function body sees it: the module's dictionary first, then
// the builtins module, else NameError (an empty handle). Looked up at every use.
inline Ref global(PyObject* name) {
    PyObject* value;
    int found = namespace_item(process.dict, name, &value);
    if (found > 0) [[likely]] return Ref::borrow(value);
    return global_missed(name, found, value);
}

}  // namespace cm
