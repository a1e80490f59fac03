// token, token_decrypt: HS256 JSON Web Tokens that carry one value under "data".
#include "tokens.h"

#include "../frame/handling.h"

namespace cm {

namespace {

// A token without expiry is issued only when asked for with None: an exp_time of any
// other type than int is refused instead of quietly giving a token that never expires.
[[noreturn]] void refuse_exp_time(const Ref& exp_time) {
    Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(exp_time.get())));
    PyErr_Format(PyExc_TypeError, "exp_time must be an int or None, not %U", type_name.get());
    raised();
}

}  // namespace

// token(data, key, exp_time=86400, issuer="Tarvex") -> what jwt.encode returns
Ref token(Call& c, Ref data, Ref key, Ref exp_time, Ref issuer) {
    c.at(237);
    Ref token_dict = new_dict();
    token_dict.set_item(N.data, data);
    Ref now = c.global(N.time).method(N.time);
    Ref iat = now.as_int();
    token_dict.set_item(N.iat, iat);
    token_dict.set_item(N.iss, issuer);

    c.at(238);
    if (PyLong_Check(exp_time.get())) {
        // The clock is read again: "exp" is not derived from "iat".
        c.at(239);
        Ref later = c.global(N.time).method(N.time);
        Ref later_seconds = later.as_int();
        Ref sum = later_seconds.plus(exp_time);
        token_dict.method_kw(N.update, K.exp, sum);
    } else if (exp_time.get() != Py_None) {
        refuse_exp_time(exp_time);
    }

    c.at(240);
    return c.global(N.jwt).method_kw(N.encode, K.algorithm, token_dict, key, S.HS256);
}

// token_decrypt(token, key, issuer="Tarvex") -> the "data" claim, or None
Ref token_decrypt(Call& c, Ref token, Ref key, Ref issuer) {
    try {
        c.at(246);
        Ref decode = c.global(N.jwt).attr(N.decode);
        Ref algorithms = list_of(S.HS256);
        Ref token_dict = decode.call_kw(K.issuer_algorithms, token, key, issuer, algorithms);

        c.at(247);
        return token_dict.method(N.get, N.data);
    } catch (const Raised&) {
        Caught caught(c);

        c.at(248);
        Ref exceptions = c.global(N.jwt).attr(N.exceptions);
        Ref expired = exceptions.attr(N.ExpiredSignatureError);
        if (caught.matches(expired.get())) {
            c.at(249);
            Ref timeout = c.global(N.TimeoutError);
            Ref error = timeout.call_tuple(C.token_expired_args);
            caught.raise(error);
        }

        c.at(250);
        if (!caught.matches(PyExc_Exception)) caught.reraise();

        c.at(251);
        Ref e = caught.exception();
        Ref text = e.format(C.empty_str);
        // The two texts joined into a plain str, as an f-string joins its parts: a str
        // subclass that format() gave has no say (its __radd__ would decide a `+`).
        // format() gives a str or fails, so PyUnicode_Concat meets no other type; if it
        // did, it would raise the TypeError of `"..." + x` for an x without __radd__.
        Ref message = Ref::steal(PyUnicode_Concat(S.system_error, text.get()));
        Ref error = Ref::borrow(PyExc_Exception).call(message);
        caught.raise(error);
    }
}

}  // namespace cm
