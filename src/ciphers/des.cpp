// des and des_decrypt: DES-ECB under a UTF-8 text key of 8 bytes, PKCS#7 padding to
// DES.block_size, raw ciphertext bytes in and out.
#include "ciphers.h"

namespace cm {

// des(value, key) -> bytes
Ref des(Call& c, Ref value, Ref key) {
    c.at(98);
    Ref new_ = c.global(N.DES).attr(N.new_);
    Ref key_bytes = key.method(N.encode, S.utf_8);
    Ref mode = c.global(N.DES).attr(N.MODE_ECB);
    Ref cryptor = new_.call(key_bytes, mode);

    c.at(99);
    Ref encrypt = cryptor.attr(N.encrypt);
    Ref pad = c.global(N.pad);
    Ref plain = value.method(N.encode, S.utf_8);
    Ref block_size = c.global(N.DES).attr(N.block_size);
    Ref padded = pad.call(plain, block_size);
    return encrypt.call(padded);
}

// des_decrypt(value, key) -> str
Ref des_decrypt(Call& c, Ref value, Ref key) {
    c.at(104);
    Ref new_ = c.global(N.DES).attr(N.new_);
    Ref key_bytes = key.method(N.encode, S.utf_8);
    Ref mode = c.global(N.DES).attr(N.MODE_ECB);
    Ref cryptor = new_.call(key_bytes, mode);

    c.at(105);
    Ref text = cryptor.method(N.decrypt, value);

    c.at(106);
    Ref unpad = c.global(N.unpad);
    Ref block_size = c.global(N.DES).attr(N.block_size);
    Ref plain = unpad.call(text, block_size);
    return plain.method(N.decode);
}

}  // namespace cm
