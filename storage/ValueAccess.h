#pragma once
/**
 * In-place setters of Value for the table reader's hot loop: a number goes straight into a
 * record's empty slot instead of through a temporary and a move. Internal to storage/.
 */
#include "storage/Value.h"

namespace talvira::storage {

struct ValueAccess {
    static void setInteger(Value& v, int64_t x) { v.data_.emplace<int64_t>(x); }
    static void setReal(Value& v, double x) { v.data_.emplace<double>(x); }
};

}  // namespace talvira::storage
