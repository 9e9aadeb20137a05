#include "normbase/import/OfficialImport.h"

#include "normbase/BaseInfo.h"
#include "normbase/import/BaseAssembler.h"
#include "normbase/import/ExpatParser.h"
#include "normbase/import/InputFiles.h"
#include "normbase/import/OfficialXml.h"

#include <expat.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>

namespace talvira::normimport {

namespace fs = std::filesystem;

namespace {

std::string nowText() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M", &tm);
    return buf;
}

void writeOrigin(const fs::path& dir, const ImportReport& report) {
    std::ofstream f(dir / kOriginFile, std::ios::binary);
    f << "Нормативная база импортирована " << nowText() << "\n";
    f << "Прочитаны файлы:\n";
    for (const SourceInfo& s : report.sources) f << "  " << sourceLine(s) << "\n";
    if (const std::string w = wageLine(report.wagePerHour, report.rates, report.ratesWithOwnPrice); !w.empty()) f << w << "\n";
    if (!f) throw Error("Не удалось записать файл «" + (dir / kOriginFile).string() + "»");
}

void addOnce(std::vector<std::string>& to, const std::string& v) {
    if (!v.empty() && std::find(to.begin(), to.end(), v) == to.end()) to.push_back(v);
}

std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& x : v) s += (s.empty() ? "" : ", ") + x;
    return s;
}

/** Runs one step of the import that reads or writes `what`; anything but the program's own
 *  error (a fault of ours, memory running out) leaves it as one Russian message naming it. */
template <class F>
auto guarded(const std::string& what, F&& step) {
    try {
        return step();
    } catch (const Error&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw Error("Не хватает памяти для импорта (файл «" + what + "»)");
    } catch (const std::exception& e) {
        throw Error("Внутренняя ошибка импорта на файле «" + what + "»: " + e.what());
    }
}

/** The files given, for a message: "«a.zip», «b.xml»". */
std::string fileList(const std::vector<fs::path>& files) {
    std::string s;
    for (const fs::path& f : files) s += (s.empty() ? "«" : ", «") + f.filename().string() + "»";
    return s;
}

}  // namespace

normbase::BaseInfo baseInfoOf(const std::vector<SourceInfo>& sources) {
    normbase::BaseInfo info;
    info.imported = true;
    std::vector<std::string> editions, normLevels, priceLevels;
    for (const SourceInfo& s : sources) {
        for (const std::string& o : s.orders) addOnce(info.orders, o);
        if (s.kind != "нормы") {
            addOnce(priceLevels, s.priceLevel);
            continue;
        }
        const std::string book = !s.baseType.empty() ? s.baseType : s.codePrefix;
        const bool fer = book.starts_with("ФЕР");
        addOnce(info.books, book);
        if (fer || book.starts_with("ГЭСН")) addOnce(editions, fer ? "ФСНБ-2020" : "ФСНБ-2022");
        addOnce(normLevels, !s.priceLevel.empty() ? s.priceLevel : fer ? "01.01.2000" : "");
    }
    if (info.books.empty() && !sources.empty()) editions = {"ФСНБ-2022"};  // the ФСБЦ prices alone
    info.edition = joined(editions);
    info.priceLevel = joined(normLevels.empty() ? priceLevels : normLevels);
    return info;
}

ImportReport buildBase(const fs::path& stagingDir, const std::vector<fs::path>& files, const ImportOptions& options,
                       const ProgressFn& progress) {
    if (files.empty()) throw Error("Не указано ни одного файла для импорта");
    std::error_code ec;
    if (fs::exists(stagingDir, ec) && !fs::is_empty(stagingDir, ec))
        throw Error("Папка «" + stagingDir.string() + "» для новой базы не пуста");
    fs::create_directories(stagingDir, ec);
    if (!fs::is_directory(stagingDir)) throw Error("Не удалось создать папку «" + stagingDir.string() + "»");

    const InputSet in(files, options.memberLimit);
    if (!in.emptyArchives().empty())
        throw Error("Файл «" + in.emptyArchives().front() + "»: в архиве нет ни одного файла норм или цен (XML)");
    ImportReport report;
    report.wagePerHour = options.wagePerHour;
    BaseAssembler base(options, stagingDir.string());
    base.expect(in.totalBytes());
    const uint64_t total = in.totalBytes();
    uint64_t before = 0;
    std::vector<std::pair<std::string, bool>> archives;  // archive name, any norm or price member read
    for (size_t i = 0; i < in.documents().size(); ++i) {
        const InputDocument& doc = in.documents()[i];
        const std::string stage = "Чтение " + doc.shownName;
        if (progress && !progress({stage, before, total})) throw ImportCancelled();
        SourceInfo source;
        source.file = doc.shownName;
        const XmlInput input{doc.shownName, [&](const PieceFn& piece) {
            uint64_t done = 0;
            in.read(i, [&](const char* p, size_t n) {
                done += n;
                if (!piece(p, n)) return false;
                if (progress && !progress({stage, before + std::min(done, doc.size), total})) throw ImportCancelled();
                return true;
            });
        }};
        const DocumentRead read = guarded(doc.shownName, [&] { return readDocument(input, base, source); });
        before += doc.size;
        const bool known = read.kind != DocumentKind::Other;
        if (doc.member >= 0) {
            const std::string archive = doc.file.filename().string();
            if (archives.empty() || archives.back().first != archive) archives.emplace_back(archive, false);
            archives.back().second = archives.back().second || known;
            if (!known) {
                base.notice(Notice::SkippedMember, doc.shownName + " (<" + read.rootName + ">)");
                continue;
            }
        } else if (!known) {
            throw Error("Файл «" + doc.shownName + "»: это не файл норм или цен (корневой элемент <" + read.rootName +
                        ">, ожидался <base> или <ResourceCatalog>)");
        }
        report.sources.push_back(source);
    }
    for (const auto& [archive, any] : archives)
        if (!any) throw Error("Файл «" + archive + "»: в архиве нет ни одного файла норм или цен");
    // A base without a single norm or price would take the place of the user's base for nothing.
    if (base.rateCount() == 0 && base.priceRecordCount() == 0)
        throw Error("В " + std::string(files.size() == 1 ? "файле " : "файлах ") + fileList(files) +
                    " не найдено ни одной нормы и ни одной цены ресурса: нормативная база не изменена");
    guarded(stagingDir.string(), [&] { base.write(report, progress); });
    writeOrigin(stagingDir, report);
    normbase::writeBaseInfo(stagingDir, baseInfoOf(report.sources));
    return report;
}

