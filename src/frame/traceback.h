// Traceback entries in "crypt_main.py" for exceptions that leave the module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

namespace cm {

inline constexpr const char* source_file = "crypt_main.py";

// Adds the entry `function` at `line` to the pending exception's traceback. If the
// entry cannot be made, the exception of that failure replaces the pending one.
void add_traceback(std::string_view function, int line) noexcept;

}  // namespace cm
