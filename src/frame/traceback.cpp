#include "traceback.h"

#include "globals.h"

#include <frameobject.h>

#include <algorithm>
#include <new>
#include <string>
#include <tuple>
#include <vector>

namespace cm {

namespace {

// One empty code object per (line, function), made on first use and kept: a frame
// made from it reports the code object's first line.
struct CodeEntry {
    int line;
    std::string function;
    PyObject* code;
};
// Sorted by (line, function). Never destroyed: the code objects live as long as the
// process, and stay reachable from here until its very end.
std::vector<CodeEntry>& code_cache = *new std::vector<CodeEntry>();

auto find(int line, std::string_view function) {
    auto key = std::make_tuple(line, function);
    return std::lower_bound(code_cache.begin(), code_cache.end(), key, [](const CodeEntry& e, const auto& k) {
        return std::make_tuple(e.line, std::string_view(e.function)) < k;
    });
}

bool matches(std::vector<CodeEntry>::iterator it, int line, std::string_view function) {
    return it != code_cache.end() && it->line == line && it->function == function;
}

PyObject* code_for(std::string_view function, int line) {
    if (auto it = find(line, function); matches(it, line, function)) return it->code;

    std::string name(function);
    PyObject* pending = PyErr_GetRaisedException();
    PyObject* code = reinterpret_cast<PyObject*>(PyCode_NewEmpty(source_file, name.c_str(), line));
    if (code == nullptr) {
        Py_XDECREF(pending);
        return nullptr;
    }
    PyErr_SetRaisedException(pending);
    // Making the code object may have run other Python code, and with it another
    // thread that filled the same entry: search again.
    auto it = find(line, function);
    if (matches(it, line, function)) {
        Py_DECREF(code);
        return it->code;
    }
    if (code_cache.size() == code_cache.capacity()) {
        auto at = it - code_cache.begin();
        try {
            code_cache.reserve(code_cache.capacity() + 64);
        } catch (...) {
            Py_DECREF(code);
            throw;
        }
        it = code_cache.begin() + at;
    }
    code_cache.insert(it, CodeEntry{line, std::move(name), code});
    return code;
}

}  // namespace

void add_traceback(std::string_view function, int line) noexcept {
    PyObject* code;
    try {
        code = code_for(function, line);
    } catch (const std::bad_alloc&) {
        code = nullptr;
        PyErr_NoMemory();
    }
    if (code == nullptr) return;
    PyFrameObject* frame = PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code), process.dict,
                                       nullptr);
    if (frame == nullptr) return;
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
}

}  // namespace cm