namespace {

/** Reads a document up to its first norm: whether that norm carries its own unit price. */
class FirstNormLook final : public XmlHandler {
public:
    enum class Answer { Unknown, NotNorms, OwnPrice, Lines };
    explicit FirstNormLook(const std::string& name) : parser_(name, *this) {}
    ExpatParser& parser() { return parser_; }
    Answer answer() const { return answer_; }

    void startElement(const char* name, const char**) override {
        const std::string_view n(name);
        ++depth_;
        if (depth_ == 1 && n != "base") return finish(Answer::NotNorms);
        if (workDepth_ == 0 && n == "Work") workDepth_ = depth_;
        else if (workDepth_ != 0 && depth_ == workDepth_ + 1 && n == "Prices") finish(Answer::OwnPrice);
    }
    void endElement(const char*) override {
        if (workDepth_ != 0 && depth_ == workDepth_) return finish(Answer::Lines);
        --depth_;
    }

private:
    void finish(Answer a) {
        answer_ = a;
        parser_.stop();
    }
    ExpatParser parser_;
    Answer answer_ = Answer::Unknown;
    int depth_ = 0, workDepth_ = 0;
};

}  // namespace

bool needsWage(const std::vector<fs::path>& files, const ImportOptions& options) {
    // A norm lies in the first few KB of its file: a file that shows none within this reads on.
    constexpr uint64_t kLook = uint64_t(4) << 20;
    try {
        const InputSet in(files, options.memberLimit);
        for (size_t i = 0; i < in.documents().size(); ++i) {
            FirstNormLook look(in.documents()[i].shownName);
            uint64_t read = 0;
            bool more = true;
            in.read(i, [&](const char* p, size_t n) {
                read += n;
                return more = look.parser().feed(p, n, false) && read < kLook;
            });
            if (more) look.parser().feed(nullptr, 0, true);
            const auto a = look.answer();
            if (a == FirstNormLook::Answer::Lines || a == FirstNormLook::Answer::Unknown) return true;
        }
        return false;
    } catch (const std::exception&) {
        return true;
    }
}

uint64_t parseOnly(const std::vector<fs::path>& files, const ImportOptions& options) {
    const InputSet in(files, options.memberLimit);
    uint64_t bytes = 0;
    for (size_t i = 0; i < in.documents().size(); ++i) {
        std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr), &XML_ParserFree);
        if (!parser) throw Error("Не хватает памяти для чтения файла «" + in.documents()[i].shownName + "»");
        in.read(i, [&](const char* p, size_t n) {
            bytes += n;
            if (XML_Parse(parser.get(), p, static_cast<int>(n), XML_FALSE) == XML_STATUS_ERROR)
                throw Error("Файл «" + in.documents()[i].shownName + "»: " + XML_ErrorString(XML_GetErrorCode(parser.get())));
            return true;
        });
        if (XML_Parse(parser.get(), nullptr, 0, XML_TRUE) == XML_STATUS_ERROR)
            throw Error("Файл «" + in.documents()[i].shownName + "»: " + XML_ErrorString(XML_GetErrorCode(parser.get())));
    }
    return bytes;
}

ImportReport importBase(const fs::path& baseDir, const std::vector<fs::path>& files, const ImportOptions& options,
                        const ProgressFn& progress) {
    const fs::path staging = stagingDirFor(baseDir);
    try {
        ImportReport report = buildBase(staging, files, options, progress);
        if (progress && !progress({"Замена нормативной базы", 0, 0})) throw ImportCancelled();
        InstalledBase installed = installBase(staging, baseDir);
        report.keptBases = std::move(installed.kept);
        report.removedBase = std::move(installed.removed);
        return report;
    } catch (...) {
        std::error_code ec;
        fs::remove_all(staging, ec);
        throw;
    }
}

std::string readBaseOrigin(const fs::path& baseDir) {
    std::ifstream f(baseDir / kOriginFile, std::ios::binary);
    if (!f) return {};
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace talvira::normimport
