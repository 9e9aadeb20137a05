#include "export/Libxml.h"

namespace talvira::xml {

const LazyLibrary& libxmlLibrary() {
    static const LazyLibrary lib({"libxml2.so.2", "libxml2.so"}, "записи и проверки файлов XML", "libxml2");
    return lib;
}

const LibxmlFunctions& libxml() {
    static const LibxmlFunctions functions;  // a failure to load is thrown again at the next call
    return functions;
}

}  // namespace talvira::xml
