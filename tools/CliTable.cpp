#include "tools/Commands.h"

#include "common/Error.h"

namespace talvira::cli {

int tableCommand(const Args&) { throw Error("talvira-cli table: команда ещё не готова"); }

}  // namespace talvira::cli
