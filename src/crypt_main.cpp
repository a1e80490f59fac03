// The crypt_main module: its definition, creation and execution, and the module body
// that imports the packages, builds the class _Crypt from the method table and makes
// the instance m_crypt.
#include "frame/body.h"
#include "frame/function.h"
#include "frame/traceback.h"
#include "methods.h"

namespace cm {

namespace {

// ---- creation ---------------------------------------------------------------------

// Copies spec.<attribute> to module.<name>. A spec without the attribute (reading it
// raises AttributeError, which PyObject_GetOptionalAttrString reports as 0) is skipped.
int copy_spec_attribute(PyObject* spec, PyObject* dict, const char* attribute, const char* name, bool skip_none) {
    PyObject* value;
    int found = PyObject_GetOptionalAttrString(spec, attribute, &value);
    if (found <= 0) return found;
    int r = (skip_none && value == Py_None) ? 0 : PyDict_SetItemString(dict, name, value);
    Py_DECREF(value);
    return r;
}

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
        process.replaced_state = PyModule_GetState(process.module);
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
// Each statement gives an empty handle or -1 when it failed, with the exception pending.

int bind_global(Obj name, const Ref& value) {
    if (!value) return -1;
    return PyDict_SetItem(process.dict, name.get(), value.get());
}

// Whether the module is still being initialised (its spec's _initializing is true):
// 1 or 0, -1 when reading it failed.
int still_initialising(const Ref& module) {
    PyObject* spec;
    CHECK(PyObject_GetOptionalAttr(module.get(), N.dunder_spec.get(), &spec));
    if (spec == nullptr) return 0;
    Ref owned = Ref::steal(spec);
    PyObject* flag;
    CHECK(PyObject_GetOptionalAttr(spec, N.initializing.get(), &flag));
    return flag != nullptr ? Ref::steal(flag).truth() : 0;
}

// import <name>
Ref import_module(Obj name) {
    PyObject* found;
    CHECK(PyDict_GetItemRef(PyImport_GetModuleDict(), name.get(), &found));
    if (found != nullptr) {
        Ref module = Ref::steal(found);
        // None in sys.modules blocks the import: the import system reports it.
        if (module.get() != Py_None) {
            int initialising = still_initialising(module);           CHECK(initialising);
            if (!initialising) return module;
        }
    }
    Ref locals = new_dict();                                          CHECK(locals);
    return Ref::steal(PyImport_ImportModuleLevelObject(name.get(), process.dict, locals.get(), nullptr, 0));
}

// The submodule <module>.<name> from sys.modules, or nothing.
Ref loaded_submodule(const Ref& module, Obj name) {
    Ref module_name = module.attr(N.dunder_name);                     CHECK(module_name);
    Ref full_name = Ref::steal(PyUnicode_FromFormat("%U.%U", module_name.get(), name.get()));  CHECK(full_name);
    PyObject* submodule = nullptr;
    PyDict_GetItemRef(PyImport_GetModuleDict(), full_name.get(), &submodule);
    return Ref::steal(submodule);
}

// from <module_name> import <name>
Ref import_from(Obj module_name, Obj name) {
    Ref locals = new_dict();                                          CHECK(locals);
    Ref fromlist = list_of(name);                                     CHECK(fromlist);
    Ref module = Ref::steal(
        PyImport_ImportModuleLevelObject(module_name.get(), process.dict, locals.get(), fromlist.get(), 0));
    CHECK(module);
    Ref value = module.attr(name);
    if (!value && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        value = loaded_submodule(module, name);
    }
    if (value) return value;
    PyErr_Clear();
    PyErr_Format(PyExc_ImportError, "cannot import name %S", name.get());
    return {};
}

// The imports of the module body, at their lines: `import <module>`, or, with a name,
// `from <module> import <name>`. Each binds the module global of the name it imports.
struct Import {
    int line;
    const Obj* module;
    const Obj* name = nullptr;
};
constexpr Import imports[] = {
    {12, &N.base64},                           // import base64
    {13, &N.hashlib},                          // import hashlib
    {14, &N.hmac},                             // import hmac
    {17, &N.time},                             // import time
    {18, &N.binascii, &N.a2b_hex},             // from binascii import a2b_hex
    {19, &N.binascii, &N.b2a_hex},             // from binascii import b2a_hex
    {22, &N.jwt},                              // import jwt
    {24, &N.rsa},                              // import rsa
    {25, &N.Crypto_Cipher, &N.AES},            // from Crypto.Cipher import AES
    {26, &N.Crypto_Cipher, &N.DES},            // from Crypto.Cipher import DES
    {27, &N.Crypto_Util_Padding, &N.pad},      // from Crypto.Util.Padding import pad
    {28, &N.Crypto_Util_Padding, &N.unpad},    // from Crypto.Util.Padding import unpad
};

// What the class's namespace holds of each method, and the function in it: kept (borrowed)
// to be made immortal once the module's execution has succeeded, without the GIL.
struct MadeMethods {
#ifdef Py_GIL_DISABLED
    PyObject* objects[2 * max_methods];
    size_t count = 0;
    void add(const Ref& o) noexcept { objects[count++] = o.get(); }
    void make_immortal() noexcept {
        for (size_t i = 0; i < count; ++i) ::make_immortal(objects[i]);
    }
#else
    void add(const Ref&) noexcept {}
#endif
};

// The method's function object, wrapped with `staticmethod` when the method is static.
Ref new_method(std::span<const MethodDef> table, size_t index, const Ref& staticmethod, MadeMethods& made) {
    Ref function = Ref::steal(new_function(table, index));           CHECK(function);
    made.add(function);
    if (table[index].kind == Kind::plain) return function;
    Ref method = staticmethod.call(function);                        CHECK(method);
    made.add(method);
    return method;
}

// ---- execution --------------------------------------------------------------------
// Start-up is a list of steps, run in order until one fails. From the registration in
// sys.modules on, a failure gets the entry "init crypt_main" at the line of the
// statement that failed (line 1 before the module body).

struct Startup {
    PyObject* module;
    Call c{nullptr, 1, PyModule_GetDict(module)};
    Ref staticmethod;  // builtins.staticmethod, as this execution finds it
    MadeMethods made;
};

// The module object becomes the process's; its __builtins__ is the builtins module.
int record_module(Startup& s) {
    process.module = Py_NewRef(s.module);
    set_module_dict(PyModule_GetDict(s.module));
    if (process.builtins == nullptr) process.builtins = PyImport_AddModuleRef("builtins");
    if (process.builtins == nullptr) return -1;
    return PyObject_SetAttrString(s.module, "__builtins__", process.builtins);
}

// A RuntimeWarning when the interpreter is not of the version the module was built for.
int check_version(Startup&) {
    int major = (Py_Version >> 24) & 0xff;
    int minor = (Py_Version >> 16) & 0xff;
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return 0;
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                            PY_MAJOR_VERSION, PY_MINOR_VERSION, "crypt_main", "does not match", major, minor);
}

int make_names_and_texts(Startup&) { return make_constants(); }

// sys.modules["crypt_main"], unless the import system has put the module there already.
int register_module(Startup&) {
    PyObject* sys_modules = PyImport_GetModuleDict();
    int present = PyDict_Contains(sys_modules, N.module_name.get());  CHECK(present);
    if (present) return 0;
    return PyDict_SetItem(sys_modules, N.module_name.get(), process.module);
}

// builtins.staticmethod, looked up afresh by every execution and held for the class body.
int look_up_staticmethod(Startup& s) {
    PyObject* found;
    CHECK(PyObject_GetOptionalAttr(process.builtins, N.staticmethod.get(), &found));
    s.staticmethod = Ref::steal(found);
    if (s.staticmethod) return 0;
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", N.staticmethod.get());
    return -1;
}

// The tuples of the constants, what each method's function object is made from, and
// the function type.
int prepare_methods_and_tuples(Startup&) {
    CHECK(make_tuples());
    CHECK(prepare_methods(method_table()));
    return ready_function_type();
}

// The statements of the module body, each at its line in crypt_main.py.
int run_body(Startup& s) {
    Call& c = s.c;
    c.at(11);  // __all__ = ["m_crypt"]
    CHECK(bind_global(N.dunder_all, list_of(N.m_crypt)));

    for (const Import& i : imports) {
        c.at(i.line);  // the import of the table's row
        Ref imported = i.name ? import_from(*i.module, *i.name) : import_module(*i.module);
        CHECK(bind_global(i.name ? *i.name : *i.module, imported));
    }

    c.at(31);  // class _Crypt: its namespace, then each method at its definition line
    Ref namespace_ = new_dict();                                      CHECK(namespace_);
    CHECK(namespace_.set_item(N.dunder_module, N.module_name));
    CHECK(namespace_.set_item(N.dunder_qualname, N.Crypt));
    std::span<const MethodDef> table = method_table();
    for (size_t index = 0; index < table.size(); ++index) {
        c.at(table[index].line);  // def <name>(...): the row's definition line
        Ref method = new_method(table, index, s.staticmethod, s.made);  CHECK(method);
        CHECK(PyDict_SetItemString(namespace_.get(), table[index].name, method.get()));
    }
    c.at(31);  // _Crypt = type("_Crypt", (), namespace)
    Obj type = reinterpret_cast<PyObject*>(&PyType_Type);
    CHECK(bind_global(N.Crypt, type.call(N.Crypt, O.empty_tuple, namespace_)));

    c.at(254);  // m_crypt = _Crypt()
    CHECK(bind_global(N.m_crypt, c.global(N.Crypt).call()));

    c.at(1);  // __test__ = {}
    return bind_global(N.dunder_test, new_dict());
}

struct Step {
    int (*run)(Startup&);
    bool reports_line;  // a failure gets the "init crypt_main" entry
};
constexpr Step steps[] = {
    {record_module, false},
    {check_version, false},
    {make_names_and_texts, false},
    {register_module, true},
    {look_up_staticmethod, true},
    {prepare_methods_and_tuples, true},
    {run_body, true},
};

int exec(PyObject* module) {
    if (process.module != nullptr) {
        if (process.module == module) {
            // A re-import: the interpreter gave the module a new state block; the one it
            // replaced is freed, unless the module still points to it.
            if (process.replaced_state != nullptr && PyModule_GetState(module) != process.replaced_state)
                PyMem_Free(process.replaced_state);
            process.replaced_state = nullptr;
            return 0;
        }
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'crypt_main' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    Startup s{module};
    for (const Step& step : steps) {
        if (step.run(s) == 0) continue;
        if (step.reports_line) s.c.add_traceback();
        // Nothing of the half-built module stays reachable from the process's state.
        forget_traceback_frames();
        Py_CLEAR(process.module);
        set_module_dict(nullptr);
        return -1;
    }
#ifdef Py_GIL_DISABLED
    s.made.make_immortal();  // the module lives for the process now, and its methods with it
#endif
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create)},
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
#ifdef Py_GIL_DISABLED
    // Calls need no global lock: what they share is immutable, per thread, or locked
    // (docs/threads.md), so importing the module leaves the interpreter without one.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
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
