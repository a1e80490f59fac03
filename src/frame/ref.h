// Owning reference handle and the few operations that method bodies are made of.
//
// A failing C-API call leaves its Python exception pending and throws `Raised`; the
// method boundary (function.cpp) catches it, adds the traceback entry and returns NULL.
// Handles release their references while the exception unwinds, so bodies never
// count references or check errors themselves.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "lookup.h"

#include <array>
#include <cstddef>
#include <utility>

namespace cm {

// Thrown after a C-API call failed; the Python exception is pending.
struct Raised {};

[[noreturn]] inline void raised() { throw Raised{}; }

// callable(*args) through the callee's own vectorcall function, as the interpreter's
// specialised calls do: no thread-state read, and a result is taken as it is; a failure
// without an exception set still becomes SystemError, as PyObject_Vectorcall makes it.
inline PyObject* vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    vectorcallfunc function = PyVectorcall_Function(callable);
    if (function == nullptr) return PyObject_Vectorcall(callable, args, nargsf, kwnames);
    PyObject* result = function(callable, args, nargsf, kwnames);
    if (result == nullptr && !PyErr_Occurred())
        PyErr_Format(PyExc_SystemError, "%R returned NULL without setting an exception", callable);
    return result;
}

class Method;

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : p_(Py_XNewRef(other.p_)) {}
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~Ref() { Py_XDECREF(p_); }

    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    // Takes over a new reference; NULL means the call that made it failed.
    static Ref steal(PyObject* p) {
        if (p == nullptr) raised();
        return Ref(p);
    }
    // Takes a new reference to an object owned elsewhere.
    static Ref borrow(PyObject* p) noexcept { return Ref(Py_NewRef(p)); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // self.name
    Ref attr(PyObject* name) const {
        if (PyObject* value = module_attribute(p_, name)) return borrow(value);
        return steal(PyObject_GetAttr(p_, name));
    }

    // self(args...), positional arguments only
    template <class... Args>
    Ref call(const Args&... args) const {
        PyObject* stack[] = {nullptr, ptr(args)...};
        return steal(vectorcall(p_, stack + 1, sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    }

    // self(positional..., keyword values...): the last len(kwnames) arguments are passed
    // by the names of the tuple `kwnames`.
    template <class... Args>
    Ref call_kw(PyObject* kwnames, const Args&... args) const {
        PyObject* stack[] = {nullptr, ptr(args)...};
        size_t npos = sizeof...(Args) - static_cast<size_t>(PyTuple_GET_SIZE(kwnames));
        return steal(vectorcall(p_, stack + 1, npos | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
    }

    // self(*args): the tuple `args` is passed on as it is.
    Ref call_tuple(PyObject* args) const { return steal(PyObject_Call(p_, args, nullptr)); }

    // self.name(args...) the way the interpreter calls a method: the attribute is read
    // and called at once, without a bound-method object in between.
    template <class... Args>
    Ref method(PyObject* name, const Args&... args) const {
        PyObject* stack[] = {nullptr, p_, ptr(args)...};
        return call_method(name, stack, 1 + sizeof...(Args), nullptr);
    }

    // self.name(keyword values...): every argument is passed by the names of `kwnames`.
    template <class... Args>
    Ref method_kw(PyObject* name, PyObject* kwnames, const Args&... args) const {
        PyObject* stack[] = {nullptr, p_, ptr(args)...};
        size_t npos = 1 + sizeof...(Args) - static_cast<size_t>(PyTuple_GET_SIZE(kwnames));
        return call_method(name, stack, npos, kwnames);
    }

    // self.name for a call that follows later, after other steps: what the interpreter
    // keeps for `self.name(...)` while it evaluates the arguments. A method found on
    // the type stays unbound, so no bound-method object is made.
    Method method_attr(PyObject* name) const;

    // The interpreter's truth test.
    bool truth() const {
        int r = PyObject_IsTrue(p_);
        if (r < 0) raised();
        return r != 0;
    }

    // self == other, the result taken as a truth value.
    bool equals(PyObject* other) const {
        int r = PyObject_RichCompareBool(p_, other, Py_EQ);
        if (r < 0) raised();
        return r != 0;
    }

    // self <= other, the result taken as a truth value.
    bool at_most(PyObject* other) const {
        int r = PyObject_RichCompareBool(p_, other, Py_LE);
        if (r < 0) raised();
        return r != 0;
    }

    // int(self), format(self, spec)
    Ref as_int() const { return steal(PyNumber_Long(p_)); }
    Ref format(PyObject* spec) const { return steal(PyObject_Format(p_, spec)); }

    // len(self)
    Py_ssize_t length() const {
        Py_ssize_t n = PyObject_Length(p_);
        if (n < 0) raised();
        return n;
    }

    // self + other, self * other, self += other: the number protocol, self on the left.
    template <class Other>
    Ref plus(const Other& other) const {
        return steal(PyNumber_Add(p_, ptr(other)));
    }
    template <class Other>
    Ref times(const Other& other) const {
        return steal(PyNumber_Multiply(p_, ptr(other)));
    }
    template <class Other>
    Ref plus_in_place(const Other& other) const {
        return steal(PyNumber_InPlaceAdd(p_, ptr(other)));
    }

    // self[key] = value
    template <class Key, class Value>
    void set_item(const Key& key, const Value& value) const {
        if (PyObject_SetItem(p_, ptr(key), ptr(value)) < 0) raised();
    }

    // a, b, ... = self: iterates self the way unpacking does and takes exactly N items.
    template <size_t N>
    std::array<Ref, N> unpack() const {
        PyObject* it = PyObject_GetIter(p_);
        if (it == nullptr && PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(p_)->tp_iter == nullptr &&
            !PySequence_Check(p_)) {
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(p_)->tp_name);
        }
        Ref iterator = steal(it);
        std::array<Ref, N> items;
        for (size_t i = 0; i < N; ++i) {
            PyObject* item = PyIter_Next(iterator.p_);
            if (item == nullptr) {
                if (!PyErr_Occurred())
                    PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", static_cast<Py_ssize_t>(i),
                                 i == 1 ? "" : "s");
                raised();
            }
            items[i] = Ref(item);
        }
        PyObject* extra = PyIter_Next(iterator.p_);
        if (extra != nullptr) {
            Py_DECREF(extra);
            PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", static_cast<Py_ssize_t>(N));
        }
        if (PyErr_Occurred()) raised();
        return items;
    }

    static PyObject* ptr(const Ref& r) noexcept { return r.p_; }
    static PyObject* ptr(PyObject* p) noexcept { return p; }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}

    // stack[1] is self, stack[2..] the arguments; stack[0] is free for the callee.
    static Ref call_method(PyObject* name, PyObject** stack, size_t nargs, PyObject* kwnames) {
        if (PyObject* function = unbound_method(stack[1], name)) {
            Ref held = borrow(function);  // the call may take the method off its type
            return steal(vectorcall(function, stack + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
        }
        if (PyObject* function = module_attribute(stack[1], name)) {
            Ref held = borrow(function);  // the call may take it out of the module
            return steal(vectorcall(function, stack + 2, (nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
        }
        return steal(PyObject_VectorcallMethod(name, stack + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
    }

    PyObject* p_ = nullptr;
};

// self.name looked up and held for a later call (Ref::method_attr): either a function
// of self's type with self to pass first, or the attribute's value to call as it is.
class Method {
public:
    Method(Ref callable, Ref self) noexcept : callable_(std::move(callable)), self_(std::move(self)) {}

    template <class... Args>
    Ref call(const Args&... args) const {
        PyObject* stack[] = {nullptr, self_.get(), Ref::ptr(args)...};
        constexpr size_t n = sizeof...(Args);
        PyObject* const* first = self_ ? stack + 1 : stack + 2;
        size_t nargs = self_ ? n + 1 : n;
        return Ref::steal(vectorcall(callable_.get(), first, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    }

private:
    Ref callable_;
    Ref self_;
};

inline Method Ref::method_attr(PyObject* name) const {
    if (PyObject* function = unbound_method(p_, name)) return Method(borrow(function), *this);
    return Method(attr(name), Ref());
}

// The built-in str type itself, for str(data, encoding=...): never looked up by name.
inline Ref str_type() { return Ref::borrow(reinterpret_cast<PyObject*>(&PyUnicode_Type)); }

// {}
inline Ref new_dict() { return Ref::steal(PyDict_New()); }

// [items...]
template <class... Items>
Ref list_of(const Items&... items) {
    Ref list = Ref::steal(PyList_New(sizeof...(Items)));
    [[maybe_unused]] Py_ssize_t i = 0;
    (PyList_SET_ITEM(list.get(), i++, Py_NewRef(Ref::ptr(items))), ...);
    return list;
}

}  // namespace cm
