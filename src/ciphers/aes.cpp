// aes_ecb, aes_cbc and their inverses: AES under a UTF-8 text key (and IV), PKCS#7
// padding to AES.block_size, raw ciphertext bytes in and out.
#include "ciphers.h"

namespace cm {

// aes_ecb(value, key) -> bytes
Ref aes_ecb(Call& c, Ref value, Ref key) {
    c.at(62);
    Ref new_ = c.global(N.AES).attr(N.new_);
    Ref key_bytes = key.method(N.encode, S.utf_8);
    Ref mode = c.global(N.AES).attr(N.MODE_ECB);
    Ref cryptor = new_.call(key_bytes, mode);

    c.at(63);
    Ref encrypt = cryptor.attr(N.encrypt);
    Ref pad = c.global(N.pad);
    Ref plain = value.method(N.encode, S.utf_8);
    Ref block_size = c.global(N.AES).attr(N.block_size);
    Ref padded = pad.call(plain, block_size);
    return encrypt.call(padded);
}

// aes_ecb_decrypt(value, key) -> str
Ref aes_ecb_decrypt(Call& c, Ref value, Ref key) {
    c.at(68);
    Ref new_ = c.global(N.AES).attr(N.new_);
    Ref key_bytes = key.method(N.encode, S.utf_8);
    Ref mode = c.global(N.AES).attr(N.MODE_ECB);
    Ref cryptor = new_.call(key_bytes, mode);

    c.at(69);
    Ref text = cryptor.method(N.decrypt, value);

    c.at(70);
    Ref unpad = c.global(N.unpad);
    Ref block_size = c.global(N.AES).attr(N.block_size);
    Ref plain = unpad.call(text, block_size);
    return plain.method(N.decode);
}

// aes_cbc(value, key, iv) -> bytes
Ref aes_cbc(Call& c, Ref value, Ref key, Ref iv) {
    c.at(75);
    Ref new_ = c.global(N.AES).attr(N.new_);
    Ref key_bytes = key.method(N.encode, S.utf_8);
    Ref mode = c.global(N.AES).attr(N.MODE_CBC);
    Ref iv_bytes = iv.method(N.encode, S.utf_8);
    Ref cryptor = new_.call(key_bytes, mode, iv_bytes);

    c.at(76);
    Ref encrypt = cryptor.attr(N.encrypt);
    Ref pad = c.global(N.pad);
    Ref plain = value.method(N.encode, S.utf_8);
    Ref block_size = c.global(N.AES).attr(N.block_size);
    Ref padded = pad.call(plain, block_size);
    return encrypt.call(padded);
}

// aes_cbc_decrypt(value, key, iv) -> str
Ref aes_cbc_decrypt(Call& c, Ref value, Ref key, Ref iv) {
    c.at(81);
    Ref new_ = c.global(N.AES).attr(N.new_);
    Ref key_bytes = key.method(N.encode, S.utf_8);
    Ref mode = c.global(N.AES).attr(N.MODE_CBC);
    Ref iv_bytes = iv.method(N.encode, S.utf_8);
    Ref cryptor = new_.call(key_bytes, mode, iv_bytes);

    c.at(82);
    Ref text = cryptor.method(N.decrypt, value);

    c.at(83);
    Ref unpad = c.global(N.unpad);
    Ref block_size = c.global(N.AES).attr(N.block_size);
    Ref plain = unpad.call(text, block_size);
    return plain.method(N.decode);
}

}  // namespace cm
