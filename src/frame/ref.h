// The owning handle: an Obj (object.h) that holds a reference of its own and releases
// it when it goes away, on every way out of a body.
#pragma once

#include "object.h"

#include <utility>

namespace cm {

class Ref : public Obj {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : Obj(Py_XNewRef(other.p_)) {}
    Ref(Ref&& other) noexcept : Obj(std::exchange(other.p_, nullptr)) {}
    ~Ref() { Py_XDECREF(p_); }

    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    // Takes over a new reference; NULL (a failed call) makes an empty handle.
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Takes a new reference to an object owned elsewhere.
    static Ref borrow(PyObject* p) noexcept { return Ref(Py_XNewRef(p)); }
    static Ref borrow(Obj o) noexcept { return borrow(o.get()); }

    // Gives the reference up to the caller.
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept { Py_CLEAR(p_); }

    // Hands the reference over to the call it is passed to, or whose object it is:
    // `f.call(x.take())` or `x.take().method(...)` releases it once the statement's call
    // returns, as the interpreter drops a temporary once the call that consumed it is
    // done; x is empty afterwards.
    Ref take() noexcept { return std::move(*this); }

private:
    explicit Ref(PyObject* p) noexcept : Obj(p) {}
};

}  // namespace cm
