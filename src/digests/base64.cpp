// base64, base64_decrypt: one-line Base64 text of the UTF-8 bytes of a text, and back.
// `base64` here is always the standard module (a module global), never the method.
#include "digests.h"

namespace cm {

// base64(value) -> str, without the line feeds that encodebytes puts in
Ref base64(Call& c, Ref value) {
    c.at(88);  // result = str(base64.encodebytes(value.encode()), encoding="utf-8").replace("\n", "")
    Ref encodebytes = c.global(N.base64).attr(N.encodebytes);                CHECK(encodebytes);
    Ref data = value.method(N.encode);                                        CHECK(data);
    Ref encoded = encodebytes.call(data.take());                              CHECK(encoded);
    Ref text = str_type().call_kw(T.kw_encoding, encoded.take(), S.utf_8);    CHECK(text);
    return text.take().method(N.replace, S.newline, S.empty);
}

// base64_decrypt(value) -> str; decodebytes skips line breaks and other non-alphabet bytes
Ref base64_decrypt(Call& c, Ref value) {
    c.at(93);  // result = str(base64.decodebytes(value.encode(encoding="utf-8")), encoding="utf-8")
    Ref decodebytes = c.global(N.base64).attr(N.decodebytes);                 CHECK(decodebytes);
    Ref data = value.method_kw(N.encode, T.kw_encoding, S.utf_8);             CHECK(data);
    Ref decoded = decodebytes.call(data.take());                              CHECK(decoded);
    return str_type().call_kw(T.kw_encoding, decoded.take(), S.utf_8);
}

}  // namespace cm
