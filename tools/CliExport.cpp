#include "tools/Commands.h"

#include "common/Error.h"

namespace talvira::cli {

int exportCommand(const Args&) { throw Error("talvira-cli export: команда ещё не готова"); }

}  // namespace talvira::cli
