// Everything that lives for the process, in one list.
//
// Lifetime: each object is made once, the first time start-up reaches it, and kept
// until the process ends. A start-up that fails keeps what it made of the constants,
// the method data, the function type and the look-up caches (a later import uses them
// again), and forgets the module and all that holds it: `process.module` and
// `process.dict` are unset again and the traceback frames (whose globals are the
// module's dictionary) dropped, so that the next import starts afresh and the
// half-built module goes away with its last user. The module lives in one
// interpreter (`process.interpreter_id`).
//
// Threads: start-up runs under the import system's lock for the module, one at a time.
// With the GIL, the GIL guards the rest. Without it (a free-threaded build), each piece
// says which of these holds: immutable after start-up (the constants, the method data,
// the function type and the functions made from it: none is changed once a function
// can see it); atomic (`process.dict`, which a failing call compares while a later
// start-up may set it); locked (the traceback frames); per thread (the known thread
// state, operations.h); or not there at all (the remembered look-ups, lookup.h).
#pragma once

#include "compat.h"

#include <atomic>
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

// The module's dictionary, as a failing call compares its function's globals with it.
// Set by the module's execution alone.
inline PyObject* module_dict() noexcept {
#ifdef Py_GIL_DISABLED
    return std::atomic_ref<PyObject*>(process.dict).load(std::memory_order_relaxed);
#else
    return process.dict;
#endif
}
inline void set_module_dict(PyObject* dict) noexcept {
#ifdef Py_GIL_DISABLED
    std::atomic_ref<PyObject*>(process.dict).store(dict, std::memory_order_relaxed);
#else
    process.dict = dict;
#endif
}

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
// module namespaces, and the records of those namespaces. Not in a free-threaded build.
#ifndef Py_GIL_DISABLED
struct MethodCache;
struct NamespaceCache;
extern MethodCache method_cache;
extern NamespaceCache namespace_cache;
#endif

}  // namespace cm
