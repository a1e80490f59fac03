#include "call.h"

#include "operations.h"
#include "traceback.h"

namespace cm {

namespace {

// The SystemError just raised gets `pending`, the exception that was set before it, as
// its cause, as the interpreter's own checks chain them.
void caused_by(PyObject* pending) noexcept {
    PyObject* error = PyErr_GetRaisedException();
    PyException_SetCause(error, Py_NewRef(pending));
    PyException_SetContext(error, pending);
    PyErr_SetRaisedException(error);
}

}  // namespace

PyObject* checked_result(PyObject* callable, PyObject* result) noexcept {
    if (result == nullptr) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_SystemError, "%R returned NULL without setting an exception", callable);
        return nullptr;
    }
    if (!PyErr_Occurred()) return result;
    Py_DECREF(result);
    PyObject* pending = PyErr_GetRaisedException();
    PyErr_Format(PyExc_SystemError, "%R returned a result with an exception set", callable);
    caused_by(pending);
    return nullptr;
}

void Call::add_traceback() noexcept { cm::add_traceback(method_, line_, globals_); }

void Call::add_traceback(PyObject*& exception) noexcept { cm::add_traceback(exception, method_, line_, globals_); }

PyObject* Call::leave(PyObject* result) noexcept {
    const char* method = method_ != nullptr ? method_ : "<init>";
    if (result != nullptr) {
        if (!exception_set(thread_state())) [[likely]] return result;
        Py_DECREF(result);
        PyObject* pending = PyErr_GetRaisedException();
        PyErr_Format(PyExc_SystemError, "crypt_main._Crypt.%s returned a result with an exception set", method);
        caused_by(pending);
        add_traceback();
        return nullptr;
    }
    PyObject* exception = PyErr_GetRaisedException();
    if (exception == nullptr) [[unlikely]] {
        PyErr_Format(PyExc_SystemError, "crypt_main._Crypt.%s failed without setting an exception", method);
        exception = PyErr_GetRaisedException();
    }
    if (!entry_added_) add_traceback(exception);
    PyErr_SetRaisedException(exception);
    return nullptr;
}

}  // namespace cm
