// des and des_decrypt: DES-ECB under a UTF-8 text key of 8 bytes, PKCS#7 padding to
// DES.block_size, raw ciphertext bytes in and out.
#include "ciphers.h"
#include "padded.h"

namespace cm {

// des(value, key) -> bytes
Ref des(Call& c, Ref value, Ref key) {
    c.at(98);
    Ref cryptor = new_cryptor(c, N.DES, N.MODE_ECB, key);

    c.at(99);
    return encrypt_padded(c, N.DES, cryptor, value);
}

// des_decrypt(value, key) -> str
Ref des_decrypt(Call& c, Ref value, Ref key) {
    c.at(104);
    Ref cryptor = new_cryptor(c, N.DES, N.MODE_ECB, key);

    c.at(105);
    Ref text = cryptor.method(N.decrypt, value);

    c.at(106);
    return unpad_decode(c, N.DES, text);
}

}  // namespace cm
