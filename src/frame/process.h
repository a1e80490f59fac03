// Everything that lives for the process, in one list.
//
// Lifetime: each object is made once, the first time start-up reaches it, and kept
// until the process ends. A start-up that fails keeps what it made of the constants,
// the method data, the function type and the look-up caches (a later import uses them
// again), and forgets the module and all that holds it: `process.module` and
// `process.dict` are unset again and the traceback frames (whose globals are the
// module's dictionary) dropped, so that the next import starts afresh and the
// half-built module goes away with its last user. The module lives in one
// interpreter (`process.interpreter_id`), whose global lock guards all of it.
#pragma once

#include "compat.h"

#include <cstdint>

namespace cm {

// The module and what its methods see as their globals.
struct Process {
    PyObject* module = nullptr;          // the module object, while it is (being) executed
    PyObject* dict = nullptr;            // its dictionary: the methods' globals
    PyObject* builtins = nullptr;        // the builtins module
    int64_t interpreter_id = -1;         // the one interpreter the module may live in
    void* replaced_state = nullptr;      // the module's state block from before a re-import
    PyTypeObject* function_type = nullptr;  // the type of the methods' function objects
};
extern Process process;

// The constants (constants.h): every name, text, number and tuple the module uses.
struct Names;
struct Texts;
struct Ints;
struct Objects;
struct Tuples;
extern Names N;
extern Texts S;
extern Ints I;
extern Objects O;
extern Tuples T;

// What each method's function object is made from (function.cpp): its name, qualified
// name, docstring, default tuple and introspection code object, one per row of the
// method table, in table order.
struct PreparedMethods;
extern PreparedMethods prepared_methods;

// The frames of the traceback entries, one per (line, method) that has failed
// (traceback.cpp).
struct TracebackFrames;
extern TracebackFrames traceback_frames;

// Remembered look-ups (lookup.h): methods found on types, names found in the watched
// module namespaces, and the records of those namespaces.
struct MethodCache;
struct NamespaceCache;
extern MethodCache method_cache;
extern NamespaceCache namespace_cache;

}  // namespace cm
