#include "storage/Warnings.h"

#include <cstdio>
#include <utility>

namespace talvira::storage {

namespace {

WarningSink& sink() {
    static WarningSink s;
    return s;
}

thread_local bool quiet = false;

}  // namespace

WarningSink setWarningSink(WarningSink s) { return std::exchange(sink(), std::move(s)); }

QuietWarnings::QuietWarnings() : before_(std::exchange(quiet, true)) {}
QuietWarnings::~QuietWarnings() { quiet = before_; }

void warn(const std::string& message) {
    if (quiet) return;
    if (sink()) sink()(message);
    else std::fprintf(stderr, "%s\n", message.c_str());
}

}  // namespace talvira::storage
