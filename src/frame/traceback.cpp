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
// method), searched by bisection. Never destroyed: the frames live as long as the
// process, and stay reachable from here until its very end.
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

// The entry's frame, made on first use; nullptr, with the failure pending, when it
// cannot be made.
const Entry* entry_for(const char* method, int line) {
    if (auto it = find(line, method); matches(it, line, method)) return &*it;

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

}  // namespace

void add_traceback(const char* method, int line) noexcept {
    PyObject* exception = PyErr_GetRaisedException();
    if (exception == nullptr) return;
    add_traceback(exception, method, line);
    PyErr_SetRaisedException(exception);
}

// What PyTraceBack_Here does, on an exception already in hand: a traceback object
// for the frame, in front of the ones the exception carries.
void add_traceback(PyObject*& exception, const char* method, int line) noexcept {
    const Entry* entry = entry_for(method, line);
    PyTracebackObject* tb = entry ? PyObject_GC_New(PyTracebackObject, &PyTraceBack_Type) : nullptr;
    if (tb == nullptr) {
        // The failure to make the entry goes on instead, with the exception as its context.
        if (PyObject* failure = PyErr_GetRaisedException()) {
            PyException_SetContext(failure, exception);
            exception = failure;
        }
        return;
    }
    tb->tb_next = reinterpret_cast<PyTracebackObject*>(PyException_GetTraceback(exception));
    tb->tb_frame = reinterpret_cast<PyFrameObject*>(Py_NewRef(entry->frame));
    tb->tb_lasti = entry->lasti;
    tb->tb_lineno = -1;  // read from the frame's code when it is asked for, as for any entry
    PyObject_GC_Track(tb);
    PyException_SetTraceback(exception, reinterpret_cast<PyObject*>(tb));
    Py_DECREF(tb);
}

}  // namespace cm
