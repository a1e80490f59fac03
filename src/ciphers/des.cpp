// des and des_decrypt: DES-ECB under a UTF-8 text key of 8 bytes, PKCS#7 padding to
// DES.block_size, raw ciphertext bytes in and out.
#include "ciphers.h"
#include "padded.h"

namespace cm {

// des(value, key) -> bytes
Ref des(Call& c, Ref value, Ref key) {
    c.at(98);  // cryptor = DES.new(key.encode("utf-8"), DES.MODE_ECB)
    Ref cryptor = new_cryptor(c, N.DES, N.MODE_ECB, key);  CHECK(cryptor);

    c.at(99);  // result = cryptor.encrypt(pad(value.encode("utf-8"), DES.block_size))
    return encrypt_padded(c, N.DES, cryptor, value);
}

// des_decrypt(value, key) -> str
Ref des_decrypt(Call& c, Ref value, Ref key) {
    c.at(104);  // cryptor = DES.new(key.encode("utf-8"), DES.MODE_ECB)
    Ref cryptor = new_cryptor(c, N.DES, N.MODE_ECB, key);  CHECK(cryptor);

    c.at(105);  // text = cryptor.decrypt(value)
    Ref text = cryptor.method(N.decrypt, value);           CHECK(text);

    c.at(106);  // result = unpad(text, DES.block_size).decode()
    return unpad_decode(c, N.DES, text);
}

}  // namespace cm
