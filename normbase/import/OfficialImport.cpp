#include "normbase/import/OfficialImport.h"

#include "normbase/import/BaseAssembler.h"
#include "normbase/import/ExpatParser.h"
#include "normbase/import/InputFiles.h"
#include "normbase/import/OfficialXml.h"
#include "common/NumberText.h"

#include <fcntl.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <new>
#include <sstream>
#include <unistd.h>

namespace talvira::normimport {

namespace fs = std::filesystem;

namespace {

// The note on where the base came from, beside its tables.
constexpr const char* kOriginFile = "ORIGIN.TXT";
// The table files the import writes: their families are never carried over from the old base.
constexpr const char* kTableStems[] = {"000_REESTR", "OGL", "RABMAT", "RESURS", "000_NAME", "000_EDIZM"};

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string sourceLine(const SourceInfo& s) {
    std::string line = s.file + " — " + s.kind;
    if (!s.baseType.empty()) line += ", " + s.baseType;
    if (!s.decree.empty()) line += ", " + s.decree;
    if (!s.priceLevel.empty()) line += ", уровень цен " + s.priceLevel;
    if (!s.date.empty()) line += ", дата " + s.date;
    return line;
}

std::string nowText() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M", &tm);
    return buf;
}

void writeOrigin(const fs::path& dir, const ImportReport& report, const ImportOptions& options) {
    std::ofstream f(dir / kOriginFile, std::ios::binary);
    f << "Нормативная база импортирована " << nowText() << "\n";
    f << "Прочитаны файлы:\n";
    for (const SourceInfo& s : report.sources) f << "  " << sourceLine(s) << "\n";
    if (options.wagePerHour) f << "Часовая ставка оплаты труда: " << formatGeneral(*options.wagePerHour, ',') << " руб.\n";
    if (!f) throw Error("Не удалось записать файл «" + (dir / kOriginFile).string() + "»");
}

bool processAlive(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

void removeAll(const fs::path& p) {
    std::error_code ec;
    fs::remove_all(p, ec);
}

}  // namespace

std::string ImportReport::text() const {
    std::ostringstream s;
    s << "Прочитано файлов: " << sources.size() << "\n";
    for (const SourceInfo& src : sources) s << "  " << sourceLine(src) << "\n";
    s << "Записано:\n"
      << "  сборников: " << collections << "\n"
      << "  разделов и таблиц: " << contentsEntries << "\n"
      << "  расценок: " << rates << "\n"
      << "  ресурсных строк: " << resourceLines << "\n"
      << "  ресурсов с ценами: " << priceRecords << "\n";
    if (attention.empty()) {
        s << "Замечаний нет.\n";
    } else {
        s << "Требует внимания:\n";
        for (const Attention& a : attention) {
            s << "  " << a.what << ": " << a.count;
            if (!a.examples.empty()) {
                s << " (например: ";
                for (size_t i = 0; i < a.examples.size(); ++i) s << (i ? "; " : "") << a.examples[i];
                s << (a.count > a.examples.size() ? "; …" : "") << ")";
            }
            s << "\n";
        }
    }
    return s.str();
}

namespace {

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
    BaseAssembler base(options);
    const uint64_t total = in.totalBytes();
    uint64_t before = 0;
    std::vector<std::pair<std::string, bool>> archives;  // archive name, any norm or price member read
    for (size_t i = 0; i < in.documents().size(); ++i) {
        const InputDocument& doc = in.documents()[i];
        const std::string stage = "Чтение " + doc.shownName;
        if (progress && !progress({stage, before, total})) throw ImportCancelled();
        SourceInfo source;
        source.file = doc.shownName;
        ExpatParser* parserRef = nullptr;
        OfficialXmlReader reader(base, source, parserRef);
        guarded(doc.shownName, [&] {
            ExpatParser parser(doc.shownName, reader);
            parserRef = &parser;
            uint64_t done = 0;
            in.read(i, [&](const char* p, size_t n) {
                done += n;
                if (!parser.feed(p, n, false)) return false;
                if (progress && !progress({stage, before + std::min(done, doc.size), total})) throw ImportCancelled();
                return true;
            });
            if (reader.root() != OfficialXmlReader::Root::Other) parser.feed(nullptr, 0, true);
            parserRef = nullptr;
        });
        before += doc.size;
        const bool known = reader.root() == OfficialXmlReader::Root::Norms || reader.root() == OfficialXmlReader::Root::Prices;
        if (doc.member >= 0) {
            const std::string archive = doc.file.filename().string();
            if (archives.empty() || archives.back().first != archive) archives.emplace_back(archive, false);
            archives.back().second = archives.back().second || known;
            if (!known) {
                base.notice(Notice::SkippedMember, doc.shownName + " (<" + reader.rootName() + ">)");
                continue;
            }
        } else if (!known) {
            throw Error("Файл «" + doc.shownName + "»: это не файл норм или цен (корневой элемент <" + reader.rootName() +
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
    guarded(stagingDir.string(), [&] { base.write(stagingDir.string(), report, progress); });
    writeOrigin(stagingDir, report, options);
    return report;
}

fs::path stagingDirFor(const fs::path& baseDir) {
    const fs::path parent = baseDir.parent_path().empty() ? fs::path(".") : baseDir.parent_path();
    const std::string prefix = baseDir.filename().string() + ".import-";
    std::error_code ec;
    // Folders left by an import that was killed: their process is gone.
    for (auto it = fs::directory_iterator(parent, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix)) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (end && *end == '\0' && !processAlive(pid)) removeAll(it->path());
    }
    const fs::path dir = parent / (prefix + std::to_string(::getpid()));
    removeAll(dir);
    return dir;
}

void installBase(const fs::path& stagingDir, const fs::path& baseDir) {
    std::error_code ec;
    const fs::path old = fs::path(baseDir.string() + ".old");
    const bool hadBase = fs::is_directory(baseDir, ec);
    if (hadBase) {
        // What the import does not write (the template 1.xls, the user's own files) goes along;
        // the old tables' files do not (a stale index would mislead the new table).
        for (const auto& e : fs::directory_iterator(baseDir)) {
            const std::string name = e.path().filename().string();
            const std::string stem = upper(e.path().stem().string());
            bool table = upper(name) == kOriginFile;
            for (const char* t : kTableStems) table = table || stem == t;
            if (table || fs::exists(stagingDir / name, ec)) continue;
            fs::copy(e.path(), stagingDir / name, fs::copy_options::recursive, ec);
            if (ec) throw Error("Не удалось перенести «" + name + "» в новую нормативную базу: " + ec.message());
        }
        removeAll(old);
        if (fs::exists(old, ec)) throw Error("Не удалось удалить прежнюю копию базы «" + old.string() + "»");
        // One step: the new base and the old one change places.
        if (::renameat2(AT_FDCWD, stagingDir.c_str(), AT_FDCWD, baseDir.c_str(), RENAME_EXCHANGE) == 0) {
            fs::rename(stagingDir, old, ec);
            if (ec) removeAll(stagingDir);
            return;
        }
        // A file system without the exchange: two renames, the old base put back on failure.
        fs::rename(baseDir, old, ec);
        if (ec) throw Error("Не удалось заменить нормативную базу «" + baseDir.string() + "»: " + ec.message());
    }
    fs::rename(stagingDir, baseDir, ec);
    if (ec) {
        const std::string why = ec.message();
        if (hadBase) fs::rename(old, baseDir, ec);
        throw Error("Не удалось заменить нормативную базу «" + baseDir.string() + "»: " + why);
    }
}

ImportReport importBase(const fs::path& baseDir, const std::vector<fs::path>& files, const ImportOptions& options,
                        const ProgressFn& progress) {
    const fs::path staging = stagingDirFor(baseDir);
    try {
        ImportReport report = buildBase(staging, files, options, progress);
        if (progress && !progress({"Замена нормативной базы", 0, 0})) throw ImportCancelled();
        installBase(staging, baseDir);
        return report;
    } catch (...) {
        removeAll(staging);
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
