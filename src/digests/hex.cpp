// md5, sha1, sha256, sha384, sha512: hexadecimal digests of text, in the letter case
// that `fmt` selects.
#include "digests.h"

namespace cm {

namespace {

// fmt == "upper" or fmt == "lower" picks the case; any other fmt leaves the digits
// as hashlib gives them. `line` is the line of the "upper" test; the three statements
// after it follow on the next lines.
Ref in_case(Call& c, Ref result, const Ref& fmt, int line) {
    c.at(line);
    int upper = fmt.equals(N.upper);                 CHECK(upper);
    if (upper) {
        c.at(line + 1);
        return result.method(N.upper);
    }
    c.at(line + 2);
    int lower = fmt.equals(N.lower);                 CHECK(lower);
    if (lower) {
        c.at(line + 3);
        return result.method(N.lower);
    }
    return result;
}

// The SHA members take text only. `line` is the line of the constructor call; update,
// hexdigest and the case tests follow on the next lines.
Ref sha(Call& c, PyObject* constructor, Ref value, const Ref& fmt, int line) {
    c.at(line);
    Ref result = c.global(N.hashlib).method(constructor);              CHECK(result);

    c.at(line + 1);
    Method update = result.method_attr(N.update);                     CHECK(update);
    Ref data = value.method_kw(N.encode, K.encoding, S.utf_8);        CHECK(data);
    Ref none = update.call(std::move(data));                          CHECK(none);

    c.at(line + 2);
    result = result.method(N.hexdigest);                               CHECK(result);
    return in_case(c, std::move(result), fmt, line + 3);
}

}  // namespace

// md5(value, fmt): value is text, or bytes hashed as they are
Ref md5(Call& c, Ref value, Ref fmt) {
    c.at(111);  // result = hashlib.md5()
    Ref result = c.global(N.hashlib).method(N.md5);                    CHECK(result);

    if (PyBytes_Check(value.get())) {
        c.at(113);  // result.update(value)
        Ref none = result.method(N.update, value);                     CHECK(none);
    } else {
        c.at(115);  // result.update(value.encode(encoding="utf-8"))
        Method update = result.method_attr(N.update);                 CHECK(update);
        Ref data = value.method_kw(N.encode, K.encoding, S.utf_8);    CHECK(data);
        Ref none = update.call(std::move(data));                      CHECK(none);
    }

    c.at(116);  // result = result.hexdigest()
    result = result.method(N.hexdigest);                               CHECK(result);
    return in_case(c, std::move(result), fmt, 117);
}

Ref sha1(Call& c, Ref value, Ref fmt) { return sha(c, N.sha1, value, fmt, 185); }
Ref sha256(Call& c, Ref value, Ref fmt) { return sha(c, N.sha256, value, fmt, 198); }
Ref sha384(Call& c, Ref value, Ref fmt) { return sha(c, N.sha384, value, fmt, 211); }
Ref sha512(Call& c, Ref value, Ref fmt) { return sha(c, N.sha512, value, fmt, 224); }

}  // namespace cm
