// The operations of Obj (object.h), with their fast paths: calls go straight to the
// callee's vectorcall function, method calls and module attributes are answered from
// the remembered look-ups (lookup.h) when they can be.
#pragma once

#include "constants.h"
#include "lookup.h"
#include "ref.h"

#include <cstring>
#include <utility>

// The operations are small and run on every step of every call: they are inlined into
// the bodies, which the compiler does not always choose to do by itself.
#if defined(_MSC_VER)
#define CM_INLINE __forceinline
#else
#define CM_INLINE inline __attribute__((always_inline))
#endif

namespace cm {

// The thread state at hand, read for the result check of the calls that a body makes:
// remembered between the steps of a body, and forgotten whenever a method's call
// begins or ends (Call, call.h). Calls on one thread need not end in the order they
// began (greenlets switch between suspended calls), and a callee may run a method under
// another thread state: so no call uses a value that another call left, and the first
// check after a call began or ended reads the thread state again.
inline constinit thread_local PyThreadState* known_thread_state = nullptr;

inline PyThreadState* thread_state() noexcept {
    PyThreadState* state = known_thread_state;
    if (state == nullptr) [[unlikely]] state = known_thread_state = PyThreadState_GetUnchecked();
    return state;
}

// What the interpreter's call path checks of every result it gets back from a callee
// (call.cpp): a failure without an exception becomes the SystemError "<callee>
// returned NULL without setting an exception", a result with an exception set becomes
// the SystemError "<callee> returned a result with an exception set", with the pending
// exception as its cause. Gives the result, or nullptr with the exception pending.
PyObject* checked_result(PyObject* callable, PyObject* result) noexcept;

// The callee's own vectorcall function, or nullptr: what PyVectorcall_Function gives,
// read in place as the interpreter's own calls read it.
inline vectorcallfunc vectorcall_function(PyObject* callable) noexcept {
    PyTypeObject* type = Py_TYPE(callable);
    if (!PyType_HasFeature(type, Py_TPFLAGS_HAVE_VECTORCALL)) return nullptr;
    vectorcallfunc function;
    std::memcpy(&function, reinterpret_cast<char*>(callable) + type->tp_vectorcall_offset, sizeof function);
    return function;
}

// callable(*args) through the callee's own vectorcall function, as the interpreter's
// specialised calls do, with the result check of its general call path.
inline PyObject* vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    vectorcallfunc function = vectorcall_function(callable);
    if (function == nullptr) return PyObject_Vectorcall(callable, args, nargsf, kwnames);
    PyObject* result = function(callable, args, nargsf, kwnames);
    if (result == nullptr || exception_set(thread_state())) [[unlikely]]
        return checked_result(callable, result);
    return result;
}

