// base64, base64_decrypt: one-line Base64 text of the UTF-8 bytes of a text, and back.
// `base64` here is always the standard module (a module global), never the method.
#include "digests.h"

namespace cm {

// base64(value) -> str, without the line feeds that encodebytes puts in
Ref base64(Call& c, Ref value) {
    c.at(88);
    Ref encodebytes = c.global(N.base64).attr(N.encodebytes);
    Ref data = value.method(N.encode);
    Ref encoded = encodebytes.call(data);
    Ref text = str_type().call_kw(K.encoding, encoded, S.utf_8);
    Ref result = text.method(N.replace, S.newline, C.empty_str);
    return result;
}

// base64_decrypt(value) -> str; decodebytes skips line breaks and other non-alphabet bytes
Ref base64_decrypt(Call& c, Ref value) {
    c.at(93);
    Ref decodebytes = c.global(N.base64).attr(N.decodebytes);
    Ref data = value.method_kw(N.encode, K.encoding, S.utf_8);
    Ref decoded = decodebytes.call(data);
    Ref result = str_type().call_kw(K.encoding, decoded, S.utf_8);
    return result;
}

}  // namespace cm
