// The crypt_main module: its definition, creation and execution, and the module body
// that imports the packages, builds the class _Crypt from the method table and makes
// the instance m_crypt.
#include "frame/constants.h"
#include "frame/function.h"
#include "frame/globals.h"
#include "methods.h"

#include <new>

namespace cm {

namespace {

// ---- creation ---------------------------------------------------------------------

// Copies spec.<attribute> to module.<name>; a spec without the attribute is skipped.
int copy_spec_attribute(PyObject* spec, PyObject* dict, const char* attribute, const char* name, bool skip_none) {
    PyObject* value;
    int found = PyObject_GetOptionalAttrString(spec, attribute, &value);
    if (found < 0 && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        return 0;
    }
    if (found <= 0) return found;
    int r = (skip_none && value == Py_None) ? 0 : PyDict_SetItemString(dict, name, value);
    Py_DECREF(value);
    return r;
}

// The state block of the module as it was before a later import handed the module back.
void* replaced_state = nullptr;

PyObject* create(PyObject* spec, PyModuleDef*) {
    int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return nullptr;
    if (process.interpreter_id == -1) {
        process.interpreter_id = id;
    } else if (id != process.interpreter_id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per "
                        "process.");
        return nullptr;
    }
    if (process.module != nullptr) {
        // A later import gets the same module. The interpreter then forgets the module's
        // state block (and gives it a new one when it runs the execution slot): it is kept
        // here to be freed there.
        replaced_state = PyModule_GetState(process.module);
        return Py_NewRef(process.module);
    }

