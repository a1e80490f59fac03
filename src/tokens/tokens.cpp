#include "tokens.h"

#include "../frame/not_implemented.h"

namespace cm {

Ref token(Call&, Ref, Ref, Ref, Ref) { not_implemented("token"); }
Ref token_decrypt(Call&, Ref, Ref, Ref) { not_implemented("token_decrypt"); }

}  // namespace cm
