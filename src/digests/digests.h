// Base64 text, hex digests and HMAC-MD5.
#pragma once

#include "../frame/body.h"

namespace cm {

Ref base64(Call& c, Ref value);
Ref base64_decrypt(Call& c, Ref value);
Ref md5(Call& c, Ref value, Ref fmt);
Ref sha1(Call& c, Ref value, Ref fmt);
Ref sha256(Call& c, Ref value, Ref fmt);
Ref sha384(Call& c, Ref value, Ref fmt);
Ref sha512(Call& c, Ref value, Ref fmt);
Ref md5_hmac(Call& c, Ref value, Ref key);

}  // namespace cm
