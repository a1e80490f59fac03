/* A minimal multi-phase extension module whose execution fails as crypt_main's does when
   builtins.staticmethod raises: it makes a function object whose self is the module's
   dictionary (its globals), hands it to builtins.staticmethod, and when that raises adds
   the entry "init failing_exec" at line 60 (an empty code object, and a frame with the
   module's dictionary as its globals). Called, the function raises ValueError with an
   entry of its own at line 63, made the same way. bench/startup_memory.py measures what
   failed start-ups of it leave, beside crypt_main's and a pure-Python module's.
   CPython 3.12 and later. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <frameobject.h>

/* Adds the entry to the pending exception's traceback. What it needs is made with the
   exception taken out of the thread state, as crypt_main does. */
static void add_entry(const char *function, int line, PyObject *globals) {
    PyObject *exception = PyErr_GetRaisedException();
    PyCodeObject *code = PyCode_NewEmpty("failing_exec.py", function, line);
    PyFrameObject *frame = code ? PyFrame_New(PyThreadState_Get(), code, globals, NULL) : NULL;
    Py_XDECREF(code);
    if (frame == NULL) {
        Py_DECREF(exception);
        return;
    }
    PyErr_SetRaisedException(exception);
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
}

static PyObject *aes_ecb(PyObject *globals, PyObject *const *args, Py_ssize_t nargs) {
    PyErr_SetString(PyExc_ValueError, "Incorrect AES key length");
    add_entry("failing_exec._Crypt.aes_ecb", 63, globals);
    return NULL;
}

static PyMethodDef aes_ecb_def = {"aes_ecb", (PyCFunction)(void (*)(void))aes_ecb, METH_FASTCALL, NULL};

static int exec_module(PyObject *module) {
    PyObject *dict = PyModule_GetDict(module);
    PyObject *function = PyCFunction_New(&aes_ecb_def, dict);
    if (function == NULL) return -1;
    PyObject *staticmethod = PyDict_GetItemString(PyEval_GetBuiltins(), "staticmethod");
    PyObject *wrapped = staticmethod != NULL ? PyObject_CallOneArg(staticmethod, function) : NULL;
    Py_DECREF(function);
    if (wrapped != NULL) {
        Py_DECREF(wrapped);
        return 0;
    }
    add_entry("init failing_exec", 60, dict);
    return -1;
}

static PyModuleDef_Slot slots[] = {
    {Py_mod_exec, exec_module},
#ifdef Py_GIL_DISABLED
    {Py_mod_gil, Py_MOD_GIL_NOT_USED}, /* as crypt_main: importing it leaves the GIL off */
#endif
    {0, NULL},
};
static PyModuleDef definition = {PyModuleDef_HEAD_INIT, "failing_exec", NULL, 0, NULL, slots, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit_failing_exec(void) { return PyModuleDef_Init(&definition); }
