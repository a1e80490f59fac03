// md5_hmac: the raw HMAC-MD5 code of a message under a key, each given as text or bytes.
#include "digests.h"

namespace cm {

// md5_hmac(value, key) -> 16 bytes; value is the message, key the key
Ref md5_hmac(Call& c, Ref value, Ref key) {
    c.at(128);  // if not isinstance(value, bytes): value = value.encode(encoding="utf-8")
    if (!PyBytes_Check(value.get())) {
        value = value.method_kw(N.encode, T.kw_encoding, S.utf_8);  CHECK(value);
    }

    c.at(130);  // if not isinstance(key, bytes): key = key.encode(encoding="utf-8")
    if (!PyBytes_Check(key.get())) {
        key = key.method_kw(N.encode, T.kw_encoding, S.utf_8);      CHECK(key);
    }

    c.at(131);  // result = hmac.new(key, value, digestmod=hashlib.md5)
    Ref new_ = c.global(N.hmac).attr(N.new_);                    CHECK(new_);
    Ref digestmod = c.global(N.hashlib).attr(N.md5);             CHECK(digestmod);
    Ref result = new_.call_kw(T.kw_digestmod, key, value, digestmod.take());  CHECK(result);

    c.at(132);  // result = result.digest()
    return result.method(N.digest);
}

}  // namespace cm
