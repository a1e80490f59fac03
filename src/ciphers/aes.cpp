// aes_ecb, aes_cbc and their inverses: AES under a UTF-8 text key (and IV), PKCS#7
// padding to AES.block_size, raw ciphertext bytes in and out.
#include "ciphers.h"
#include "padded.h"

namespace cm {

// aes_ecb(value, key) -> bytes
Ref aes_ecb(Call& c, Ref value, Ref key) {
    c.at(62);  // cryptor = AES.new(key.encode("utf-8"), AES.MODE_ECB)
    Ref cryptor = new_cryptor(c, N.AES, N.MODE_ECB, key);  CHECK(cryptor);

    c.at(63);  // result = cryptor.encrypt(pad(value.encode("utf-8"), AES.block_size))
    return encrypt_padded(c, N.AES, cryptor, value);
}

// aes_ecb_decrypt(value, key) -> str
Ref aes_ecb_decrypt(Call& c, Ref value, Ref key) {
    c.at(68);  // cryptor = AES.new(key.encode("utf-8"), AES.MODE_ECB)
    Ref cryptor = new_cryptor(c, N.AES, N.MODE_ECB, key);  CHECK(cryptor);

    c.at(69);  // text = cryptor.decrypt(value)
    Ref text = cryptor.method(N.decrypt, value);           CHECK(text);

    c.at(70);  // result = unpad(text, AES.block_size).decode()
    return unpad_decode(c, N.AES, text);
}

// aes_cbc(value, key, iv) -> bytes
Ref aes_cbc(Call& c, Ref value, Ref key, Ref iv) {
    c.at(75);  // cryptor = AES.new(key.encode("utf-8"), AES.MODE_CBC, iv.encode("utf-8"))
    Ref cryptor = new_cryptor(c, N.AES, N.MODE_CBC, key, iv);  CHECK(cryptor);

    c.at(76);  // result = cryptor.encrypt(pad(value.encode("utf-8"), AES.block_size))
    return encrypt_padded(c, N.AES, cryptor, value);
}

// aes_cbc_decrypt(value, key, iv) -> str
Ref aes_cbc_decrypt(Call& c, Ref value, Ref key, Ref iv) {
    c.at(81);  // cryptor = AES.new(key.encode("utf-8"), AES.MODE_CBC, iv.encode("utf-8"))
    Ref cryptor = new_cryptor(c, N.AES, N.MODE_CBC, key, iv);  CHECK(cryptor);

    c.at(82);  // text = cryptor.decrypt(value)
    Ref text = cryptor.method(N.decrypt, value);               CHECK(text);

    c.at(83);  // result = unpad(text, AES.block_size).decode()
    return unpad_decode(c, N.AES, text);
}

}  // namespace cm
