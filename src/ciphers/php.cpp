// php and php_decrypt: AES-CBC with GBK text zero-filled to whole blocks by
// _add_to_16, a UTF-8 IV, and optionally one-line Base64 text for the ciphertext.
#include "ciphers.h"

namespace cm {

namespace {

// AES.new(self._add_to_16(key), AES.MODE_CBC, iv.encode("utf-8"))
Ref php_cryptor(Call& c, const Ref& self, const Ref& key, const Ref& iv) {
    Ref new_ = c.global(N.AES).attr(N.new_);
    Ref key_bytes = self.method(N.add_to_16, key);
    Ref mode = c.global(N.AES).attr(N.MODE_CBC);
    Ref iv_bytes = iv.method(N.encode, S.utf_8);
    return new_.call(key_bytes, mode, iv_bytes);
}

}  // namespace

// php(self, value, key, iv, base64s=False) -> bytes, or str when base64s is true.
// The filler is reached through self at each use, so whatever self finds there fills.
Ref php(Call& c, Ref self, Ref value, Ref key, Ref iv, Ref base64s) {
    c.at(136);
    Ref cryptor = php_cryptor(c, self, key, iv);

    c.at(137);
    Ref encrypt = cryptor.attr(N.encrypt);
    Ref plain = self.method(N.add_to_16, value);
    Ref result = encrypt.call(plain);

    c.at(138);
    if (!base64s.truth()) return result;

    c.at(139);
    Ref lines = c.global(N.base64).method(N.encodebytes, result);
    Ref text = str_type().call_kw(K.encoding, lines, S.utf_8);
    return text.method(N.replace, S.newline, C.empty_str);
}

// php_decrypt(self, value, key, iv, base64s=False) -> str, trailing NULs removed
Ref php_decrypt(Call& c, Ref self, Ref value, Ref key, Ref iv, Ref base64s) {
    c.at(143);
    Ref cryptor = php_cryptor(c, self, key, iv);

    c.at(144);
    if (base64s.truth()) {
        c.at(145);
        Ref decodebytes = c.global(N.base64).attr(N.decodebytes);
        Ref encoded = value.method(N.encode);
        value = decodebytes.call(encoded);
    }

    c.at(146);
    Ref plain = cryptor.method(N.decrypt, value);
    Ref text = plain.method(N.decode, S.gbk);

    c.at(147);
    return text.method(N.rstrip, S.nul);
}

// _add_to_16(value) -> bytes: the GBK bytes of value, zero-filled to a multiple of 16
Ref add_to_16(Call& c, Ref value) {
    c.at(152);
    value = value.method(N.encode, S.gbk);

    while (true) {
        c.at(153);
        if (value.length() % 16 == 0) return value;

        c.at(154);
        Ref zero = Ref::borrow(S.nul).method(N.encode);
        value = value.plus_in_place(zero);
    }
}

}  // namespace cm
