// md5_hmac: the raw HMAC-MD5 code of a message under a key, each given as text or bytes.
#include "digests.h"

namespace cm {

// md5_hmac(value, key) -> 16 bytes; value is the message, key the key
Ref md5_hmac(Call& c, Ref value, Ref key) {
    c.at(128);
    if (!PyBytes_Check(value.get())) value = value.method_kw(N.encode, K.encoding, S.utf_8);

    c.at(130);
    if (!PyBytes_Check(key.get())) key = key.method_kw(N.encode, K.encoding, S.utf_8);

    c.at(131);
    Ref new_ = c.global(N.hmac).attr(N.new_);
    Ref digestmod = c.global(N.hashlib).attr(N.md5);
    Ref result = new_.call_kw(K.digestmod, key, value, digestmod);

    c.at(132);
    result = result.method(N.digest);
    return result;
}

}  // namespace cm
