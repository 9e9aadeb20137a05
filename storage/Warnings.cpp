#include "storage/Warnings.h"

#include <cstdio>
#include <utility>

namespace talvira::storage {

namespace {

WarningSink& sink() {
    static WarningSink s;
    return s;
}

}  // namespace

WarningSink setWarningSink(WarningSink s) { return std::exchange(sink(), std::move(s)); }

void warn(const std::string& message) {
    if (sink()) sink()(message);
    else std::fprintf(stderr, "%s\n", message.c_str());
}

}  // namespace talvira::storage
