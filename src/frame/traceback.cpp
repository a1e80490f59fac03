#include "traceback.h"

#include "process.h"

#include <frameobject.h>

#include <cstdio>
#include <span>
#include <utility>

namespace cm {

// One frame per (line, method), made on first use from an empty code object whose first
// line is the line, and kept: a traceback entry made from it reports that line. The
// frame never runs, so one frame serves every exception that passes the same line, and
// a failure costs one traceback object, as it does in Python code. A line holds the
// frames of at most two methods: the one whose statement it is, and the module's
// execution, which reports a method's definition line when making the method failed.
// The frames have the module's dictionary as their globals: they are kept for as long
// as the module is, that is for the process once the module's execution succeeded, and
// dropped with the module when it failed. A function that outlived a failed execution
// has another dictionary as its globals: its entries get frames of their own, made for
// each failure and not kept; so does a line beyond the table (none is).
// Without the GIL, one lock guards the table: entries are found, added and dropped
// under it, and a frame found is taken (a strong reference) before it is let go. Its
// cost falls on failing calls alone.
struct TracebackFrames {
    static constexpr int lines = 256;  // crypt_main.py's lines are 1 to 254
    static constexpr int per_line = 2;
    struct Entry {
        const char* method;  // identity of the method's name; nullptr: module execution
        PyObject* frame;     // nullptr: a free entry
        int lasti;           // the frame's last instruction, as a traceback entry records it
    };
    Entry entries[lines][per_line];
#ifdef Py_GIL_DISABLED
    PyMutex lock;
#endif
};
TracebackFrames traceback_frames;

namespace {

using Entry = TracebackFrames::Entry;

// The table, held for as long as the object lives (locked without the GIL).
class Table {
public:
#ifdef Py_GIL_DISABLED
    Table() noexcept { PyMutex_Lock(&traceback_frames.lock); }
    ~Table() { PyMutex_Unlock(&traceback_frames.lock); }
#else
    Table() noexcept = default;
#endif
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // The entry of (line, method), or nullptr when there is none.
    Entry* find(int line, const char* method) noexcept {
        for (Entry& e : row(line))
            if (e.frame != nullptr && e.method == method) return &e;
        return nullptr;
    }

    // A free entry for the line, or nullptr when it has none (or lies beyond the table).
    Entry* free_entry(int line) noexcept {
        for (Entry& e : row(line))
            if (e.frame == nullptr) return &e;
        return nullptr;
    }

    // Every entry freed; their frames, to be released once the table is let go.
    int take_all(PyObject** frames, int capacity) noexcept {
        int n = 0;
        for (auto& line : traceback_frames.entries)
            for (Entry& e : line)
                if (e.frame != nullptr && n < capacity) frames[n++] = std::exchange(e.frame, nullptr);
        return n;
    }

private:
    static std::span<Entry> row(int line) noexcept {
        if (line < 0 || line >= TracebackFrames::lines) return {};
        return traceback_frames.entries[line];
    }
};

// A frame for the entry, with `globals` as its globals; nullptr, with the failure
// pending, when it cannot be made.
PyFrameObject* new_frame(const char* method, int line, PyObject* globals) {
    char function[96];
    if (method == nullptr)
        std::snprintf(function, sizeof function, "init crypt_main");
    else
        std::snprintf(function, sizeof function, "crypt_main._Crypt.%s", method);
    PyCodeObject* code = PyCode_NewEmpty(source_file, function, line);
    if (code == nullptr) return nullptr;
    PyFrameObject* frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
    Py_DECREF(code);
    return frame;
}

// The kept frame of the entry (a new reference) and its last instruction, made and kept
// on first use; nullptr, with the failure pending, when it cannot be made.
PyObject* kept_frame(const char* method, int line, PyObject* globals, int* lasti) {
    {
        Table table;
        if (Entry* e = table.find(line, method)) {
            *lasti = e->lasti;
            return Py_NewRef(e->frame);
        }
    }
    // Made outside the table: making it may run other Python code (a collection), which
    // may fail too and come here.
    PyFrameObject* made = new_frame(method, line, globals);
    if (made == nullptr) return nullptr;
    PyObject* frame = reinterpret_cast<PyObject*>(made);
    *lasti = PyFrame_GetLasti(made);
    Table table;
    if (Entry* e = table.find(line, method)) {  // another failure made it meanwhile
        PyObject* theirs = Py_NewRef(e->frame);
        *lasti = e->lasti;
        Py_DECREF(frame);  // a bare frame of no other use: releasing it runs no code
        return theirs;
    }
    if (Entry* e = table.free_entry(line)) *e = Entry{method, Py_NewRef(frame), *lasti};
    return frame;
}

// Puts a traceback object for `frame` (stolen) in front of the ones the exception
// carries, as PyTraceBack_Here does for the pending exception; -1 with the failure
// pending.
int push_entry(PyObject* exception, PyObject* frame, int lasti) {
    PyTracebackObject* tb = PyObject_GC_New(PyTracebackObject, &PyTraceBack_Type);
    if (tb == nullptr) {
        Py_DECREF(frame);
        return -1;
    }
    tb->tb_next = reinterpret_cast<PyTracebackObject*>(PyException_GetTraceback(exception));
    tb->tb_frame = reinterpret_cast<PyFrameObject*>(frame);
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
    if (globals == module_dict()) [[likely]] {
        int lasti;
        if (PyObject* frame = kept_frame(method, line, globals, &lasti)) added = push_entry(exception, frame, lasti);
    } else if (PyFrameObject* frame = new_frame(method, line, globals)) {
        added = push_entry(exception, reinterpret_cast<PyObject*>(frame), PyFrame_GetLasti(frame));
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
    constexpr int capacity = TracebackFrames::lines * TracebackFrames::per_line;
    PyObject* dropped[capacity];
    int n;
    {
        Table table;
        n = table.take_all(dropped, capacity);
    }
    for (int i = 0; i < n; i++) Py_DECREF(dropped[i]);
}

}  // namespace cm
