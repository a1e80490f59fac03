#include "rsa.h"

#include "../frame/not_implemented.h"

namespace cm {

Ref rsa_keys(Call&, Ref) { not_implemented("rsa_keys"); }
Ref rsa(Call&, Ref, Ref, Ref) { not_implemented("rsa"); }
Ref rsa_decrypt(Call&, Ref, Ref, Ref) { not_implemented("rsa_decrypt"); }

}  // namespace cm
