// Owning reference handle and the few operations that method bodies are made of.
//
// Failures travel as values, the way the C API reports them: an operation that fails
// leaves its Python exception pending and gives an empty handle (or a negative number),
// and the body checks each step with CHECK, which returns at once, as CPython's own
// `if (x == NULL) goto error;` does. The method boundary (function.cpp) then adds the
// traceback entry. Handles release their references on every way out, so bodies never
// count references. An operation on an empty handle, or with an empty argument, does
// nothing and gives an empty handle: a step that depends on a failed one never runs.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "lookup.h"

#include <array>
#include <concepts>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

namespace cm {

// callable(*args) through the callee's own vectorcall function, as the interpreter's
// specialised calls do: no thread-state read on success. A callee that fails without
// setting an exception gets the SystemError that names it, as PyObject_Vectorcall
// gives; one that returns a result with an exception set is caught at the method's
// boundary.
inline PyObject* vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    vectorcallfunc function = PyVectorcall_Function(callable);
    if (function == nullptr) return PyObject_Vectorcall(callable, args, nargsf, kwnames);
    PyObject* result = function(callable, args, nargsf, kwnames);
    if (result == nullptr && !PyErr_Occurred()) [[unlikely]]
        PyErr_Format(PyExc_SystemError, "%R returned NULL without setting an exception", callable);
    return result;
}

class Ref;
class Method;

