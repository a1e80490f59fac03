#include "function.h"

#include "binding.h"
#include "traceback.h"

#include <cstddef>

namespace cm {

namespace {

struct Function {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const MethodDef* def;
    Signature signature;
    PyObject* params[max_params];
    PyObject* name;
    PyObject* qualname;
    PyObject* doc;
    PyObject* globals;
    PyObject* code;  // introspection: parameters and locals, definition line
};

Function* as_function(PyObject* self) { return reinterpret_cast<Function*>(self); }

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    Function* f = as_function(self);
    PyObject* slots[max_params];
    Call c(f->def, f->def->line);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    // The common calls need no binding: the body reads the arguments where they are.
    PyObject* const* bound = args;
    if (!in_place(f->signature, nargs, kwnames)) {
        if (bind(f->signature, args, nargs, kwnames, slots) < 0) return c.leave(nullptr);
        bound = slots;
    }
    return c.leave(f->def->body.run(c, bound));
}

// Binds like a Python function: through an instance, a bound method.
PyObject* function_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

// Pickled by reference, as crypt_main._Crypt.<name>.
PyObject* function_reduce(PyObject* self, PyObject*) { return Py_NewRef(as_function(self)->qualname); }

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_function(self)->globals);
    Py_VISIT(as_function(self)->code);
    return 0;
}

int function_clear(PyObject* self) {
    Function* f = as_function(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->code);
    return 0;
}

void function_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    function_clear(self);
    PyObject_GC_Del(self);
    Py_DECREF(type);
}

PyObject* get_name(PyObject* self, void*) { return Py_NewRef(as_function(self)->name); }
PyObject* get_qualname(PyObject* self, void*) { return Py_NewRef(as_function(self)->qualname); }
PyObject* get_module(PyObject*, void*) { return Py_NewRef(N.module_name); }
PyObject* get_doc(PyObject* self, void*) { return Py_NewRef(as_function(self)->doc); }
PyObject* get_globals(PyObject* self, void*) { return Py_NewRef(as_function(self)->globals); }
PyObject* get_code(PyObject* self, void*) { return Py_NewRef(as_function(self)->code); }
PyObject* get_kwdefaults(PyObject*, void*) { Py_RETURN_NONE; }
PyObject* get_annotations(PyObject*, void*) { return PyDict_New(); }
PyObject* get_defaults(PyObject* self, void*) {
    PyObject* defaults = as_function(self)->signature.defaults;
    return Py_NewRef(defaults != nullptr ? defaults : Py_None);
}

PyGetSetDef function_getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_qualname, nullptr, nullptr, nullptr},
    {"__module__", get_module, nullptr, nullptr, nullptr},
    {"__doc__", get_doc, nullptr, nullptr, nullptr},
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, nullptr, nullptr, nullptr},
    {"__globals__", get_globals, nullptr, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef function_members[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(Function, vectorcall), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_methods, function_methods},
    {Py_tp_members, function_members},
    {Py_tp_getset, function_getset},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_get)},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "crypt_main.function",
    sizeof(Function),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
        Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    function_slots,
};

// Made once and kept for the process. PyType_FromSpec makes a type complete or not
// made at all, so a start-up that failed half-way can simply try again.
PyTypeObject* function_type = nullptr;

PyObject* new_tuple_of(std::initializer_list<PyObject* Names::*> first, std::initializer_list<PyObject* Names::*> then) {
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(first.size() + then.size()));
    if (tuple == nullptr) return nullptr;
    Py_ssize_t i = 0;
    for (auto list : {first, then})
        for (auto member : list) PyTuple_SET_ITEM(tuple, i++, Py_NewRef(N.*member));
    return tuple;
}

// A code object that carries the signature for inspect: it is never executed.
PyObject* introspection_code(const MethodDef& def, PyObject* name, PyObject* qualname) {
    PyObject* varnames = new_tuple_of(def.params, def.locals);
    PyObject* file = varnames ? PyUnicode_FromString(source_file) : nullptr;
    PyObject* code = nullptr;
    if (file != nullptr) {
        code = reinterpret_cast<PyObject*>(PyUnstable_Code_NewWithPosOnlyArgs(
            static_cast<int>(def.params.size()), 0, 0, static_cast<int>(PyTuple_GET_SIZE(varnames)), 0,
            CO_OPTIMIZED | CO_NEWLOCALS, C.empty_bytes, C.empty_tuple, C.empty_tuple, varnames, C.empty_tuple,
            C.empty_tuple, file, name, qualname, def.line, C.empty_bytes, C.empty_bytes));
    }
    Py_XDECREF(file);
    Py_XDECREF(varnames);
    return code;
}

}  // namespace

void Call::add_traceback() noexcept { cm::add_traceback(def_ != nullptr ? def_->name : nullptr, line_); }

PyObject* Call::leave(PyObject* result) noexcept {
    const char* method = def_ != nullptr ? def_->name : nullptr;
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
    if (!entry_added_) cm::add_traceback(exception, method, line_);
    PyErr_SetRaisedException(exception);
    return nullptr;
}

int ready_function_type() {
    if (function_type == nullptr)
        function_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&function_spec));
    return function_type == nullptr ? -1 : 0;
}

PyObject* new_function(const MethodDef& def, PyObject* globals) {
    if (def.body.arity != static_cast<int>(def.params.size()) || def.params.size() > max_params) {
        PyErr_Format(PyExc_SystemError, "crypt_main: the body of %s does not match its parameters", def.name);
        return nullptr;
    }
    Function* f = PyObject_GC_New(Function, function_type);
    if (f == nullptr) return nullptr;
    f->vectorcall = function_vectorcall;
    f->def = &def;
    int i = 0;
    for (auto member : def.params) f->params[i++] = N.*member;
    f->signature.name = def.name;
    f->signature.params = f->params;
    f->signature.count = i;
    f->signature.defaults = def.defaults != nullptr ? C.*def.defaults : nullptr;
    f->signature.required = i - (f->signature.defaults ? static_cast<int>(PyTuple_GET_SIZE(f->signature.defaults)) : 0);
    f->name = f->qualname = f->doc = f->code = nullptr;
    f->globals = Py_NewRef(globals);
    PyObject_GC_Track(f);
    PyObject* self = reinterpret_cast<PyObject*>(f);
    if (!(f->name = PyUnicode_InternFromString(def.name)) ||
        !(f->qualname = PyUnicode_FromFormat("_Crypt.%U", f->name)) || !(f->doc = PyUnicode_FromString(def.doc)) ||
        !(f->code = introspection_code(def, f->name, f->qualname)))
        Py_CLEAR(self);
    return self;
}

}  // namespace cm
