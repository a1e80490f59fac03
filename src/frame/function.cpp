#include "function.h"

#include "binding.h"
#include "operations.h"
#include "traceback.h"

#include <cstddef>

namespace cm {

// Per row of the method table, what its function object is made from; made once, and
// shared by the function objects of every execution of the module.
struct PreparedMethods {
    struct Entry {
        PyObject* name;      // interned
        PyObject* qualname;  // "_Crypt." + name
        PyObject* doc;       // "_Crypt.name(parameters, with=defaults)"
        PyObject* defaults;  // the default tuple, or nullptr
        PyObject* code;      // introspection: parameters and locals, definition line
    };
    Entry methods[max_methods];
};
PreparedMethods prepared_methods;

namespace {

using Prepared = PreparedMethods::Entry;

struct Function {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const MethodDef* def;
    const Prepared* prepared;
    Signature signature;
    PyObject* params[max_params];
    PyObject* globals;
};

Function* as_function(PyObject* self) { return reinterpret_cast<Function*>(self); }

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    Function* f = as_function(self);
    PyObject* slots[max_params];
    Call c(f->def->name, f->def->line, f->globals);
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
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->prepared->qualname, self);
}

// Pickled by reference, as crypt_main._Crypt.<name>.
PyObject* function_reduce(PyObject* self, PyObject*) { return Py_NewRef(as_function(self)->prepared->qualname); }

// The globals are visited but never cleared while the function lives: every cycle
// through them passes their dictionary, which the collector clears, and a function
// called late in a collection still finds its globals.
int function_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_function(self)->globals);
    return 0;
}

void function_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_DECREF(as_function(self)->globals);
    PyObject_GC_Del(self);
    Py_DECREF(type);
}

PyObject* get_name(PyObject* self, void*) { return Py_NewRef(as_function(self)->prepared->name); }
PyObject* get_qualname(PyObject* self, void*) { return Py_NewRef(as_function(self)->prepared->qualname); }
PyObject* get_module(PyObject*, void*) { return Py_NewRef(N.module_name.get()); }
PyObject* get_doc(PyObject* self, void*) { return Py_NewRef(as_function(self)->prepared->doc); }
PyObject* get_globals(PyObject* self, void*) { return Py_NewRef(as_function(self)->globals); }
PyObject* get_code(PyObject* self, void*) { return Py_NewRef(as_function(self)->prepared->code); }
PyObject* get_kwdefaults(PyObject*, void*) { Py_RETURN_NONE; }
PyObject* get_annotations(PyObject*, void*) { return PyDict_New(); }
PyObject* get_defaults(PyObject* self, void*) {
    PyObject* defaults = as_function(self)->prepared->defaults;
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

// (names...) of the row's parameters, then its further locals.
Ref varnames_of(const MethodDef& row) {
    Ref names = Ref::steal(PyTuple_New(row.params.count + row.locals.count));
    if (!names) return names;
    Py_ssize_t i = 0;
    for (const Obj* name : row.params) PyTuple_SET_ITEM(names.get(), i++, Py_NewRef(name->get()));
    for (const Obj* name : row.locals) PyTuple_SET_ITEM(names.get(), i++, Py_NewRef(name->get()));
    return names;
}

// "_Crypt.name(a, b, c=default)": defaults as the method's source shows them, a text
// with the u prefix of the Python 2 spelling (u'Tarvex').
Ref docstring_of(const MethodDef& row, PyObject* defaults) {
    Ref parts = Ref::steal(PyList_New(0));
    if (!parts) return parts;
    int first_default = row.params.count - row.defaults.count;
    for (int i = 0; i < row.params.count; ++i) {
        PyObject* name = row.params.items[i]->get();
        Ref part = i < first_default ? Ref::borrow(name) : [&] {
            PyObject* value = PyTuple_GET_ITEM(defaults, i - first_default);
            return Ref::steal(PyUnicode_FromFormat("%U=%s%R", name, PyUnicode_Check(value) ? "u" : "", value));
        }();
        CHECK(part);
        CHECK(PyList_Append(parts.get(), part.get()));
    }
    Ref separator = Ref::steal(PyUnicode_FromString(", "));        CHECK(separator);
    Ref joined = Ref::steal(PyUnicode_Join(separator.get(), parts.get()));  CHECK(joined);
    return Ref::steal(PyUnicode_FromFormat("_Crypt.%s(%U)", row.name, joined.get()));
}

// A code object that carries the signature for inspect. Its bytecode and line table are
// those of the interpreter's own empty code objects, which raise AssertionError when
// run: a function made from it (types.FunctionType(f.__code__, ...)) fails cleanly,
// where bytecode of nothing would have the interpreter run past its end.
Ref introspection_code(const MethodDef& row, PyObject* name, PyObject* qualname) {
    Ref varnames = varnames_of(row);                               CHECK(varnames);
    Ref empty = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(source_file, row.name, row.line)));
    CHECK(empty);
    Ref bytecode = Ref::steal(PyCode_GetCode(reinterpret_cast<PyCodeObject*>(empty.get())));  CHECK(bytecode);
    Ref line_table = empty.attr(N.co_linetable);                   CHECK(line_table);
    int stack_size = reinterpret_cast<PyCodeObject*>(empty.get())->co_stacksize;
    PyObject* file = reinterpret_cast<PyCodeObject*>(empty.get())->co_filename;
    PyObject* empty_bytes = O.empty_bytes.get();
    PyObject* empty_tuple = O.empty_tuple.get();
    return Ref::steal(reinterpret_cast<PyObject*>(PyUnstable_Code_NewWithPosOnlyArgs(
        row.params.count, 0, 0, static_cast<int>(PyTuple_GET_SIZE(varnames.get())), stack_size,
        CO_OPTIMIZED | CO_NEWLOCALS, bytecode.get(), empty_tuple, empty_tuple, varnames.get(), empty_tuple,
        empty_tuple, file, name, qualname, row.line, line_table.get(), empty_bytes)));
}