// An argument of an operation: a handle lent for the call (`x`), a handle handed over
// to it (`std::move(x)`: released as soon as the call returns, as the interpreter drops
// a temporary once the call that consumed it is done), or a borrowed object.
template <class T>
concept Argument = std::same_as<std::remove_cvref_t<T>, Ref> || std::convertible_to<T, PyObject*>;

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

    // Takes over a new reference; NULL (a failed call) makes an empty handle.
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Takes a new reference to an object owned elsewhere.
    static Ref borrow(PyObject* p) noexcept { return Ref(Py_XNewRef(p)); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept { Py_CLEAR(p_); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // self.name
    Ref attr(PyObject* name) const {
        if (p_ == nullptr) return {};
        if (PyObject* value = module_attribute(p_, name)) return borrow(value);
        return steal(PyObject_GetAttr(p_, name));
    }

    // self(args...), positional arguments only
    template <Argument... Args>
    Ref call(Args&&... args) const {
        PyObject* stack[] = {nullptr, ptr(args)...};
        Ref result = present(p_, stack + 1, sizeof...(Args))
                         ? steal(vectorcall(p_, stack + 1, sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr))
                         : Ref();
        (done_with(std::forward<Args>(args)), ...);
        return result;
    }

    // self(positional..., keyword values...): the last len(kwnames) arguments are passed
    // by the names of the tuple `kwnames`.
    template <Argument... Args>
    Ref call_kw(PyObject* kwnames, Args&&... args) const {
        PyObject* stack[] = {nullptr, ptr(args)...};
        size_t npos = sizeof...(Args) - static_cast<size_t>(PyTuple_GET_SIZE(kwnames));
        Ref result = present(p_, stack + 1, sizeof...(Args))
                         ? steal(vectorcall(p_, stack + 1, npos | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames))
                         : Ref();
        (done_with(std::forward<Args>(args)), ...);
        return result;
    }

    // self(*args): the tuple `args` is passed on as it is.
    Ref call_tuple(PyObject* args) const {
        if (p_ == nullptr) return {};
        return steal(PyObject_Call(p_, args, nullptr));
    }

    // self.name(args...) the way the interpreter calls a method: the attribute is read
    // and called at once, without a bound-method object in between.
    template <Argument... Args>
    Ref method(PyObject* name, Args&&... args) const& {
        PyObject* stack[] = {nullptr, p_, ptr(args)...};
        Ref result = present(p_, stack + 2, sizeof...(Args)) ? call_method(name, stack, 1 + sizeof...(Args), nullptr)
                                                             : Ref();
        (done_with(std::forward<Args>(args)), ...);
        return result;
    }
    // std::move(x).method(...): x is a temporary, released once its method returns.
    template <Argument... Args>
    Ref method(PyObject* name, Args&&... args) && {
        Ref result = static_cast<const Ref&>(*this).method(name, std::forward<Args>(args)...);
        reset();
        return result;
    }

    // self.name(keyword values...): the last len(kwnames) arguments are passed by the
    // names of `kwnames`.
    template <Argument... Args>
    Ref method_kw(PyObject* name, PyObject* kwnames, Args&&... args) const {
        PyObject* stack[] = {nullptr, p_, ptr(args)...};
        size_t npos = 1 + sizeof...(Args) - static_cast<size_t>(PyTuple_GET_SIZE(kwnames));
        Ref result = present(p_, stack + 2, sizeof...(Args)) ? call_method(name, stack, npos, kwnames) : Ref();
        (done_with(std::forward<Args>(args)), ...);
        return result;
    }

    // self.name for a call that follows later, after other steps: what the interpreter
    // keeps for `self.name(...)` while it evaluates the arguments. A method found on
    // the type stays unbound, so no bound-method object is made.
    Method method_attr(PyObject* name) const;

    // The interpreter's truth test: 1 true, 0 false, -1 failed.
    int truth() const { return p_ != nullptr ? PyObject_IsTrue(p_) : -1; }

    // self == other, self <= other, the result taken as a truth value: 1, 0, or -1 failed.
    // Two exact str compare their characters, as the interpreter's own str comparison
    // does: nothing else can answer.
    int equals(PyObject* other) const {
        if (p_ == nullptr) return -1;
        if (PyUnicode_CheckExact(p_) && PyUnicode_CheckExact(other)) return same_text(p_, other);
        return PyObject_RichCompareBool(p_, other, Py_EQ);
    }
    int at_most(PyObject* other) const { return p_ != nullptr ? PyObject_RichCompareBool(p_, other, Py_LE) : -1; }

    // int(self), format(self, spec)
    Ref as_int() const { return p_ != nullptr ? steal(PyNumber_Long(p_)) : Ref(); }
    Ref format(PyObject* spec) const { return p_ != nullptr ? steal(PyObject_Format(p_, spec)) : Ref(); }

    // len(self), or -1 when it failed
    Py_ssize_t length() const { return p_ != nullptr ? PyObject_Length(p_) : -1; }

    // self + other, self * other, self += other: the number protocol, self on the left.
    template <Argument Other>
    Ref plus(const Other& other) const {
        return present(p_, other) ? steal(PyNumber_Add(p_, ptr(other))) : Ref();
    }
    template <Argument Other>
    Ref times(const Other& other) const {
        return present(p_, other) ? steal(PyNumber_Multiply(p_, ptr(other))) : Ref();
    }
    template <Argument Other>
    Ref plus_in_place(const Other& other) const {
        return present(p_, other) ? steal(PyNumber_InPlaceAdd(p_, ptr(other))) : Ref();
    }

    // self[key] = value: 0, or -1 failed
    template <Argument Key, Argument Value>
    int set_item(const Key& key, const Value& value) const {
        if (!present(p_, key) || ptr(value) == nullptr) return -1;
        return PyObject_SetItem(p_, ptr(key), ptr(value));
    }

    // a, b, ... = self: iterates self the way unpacking does and takes exactly N items.
    // On failure every item is empty.
    template <size_t N>
    std::array<Ref, N> unpack() const {
        std::array<Ref, N> items;
        if (p_ == nullptr) return items;
        PyObject* it = PyObject_GetIter(p_);
        if (it == nullptr) {
            if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(p_)->tp_iter == nullptr && !PySequence_Check(p_))
                PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(p_)->tp_name);
            return items;
        }
        Ref iterator = steal(it);
        for (size_t i = 0; i < N; ++i) {
            PyObject* item = PyIter_Next(it);
            if (item == nullptr) {
                if (!PyErr_Occurred())
                    PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", static_cast<Py_ssize_t>(i),
                                 i == 1 ? "" : "s");
                return {};
            }
            items[i] = Ref(item);
        }
        PyObject* extra = PyIter_Next(it);
        if (extra != nullptr) {
            Py_DECREF(extra);
            PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", static_cast<Py_ssize_t>(N));
        }
        if (PyErr_Occurred()) return {};
        return items;
    }

    static PyObject* ptr(const Ref& r) noexcept { return r.p_; }
    static PyObject* ptr(PyObject* p) noexcept { return p; }

    // Whether an operation has what it needs: its object and every argument.
    static bool present(PyObject* self, PyObject* const* args, size_t n) noexcept {
        if (self == nullptr) return false;
        for (size_t i = 0; i < n; ++i)
            if (args[i] == nullptr) return false;
        return true;
    }
    template <class Other>
    static bool present(PyObject* self, const Other& other) noexcept {
        return self != nullptr && ptr(other) != nullptr;
    }

    // A handle handed over to a call is released once the call is done.
    static void done_with(Ref&& r) noexcept { r.reset(); }
    template <class T>
    static void done_with(T&&) noexcept {}

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}

    static bool same_text(PyObject* a, PyObject* b) noexcept {
        if (a == b) return true;
        Py_ssize_t length = PyUnicode_GET_LENGTH(a);
        int kind = PyUnicode_KIND(a);
        return length == PyUnicode_GET_LENGTH(b) && kind == PyUnicode_KIND(b) &&
               std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<size_t>(length) * kind) == 0;
    }

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
// Empty when the look-up failed.
class Method {
public:
    Method(Ref callable, Ref self) noexcept : callable_(std::move(callable)), self_(std::move(self)) {}

