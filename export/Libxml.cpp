#include "export/Libxml.h"

#include "common/LazyLibrary.h"

namespace talvira::xml {

namespace {

const LazyLibrary& library() {
    static const LazyLibrary lib({"libxml2.so.2", "libxml2.so"}, "записи и проверки файлов XML", "libxml2");
    return lib;
}

}  // namespace

LibxmlFunctions::LibxmlFunctions() {
#define TALVIRA_LIBXML_LOAD(name) name = library().function<decltype(&::name)>(#name);
    TALVIRA_LIBXML_FUNCTIONS(TALVIRA_LIBXML_LOAD)
#undef TALVIRA_LIBXML_LOAD
}

const LibxmlFunctions& libxml() {
    static const LibxmlFunctions functions;  // a failure to load is thrown again at the next call
    return functions;
}

}  // namespace talvira::xml
