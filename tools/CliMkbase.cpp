#include "tools/Commands.h"

#include "common/Error.h"

namespace talvira::cli {

int mkbaseCommand(const Args&) { throw Error("talvira-cli mkbase: команда ещё не готова"); }

}  // namespace talvira::cli
