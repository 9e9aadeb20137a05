#include "normbase/import/ExpatParser.h"

#include "common/Error.h"
#include "common/Utf8.h"
#include "storage/CodePage.h"

#include <expat.h>

#include <cctype>
#include <climits>
#include <new>

namespace talvira::normimport {

namespace {

/** The parser's complaint in the user's words. */
std::string describe(XML_Error code) {
    switch (code) {
    case XML_ERROR_NO_ELEMENTS: return "файл пуст или обрывается на середине";
    case XML_ERROR_UNCLOSED_TOKEN:
    case XML_ERROR_PARTIAL_CHAR:
    case XML_ERROR_UNCLOSED_CDATA_SECTION: return "файл обрывается на середине";
    case XML_ERROR_SYNTAX: return "это не XML (синтаксическая ошибка)";
    case XML_ERROR_INVALID_TOKEN: return "недопустимый символ: это не XML или файл повреждён";
    case XML_ERROR_TAG_MISMATCH: return "закрывающий тег не совпадает с открытым";
    case XML_ERROR_JUNK_AFTER_DOC_ELEMENT: return "лишнее содержимое после конца документа";
    case XML_ERROR_UNKNOWN_ENCODING:
    case XML_ERROR_INCORRECT_ENCODING: return "неизвестная или неверная кодировка";
    case XML_ERROR_DUPLICATE_ATTRIBUTE: return "атрибут повторяется";
    case XML_ERROR_AMPLIFICATION_LIMIT_BREACH: return "слишком много подстановок сущностей";
    default: return std::string("ошибка разбора XML (") + XML_ErrorString(code) + ")";
    }
}

/** Documents declared in the Russian single-byte code pages (windows-1251, cp866, koi8-r is not
 *  among them): expat reads them through a byte-to-character table. */
int singleByteEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    std::string n(name);
    for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const int cp = n == "windows-1251" || n == "cp1251" ? 1251 : n == "cp866" || n == "ibm866" ? 866 : 0;
    if (cp == 0) return XML_STATUS_ERROR;
    for (int b = 0; b < 256; ++b) {
        const std::string u = storage::toUtf8(std::string(1, static_cast<char>(b)), cp);
        const utf8::Char c = u.empty() ? utf8::Char{'?', 1, true} : utf8::next(u, 0);
        info->map[b] = c.valid && c.size == u.size() ? static_cast<int>(c.code) : '?';
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

}  // namespace

ExpatParser::ExpatParser(std::string shownName, XmlHandler& handler) : name_(std::move(shownName)), handler_(handler) {
    parser_ = XML_ParserCreate(nullptr);
    if (!parser_) throw Error("Не хватает памяти для чтения файла «" + name_ + "»");
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &ExpatParser::onStart, &ExpatParser::onEnd);
    XML_SetUnknownEncodingHandler(parser_, &singleByteEncoding, nullptr);
}

ExpatParser::~ExpatParser() { XML_ParserFree(parser_); }

uint64_t ExpatParser::line() const { return XML_GetCurrentLineNumber(parser_); }
uint64_t ExpatParser::column() const { return XML_GetCurrentColumnNumber(parser_) + 1; }

std::string ExpatParser::where(const std::string& why) const {
    return "Файл «" + name_ + "», строка " + std::to_string(line()) + ", столбец " + std::to_string(column()) + ": " + why;
}

void ExpatParser::stop() {
    stopped_ = true;
    XML_StopParser(parser_, XML_FALSE);
}

bool ExpatParser::feed(const char* data, size_t size, bool last) {
    if (stopped_) return false;
    while (true) {
        const int piece = size > size_t(INT_MAX / 2) ? INT_MAX / 2 : static_cast<int>(size);
        const bool end = last && size_t(piece) == size;
        const XML_Status st = XML_Parse(parser_, data, piece, end ? XML_TRUE : XML_FALSE);
        if (failure_) rethrowFailure();
        if (stopped_) return false;
        if (st == XML_STATUS_ERROR) throw Error(where(describe(XML_GetErrorCode(parser_))));
        data += piece;
        size -= size_t(piece);
        if (size == 0) return true;
    }
}

void ExpatParser::fail() {
    failure_ = std::current_exception();
    failedAt_ = where("");
    XML_StopParser(parser_, XML_FALSE);
}

void ExpatParser::rethrowFailure() {
    try {
        std::rethrow_exception(failure_);
    } catch (const Error& e) {
        // A message that names the place already goes as it is; any other gets the place.
        if (std::string_view(e.what()).starts_with("Файл «" + name_ + "»")) throw;
        throw Error(failedAt_ + e.what());
    } catch (const std::bad_alloc&) {
        throw Error(failedAt_ + "не хватает памяти для чтения файла");
    } catch (const std::exception& e) {
        // A fault of ours, not of the file: the user still learns which file and where.
        throw Error(failedAt_ + "внутренняя ошибка чтения (" + e.what() + ")");
    } catch (...) {
        throw Error(failedAt_ + "внутренняя ошибка чтения");
    }
}

void ExpatParser::onStart(void* self, const char* name, const char** atts) {
    auto* p = static_cast<ExpatParser*>(self);
    // Expat still reports the end of an empty element after a stop requested in its start:
    // the handler that failed hears nothing more, and the first failure is the one told.
    if (p->failure_) return;
    try {
        p->handler_.startElement(name, atts);
        p->followTextWish();
    } catch (...) {
        p->fail();
    }
}

void ExpatParser::onEnd(void* self, const char* name) {
    auto* p = static_cast<ExpatParser*>(self);
    if (p->failure_) return;
    try {
        p->handler_.endElement(name);
        p->followTextWish();
    } catch (...) {
        p->fail();
    }
}

void ExpatParser::followTextWish() {
    // Text is passed on only while the handler wants it: the indentation between the elements
    // of a big document would otherwise cost a call per line.
    const bool want = handler_.wantText();
    if (want == textOn_) return;
    textOn_ = want;
    XML_SetCharacterDataHandler(parser_, want ? &ExpatParser::onText : nullptr);
}

void ExpatParser::onText(void* self, const char* s, int len) {
    auto* p = static_cast<ExpatParser*>(self);
    if (len <= 0 || p->failure_) return;
    try {
        p->handler_.text(s, size_t(len));
    } catch (...) {
        p->fail();
    }
}

}  // namespace talvira::normimport
