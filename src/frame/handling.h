// Catching an exception inside a method body the way an `except` block does: the
// caught exception is the handled one (what sys.exception() returns) while the
// handler runs, so an exception raised meanwhile gets it as its __context__.
#pragma once

#include "function.h"

#include <utility>

namespace cm {

// Thrown when a body lets a caught exception go on unchanged: the exception is pending
// again and already carries this call's traceback entry, so the boundary adds none.
struct Reraised : Raised {};

// Takes the pending exception, after adding the call's traceback entry for the line
// where it arose, and makes it the handled exception for the lifetime of this object.
// The handled exception from before is restored on every way out.
class Caught {
public:
    explicit Caught(const Call& c) noexcept {
        c.add_traceback();
        exception_ = PyErr_GetRaisedException();
        previous_ = PyErr_GetHandledException();
        PyErr_SetHandledException(exception_);
    }
    ~Caught() {
        PyErr_SetHandledException(previous_);
        Py_XDECREF(previous_);
        Py_XDECREF(exception_);
    }
    Caught(const Caught&) = delete;
    Caught& operator=(const Caught&) = delete;

    Ref exception() const noexcept { return Ref::borrow(exception_); }

    // `except cls:` whether the caught exception is an instance of the class `cls`, or
    // of one of the classes in the tuple `cls`; anything else there is a TypeError.
    bool matches(PyObject* cls) const {
        bool valid = PyExceptionClass_Check(cls);
        if (PyTuple_Check(cls)) {
            valid = true;
            for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(cls); ++i)
                valid = valid && PyExceptionClass_Check(PyTuple_GET_ITEM(cls, i));
        }
        if (!valid) {
            PyErr_SetString(PyExc_TypeError, "catching classes that do not inherit from BaseException is not allowed");
            raised();
        }
        return PyErr_GivenExceptionMatches(exception_, cls) != 0;
    }

    // `raise error` inside the handler: `error` is an exception instance, or a class
    // that is called without arguments. It gets the caught exception as __context__.
    [[noreturn]] void raise(const Ref& error) const {
        Ref value = error;
        if (PyExceptionClass_Check(error.get())) {
            value = error.call();
            if (!PyExceptionInstance_Check(value.get())) {
                PyErr_Format(PyExc_TypeError, "calling %R should have returned an instance of BaseException, not %R",
                             error.get(), Py_TYPE(value.get()));
                raised();
            }
        } else if (!PyExceptionInstance_Check(value.get())) {
            PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
            raised();
        }
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(value.get())), value.get());
        raised();
    }

    // A bare `raise`: the caught exception goes on as it is, with its traceback.
    [[noreturn]] void reraise() {
        PyErr_SetRaisedException(std::exchange(exception_, nullptr));
        throw Reraised{};
    }

private:
    PyObject* exception_;
    PyObject* previous_;
};

}  // namespace cm
