#include "call.h"

#include "traceback.h"

namespace cm {

void Call::add_traceback() noexcept { cm::add_traceback(method_, line_); }

void Call::add_traceback(PyObject*& exception) noexcept { cm::add_traceback(exception, method_, line_); }

PyObject* Call::leave(PyObject* result) noexcept {
    const char* method = method_ != nullptr ? method_ : "<init>";
    if (result != nullptr) {
        if (!PyErr_Occurred()) [[likely]] return result;
        Py_DECREF(result);
        PyObject* pending = PyErr_GetRaisedException();
        PyErr_Format(PyExc_SystemError, "crypt_main._Crypt.%s returned a result with an exception set", method);
        PyObject* error = PyErr_GetRaisedException();
        PyException_SetCause(error, Py_NewRef(pending));
        PyException_SetContext(error, pending);
        PyErr_SetRaisedException(error);
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