    explicit operator bool() const noexcept { return static_cast<bool>(callable_); }

    template <Argument... Args>
    Ref call(Args&&... args) const {
        PyObject* stack[] = {nullptr, self_.get(), Ref::ptr(args)...};
        constexpr size_t n = sizeof...(Args);
        PyObject* const* first = self_ ? stack + 1 : stack + 2;
        size_t nargs = self_ ? n + 1 : n;
        Ref result = Ref::present(callable_.get(), stack + 2, n)
                         ? Ref::steal(vectorcall(callable_.get(), first, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr))
                         : Ref();
        (Ref::done_with(std::forward<Args>(args)), ...);
        return result;
    }

private:
    Ref callable_;
    Ref self_;
};

inline Method Ref::method_attr(PyObject* name) const {
    if (p_ == nullptr) return Method(Ref(), Ref());
    if (PyObject* function = unbound_method(p_, name)) return Method(borrow(function), *this);
    return Method(attr(name), Ref());
}

// ---- checking each step --------------------------------------------------------------

// What a body (or a start-up step) gives back when a step failed: an empty handle, or -1.
struct Failure {
    operator Ref() const noexcept { return Ref(); }
    constexpr operator int() const noexcept { return -1; }
};
inline constexpr Failure failure{};

// Whether a step failed: an empty handle, or a negative status, length or truth value.
inline bool failed(const Ref& r) noexcept { return !r; }
inline bool failed(const Method& m) noexcept { return !m; }
template <std::signed_integral T>
constexpr bool failed(T status) noexcept {
    return status < 0;
}

// The check after a step that can fail: the body returns at once, with the step's
// exception pending; nothing after a failed step runs.
#define CHECK(step) \
    if (::cm::failed(step)) [[unlikely]] return ::cm::failure

// ---- small helpers -------------------------------------------------------------------

// The built-in str type itself, for str(data, encoding=...): never looked up by name.
inline Ref str_type() { return Ref::borrow(reinterpret_cast<PyObject*>(&PyUnicode_Type)); }

// {}
inline Ref new_dict() { return Ref::steal(PyDict_New()); }

// [items...]
template <class... Items>
Ref list_of(const Items&... items) {
    Ref list = Ref::steal(PyList_New(sizeof...(Items)));
    if (!list) return list;
    [[maybe_unused]] Py_ssize_t i = 0;
    (PyList_SET_ITEM(list.get(), i++, Py_NewRef(Ref::ptr(items))), ...);
    return list;
}

}  // namespace cm
