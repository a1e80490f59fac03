#include "ciphers.h"

#include "../frame/not_implemented.h"

namespace cm {

Ref des(Call&, Ref, Ref) { not_implemented("des"); }
Ref des_decrypt(Call&, Ref, Ref) { not_implemented("des_decrypt"); }

}  // namespace cm
