#pragma once
/**
 * A streaming XML parser over expat that owns its handle: the document is fed in pieces, each
 * element's start and end and the text between reach the handler given, and every failure, the
 * parser's own or one thrown by the handler, leaves feed() as one talvira::Error naming the file,
 * the line and the column.
 *
 *   ExpatParser p("ГЭСН.xml", handler);
 *   while (size_t n = read(buf)) p.feed(buf, n, false);
 *   p.feed(nullptr, 0, true);
 *
 * Caveats: handlers run inside expat (C code): the parser catches what they throw and rethrows it
 * from feed(), after the parser has stopped; once a handler has failed it is called no more.
 * Only talvira::Error leaves feed(), naming the file and the place where the handler failed:
 * anything else a handler throws (a fault of ours) becomes one. stop() ends the document early
 * without an error.
 */
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

struct XML_ParserStruct;

namespace talvira::normimport {

class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    /** `atts`: name, value, name, value ..., ending with nullptr (UTF-8). */
    virtual void startElement(const char* name, const char** atts) = 0;
    virtual void endElement(const char* name) = 0;
    /** Text inside an element, in pieces; called only while wantText() is true. */
    virtual void text(const char*, size_t) {}
    virtual bool wantText() const { return false; }
};

class ExpatParser {
public:
    ExpatParser(std::string shownName, XmlHandler& handler);
    ~ExpatParser();
    ExpatParser(const ExpatParser&) = delete;
    ExpatParser& operator=(const ExpatParser&) = delete;

    /** Parses the next piece; `last` for the end of the document. False once stop() ended it. */
    bool feed(const char* data, size_t size, bool last);
    /** Ends the document where it stands (from inside a handler). */
    void stop();
    /** Where the parser stands: 1-based line and column. */
    uint64_t line() const;
    uint64_t column() const;
    /** The file as messages name it. */
    const std::string& shownName() const { return name_; }
    /** A message about the place the parser stands at: "Файл «…», строка 12, столбец 5: why". */
    std::string where(const std::string& why) const;

private:
    static void onStart(void* self, const char* name, const char** atts);
    static void onEnd(void* self, const char* name);
    static void onText(void* self, const char* s, int len);
    void followTextWish();
    /** Keeps the failure of a handler (the exception in flight) with the place it happened,
     *  and stops the parser. */
    void fail();
    /** The failure kept, as talvira::Error naming the file and the place. */
    [[noreturn]] void rethrowFailure();

    std::string name_;
    XmlHandler& handler_;
    XML_ParserStruct* parser_ = nullptr;
    std::exception_ptr failure_;
    std::string failedAt_;  // "Файл «…», строка …, столбец …: " where the handler failed
    bool stopped_ = false;
    bool textOn_ = false;
};

}  // namespace talvira::normimport
