// md5, sha1, sha256, sha384, sha512: hexadecimal digests of text, in the letter case
// that `fmt` selects.
#include "digests.h"

namespace cm {

namespace {

// Where the statements of one member of the family stand in crypt_main.py.
struct DigestLines {
    int construct;     // result = hashlib.<constructor>()
    int update_bytes;  // result.update(value)                        (md5 alone)
    int update;        // result.update(value.encode(encoding="utf-8"))
    int hexdigest;     // result = result.hexdigest()
    int upper_test;    // if fmt == "upper":
    int upper;         //     result = result.upper()
    int lower_test;    // elif fmt == "lower":
    int lower;         //     result = result.lower()
};

// The body of every member: they differ in the hashlib constructor, in their lines, and
// in whether a bytes value is hashed as it is (md5) or must have an encode method.
Ref hex_digest(Call& c, const Ref& value, const Ref& fmt, Obj constructor, const DigestLines& lines,
               bool takes_bytes) {
    c.at(lines.construct);  // result = hashlib.<constructor>()
    Ref result = c.global(N.hashlib).method(constructor);             CHECK(result);

    if (takes_bytes && PyBytes_Check(value.get())) {
        c.at(lines.update_bytes);  // result.update(value)
        Ref none = result.method(N.update, value);                     CHECK(none);
    } else {
        c.at(lines.update);  // result.update(value.encode(encoding="utf-8"))
        Callee update = result.method_attr(N.update);                 CHECK(update);
        Ref data = value.method_kw(N.encode, T.kw_encoding, S.utf_8); CHECK(data);
        Ref none = update.call(data.take());                          CHECK(none);
    }

    c.at(lines.hexdigest);  // result = result.hexdigest()
    result = result.method(N.hexdigest);                               CHECK(result);

    c.at(lines.upper_test);  // if fmt == "upper":
    int upper = fmt.equals(N.upper);                                   CHECK(upper);
    if (upper) {
        c.at(lines.upper);  // result = result.upper()
        return result.method(N.upper);
    }
    c.at(lines.lower_test);  // elif fmt == "lower":
    int lower = fmt.equals(N.lower);                                   CHECK(lower);
    if (lower) {
        c.at(lines.lower);  // result = result.lower()
        return result.method(N.lower);
    }
    return result;
}

}  // namespace

// md5(value, fmt): value is text, or bytes hashed as they are
Ref md5(Call& c, Ref value, Ref fmt) {
    return hex_digest(c, value, fmt, N.md5, {111, 113, 115, 116, 117, 118, 119, 120}, true);
}

// sha1(value, fmt) .. sha512(value, fmt): value is text
Ref sha1(Call& c, Ref value, Ref fmt) {
    return hex_digest(c, value, fmt, N.sha1, {185, 0, 186, 187, 188, 189, 190, 191}, false);
}
Ref sha256(Call& c, Ref value, Ref fmt) {
    return hex_digest(c, value, fmt, N.sha256, {198, 0, 199, 200, 201, 202, 203, 204}, false);
}
Ref sha384(Call& c, Ref value, Ref fmt) {
    return hex_digest(c, value, fmt, N.sha384, {211, 0, 212, 213, 214, 215, 216, 217}, false);
}
Ref sha512(Call& c, Ref value, Ref fmt) {
    return hex_digest(c, value, fmt, N.sha512, {224, 0, 225, 226, 227, 228, 229, 230}, false);
}

}  // namespace cm
