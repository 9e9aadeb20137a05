#include "tools/Commands.h"

#include "common/Error.h"

namespace talvira::cli {

int estimateCommand(const Args&) { throw Error("talvira-cli estimate: команда ещё не готова"); }

}  // namespace talvira::cli
