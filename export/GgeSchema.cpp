// The check of an expertise file against its shipped schema: libxml2's reader validating as it
// reads, the schema parsed once and shared, the first violation turned into a Russian sentence.
#include "export/GgeSchema.h"
#include "export/Libxml.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <regex>

namespace talvira::exporting {

namespace fs = std::filesystem;

namespace {

/** A parsed schema and the time of the file it came from. */
struct Parsed {
    xmlSchemaPtr schema = nullptr;
    fs::file_time_type stamp;
};

std::mutex gMutex;
std::map<fs::path, Parsed>& cache() {
    static std::map<fs::path, Parsed> parsed;  // kept for the life of the process
    return parsed;
}

/** The first error libxml2 reports: its text and line. */
struct FirstError {
    std::string message;
    int line = 0;
    bool seen = false;
    bool wellFormed = true;  // false: the parser's error, not the schema's
};

#if LIBXML_VERSION >= 21200
void keepFirst(void* data, const xmlError* e)
#else
void keepFirst(void* data, xmlErrorPtr e)
#endif
{
    auto* first = static_cast<FirstError*>(data);
    if (first->seen || !e) return;
    first->seen = true;
    first->message = e->message ? e->message : "";
    while (!first->message.empty() && (first->message.back() == '\n' || first->message.back() == ' '))
        first->message.pop_back();
    first->line = e->line;
    first->wellFormed = e->domain == XML_FROM_SCHEMASV || e->domain == XML_FROM_SCHEMASP;
}

/** The schema at `path`, parsed (or from the cache); nullptr and `why` when it cannot be read. */
xmlSchemaPtr schemaAt(const fs::path& path, std::string& why) {
    const xml::LibxmlFunctions& lib = xml::libxml();
    std::error_code ec;
    const fs::file_time_type stamp = fs::last_write_time(path, ec);
    if (ec) {
        why = "нет файла схемы «" + path.string() + "»";
        return nullptr;
    }
    std::lock_guard lock(gMutex);
    Parsed& p = cache()[path];
    if (p.schema && p.stamp == stamp) return p.schema;
    // An older parse stays allocated: a thread may still validate with it.
    FirstError error;
    xmlSchemaParserCtxtPtr pc = lib.xmlSchemaNewParserCtxt(path.c_str());
    lib.xmlSchemaSetParserStructuredErrors(pc, keepFirst, &error);
    xmlSchemaPtr schema = pc ? lib.xmlSchemaParse(pc) : nullptr;
    if (pc) lib.xmlSchemaFreeParserCtxt(pc);
    if (!schema) {
        why = "схема «" + path.string() + "» не прочитана" + (error.seen ? ": " + error.message : std::string());
        return nullptr;
    }
    p = {schema, stamp};
    return schema;
}

std::string matchOr(const std::string& text, const std::regex& re, size_t group = 1) {
    std::smatch m;
    return std::regex_search(text, m, re) ? m[group].str() : std::string();
}

/** libxml2's schema message in Russian: what is wrong, the element named. */
std::string russian(const std::string& m) {
    static const std::regex element(R"(Element '([^']+)')");
    static const std::regex expected(R"(Expected is(?: one of)? \( ([^)]*) \))");
    static const std::regex value(R"('([^']*)' is not a valid value of the (?:atomic|local atomic) type '?([^'.]*))");
    static const std::regex facetValue(R"(The value '([^']*)')");
    const std::string name = matchOr(m, element);
    std::string what;
    const std::string want = matchOr(m, expected);
    if (m.find("This element is not expected") != std::string::npos)
        what = "элемент здесь не ожидается" + (want.empty() ? std::string() : " (ожидается: " + want + ")");
    else if (m.find("Missing child element") != std::string::npos)
        what = "нет обязательного вложенного элемента" + (want.empty() ? std::string() : " (" + want + ")");
    else if (std::smatch v; std::regex_search(m, v, value))
        what = "значение «" + v[1].str() + "» не подходит к типу " + v[2].str() +
               (v[2].str() == "xs:decimal" ? " (число с точкой, без пробелов)" : "");
    else if (m.find("[facet 'pattern']") != std::string::npos)
        what = "значение «" + matchOr(m, facetValue) + "» не соответствует образцу";
    else if (m.find("[facet 'enumeration']") != std::string::npos)
        what = "значение «" + matchOr(m, facetValue) + "» не из списка допустимых";
    else if (m.find("[facet") != std::string::npos)
        what = "значение «" + matchOr(m, facetValue) + "» вне допустимых пределов";
    else if (m.find("No matching global declaration") != std::string::npos)
        what = "корневой элемент не тот, что требует схема";
    else
        what = "нарушение схемы (" + m + ")";
    return (name.empty() ? std::string() : "элемент «" + name + "»: ") + what;
}

}  // namespace

fs::path ggeSchemaDir() {
    if (const char* env = std::getenv("TALVIRA_GGE_DIR"); env && *env) return env;
    std::error_code ec;
    const fs::path installed = "/usr/share/talvira/gge";
    if (fs::is_directory(installed, ec)) return installed;
    return TALVIRA_GGE_SOURCE_DIR;
}

std::string schemaViolation(const std::string& xsdName, std::string_view xml) {
    const xml::LibxmlFunctions& lib = xml::libxml();
    lib.xmlInitParser();
    const fs::path path = ggeSchemaDir() / xsdName;
    std::string why;
    xmlSchemaPtr schema = schemaAt(path, why);
    if (!schema) return why;
    const std::unique_ptr<xmlSchemaValidCtxt, void (*)(xmlSchemaValidCtxtPtr)> valid(lib.xmlSchemaNewValidCtxt(schema),
                                                                                    lib.xmlSchemaFreeValidCtxt);
    const std::unique_ptr<xmlTextReader, void (*)(xmlTextReaderPtr)> reader(
        lib.xmlReaderForMemory(xml.data(), int(xml.size()), "estimate.gge", nullptr, XML_PARSE_NONET | XML_PARSE_HUGE),
        lib.xmlFreeTextReader);
    if (!valid || !reader) return "нет памяти для проверки по схеме «" + xsdName + "»";
    FirstError error;
    lib.xmlResetLastError();
    lib.xmlTextReaderSetStructuredErrorHandler(reader.get(), keepFirst, &error);
    lib.xmlSchemaSetValidStructuredErrors(valid.get(), keepFirst, &error);
    if (lib.xmlTextReaderSchemaValidateCtxt(reader.get(), valid.get(), 0) != 0)
        return "проверка по схеме «" + xsdName + "» не начата";
    int rc = 0;
    while ((rc = lib.xmlTextReaderRead(reader.get())) == 1 && !error.seen) {
    }
    if (!error.seen && (rc < 0 || lib.xmlTextReaderIsValid(reader.get()) != 1)) {
        // The parser's own error (a cut or broken file) is kept as the thread's last one.
        keepFirst(&error, lib.xmlGetLastError());
        if (!error.seen) {
            error.seen = true;
            error.wellFormed = false;
            error.message = "документ не разобран";
        }
    }
    if (!error.seen) return {};
    if (!error.wellFormed) return "строка " + std::to_string(error.line) + ": это не правильный XML (" + error.message + ")";
    return "строка " + std::to_string(error.line) + ", " + russian(error.message) + " (схема «" + xsdName + "»)";
}

}  // namespace talvira::exporting
