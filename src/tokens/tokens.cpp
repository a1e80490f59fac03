// token, token_decrypt: HS256 JSON Web Tokens that carry one value under "data".
#include "tokens.h"

#include "../frame/handling.h"

namespace cm {

namespace {

// A token without expiry is issued only when asked for with None: an exp_time of any
// other type than int is refused instead of quietly giving a token that never expires.
Failure refuse_exp_time(const Ref& exp_time) {
    Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(exp_time.get())));
    if (type_name) PyErr_Format(PyExc_TypeError, "exp_time must be an int or None, not %U", type_name.get());
    return failure;
}

}  // namespace

// token(data, key, exp_time=86400, issuer="Tarvex") -> what jwt.encode returns
Ref token(Call& c, Ref data, Ref key, Ref exp_time, Ref issuer) {
    c.at(237);  // token_dict = {"data": data, "iat": int(time.time()), "iss": issuer}
    Ref token_dict = new_dict();                                 CHECK(token_dict);
    int stored = token_dict.set_item(N.data, data);              CHECK(stored);
    Ref now = c.global(N.time).method(N.time);                   CHECK(now);
    Ref iat = now.as_int();                                      CHECK(iat);
    stored = token_dict.set_item(N.iat, iat);                    CHECK(stored);
    stored = token_dict.set_item(N.iss, issuer);                 CHECK(stored);

    c.at(238);  // if isinstance(exp_time, int):
    if (PyLong_Check(exp_time.get())) {
        // The clock is read again: "exp" is not derived from "iat".
        c.at(239);  // token_dict.update(exp=int(time.time()) + exp_time)
        Ref later = c.global(N.time).method(N.time);             CHECK(later);
        Ref later_seconds = later.as_int();                      CHECK(later_seconds);
        Ref sum = later_seconds.plus(exp_time);                  CHECK(sum);
        Ref none = token_dict.method_kw(N.update, T.kw_exp, sum.take());   CHECK(none);
    } else if (exp_time.get() != Py_None) {
        return refuse_exp_time(exp_time);
    }

    c.at(240);  // result = jwt.encode(token_dict, key, algorithm="HS256")
    return c.global(N.jwt).method_kw(N.encode, T.kw_algorithm, token_dict, key, S.HS256);
}

// token_decrypt(token, key, issuer="Tarvex") -> the "data" claim, or None
Ref token_decrypt(Call& c, Ref token, Ref key, Ref issuer) {
    // try:
    auto guarded = [&]() -> Ref {
        c.at(246);  // token_dict = jwt.decode(token, key, issuer=issuer, algorithms=["HS256"])
        Ref decode = c.global(N.jwt).attr(N.decode);             CHECK(decode);
        Ref algorithms = list_of(S.HS256);                       CHECK(algorithms);
        Ref token_dict = decode.call_kw(T.kw_issuer_algorithms, token, key, issuer, algorithms.take());
        CHECK(token_dict);

        c.at(247);  // return token_dict.get("data")
        return token_dict.method(N.get, N.data);
    };
    if (Ref result = guarded()) return result;

    Caught caught(c);

    c.at(248);  // except jwt.exceptions.ExpiredSignatureError:
    Ref exceptions = c.global(N.jwt).attr(N.exceptions);         CHECK(exceptions);
    Ref expired = exceptions.attr(N.ExpiredSignatureError);      CHECK(expired);
    int is_expired = caught.matches(expired);                    CHECK(is_expired);
    if (is_expired) {
        c.at(249);  // raise TimeoutError("token已过期")
        Ref timeout = c.global(N.TimeoutError);                  CHECK(timeout);
        Ref error = timeout.call_tuple(T.token_expired_args);    CHECK(error);
        return caught.raise(error);
    }

    c.at(250);  // except Exception as e:
    int is_exception = caught.matches(PyExc_Exception);          CHECK(is_exception);
    if (!is_exception) return caught.reraise();

    c.at(251);  // raise Exception("系统异常：" + str(e))
    Obj e = caught.exception();
    Ref text = e.format(S.empty);                                CHECK(text);
    // The two texts joined into a plain str, as an f-string joins its parts: a str
    // subclass that format() gave has no say (its __radd__ would decide a `+`).
    // format() gives a str or fails, so PyUnicode_Concat meets no other type; if it
    // did, it would raise the TypeError of `"..." + x` for an x without __radd__.
    Ref message = Ref::steal(PyUnicode_Concat(S.system_error.get(), text.get()));  CHECK(message);
    Ref error = Obj(PyExc_Exception).call(message.take());       CHECK(error);
    return caught.raise(error);
}

}  // namespace cm
