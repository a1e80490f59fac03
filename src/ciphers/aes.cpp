// aes_ecb, aes_cbc and their inverses: AES under a UTF-8 text key (and IV), PKCS#7
// padding to AES.block_size, raw ciphertext bytes in and out.
#include "ciphers.h"
#include "padded.h"

namespace cm {

// aes_ecb(value, key) -> bytes
Ref aes_ecb(Call& c, Ref value, Ref key) {
    c.at(62);
    Ref cryptor = new_cryptor(c, N.AES, N.MODE_ECB, key);

    c.at(63);
    return encrypt_padded(c, N.AES, cryptor, value);
}

// aes_ecb_decrypt(value, key) -> str
Ref aes_ecb_decrypt(Call& c, Ref value, Ref key) {
    c.at(68);
    Ref cryptor = new_cryptor(c, N.AES, N.MODE_ECB, key);

    c.at(69);
    Ref text = cryptor.method(N.decrypt, value);

    c.at(70);
    return unpad_decode(c, N.AES, text);
}

// aes_cbc(value, key, iv) -> bytes
Ref aes_cbc(Call& c, Ref value, Ref key, Ref iv) {
    c.at(75);
    Ref cryptor = new_cryptor(c, N.AES, N.MODE_CBC, key, iv);

    c.at(76);
    return encrypt_padded(c, N.AES, cryptor, value);
}

// aes_cbc_decrypt(value, key, iv) -> str
Ref aes_cbc_decrypt(Call& c, Ref value, Ref key, Ref iv) {
    c.at(81);
    Ref cryptor = new_cryptor(c, N.AES, N.MODE_CBC, key, iv);

    c.at(82);
    Ref text = cryptor.method(N.decrypt, value);

    c.at(83);
    return unpad_decode(c, N.AES, text);
}

}  // namespace cm
