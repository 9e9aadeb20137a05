#pragma once
/** LC_ALL set for the lifetime of the object, the old value back afterwards (tests that run a
 *  command-line tool under another locale). */
#include <cstdlib>
#include <optional>
#include <string>

namespace talvira::test {

class LocaleVariable {
public:
    explicit LocaleVariable(const char* value) {
        if (const char* old = std::getenv("LC_ALL")) old_ = old;
        ::setenv("LC_ALL", value, 1);
    }
    ~LocaleVariable() {
        if (old_) ::setenv("LC_ALL", old_->c_str(), 1);
        else ::unsetenv("LC_ALL");
    }
    LocaleVariable(const LocaleVariable&) = delete;
    LocaleVariable& operator=(const LocaleVariable&) = delete;

private:
    std::optional<std::string> old_;
};

}  // namespace talvira::test
