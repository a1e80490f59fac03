#include "ciphers.h"

#include "../frame/not_implemented.h"

namespace cm {

Ref php(Call&, Ref, Ref, Ref, Ref, Ref) { not_implemented("php"); }
Ref php_decrypt(Call&, Ref, Ref, Ref, Ref, Ref) { not_implemented("php_decrypt"); }
Ref add_to_16(Call&, Ref) { not_implemented("_add_to_16"); }

}  // namespace cm
