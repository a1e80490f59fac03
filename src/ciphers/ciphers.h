// AES-ECB, AES-CBC, the PHP-compatible AES and DES.
#pragma once

#include "../frame/body.h"

namespace cm {

Ref aes_ecb(Call& c, Ref value, Ref key);
Ref aes_ecb_decrypt(Call& c, Ref value, Ref key);
Ref aes_cbc(Call& c, Ref value, Ref key, Ref iv);
Ref aes_cbc_decrypt(Call& c, Ref value, Ref key, Ref iv);
Ref php(Call& c, Ref self, Ref value, Ref key, Ref iv, Ref base64s);
Ref php_decrypt(Call& c, Ref self, Ref value, Ref key, Ref iv, Ref base64s);
Ref add_to_16(Call& c, Ref value);
Ref des(Call& c, Ref value, Ref key);
Ref des_decrypt(Call& c, Ref value, Ref key);

}  // namespace cm
