// What a running body knows of its call, and how it checks each step.
#pragma once

#include "globals.h"
#include "operations.h"

#include <concepts>

namespace cm {

// What a body (or a start-up step) gives back when a step failed: an empty handle, or -1.
struct Failure {
    operator Ref() const noexcept { return Ref(); }
    constexpr operator int() const noexcept { return -1; }
};
inline constexpr Failure failure{};

// Whether a step failed: an empty handle (a Ref, or a Callee: operations.h), or a
// negative status, length or truth value.
inline bool failed(const Obj& r) noexcept { return !r; }
template <std::signed_integral Status>
constexpr bool failed(Status status) noexcept {
    return status < 0;
}

// The check after a step that can fail: the body returns at once, with the step's
// exception pending, as CPython's own `if (x == NULL) goto error;` does; nothing after
// a failed step runs.
#define CHECK(step) \
    if (::cm::failed(step)) [[unlikely]] return ::cm::failure

// Which method runs, its globals, and the line that a failure from here on reports. The
// body sets the line before each statement (`c.at(62);  // the statement`); helpers
// never do.
class Call {
public:
    // `method` is the method's name as its table row holds it; nullptr stands for the
    // module's own execution ("init crypt_main"). `globals` is the function's own
    // __globals__ (the module's dictionary), borrowed for the call.
    // A call that begins or ends may leave the thread under another thread state, or
    // give it to another greenlet: the next check reads the thread state again.
    Call(const char* method, int line, PyObject* globals) noexcept : method_(method), line_(line), globals_(globals) {
        known_thread_state = nullptr;
    }
    ~Call() { known_thread_state = nullptr; }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    void at(int line) noexcept { line_ = line; }
    Ref global(Obj name) const { return cm::global(globals_, name); }

    // Adds this call's entry, at the current line, to the pending exception's traceback,
    // or to an exception taken out of the thread state (see traceback.h).
    void add_traceback() noexcept;
    void add_traceback(PyObject*& exception) noexcept;

    // The pending exception already carries this call's entry (an exception that a
    // handler caught and let go on unchanged): the boundary adds none.
    void entry_added() noexcept { entry_added_ = true; }

    // The boundary: what a body returned becomes the call's result. A failure gets its
    // traceback entry; a failure without an exception, or a result with one pending,
    // breaks the protocol and becomes SystemError.
    PyObject* leave(PyObject* result) noexcept;

private:
    const char* method_;
    int line_;
    PyObject* globals_;
    bool entry_added_ = false;
};

}  // namespace cm
