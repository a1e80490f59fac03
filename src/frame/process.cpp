#include "process.h"

namespace cm {

Process process;

}  // namespace cm
