#include "binding.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace cm {

namespace {

// The text of PyErr_Format("%.200s() takes %.8s %zd positional argument%.1s (%zd given)"),
// put together by hand: a binding failure is as common as any other, and the general
// formatter costs more than the rest of the failure.
int count_error(const Signature& sig, Py_ssize_t given) {
    bool exact = sig.required == sig.count;
    bool too_few = given < sig.required;
    std::string_view word = exact ? "exactly" : too_few ? "at least" : "at most";
    Py_ssize_t expected = (!exact && too_few) ? sig.required : sig.count;
    char text[320];
    char* end = text;
    auto put = [&end](std::string_view part) { end = std::copy(part.begin(), part.end(), end); };
    auto put_number = [&end](Py_ssize_t n) { end = std::to_chars(end, end + 24, n).ptr; };
    std::string_view name(sig.name);
    put(name.substr(0, 200));
    put("() takes ");
    put(word);
    put(" ");
    put_number(expected);
    put(expected == 1 ? " positional argument (" : " positional arguments (");
    put_number(given);
    put(" given)");
    PyObject* message = PyUnicode_DecodeUTF8(text, end - text, "replace");
    if (message == nullptr) return -1;
    PyErr_SetObject(PyExc_TypeError, message);
    Py_DECREF(message);
    return -1;
}

// Index of the keyword named `param` (the same object first, then an equal text),
// -1 when there is none, -2 when a comparison raised.
Py_ssize_t find_keyword(PyObject* kwnames, Py_ssize_t nkw, PyObject* param) {
    for (Py_ssize_t k = 0; k < nkw; k++)
        if (PyTuple_GET_ITEM(kwnames, k) == param) return k;
    for (Py_ssize_t k = 0; k < nkw; k++) {
        int equal = PyObject_RichCompareBool(PyTuple_GET_ITEM(kwnames, k), param, Py_EQ);
        if (equal < 0) return -2;
        if (equal) return k;
    }
    return -1;
}

// Position of the parameter named `keyword` among params[from..to), -1 when there is
// none, -2 when a comparison raised.
int param_index(const Signature& sig, int from, int to, PyObject* keyword, bool identity_only) {
    for (int i = from; i < to; i++) {
        if (sig.params[i] == keyword) return i;
        if (identity_only) continue;
        int equal = PyObject_RichCompareBool(keyword, sig.params[i], Py_EQ);
        if (equal < 0) return -2;
        if (equal) return i;
    }
    return -1;
}

}  // namespace

int bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots) {
    Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    PyObject* const* kwvalues = args + nargs;
    int n = static_cast<int>(nargs < sig.count ? nargs : sig.count);

    if (nkw == 0) {
        if (nargs < sig.required || nargs > sig.count) return count_error(sig, nargs);
    } else if (nargs > sig.count) {
        return count_error(sig, nargs);
    }
    for (int i = 0; i < n; i++) slots[i] = args[i];
    for (int i = n > sig.required ? n : sig.required; i < sig.count; i++)
        slots[i] = PyTuple_GET_ITEM(sig.defaults, i - sig.required);
    if (nkw == 0) return 0;

    // Keywords not yet used. A name equal to several parameter names (a str subclass
    // whose __eq__ says so) binds each of them and counts once for each, so this can go
    // below zero; the keywords are then not gone through again, and one that names no
    // parameter goes unreported.
    Py_ssize_t unused = nkw;
    for (int i = n; i < sig.required; i++) {
        Py_ssize_t k = find_keyword(kwnames, nkw, sig.params[i]);
        if (k == -2) return -1;
        if (k == -1) return count_error(sig, i);
        slots[i] = kwvalues[k];
        unused--;
    }
    for (int i = n > sig.required ? n : sig.required; i < sig.count && unused > 0; i++) {
        Py_ssize_t k = find_keyword(kwnames, nkw, sig.params[i]);
        if (k == -2) return -1;
        if (k == -1) continue;
        slots[i] = kwvalues[k];
        unused--;
    }
    if (unused <= 0) return 0;

    // Some keyword matched no parameter: the first offending one decides the error.
    for (Py_ssize_t k = 0; k < nkw; k++) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        int i = param_index(sig, n, sig.count, keyword, true);
        if (i < 0) {
            if (!PyUnicode_Check(keyword)) {
                PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", sig.name);
                return -1;
            }
            i = param_index(sig, n, sig.count, keyword, false);
            if (i == -2) return -1;
        }
        if (i >= 0) {
            slots[i] = kwvalues[k];
            continue;
        }
        int positional = param_index(sig, 0, n, keyword, false);
        if (positional == -2) return -1;
        if (positional >= 0) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", sig.name, keyword);
        } else {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name, keyword);
        }
        return -1;
    }
    return 0;
}

}  // namespace cm
