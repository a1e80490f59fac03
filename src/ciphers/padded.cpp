#include "padded.h"

namespace cm {

Ref new_cryptor(Call& c, Obj cipher, Obj mode, const Ref& key) {
    Ref new_ = c.global(cipher).attr(N.new_);              CHECK(new_);
    Ref key_bytes = key.method(N.encode, S.utf_8);         CHECK(key_bytes);
    Ref mode_value = c.global(cipher).attr(mode);          CHECK(mode_value);
    return new_.call(key_bytes.take(), mode_value.take());
}

Ref new_cryptor(Call& c, Obj cipher, Obj mode, const Ref& key, const Ref& iv) {
    Ref new_ = c.global(cipher).attr(N.new_);              CHECK(new_);
    Ref key_bytes = key.method(N.encode, S.utf_8);         CHECK(key_bytes);
    Ref mode_value = c.global(cipher).attr(mode);          CHECK(mode_value);
    Ref iv_bytes = iv.method(N.encode, S.utf_8);           CHECK(iv_bytes);
    return new_.call(key_bytes.take(), mode_value.take(), iv_bytes.take());
}

Ref encrypt_padded(Call& c, Obj cipher, const Ref& cryptor, const Ref& value) {
    Callee encrypt = cryptor.method_attr(N.encrypt);       CHECK(encrypt);
    Ref pad = c.global(N.pad);                             CHECK(pad);
    Ref plain = value.method(N.encode, S.utf_8);           CHECK(plain);
    Ref block_size = c.global(cipher).attr(N.block_size);  CHECK(block_size);
    Ref padded = pad.call(plain.take(), block_size.take());  CHECK(padded);
    return encrypt.call(padded.take());
}

Ref unpad_decode(Call& c, Obj cipher, const Ref& text) {
    Ref unpad = c.global(N.unpad);                         CHECK(unpad);
    Ref block_size = c.global(cipher).attr(N.block_size);  CHECK(block_size);
    Ref plain = unpad.call(text, block_size.take());       CHECK(plain);
    return plain.method(N.decode);
}

}  // namespace cm
