// Catching an exception inside a method body the way an `except` block does: the
// caught exception is the handled one (what sys.exception() returns) while the
// handler runs, so an exception raised meanwhile gets it as its __context__.
#pragma once

#include "call.h"
#include "operations.h"

#include <utility>

namespace cm {

// Takes the pending exception, after adding the call's traceback entry for the line
// where it arose, and makes it the handled exception for the lifetime of this object.
// The handled exception from before is restored on every way out.
class Caught {
public:
    explicit Caught(Call& c) noexcept : c_(c) {
        exception_ = PyErr_GetRaisedException();
        c.add_traceback(exception_);
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

    Obj exception() const noexcept { return exception_; }

    // `except cls:` whether the caught exception is an instance of the class `cls`, or
    // of one of the classes in the tuple `cls`: 1 or 0; anything else there is a
    // TypeError (-1).
    int matches(Obj cls) const {
        PyObject* c = cls.get();
        if (c == nullptr) return -1;
        bool valid = PyExceptionClass_Check(c);
        if (PyTuple_Check(c)) {
            valid = true;
            for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(c); ++i)
                valid = valid && PyExceptionClass_Check(PyTuple_GET_ITEM(c, i));
        }
        if (!valid) {
            PyErr_SetString(PyExc_TypeError, "catching classes that do not inherit from BaseException is not allowed");
            return -1;
        }
        return PyErr_GivenExceptionMatches(exception_, c) != 0;
    }

    // `raise error` inside the handler: `error` is an exception instance, or a class
    // that is called without arguments. It gets the caught exception as __context__.
    // Always gives the failure to return.
    Failure raise(Obj error) const {
        if (!error) return failure;
        Ref value = Ref::borrow(error);
        if (PyExceptionClass_Check(error.get())) {
            value = error.call();
            if (!value) return failure;
            if (!PyExceptionInstance_Check(value.get())) {
                PyErr_Format(PyExc_TypeError, "calling %R should have returned an instance of BaseException, not %R",
                             error.get(), Py_TYPE(value.get()));
                return failure;
            }
        } else if (!PyExceptionInstance_Check(value.get())) {
            PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
            return failure;
        }
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(value.get())), value.get());
        return failure;
    }

    // A bare `raise`: the caught exception goes on as it is, with its traceback, which
    // already holds this call's entry.
    Failure reraise() {
        PyErr_SetRaisedException(std::exchange(exception_, nullptr));
        c_.entry_added();
        return failure;
    }

private:
    Call& c_;
    PyObject* exception_;
    PyObject* previous_;
};

}  // namespace cm
