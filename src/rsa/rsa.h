// RSA key pairs, encryption and decryption.
#pragma once

#include "../frame/body.h"

namespace cm {

Ref rsa_keys(Call& c, Ref length);
Ref rsa(Call& c, Ref value, Ref pub_key, Ref hexs);
Ref rsa_decrypt(Call& c, Ref value, Ref pri_key, Ref hexs);

}  // namespace cm
