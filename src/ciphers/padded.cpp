#include "padded.h"

namespace cm {

Ref new_cryptor(Call& c, PyObject* cipher, PyObject* mode, const Ref& key) {
    Ref new_ = c.global(cipher).attr(N.new_);
    Ref key_bytes = key.method(N.encode, S.utf_8);
    Ref mode_value = c.global(cipher).attr(mode);
    return new_.call(key_bytes, mode_value);
}

Ref new_cryptor(Call& c, PyObject* cipher, PyObject* mode, const Ref& key, const Ref& iv) {
    Ref new_ = c.global(cipher).attr(N.new_);
    Ref key_bytes = key.method(N.encode, S.utf_8);
    Ref mode_value = c.global(cipher).attr(mode);
    Ref iv_bytes = iv.method(N.encode, S.utf_8);
    return new_.call(key_bytes, mode_value, iv_bytes);
}

Ref encrypt_padded(Call& c, PyObject* cipher, const Ref& cryptor, const Ref& value) {
    Ref encrypt = cryptor.attr(N.encrypt);
    Ref pad = c.global(N.pad);
    Ref plain = value.method(N.encode, S.utf_8);
    Ref block_size = c.global(cipher).attr(N.block_size);
    Ref padded = pad.call(plain, block_size);
    return encrypt.call(padded);
}

Ref unpad_decode(Call& c, PyObject* cipher, const Ref& text) {
    Ref unpad = c.global(N.unpad);
    Ref block_size = c.global(cipher).attr(N.block_size);
    Ref plain = unpad.call(text, block_size);
    return plain.method(N.decode);
}

}  // namespace cm
