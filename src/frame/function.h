// The method function type: what every method of _Crypt is, how it binds to an
// instance, how a call enters its body and how an exception leaves it.
#pragma once

#include "constants.h"
#include "globals.h"
#include "ref.h"

#include <cstddef>
#include <initializer_list>
#include <utility>

namespace cm {

inline constexpr int max_params = 5;

class Call;

// A body gets its bound arguments in parameter order and returns a new reference.
struct Body {
    PyObject* (*run)(Call&, PyObject* const* args);
    int arity;
};

// One row of the method table.
struct MethodDef {
    const char* name;
    bool is_static;
    std::initializer_list<PyObject* Names::*> params;
    PyObject* Shared::* defaults;  // nullptr: no defaults
    const char* doc;
    std::initializer_list<PyObject* Names::*> locals;  // further local names, after the parameters
    int line;                                         // definition line
    Body body;
};

// What a running body knows of its call: which method it is, and the line that a
// failure from here on reports.
class Call {
public:
    // `def` is the method's row; nullptr stands for the module's own execution.
    Call(const MethodDef* def, int line) noexcept : def_(def), line_(line) {}
    void at(int line) noexcept { line_ = line; }
    int line() const noexcept { return line_; }
    Ref global(PyObject* name) const { return cm::global(name); }

    // Adds this call's entry, at the current line, to the pending exception's traceback.
    void add_traceback() noexcept;

    // The pending exception already carries this call's entry (an exception that a
    // handler caught and let go on unchanged): the boundary adds none.
    void entry_added() noexcept { entry_added_ = true; }

    // The boundary: what a body returned becomes the call's result. A failure gets its
    // traceback entry; a failure without an exception, or a result with one pending,
    // breaks the protocol and becomes SystemError.
    PyObject* leave(PyObject* result) noexcept;

private:
    const MethodDef* def_;
    int line_;
    bool entry_added_ = false;
};

template <class... Args>
constexpr int arity_of(Ref (*)(Call&, Args...)) {
    return static_cast<int>(sizeof...(Args));
}

template <auto F, size_t... I>
PyObject* run_body(Call& c, PyObject* const* args, std::index_sequence<I...>) {
    return F(c, Ref::borrow(args[I])...).release();
}

// Body{...} for a function `Ref f(Call&, Ref...)`, one Ref per parameter.
template <auto F>
constexpr Body body() {
    constexpr int arity = arity_of(F);
    return Body{[](Call& c, PyObject* const* args) {
                    return run_body<F>(c, args, std::make_index_sequence<arity>{});
                },
                arity};
}

// Creates the function object of a method, with the module's dictionary as its globals.
PyObject* new_function(const MethodDef& def, PyObject* globals);

// Makes the function type ready (once per process).
int ready_function_type();

}  // namespace cm
