#pragma once
/**
 * The one exception type of the program. Its message is the finished Russian text that the
 * default error box shows, names of files and fields included; callers never rewrite it.
 *
 *   throw talvira::Error("Таблица «" + path + "» повреждена: ...");
 */
#include <stdexcept>
#include <string>

namespace talvira {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace talvira
