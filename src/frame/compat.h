// The C API as the module uses it: Python.h, and for the older CPython versions that it
// is built for, what they lack under the name it has since 3.13. Each shim stands in for
// one function and names the versions it serves: dropping a version deletes its shims
// and changes no caller.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Whether an exception is set in the thread state (what PyErr_Occurred() tells of the
// thread state at hand).
inline bool exception_set(PyThreadState* state) {
#if PY_VERSION_HEX >= 0x030C0000
    return state->current_exception != nullptr;
#else
    return state->curexc_type != nullptr;
#endif
}

// The interpreter's own look-up for obj.name(...) (what PyObject_VectorcallMethod
// does first): 1 with the function in *method when name is a method of obj's type that
// obj does not shadow (obj goes first in the call; no bound method is made), 0 with
// the attribute in *method otherwise, 0 with nullptr and an exception on failure.
// Declared in the public headers up to 3.12, in the internal ones since 3.13; exported
// by every version from 3.11 to 3.15.
#if PY_VERSION_HEX >= 0x030D0000
extern "C" PyAPI_FUNC(int) _PyObject_GetMethod(PyObject* obj, PyObject* name, PyObject** method);
#endif

#ifdef Py_GIL_DISABLED
// Objects that the module keeps for the process (its constants, and its functions once
// the module's execution has succeeded) are made immortal, as a free-threaded CPython
// makes its code objects' constants and, once a second thread runs, its functions, types
// and modules: their reference counts then never change, and threads that use them at
// once do not contend for the memory of the count (a shared count is changed atomically,
// and its cache line passes from core to core). 3.13 has no call for it: these are the
// fields of its object.h, set as the interpreter sets them.
inline void make_immortal(PyObject* op) {
    if (PyObject_IS_GC(op) && PyObject_GC_IsTracked(op)) PyObject_GC_UnTrack(op);
    op->ob_tid = _Py_UNOWNED_TID;
    op->ob_ref_local = _Py_IMMORTAL_REFCNT_LOCAL;
    op->ob_ref_shared = 0;
}
#endif

#if PY_VERSION_HEX < 0x030D0000  // 3.11, 3.12

inline PyThreadState* PyThreadState_GetUnchecked() { return _PyThreadState_UncheckedGet(); }

// 1 with a new reference in *result, 0 when the key is missing, -1 on failure.
inline int PyDict_GetItemRef(PyObject* dict, PyObject* key, PyObject** result) {
    *result = Py_XNewRef(PyDict_GetItemWithError(dict, key));
    return *result != nullptr ? 1 : PyErr_Occurred() ? -1 : 0;
}

// 1 with a new reference in *result, 0 when there is no such attribute (no
// AttributeError left behind), -1 on any other failure: the same function, renamed.
inline int PyObject_GetOptionalAttr(PyObject* obj, PyObject* name, PyObject** result) {
    return _PyObject_LookupAttr(obj, name, result);
}

inline int PyObject_GetOptionalAttrString(PyObject* obj, const char* name, PyObject** result) {
    PyObject* text = PyUnicode_FromString(name);
    if (text == nullptr) return -1;
    int found = _PyObject_LookupAttr(obj, text, result);
    Py_DECREF(text);
    return found;
}

// The module of that name in sys.modules (made when missing), as a new reference.
inline PyObject* PyImport_AddModuleRef(const char* name) { return Py_XNewRef(PyImport_AddModule(name)); }

#endif

#if PY_VERSION_HEX < 0x030C0000  // 3.11

#include <structmember.h>
#define Py_T_PYSSIZET T_PYSSIZET
#define Py_READONLY READONLY

// The pending exception as one object (with its traceback), taken out of the thread state.
inline PyObject* PyErr_GetRaisedException() {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
}

// Sets `exception` (stolen; nullptr clears) as the pending exception.
inline void PyErr_SetRaisedException(PyObject* exception) {
    if (exception == nullptr) return PyErr_Restore(nullptr, nullptr, nullptr);
    PyErr_Restore(Py_NewRef(Py_TYPE(exception)), exception, PyException_GetTraceback(exception));
}

#define PyUnstable_Code_NewWithPosOnlyArgs PyCode_NewWithPosOnlyArgs

// A type's version tag is assigned when a look-up on the type is remembered.
inline int PyUnstable_Type_AssignVersionTag(PyTypeObject* type) {
    static PyObject* name = PyUnicode_InternFromString("__class__");
    if (name == nullptr) {
        PyErr_Clear();
        return 0;
    }
    _PyType_Lookup(type, name);
    return type->tp_version_tag != 0;
}

// No dictionary watchers (3.12 added them), but every dictionary still carries the
// version tag of PEP 509 (deprecated in 3.12): a new tag, from one process-wide counter
// that never goes back, for every new dictionary and every change of one. The remembered
// look-ups in namespaces compare it on every hit, where 3.12 and later are told of each
// change by a dictionary watcher (lookup.h).
#define CM_DICT_VERSION_TAGS 1
inline uint64_t dict_version_tag(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }

#endif
