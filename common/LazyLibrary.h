#pragma once
/**
 * A shared library loaded when a function of it is first needed, not when the program starts:
 * for libraries that only a rarely used command needs (writing an .xlsx workbook, reading a
 * ZIP archive), which would otherwise be loaded and relocated on the way to the first window.
 *
 *   const LazyLibrary& zipLibrary() {
 *       static const LazyLibrary lib({"libzip.so.4", "libzip.so"}, "чтения архивов ZIP", "libzip4");
 *       return lib;
 *   }
 *   auto open = zipLibrary().function<decltype(&::zip_open)>("zip_open");   // talvira::Error when missing
 *
 * Caveats: the library stays loaded until the program ends. Thread-safe.
 */
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace talvira {

class LazyLibrary {
public:
    /** `names`: the file names tried in turn; `purpose` and `package` complete the message of a
     *  failure ("Не удалось загрузить библиотеку для <purpose>... Установите пакет <package>."). */
    LazyLibrary(std::initializer_list<const char*> names, std::string purpose, std::string package);
    LazyLibrary(const LazyLibrary&) = delete;
    LazyLibrary& operator=(const LazyLibrary&) = delete;

    /** Function `name` of the library (loaded first when it is not yet). */
    template <class F>
    F function(const char* name) const {
        return reinterpret_cast<F>(symbol(name));
    }

private:
    void* symbol(const char* name) const;
    std::vector<std::string> names_;
    std::string purpose_, package_;
    mutable std::mutex mutex_;
    mutable void* handle_ = nullptr;
};

}  // namespace talvira
