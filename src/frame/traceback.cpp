#include "traceback.h"

#include "process.h"

#include <frameobject.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

namespace cm {

// One frame per (line, method), made on first use from an empty code object whose first
// line is the line, and kept: a traceback entry made from it reports that line. The
// frame never runs, so one frame serves every exception that passes the same line, and
// a failure costs one traceback object, as it does in Python code. Sorted by (line,
// method), searched by bisection. The frames have the module's dictionary as their
// globals: they are kept for as long as the module is, that is for the process once
// the module's execution succeeded, and dropped with the module when it failed. A
// function that outlived a failed execution has another dictionary as its globals:
// its entries get frames of their own, made for each failure and not kept.
struct TracebackFrames {
    struct Entry {
        int line;
        const char* method;  // identity of the method's name; nullptr: module execution
        PyObject* frame;
        int lasti;           // the frame's last instruction, as a traceback entry records it
    };
    std::vector<Entry>& entries = *new std::vector<Entry>();
};
TracebackFrames traceback_frames;

namespace {

using Entry = TracebackFrames::Entry;
std::vector<Entry>& frames = traceback_frames.entries;

bool before(const Entry& e, std::pair<int, const char*> key) {
    return e.line != key.first ? e.line < key.first : std::less<const char*>()(e.method, key.second);
}

std::vector<Entry>::iterator find(int line, const char* method) {
    return std::lower_bound(frames.begin(), frames.end(), std::make_pair(line, method), before);
}

bool matches(std::vector<Entry>::iterator it, int line, const char* method) {
    return it != frames.end() && it->line == line && it->method == method;
}

// A frame for the entry, with `globals` as its globals; nullptr, with the failure
// pending, when it cannot be made.
PyFrameObject* new_frame(const char* method, int line, PyObject* globals) {
    PyFrameObject* frame = nullptr;
    try {
        std::string function = method != nullptr ? std::string("crypt_main._Crypt.") + method : "init crypt_main";
        PyCodeObject* code = PyCode_NewEmpty(source_file, function.c_str(), line);
        if (code != nullptr) {
            frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
            Py_DECREF(code);
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    return frame;
}

// The entry's frame for the module's dictionary, made on first use; nullptr, with the
// failure pending, when it cannot be made.
const Entry* entry_for(const char* method, int line) {
    if (auto it = find(line, method); matches(it, line, method)) return &*it;

    PyFrameObject* frame = new_frame(method, line, process.dict);
    if (frame == nullptr) return nullptr;
    // Making the frame may have run other Python code, and with it another thread that
    // filled the same entry: search again.
    auto it = find(line, method);
    if (matches(it, line, method)) {
        Py_DECREF(frame);
        return &*it;
    }
    try {
        if (frames.size() == frames.capacity()) {
            auto at = it - frames.begin();
            frames.reserve(frames.capacity() + 64);
            it = frames.begin() + at;
        }
        return &*frames.insert(it, Entry{line, method, reinterpret_cast<PyObject*>(frame), PyFrame_GetLasti(frame)});
    } catch (const std::bad_alloc&) {
        Py_DECREF(frame);
        PyErr_NoMemory();
        return nullptr;
    }
}

// Puts a traceback object for `frame` in front of the ones the exception carries, as
// PyTraceBack_Here does for the pending exception; -1 with the failure pending.
int push_entry(PyObject* exception, PyObject* frame, int lasti) {
    PyTracebackObject* tb = PyObject_GC_New(PyTracebackObject, &PyTraceBack_Type);
    if (tb == nullptr) return -1;
    tb->tb_next = reinterpret_cast<PyTracebackObject*>(PyException_GetTraceback(exception));
    tb->tb_frame = reinterpret_cast<PyFrameObject*>(Py_NewRef(frame));
    tb->tb_lasti = lasti;
    tb->tb_lineno = -1;  // read from the frame's code when it is asked for, as for any entry
    PyObject_GC_Track(tb);
    PyException_SetTraceback(exception, reinterpret_cast<PyObject*>(tb));
    Py_DECREF(tb);
    return 0;
}

}  // namespace

void add_traceback(const char* method, int line, PyObject* globals) noexcept {
    PyObject* exception = PyErr_GetRaisedException();
    if (exception == nullptr) return;
    add_traceback(exception, method, line, globals);
    PyErr_SetRaisedException(exception);
}

void add_traceback(PyObject*& exception, const char* method, int line, PyObject* globals) noexcept {
    int added = -1;
    if (globals == process.dict) [[likely]] {
        if (const Entry* entry = entry_for(method, line)) added = push_entry(exception, entry->frame, entry->lasti);
    } else if (PyFrameObject* frame = new_frame(method, line, globals)) {
        added = push_entry(exception, reinterpret_cast<PyObject*>(frame), PyFrame_GetLasti(frame));
        Py_DECREF(frame);
    }
    if (added < 0) {
        // The failure to make the entry goes on instead, with the exception as its context.
        if (PyObject* failure = PyErr_GetRaisedException()) {
            PyException_SetContext(failure, exception);
            exception = failure;
        }
    }
}

void forget_traceback_frames() noexcept {
    // Releasing a frame can run Python code that fails again: the table is emptied first.
    std::vector<Entry> dropped;
    dropped.swap(frames);
    for (const Entry& entry : dropped) Py_DECREF(entry.frame);
}

}  // namespace cm
