// The method table's row, and the function type: what every method of _Crypt is, how
// it binds to an instance, how a call enters its body and how an exception leaves it.
#pragma once

#include "call.h"
#include "constants.h"

#include <cstddef>
#include <span>
#include <utility>

namespace cm {

inline constexpr int max_params = 5;
inline constexpr size_t max_methods = 32;

// A body gets its bound arguments in parameter order and returns a new reference.
struct Body {
    PyObject* (*run)(Call&, PyObject* const* args);
    int arity;
};

template <class... Args>
constexpr int arity_of(Ref (*)(Call&, Args...)) {
    return static_cast<int>(sizeof...(Args));
}

template <auto F, size_t... I>
PyObject* run_body(Call& c, PyObject* const* args, std::index_sequence<I...>) {
    return F(c, Ref::borrow(args[I])...).release();
}

// body<f>() for a function `Ref f(Call&, Ref...)`, one Ref per parameter.
template <auto F>
constexpr Body body() {
    constexpr int arity = arity_of(F);
    return Body{[](Call& c, PyObject* const* args) {
                    return run_body<F>(c, args, std::make_index_sequence<arity>{});
                },
                arity};
}

// A short list of constants in a row, written as a braced list: {&N.value, &N.key}.
template <size_t Capacity>
struct ConstantList {
    const Obj* items[Capacity] = {};
    int count = 0;

    constexpr ConstantList() = default;
    template <class... Items>
    constexpr ConstantList(Items... list) : items{list...}, count(static_cast<int>(sizeof...(Items))) {}

    constexpr const Obj* const* begin() const { return items; }
    constexpr const Obj* const* end() const { return items + count; }
};

enum class Kind {
    plain,          // binds to an instance like a Python function: self comes first
    static_method,  // wrapped with staticmethod: called without an instance
};

// One row of the method table: everything that is known of a method, said once. The
// docstring and the default tuple are made from it.
struct MethodDef {
    const char* name;
    Kind kind;
    ConstantList<max_params> params;
    ConstantList<max_params> defaults = {};  // of the last parameters
    ConstantList<8> locals = {};             // further local names, after the parameters
    int line;                                // the definition line in "crypt_main.py"
    Body body;
};

// Whether each row's body takes one argument per parameter (checked at compile time).
template <size_t Count>
constexpr bool bodies_fit(const MethodDef (&table)[Count]) {
    for (const MethodDef& row : table)
        if (row.body.arity != row.params.count || row.params.count > max_params) return false;
    return Count <= max_methods;
}

// Makes what the function objects are made from, for every row: name, qualified name,
// docstring, default tuple and introspection code object (once per process). Returns
// -1 with an exception set on failure.
int prepare_methods(std::span<const MethodDef> table);

// Creates the function object of the method in row `index` (prepared before), with the
// module's dictionary as its globals.
PyObject* new_function(std::span<const MethodDef> table, size_t index);

// Makes the function type ready (once per process).
int ready_function_type();

}  // namespace cm
