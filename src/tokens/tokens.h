// Signed tokens (HS256).
#pragma once

#include "../frame/body.h"

namespace cm {

Ref token(Call& c, Ref data, Ref key, Ref exp_time, Ref issuer);
Ref token_decrypt(Call& c, Ref token, Ref key, Ref issuer);

}  // namespace cm
