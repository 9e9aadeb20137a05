#include "tools/Commands.h"

#include "common/Error.h"

namespace talvira::cli {

int benchCommand(const Args&) { throw Error("talvira-cli bench: команда ещё не готова"); }

}  // namespace talvira::cli