namespace detail {

inline PyObject* ptr(const Obj& o) noexcept { return o.get(); }
inline PyObject* ptr(PyObject* p) noexcept { return p; }

// Whether an operation has what it needs: its object and every argument.
inline bool present(PyObject* self, PyObject* const* args, size_t n) noexcept {
    if (self == nullptr) return false;
    for (size_t i = 0; i < n; ++i)
        if (args[i] == nullptr) return false;
    return true;
}

// text.encode(), text.encode("utf-8") and text.encode(encoding="utf-8") for an exact
// str, data.decode() for exact bytes: what the methods do with these arguments (the
// built-in types' methods cannot be replaced), called without their argument parsing
// and the look-up of the codec by name, inside the recursion accounting that a call of
// the method does.
inline PyObject* utf_8_codec(PyObject* self, bool encode) noexcept {
    if (Py_EnterRecursiveCall(" while calling a Python object")) return nullptr;
    PyObject* result = encode ? PyUnicode_AsUTF8String(self)
                              : PyUnicode_DecodeUTF8(PyBytes_AS_STRING(self), PyBytes_GET_SIZE(self), nullptr);
    Py_LeaveRecursiveCall();
    return result;
}

// stack[1] is self, stack[2..] the arguments; stack[0] is free for the callee.
CM_INLINE Ref call_method(PyObject* name, PyObject** stack, size_t nargs, PyObject* kwnames) {
    // nargs counts self and the positional arguments; keyword values follow them
    if (name == N.encode.get() && PyUnicode_CheckExact(stack[1]) &&
        (kwnames == nullptr ? nargs == 1 || (nargs == 2 && stack[2] == S.utf_8.get())
                            : nargs == 1 && kwnames == T.kw_encoding.get() && stack[2] == S.utf_8.get()))
        return Ref::steal(utf_8_codec(stack[1], true));
    if (nargs == 1 && kwnames == nullptr && name == N.decode.get() && PyBytes_CheckExact(stack[1]))
        return Ref::steal(utf_8_codec(stack[1], false));
    if (PyObject* function = unbound_method(stack[1], name)) {
        Ref held = Ref::borrow(function);  // the call may take the method off its type
        return Ref::steal(vectorcall(function, stack + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
    }
    if (PyObject* function = module_attribute(stack[1], name)) {
        Ref held = Ref::borrow(function);  // the call may take it out of the module
        return Ref::steal(vectorcall(function, stack + 2, (nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
    }
    return Ref::steal(PyObject_VectorcallMethod(name, stack + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

// Two exact str are equal when their characters are: nothing else can answer.
inline bool same_text(PyObject* a, PyObject* b) noexcept {
    if (a == b) return true;
    Py_ssize_t length = PyUnicode_GET_LENGTH(a);
    int kind = PyUnicode_KIND(a);
    return length == PyUnicode_GET_LENGTH(b) && kind == PyUnicode_KIND(b) &&
           std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<size_t>(length) * kind) == 0;
}

}  // namespace detail

// self.name looked up and held for a later call (Obj::method_attr): either a function
// of self's type with self to pass first, or the attribute's value to call as it is.
// Empty when the look-up failed.
class Callee {
public:
    Callee(Ref callable, Ref self) noexcept : callable_(std::move(callable)), self_(std::move(self)) {}

    explicit operator bool() const noexcept { return static_cast<bool>(callable_); }

    template <Argument... Args>
    Ref call(Args&&... args) const {
        PyObject* stack[] = {nullptr, self_.get(), detail::ptr(args)...};
        constexpr size_t n = sizeof...(Args);
        if (!detail::present(callable_.get(), stack + 2, n)) return {};
        PyObject* const* first = self_ ? stack + 1 : stack + 2;
        size_t nargs = self_ ? n + 1 : n;
        return Ref::steal(vectorcall(callable_.get(), first, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    }

private:
    Ref callable_;
    Ref self_;
};

inline bool failed(const Callee& callee) noexcept { return !callee; }

inline Ref Obj::attr(Obj name) const {
    if (p_ == nullptr) return {};
    if (PyObject* value = module_attribute(p_, name.get())) return Ref::borrow(value);
    return Ref::steal(PyObject_GetAttr(p_, name.get()));
}

template <Argument... Args>
Ref Obj::call(Args&&... args) const {
    PyObject* stack[] = {nullptr, detail::ptr(args)...};
    if (!detail::present(p_, stack + 1, sizeof...(Args))) return {};
    return Ref::steal(vectorcall(p_, stack + 1, sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

template <Argument... Args>
Ref Obj::call_kw(Obj kwnames, Args&&... args) const {
    PyObject* stack[] = {nullptr, detail::ptr(args)...};
    if (!detail::present(p_, stack + 1, sizeof...(Args))) return {};
    size_t npos = sizeof...(Args) - static_cast<size_t>(PyTuple_GET_SIZE(kwnames.get()));
    return Ref::steal(vectorcall(p_, stack + 1, npos | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames.get()));
}

inline Ref Obj::call_tuple(Obj args) const {
    if (p_ == nullptr) return {};
    return Ref::steal(PyObject_Call(p_, args.get(), nullptr));
}

template <Argument... Args>
CM_INLINE Ref Obj::method(Obj name, Args&&... args) const {
    PyObject* stack[] = {nullptr, p_, detail::ptr(args)...};
    if (!detail::present(p_, stack + 2, sizeof...(Args))) return {};
    return detail::call_method(name.get(), stack, 1 + sizeof...(Args), nullptr);
}

template <Argument... Args>
CM_INLINE Ref Obj::method_kw(Obj name, Obj kwnames, Args&&... args) const {
    PyObject* stack[] = {nullptr, p_, detail::ptr(args)...};
    if (!detail::present(p_, stack + 2, sizeof...(Args))) return {};
    size_t npos = 1 + sizeof...(Args) - static_cast<size_t>(PyTuple_GET_SIZE(kwnames.get()));
    return detail::call_method(name.get(), stack, npos, kwnames.get());
}

inline Callee Obj::method_attr(Obj name) const {
    if (p_ == nullptr) return Callee(Ref(), Ref());
    if (PyObject* function = unbound_method(p_, name.get())) return Callee(Ref::borrow(function), Ref::borrow(p_));
    if (PyObject* value = module_attribute(p_, name.get())) return Callee(Ref::borrow(value), Ref());
    // An instance with a dictionary of its own, a class, a proxy: the interpreter's
    // look-up, which checks the instance's attributes without making a bound method.
    PyObject* found = nullptr;
    bool unbound = _PyObject_GetMethod(p_, name.get(), &found) == 1;
    return Callee(Ref::steal(found), unbound ? Ref::borrow(p_) : Ref());
}

inline int Obj::truth() const { return p_ != nullptr ? PyObject_IsTrue(p_) : -1; }

inline int Obj::equals(Obj other) const {
    if (p_ == nullptr) return -1;
    if (PyUnicode_CheckExact(p_) && PyUnicode_CheckExact(other.get())) return detail::same_text(p_, other.get());
    return PyObject_RichCompareBool(p_, other.get(), Py_EQ);
}

inline int Obj::at_most(Obj other) const {
    return p_ != nullptr ? PyObject_RichCompareBool(p_, other.get(), Py_LE) : -1;
}

inline Ref Obj::as_int() const { return p_ != nullptr ? Ref::steal(PyNumber_Long(p_)) : Ref(); }

inline Ref Obj::format(Obj spec) const { return p_ != nullptr ? Ref::steal(PyObject_Format(p_, spec.get())) : Ref(); }

inline Py_ssize_t Obj::length() const { return p_ != nullptr ? PyObject_Length(p_) : -1; }

inline Ref Obj::plus(Obj other) const {
    return p_ != nullptr && other ? Ref::steal(PyNumber_Add(p_, other.get())) : Ref();
}

inline Ref Obj::times(Obj other) const {
    return p_ != nullptr && other ? Ref::steal(PyNumber_Multiply(p_, other.get())) : Ref();
}

inline Ref Obj::plus_in_place(Obj other) const {
    return p_ != nullptr && other ? Ref::steal(PyNumber_InPlaceAdd(p_, other.get())) : Ref();
}

inline int Obj::set_item(Obj key, Obj value) const {
    if (p_ == nullptr || !key || !value) return -1;
    return PyObject_SetItem(p_, key.get(), value.get());
}

template <size_t N>
std::array<Ref, N> Obj::unpack() const {
    std::array<Ref, N> items;
    if (p_ == nullptr) return items;
    PyObject* it = PyObject_GetIter(p_);
    if (it == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(p_)->tp_iter == nullptr && !PySequence_Check(p_))
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(p_)->tp_name);
        return items;
    }
    Ref iterator = Ref::steal(it);
    for (size_t i = 0; i < N; ++i) {
        items[i] = Ref::steal(PyIter_Next(it));
        if (!items[i]) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", static_cast<Py_ssize_t>(i),
                             i == 1 ? "" : "s");
            return {};
        }
    }
    if (Ref extra = Ref::steal(PyIter_Next(it)))
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", static_cast<Py_ssize_t>(N));
    if (PyErr_Occurred()) return {};
    return items;
}

// ---- small helpers -------------------------------------------------------------------

// The built-in str type itself, for str(data, encoding=...): never looked up by name.
inline Obj str_type() { return reinterpret_cast<PyObject*>(&PyUnicode_Type); }

// {}
inline Ref new_dict() { return Ref::steal(PyDict_New()); }

// [items...]
template <class... Items>
Ref list_of(const Items&... items) {
    Ref list = Ref::steal(PyList_New(sizeof...(Items)));
    if (!list) return list;
    [[maybe_unused]] Py_ssize_t i = 0;
    (PyList_SET_ITEM(list.get(), i++, Py_NewRef(detail::ptr(items))), ...);
    return list;
}

}  // namespace cm