    PyObject* name = PyObject_GetAttrString(spec, "name");
    if (name == nullptr) return nullptr;
    PyObject* module = PyModule_NewObject(name);
    Py_DECREF(name);
    if (module == nullptr) return nullptr;
    PyObject* dict = PyModule_GetDict(module);
    if (copy_spec_attribute(spec, dict, "loader", "__loader__", false) < 0 ||
        copy_spec_attribute(spec, dict, "origin", "__file__", false) < 0 ||
        copy_spec_attribute(spec, dict, "parent", "__package__", false) < 0 ||
        copy_spec_attribute(spec, dict, "submodule_search_locations", "__path__", true) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

// ---- the module body --------------------------------------------------------------

void bind_global(PyObject* name, const Ref& value) {
    if (PyDict_SetItem(process.dict, name, value.get()) < 0) raised();
}

bool still_initialising(const Ref& module) {
    PyObject* spec;
    if (PyObject_GetOptionalAttr(module.get(), N.dunder_spec, &spec) < 0) raised();
    if (spec == nullptr) return false;
    Ref owned = Ref::steal(spec);
    PyObject* flag;
    if (PyObject_GetOptionalAttr(spec, N.initializing, &flag) < 0) raised();
    return flag != nullptr && Ref::steal(flag).truth();
}

// import <name>
Ref import_module(PyObject* name) {
    PyObject* found;
    if (PyDict_GetItemRef(PyImport_GetModuleDict(), name, &found) < 0) raised();
    if (found != nullptr) {
        Ref module = Ref::steal(found);
        // None in sys.modules blocks the import: the import system reports it.
        if (module.get() != Py_None && !still_initialising(module)) return module;
    }
    Ref locals = Ref::steal(PyDict_New());
    return Ref::steal(PyImport_ImportModuleLevelObject(name, process.dict, locals.get(), nullptr, 0));
}

// The submodule <module>.<name> from sys.modules, or nothing.
PyObject* loaded_submodule(PyObject* module, PyObject* name) {
    PyObject* module_name = PyObject_GetAttr(module, N.dunder_name);
    if (module_name == nullptr) return nullptr;
    PyObject* full_name = PyUnicode_FromFormat("%U.%U", module_name, name);
    Py_DECREF(module_name);
    if (full_name == nullptr) return nullptr;
    PyObject* submodule = nullptr;
    PyDict_GetItemRef(PyImport_GetModuleDict(), full_name, &submodule);
    Py_DECREF(full_name);
    return submodule;
}

// from <module_name> import <name>
Ref import_from(PyObject* module_name, PyObject* name) {
    Ref locals = Ref::steal(PyDict_New());
    Ref fromlist = Ref::steal(PyList_New(1));
    PyList_SET_ITEM(fromlist.get(), 0, Py_NewRef(name));
    Ref module =
        Ref::steal(PyImport_ImportModuleLevelObject(module_name, process.dict, locals.get(), fromlist.get(), 0));
    PyObject* value = PyObject_GetAttr(module.get(), name);
    if (value == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        value = loaded_submodule(module.get(), name);
    }
    if (value != nullptr) return Ref::steal(value);
    PyErr_Clear();
    PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
    raised();
}

Ref new_method(const MethodDef& def) {
    Ref function = Ref::steal(new_function(def, process.dict));
    if (!def.is_static) return function;
    return Ref::borrow(C.staticmethod).call(function);
}

// The statements of the module body, each at its line in crypt_main.py.
void run_body(Call& c) {
    c.at(11);
    Ref all = Ref::steal(PyList_New(1));
    PyList_SET_ITEM(all.get(), 0, Py_NewRef(N.m_crypt));
    bind_global(N.dunder_all, all);

    c.at(12);
    bind_global(N.base64, import_module(N.base64));
    c.at(13);
    bind_global(N.hashlib, import_module(N.hashlib));
    c.at(14);
    bind_global(N.hmac, import_module(N.hmac));
    c.at(17);
    bind_global(N.time, import_module(N.time));
    c.at(18);
    bind_global(N.a2b_hex, import_from(N.binascii, N.a2b_hex));
    c.at(19);
    bind_global(N.b2a_hex, import_from(N.binascii, N.b2a_hex));
    c.at(22);
    bind_global(N.jwt, import_module(N.jwt));
    c.at(24);
    bind_global(N.rsa, import_module(N.rsa));
    c.at(25);
    bind_global(N.AES, import_from(N.Crypto_Cipher, N.AES));
    c.at(26);
    bind_global(N.DES, import_from(N.Crypto_Cipher, N.DES));
    c.at(27);
    bind_global(N.pad, import_from(N.Crypto_Util_Padding, N.pad));
    c.at(28);
    bind_global(N.unpad, import_from(N.Crypto_Util_Padding, N.unpad));

    c.at(31);
    Ref namespace_ = Ref::steal(PyDict_New());
    if (PyDict_SetItem(namespace_.get(), N.dunder_module, N.module_name) < 0) raised();
    if (PyDict_SetItem(namespace_.get(), N.dunder_qualname, N.Crypt) < 0) raised();
    for (const MethodDef& def : methods()) {
        c.at(def.line);
        Ref method = new_method(def);
        if (PyDict_SetItemString(namespace_.get(), def.name, method.get()) < 0) raised();
    }
    c.at(31);
    Ref type = Ref::borrow(reinterpret_cast<PyObject*>(&PyType_Type));
    bind_global(N.Crypt, type.call(N.Crypt, C.empty_tuple, namespace_));

    c.at(254);
    bind_global(N.m_crypt, c.global(N.Crypt).call());

    c.at(1);
    bind_global(N.dunder_test, Ref::steal(PyDict_New()));
}

// ---- execution --------------------------------------------------------------------

int check_version() {
    int major = (Py_Version >> 24) & 0xff;
    int minor = (Py_Version >> 16) & 0xff;
    if (major == 3 && minor == 13) return 0;
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d", 3, 13,
                            "crypt_main", "does not match", major, minor);
}

// Everything after the constants exist; a failure reports the statement's line.
int run_module(Call& c) {
    try {
        PyObject* sys_modules = PyImport_GetModuleDict();
        int present = PyDict_Contains(sys_modules, N.module_name);
        if (present < 0) raised();
        if (present == 0 && PyDict_SetItem(sys_modules, N.module_name, process.module) < 0) raised();

        // Looked up by every execution: one after a failed start-up uses what builtins
        // holds then, and fails here, before the body imports anything, without it.
        PyObject* staticmethod;
        if (PyObject_GetOptionalAttr(process.builtins, N.staticmethod, &staticmethod) < 0) raised();
        Py_XSETREF(C.staticmethod, staticmethod);
        if (C.staticmethod == nullptr) {
            PyErr_Format(PyExc_NameError, "name '%U' is not defined", N.staticmethod);
            raised();
        }
        if (make_shared_constants() < 0 || ready_function_type() < 0) raised();

        run_body(c);
        return 0;
    } catch (const Raised&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    c.add_traceback();
    return -1;
}

int exec(PyObject* module) {
    if (process.module != nullptr) {
        if (process.module == module) {
            // Freed only if the module no longer points to it.
            if (replaced_state != nullptr && PyModule_GetState(module) != replaced_state) PyMem_Free(replaced_state);
            replaced_state = nullptr;
            return 0;
        }
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'crypt_main' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    process.module = Py_NewRef(module);
    process.dict = PyModule_GetDict(module);
    if (process.builtins == nullptr) process.builtins = PyImport_AddModuleRef("builtins");
    Call c(nullptr, 1);
    bool ok = process.builtins != nullptr && PyObject_SetAttrString(module, "__builtins__", process.builtins) == 0 &&
              check_version() == 0 && make_constants() == 0 && run_module(c) == 0;
    if (ok) return 0;
    Py_CLEAR(process.module);
    process.dict = nullptr;
    return -1;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create)},
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "crypt_main",
    "Convenience wrappers over AES, DES, Base64, digests, HMAC-MD5, RSA and signed tokens:\n"
    "use the methods of crypt_main.m_crypt.",
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace cm

PyMODINIT_FUNC PyInit_crypt_main() { return PyModuleDef_Init(&cm::module_def); }
