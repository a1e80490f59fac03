/* C objects that break the calling protocol in the ways that Python code cannot, for the
   tests of the module's result checks, and a call made under a second thread state of
   the same thread. Compiled on first use by tests/misbehaving.py. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX < 0x030C0000
static PyObject *PyErr_GetRaisedException(void) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != NULL && traceback != NULL) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
}
static void PyErr_SetRaisedException(PyObject *exception) {
    PyErr_Restore(exception != NULL ? Py_NewRef(Py_TYPE(exception)) : NULL, exception,
                  exception != NULL ? PyException_GetTraceback(exception) : NULL);
}
#endif

/* A result with ValueError set beside it. */
static PyObject *result_with_error(PyObject *result) {
    PyErr_SetString(PyExc_ValueError, "left pending by a misbehaving callee");
    return result;
}

/* update(data): a function of one argument that returns None with an exception set. */
static PyObject *update(PyObject *self, PyObject *data) { return result_with_error(Py_NewRef(Py_None)); }

/* Value().encode(...): a method of the type that returns bytes with an exception set. */
static PyObject *value_encode(PyObject *self, PyObject *args, PyObject *kwargs) {
    return result_with_error(PyBytes_FromString("text"));
}

static PyMethodDef value_methods[] = {
    {"encode", (PyCFunction)(void (*)(void))value_encode, METH_VARARGS | METH_KEYWORDS, NULL},
    {NULL, NULL, 0, NULL},
};

/* BrokenCompare() == anything: False, with an exception set. */
static PyObject *broken_compare(PyObject *self, PyObject *other, int op) {
    return result_with_error(Py_NewRef(Py_False));
}

/* call_under_new_thread_state(callable, *args): callable(*args) under a thread state of
   its own (same interpreter, same OS thread), the caller's put back afterwards. */
static PyObject *call_under_new_thread_state(PyObject *self, PyObject *args) {
    if (PyTuple_GET_SIZE(args) < 1) {
        PyErr_SetString(PyExc_TypeError, "call_under_new_thread_state needs a callable");
        return NULL;
    }
    PyObject *rest = PyTuple_GetSlice(args, 1, PyTuple_GET_SIZE(args));
    if (rest == NULL) return NULL;
    PyThreadState *other = PyThreadState_New(PyThreadState_Get()->interp);
    PyThreadState *caller = PyThreadState_Swap(other);
    PyObject *result = PyObject_Call(PyTuple_GET_ITEM(args, 0), rest, NULL);
    PyObject *exception = PyErr_GetRaisedException();
    PyThreadState_Clear(other);
    PyThreadState_Swap(caller);
    PyThreadState_Delete(other);
    PyErr_SetRaisedException(exception);
    Py_DECREF(rest);
    return result;
}

static PyMethodDef functions[] = {
    {"update", update, METH_O, NULL},
    {"call_under_new_thread_state", call_under_new_thread_state, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static PyType_Slot value_slots[] = {{Py_tp_methods, value_methods}, {0, NULL}};
static PyType_Spec value_spec = {"misbehaving.Value", sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT, value_slots};
static PyType_Slot compare_slots[] = {{Py_tp_richcompare, broken_compare}, {0, NULL}};
static PyType_Spec compare_spec = {"misbehaving.BrokenCompare", sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT,
                                   compare_slots};

static int exec_module(PyObject *module) {
    PyObject *types[] = {PyType_FromSpec(&value_spec), PyType_FromSpec(&compare_spec)};
    int status = types[0] != NULL && types[1] != NULL && PyModule_AddObjectRef(module, "Value", types[0]) == 0 &&
                         PyModule_AddObjectRef(module, "BrokenCompare", types[1]) == 0
                     ? 0
                     : -1;
    Py_XDECREF(types[0]);
    Py_XDECREF(types[1]);
    return status;
}

static PyModuleDef_Slot slots[] = {
    {Py_mod_exec, exec_module},
#ifdef Py_GIL_DISABLED
    {Py_mod_gil, Py_MOD_GIL_NOT_USED}, /* as crypt_main: importing it leaves the GIL off */
#endif
    {0, NULL},
};
static struct PyModuleDef definition = {PyModuleDef_HEAD_INIT, "misbehaving", NULL, 0, functions, slots};

PyMODINIT_FUNC PyInit_misbehaving(void) { return PyModuleDef_Init(&definition); }
