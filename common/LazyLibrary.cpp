#include "common/LazyLibrary.h"

#include "common/Error.h"

#include <dlfcn.h>

namespace talvira {

LazyLibrary::LazyLibrary(std::initializer_list<const char*> names, std::string purpose, std::string package)
    : names_(names.begin(), names.end()), purpose_(std::move(purpose)), package_(std::move(package)) {}

void* LazyLibrary::symbol(const char* name) const {
    std::lock_guard lock(mutex_);
    std::string why;
    for (size_t i = 0; !handle_ && i < names_.size(); ++i) {
        handle_ = dlopen(names_[i].c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            if (const char* e = dlerror(); e && why.empty()) why = e;
    }
    if (!handle_)
        throw Error("Не удалось загрузить библиотеку " + names_.front() + " для " + purpose_ + (why.empty() ? "" : " (" + why + ")") +
                    ". Установите пакет " + package_ + ".");
    void* f = dlsym(handle_, name);
    if (!f) throw Error("В библиотеке " + names_.front() + " нет функции " + name + ": установлена не та её версия.");
    return f;
}

}  // namespace talvira
