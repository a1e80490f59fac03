// A handle on an object owned elsewhere (a constant, a borrowed argument), and the
// operations that method bodies are made of. Ref (ref.h) is the same handle with
// ownership added; the operations themselves are written in operations.h.
//
// Failures travel as values, the way the C API reports them: an operation that fails
// leaves its Python exception pending and gives an empty handle (or -1), and the body
// checks each step with CHECK (call.h). An operation on an empty handle, or with an
// empty argument, does nothing and gives an empty handle.
#pragma once

#include "compat.h"

#include <array>
#include <concepts>
#include <cstddef>
#include <type_traits>

namespace cm {

class Obj;
class Ref;
class Callee;

// An argument of an operation: a handle (a Ref, lent for the call or handed over to it
// with `x.take()`), or a borrowed PyObject*.
template <class T>
concept Argument = std::derived_from<std::remove_cvref_t<T>, Obj> || std::convertible_to<T, PyObject*>;

class Obj {
public:
    constexpr Obj() noexcept = default;
    constexpr Obj(PyObject* p) noexcept : p_(p) {}
    // A temporary Ref would be gone before the handle is used.
    Obj(Ref&&) = delete;

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // self.name
    Ref attr(Obj name) const;

    // self(args...), positional arguments only
    template <Argument... Args>
    Ref call(Args&&... args) const;

    // self(positional..., keyword values...): the last len(kwnames) arguments are
    // passed by the names of the tuple `kwnames`.
    template <Argument... Args>
    Ref call_kw(Obj kwnames, Args&&... args) const;

    // self(*args): the tuple `args` is passed on as it is.
    Ref call_tuple(Obj args) const;

    // self.name(args...) the way the interpreter calls a method: the attribute is read
    // and called at once, without a bound-method object in between.
    template <Argument... Args>
    Ref method(Obj name, Args&&... args) const;

    // self.name(positional..., keyword values...): the last len(kwnames) arguments are
    // passed by the names of `kwnames`.
    template <Argument... Args>
    Ref method_kw(Obj name, Obj kwnames, Args&&... args) const;

    // self.name for a call that follows later, after other steps: what the interpreter
    // keeps for `self.name(...)` while it evaluates the arguments.
    Callee method_attr(Obj name) const;

    // The interpreter's truth test: 1 true, 0 false, -1 failed.
    int truth() const;

    // self == other, self <= other, the result taken as a truth value: 1, 0, -1 failed.
    int equals(Obj other) const;
    int at_most(Obj other) const;

    // int(self), format(self, spec)
    Ref as_int() const;
    Ref format(Obj spec) const;

    // len(self), or -1 when it failed
    Py_ssize_t length() const;

    // self + other, self * other, self += other: the number protocol, self on the left.
    Ref plus(Obj other) const;
    Ref times(Obj other) const;
    Ref plus_in_place(Obj other) const;

    // self[key] = value: 0, or -1 failed
    int set_item(Obj key, Obj value) const;

    // a, b, ... = self: iterates self the way unpacking does and takes exactly N items.
    // On failure every item is empty.
    template <size_t N>
    std::array<Ref, N> unpack() const;

protected:
    PyObject* p_ = nullptr;
};

}  // namespace cm
