// Traceback entries in "crypt_main.py" for exceptions that leave the module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace cm {

inline constexpr const char* source_file = "crypt_main.py";

// Adds an entry at `line` to the pending exception's traceback: "crypt_main._Crypt." and
// the name `method` (the method table's own string: its address is the key), or
// "init crypt_main" when `method` is nullptr. If the entry cannot be made, the exception
// of that failure replaces the pending one.
void add_traceback(const char* method, int line) noexcept;

}  // namespace cm
