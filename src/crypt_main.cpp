// The crypt_main module: its definition, creation and execution, and the module body
// that imports the packages, builds the class _Crypt from the method table and makes
// the instance m_crypt.
#include "frame/constants.h"
#include "frame/function.h"
#include "frame/globals.h"
#include "methods.h"


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
// Each step gives an empty handle or -1 when it failed, with the exception pending.

int bind_global(PyObject* name, const Ref& value) {
    if (!value) return -1;
    return PyDict_SetItem(process.dict, name, value.get());
}

// Whether the module is still being initialised (its spec's _initializing is true):
// 1 or 0, -1 when reading it failed.
int still_initialising(const Ref& module) {
    PyObject* spec;
    if (PyObject_GetOptionalAttr(module.get(), N.dunder_spec, &spec) < 0) return -1;
    if (spec == nullptr) return 0;
    Ref owned = Ref::steal(spec);
    PyObject* flag;
    if (PyObject_GetOptionalAttr(spec, N.initializing, &flag) < 0) return -1;
    return flag != nullptr ? Ref::steal(flag).truth() : 0;
}

// import <name>
Ref import_module(PyObject* name) {
    PyObject* found;
    if (PyDict_GetItemRef(PyImport_GetModuleDict(), name, &found) < 0) return {};
    if (found != nullptr) {
        Ref module = Ref::steal(found);
        // None in sys.modules blocks the import: the import system reports it.
        if (module.get() != Py_None) {
            int initialising = still_initialising(module);           CHECK(initialising);
            if (!initialising) return module;
        }
    }
    Ref locals = new_dict();                                          CHECK(locals);
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
    Ref locals = new_dict();                                          CHECK(locals);
    Ref fromlist = list_of(name);                                     CHECK(fromlist);
    Ref module = Ref::steal(
        PyImport_ImportModuleLevelObject(module_name, process.dict, locals.get(), fromlist.get(), 0));
    CHECK(module);
    PyObject* value = PyObject_GetAttr(module.get(), name);
    if (value == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        value = loaded_submodule(module.get(), name);
    }
    if (value != nullptr) return Ref::steal(value);
    PyErr_Clear();
    PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
    return {};
}

// The method's function object, wrapped with `staticmethod` when the method is static.
Ref new_method(const MethodDef& def, const Ref& staticmethod) {
    Ref function = Ref::steal(new_function(def, process.dict));      CHECK(function);
    if (!def.is_static) return function;
    return staticmethod.call(std::move(function));
}

// The statements of the module body, each at its line in crypt_main.py.
int run_body(Call& c, const Ref& staticmethod) {
    c.at(11);  // __all__ = ["m_crypt"]
    CHECK(bind_global(N.dunder_all, list_of(N.m_crypt)));

    c.at(12);  // import base64
    CHECK(bind_global(N.base64, import_module(N.base64)));
    c.at(13);  // import hashlib
    CHECK(bind_global(N.hashlib, import_module(N.hashlib)));
    c.at(14);  // import hmac
    CHECK(bind_global(N.hmac, import_module(N.hmac)));
    c.at(17);  // import time
    CHECK(bind_global(N.time, import_module(N.time)));
    c.at(18);  // from binascii import a2b_hex
    CHECK(bind_global(N.a2b_hex, import_from(N.binascii, N.a2b_hex)));
    c.at(19);  // from binascii import b2a_hex
    CHECK(bind_global(N.b2a_hex, import_from(N.binascii, N.b2a_hex)));
    c.at(22);  // import jwt
    CHECK(bind_global(N.jwt, import_module(N.jwt)));
    c.at(24);  // import rsa
    CHECK(bind_global(N.rsa, import_module(N.rsa)));
    c.at(25);  // from Crypto.Cipher import AES
    CHECK(bind_global(N.AES, import_from(N.Crypto_Cipher, N.AES)));
    c.at(26);  // from Crypto.Cipher import DES
    CHECK(bind_global(N.DES, import_from(N.Crypto_Cipher, N.DES)));
    c.at(27);  // from Crypto.Util.Padding import pad
    CHECK(bind_global(N.pad, import_from(N.Crypto_Util_Padding, N.pad)));
    c.at(28);  // from Crypto.Util.Padding import unpad
    CHECK(bind_global(N.unpad, import_from(N.Crypto_Util_Padding, N.unpad)));

    c.at(31);  // class _Crypt: the namespace, then each method at its definition line
    Ref namespace_ = new_dict();                                      CHECK(namespace_);
    CHECK(namespace_.set_item(N.dunder_module, N.module_name));
    CHECK(namespace_.set_item(N.dunder_qualname, N.Crypt));
    for (const MethodDef& def : methods()) {
        c.at(def.line);
        Ref method = new_method(def, staticmethod);                  CHECK(method);
        CHECK(PyDict_SetItemString(namespace_.get(), def.name, method.get()));
    }
    c.at(31);  // _Crypt = type("_Crypt", (), namespace)
    Ref type = Ref::borrow(reinterpret_cast<PyObject*>(&PyType_Type));
    CHECK(bind_global(N.Crypt, type.call(N.Crypt, C.empty_tuple, namespace_)));

    c.at(254);  // m_crypt = _Crypt()
    CHECK(bind_global(N.m_crypt, c.global(N.Crypt).call()));

    c.at(1);  // __test__ = {}
    return bind_global(N.dunder_test, new_dict());
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
    PyObject* sys_modules = PyImport_GetModuleDict();
    int present = PyDict_Contains(sys_modules, N.module_name);       CHECK(present);
    if (!present) CHECK(PyDict_SetItem(sys_modules, N.module_name, process.module));

    // Looked up afresh by every execution, and held for the class body.
    PyObject* found;
    CHECK(PyObject_GetOptionalAttr(process.builtins, N.staticmethod, &found));
    Ref staticmethod = Ref::steal(found);
    if (!staticmethod) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", N.staticmethod);
        return -1;
    }
    CHECK(make_shared_constants());
    CHECK(ready_function_type());

    return run_body(c, staticmethod);
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
    bool ok = process.builtins != nullptr && PyObject_SetAttrString(module, "__builtins__", process.builtins) == 0 &&
              check_version() == 0 && make_constants() == 0;
    if (ok) {
        Call c(nullptr, 1);
        ok = run_module(c) == 0;
        if (!ok) c.add_traceback();
    }
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
