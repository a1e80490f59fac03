// The statements that AES-ECB, AES-CBC and DES share. `cipher` names the module global
// (AES or DES), looked up at each use. Each is one statement of a body, which sets the
// line before it (helpers never set lines).
// Each gives an empty handle when a step failed, with the exception pending.
#pragma once

#include "../frame/body.h"

namespace cm {

// <cipher>.new(key.encode("utf-8"), <cipher>.<mode>)
Ref new_cryptor(Call& c, Obj cipher, Obj mode, const Ref& key);

// <cipher>.new(key.encode("utf-8"), <cipher>.<mode>, iv.encode("utf-8"))
Ref new_cryptor(Call& c, Obj cipher, Obj mode, const Ref& key, const Ref& iv);

// cryptor.encrypt(pad(value.encode("utf-8"), <cipher>.block_size))
Ref encrypt_padded(Call& c, Obj cipher, const Ref& cryptor, const Ref& value);

// unpad(text, <cipher>.block_size).decode()
Ref unpad_decode(Call& c, Obj cipher, const Ref& text);

}  // namespace cm
