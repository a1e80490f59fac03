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

// A module global as a function body sees it: the module's dictionary first, then
// the builtins module, else NameError (an empty handle). Looked up at every use.
Ref global(PyObject* name);

}  // namespace cm
