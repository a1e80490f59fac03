#include "ciphers.h"

#include "../frame/not_implemented.h"

namespace cm {

Ref aes_ecb(Call&, Ref, Ref) { not_implemented("aes_ecb"); }
Ref aes_ecb_decrypt(Call&, Ref, Ref) { not_implemented("aes_ecb_decrypt"); }
Ref aes_cbc(Call&, Ref, Ref, Ref) { not_implemented("aes_cbc"); }
Ref aes_cbc_decrypt(Call&, Ref, Ref, Ref) { not_implemented("aes_cbc_decrypt"); }

}  // namespace cm
