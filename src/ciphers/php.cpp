// php and php_decrypt: AES-CBC with GBK text zero-filled to whole blocks by
// _add_to_16, a UTF-8 IV, and optionally one-line Base64 text for the ciphertext.
#include "ciphers.h"

namespace cm {

namespace {

// AES.new(self._add_to_16(key), AES.MODE_CBC, iv.encode("utf-8"))
Ref php_cryptor(Call& c, const Ref& self, const Ref& key, const Ref& iv) {
    Ref new_ = c.global(N.AES).attr(N.new_);          CHECK(new_);
    Ref key_bytes = self.method(N.add_to_16, key);    CHECK(key_bytes);
    Ref mode = c.global(N.AES).attr(N.MODE_CBC);      CHECK(mode);
    Ref iv_bytes = iv.method(N.encode, S.utf_8);      CHECK(iv_bytes);
    return new_.call(key_bytes.take(), mode.take(), iv_bytes.take());
}

}  // namespace

// php(self, value, key, iv, base64s=False) -> bytes, or str when base64s is true.
// The filler is reached through self at each use, so whatever self finds there fills.
Ref php(Call& c, Ref self, Ref value, Ref key, Ref iv, Ref base64s) {
    c.at(136);  // cryptor = AES.new(self._add_to_16(key), AES.MODE_CBC, iv.encode("utf-8"))
    Ref cryptor = php_cryptor(c, self, key, iv);      CHECK(cryptor);

    c.at(137);  // result = cryptor.encrypt(self._add_to_16(value))
    Callee encrypt = cryptor.method_attr(N.encrypt);  CHECK(encrypt);
    Ref plain = self.method(N.add_to_16, value);      CHECK(plain);
    Ref result = encrypt.call(plain.take());          CHECK(result);

    c.at(138);  // if base64s:
    int wanted = base64s.truth();                     CHECK(wanted);
    if (!wanted) return result;

    c.at(139);  // result = str(base64.encodebytes(result), encoding="utf-8").replace("\n", "")
    Ref encodebytes = c.global(N.base64).attr(N.encodebytes);             CHECK(encodebytes);
    Ref lines = encodebytes.call(result);                                  CHECK(lines);
    Ref text = str_type().call_kw(T.kw_encoding, lines.take(), S.utf_8);  CHECK(text);
    return text.take().method(N.replace, S.newline, S.empty);
}

// php_decrypt(self, value, key, iv, base64s=False) -> str, trailing NULs removed
Ref php_decrypt(Call& c, Ref self, Ref value, Ref key, Ref iv, Ref base64s) {
    c.at(143);  // cryptor = AES.new(self._add_to_16(key), AES.MODE_CBC, iv.encode("utf-8"))
    Ref cryptor = php_cryptor(c, self, key, iv);      CHECK(cryptor);

    c.at(144);  // if base64s:
    int wanted = base64s.truth();                     CHECK(wanted);
    if (wanted) {
        c.at(145);  // value = base64.decodebytes(value.encode())
        Ref decodebytes = c.global(N.base64).attr(N.decodebytes);  CHECK(decodebytes);
        Ref encoded = value.method(N.encode);                      CHECK(encoded);
        value = decodebytes.call(encoded.take());                  CHECK(value);
    }

    c.at(146);  // text = cryptor.decrypt(value).decode("gbk")
    Ref plain = cryptor.method(N.decrypt, value);         CHECK(plain);
    Ref text = plain.take().method(N.decode, S.gbk);      CHECK(text);

    c.at(147);  // result = text.rstrip("\x00")
    return text.method(N.rstrip, S.nul);
}

// _add_to_16(value) -> bytes: the GBK bytes of value, zero-filled to a multiple of 16
Ref add_to_16(Call& c, Ref value) {
    c.at(152);  // value = value.encode("gbk")
    value = value.method(N.encode, S.gbk);            CHECK(value);

    while (true) {
        c.at(153);  // while len(value) % 16 != 0:
        Py_ssize_t length = value.length();           CHECK(length);
        if (length % 16 == 0) return value;

        c.at(154);  // value += "\x00".encode()
        Ref zero = S.nul.method(N.encode);                CHECK(zero);
        value = value.plus_in_place(zero);                CHECK(value);
    }
}

}  // namespace cm
