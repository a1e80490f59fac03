// Traceback entries in "crypt_main.py" for exceptions that leave the module.
#pragma once

#include "compat.h"

namespace cm {

inline constexpr const char* source_file = "crypt_main.py";

// Adds an entry at `line` to the pending exception's traceback: "crypt_main._Crypt." and
// the name `method` (the method table's own string: its address is the key), or
// "init crypt_main" when `method` is nullptr; its frame's globals are `globals`. If the
// entry cannot be made, the exception of that failure replaces the pending one.
void add_traceback(const char* method, int line, PyObject* globals) noexcept;

// The same for an exception taken out of the thread state (PyErr_GetRaisedException),
// which the caller puts back. If the entry cannot be made, `exception` becomes the
// exception of that failure, with the former one as its context.
void add_traceback(PyObject*& exception, const char* method, int line, PyObject* globals) noexcept;

// Drops the frames kept for the module's dictionary: called when the module's execution
// failed, so that nothing kept here holds the dropped module.
void forget_traceback_frames() noexcept;

}  // namespace cm
