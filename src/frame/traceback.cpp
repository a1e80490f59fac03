#include "traceback.h"

#include "globals.h"

#include <frameobject.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

namespace cm {

namespace {

// One frame per (line, method), made on first use from an empty code object whose first
// line is the line, and kept: a traceback entry made from it reports that line. The
// frame never runs, so one frame serves every exception that passes the same line, and
// a failure costs one traceback object, as it does in Python code.
struct Entry {
    int line;
    const char* method;  // identity of the method's name; nullptr: module execution
    PyObject* frame;
};

bool before(const Entry& e, std::pair<int, const char*> key) {
    return e.line != key.first ? e.line < key.first : std::less<const char*>()(e.method, key.second);
}

// Sorted by (line, method). Never destroyed: the frames live as long as the process,
// and stay reachable from here until its very end.
std::vector<Entry>& frames = *new std::vector<Entry>();

std::vector<Entry>::iterator find(int line, const char* method) {
    return std::lower_bound(frames.begin(), frames.end(), std::make_pair(line, method), before);
}

bool matches(std::vector<Entry>::iterator it, int line, const char* method) {
    return it != frames.end() && it->line == line && it->method == method;
}

// The frame for the entry; nullptr, with the pending exception replaced by the failure,
// when it cannot be made.
PyObject* frame_for(const char* method, int line) {
    if (auto it = find(line, method); matches(it, line, method)) return it->frame;

    PyObject* pending = PyErr_GetRaisedException();
    PyFrameObject* frame = nullptr;
    try {
        std::string function = method != nullptr ? std::string("crypt_main._Crypt.") + method : "init crypt_main";
        PyCodeObject* code = PyCode_NewEmpty(source_file, function.c_str(), line);
        if (code != nullptr) {
            frame = PyFrame_New(PyThreadState_Get(), code, process.dict, nullptr);
            Py_DECREF(code);
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    if (frame == nullptr) {
        Py_XDECREF(pending);
        return nullptr;
    }
    PyErr_SetRaisedException(pending);
    // Making the frame may have run other Python code, and with it another thread that
    // filled the same entry: search again.
    auto it = find(line, method);
    if (matches(it, line, method)) {
        Py_DECREF(frame);
        return it->frame;
    }
    try {
        if (frames.size() == frames.capacity()) {
            auto at = it - frames.begin();
            frames.reserve(frames.capacity() + 64);
            it = frames.begin() + at;
        }
        frames.insert(it, Entry{line, method, reinterpret_cast<PyObject*>(frame)});
    } catch (const std::bad_alloc&) {
        // Not remembered: this entry is still made, with a frame of its own.
        PyTraceBack_Here(frame);
        Py_DECREF(frame);
        return nullptr;
    }
    return reinterpret_cast<PyObject*>(frame);
}

}  // namespace

void add_traceback(const char* method, int line) noexcept {
    if (PyObject* frame = frame_for(method, line)) PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame));
}

}  // namespace cm