int prepare(const MethodDef& row, Prepared& out) {
    Ref name = Ref::steal(PyUnicode_InternFromString(row.name));   CHECK(name);
    Ref qualname = Ref::steal(PyUnicode_FromFormat("_Crypt.%U", name.get()));  CHECK(qualname);
    Ref defaults;
    if (row.defaults.count > 0) {
        defaults = Ref::steal(PyTuple_New(row.defaults.count));   CHECK(defaults);
        for (int i = 0; i < row.defaults.count; ++i)
            PyTuple_SET_ITEM(defaults.get(), i, Py_NewRef(row.defaults.items[i]->get()));
    }
    Ref doc = docstring_of(row, defaults.get());                   CHECK(doc);
    Ref code = introspection_code(row, name.get(), qualname.get()); CHECK(code);
    out = Prepared{name.release(), qualname.release(), doc.release(), defaults.release(), code.release()};
    return 0;
}

}  // namespace

int prepare_methods(std::span<const MethodDef> table) {
    for (size_t i = 0; i < table.size(); ++i)
        if (prepared_methods.methods[i].code == nullptr) CHECK(prepare(table[i], prepared_methods.methods[i]));
    return 0;
}

int ready_function_type() {
    // PyType_FromSpec makes a type complete or not at all, so a start-up that failed
    // half-way can simply try again.
    if (process.function_type == nullptr)
        process.function_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&function_spec));
    return process.function_type == nullptr ? -1 : 0;
}

PyObject* new_function(std::span<const MethodDef> table, size_t index) {
    const MethodDef& row = table[index];
    const Prepared& prepared = prepared_methods.methods[index];
    Function* f = PyObject_GC_New(Function, process.function_type);
    if (f == nullptr) return nullptr;
    f->vectorcall = function_vectorcall;
    f->def = &row;
    f->prepared = &prepared;
    for (int i = 0; i < row.params.count; ++i) f->params[i] = row.params.items[i]->get();
    f->signature = Signature{row.name, f->params, row.params.count, row.params.count - row.defaults.count,
                             prepared.defaults};
    f->globals = Py_NewRef(process.dict);
    PyObject_GC_Track(f);
    return reinterpret_cast<PyObject*>(f);
}

}  // namespace cm
