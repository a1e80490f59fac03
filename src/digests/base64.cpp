#include "digests.h"

#include "../frame/not_implemented.h"

namespace cm {

Ref base64(Call&, Ref) { not_implemented("base64"); }
Ref base64_decrypt(Call&, Ref) { not_implemented("base64_decrypt"); }

}  // namespace cm
