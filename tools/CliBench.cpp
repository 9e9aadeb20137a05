// talvira-cli bench scan|lookup DIR: measurements of the file layer on a norm base directory.
// Nothing here is run by the tests; the numbers are for people.
#include "tools/Commands.h"

#include "common/Error.h"
#include "normbase/NormBaseFields.h"
#include "storage/TableFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace talvira::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

/** Reads the whole file as `cat` does (1 MiB reads), returning the bytes read. */
uint64_t readLikeCat(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error("Файл «" + path + "» не найден");
    std::vector<char> buf(1 << 20);
    uint64_t total = 0;
    for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;) total += uint64_t(n);
    ::close(fd);
    return total;
}

/** Runs `f` `runs` times and gives the best time in seconds. */
template <class F>
double best(int runs, F&& f) {
    double b = 1e100;
    for (int i = 0; i < runs; ++i) {
        auto t = Clock::now();
        f();
        b = std::min(b, secondsSince(t));
    }
    return b;
}

int scan(const std::string& dir, int runs) {
    std::cout << "Полный просмотр таблиц (лучшее из " << runs << "), МБ/с; файлы прогреты в кэше ОС\n";
    for (const char* name : {"RABMAT.DB", "RESURS.DB"}) {
        const std::string path = (fs::path(dir) / name).string();
        const double mb = double(fs::file_size(path)) / 1e6;
        readLikeCat(path);  // warm the page cache
        const std::string catCmd = "cat '" + path + "' > /dev/null";
        double tCat = best(runs, [&] {
            if (std::system(catCmd.c_str()) != 0) throw Error("cat не выполнился для «" + path + "»");
        });
        double tRead = best(runs, [&] { readLikeCat(path); });
        uint64_t records = 0;
        double tScan = best(runs, [&] {
            auto t = storage::openParadoxTable(path, storage::OpenMode::ReadOnly);
            records = 0;
            for (auto loc = t->first(); loc; loc = t->next(*loc)) {
                storage::Record r = t->read(*loc);
                records += r.size() ? 1 : 0;
            }
        });
        double tOneField = best(runs, [&] {
            auto t = storage::openParadoxTable(path, storage::OpenMode::ReadOnly);
            int64_t sum = 0;
            for (auto loc = t->first(); loc; loc = t->next(*loc)) sum += t->readField(*loc, 0).asInteger();
            if (sum == 42) std::cout << "";
        });
        std::cout << "  " << name << " (" << fixed(mb, 1) << " МБ, " << records << " записей):\n"
                  << "    cat:                      " << fixed(mb / tCat, 0) << " МБ/с (" << fixed(tCat * 1000, 1) << " мс)\n"
                  << "    чтение файла (как cat):   " << fixed(mb / tRead, 0) << " МБ/с\n"
                  << "    просмотр, все поля:       " << fixed(mb / tScan, 0) << " МБ/с (" << fixed(tScan * 1000, 1)
                  << " мс) = " << fixed(tScan / tCat, 2) << "x времени cat\n"
                  << "    просмотр, одно поле:      " << fixed(mb / tOneField, 0) << " МБ/с = "
                  << fixed(tOneField / tCat, 2) << "x времени cat\n";
    }
    return 0;
}

struct LookupCase {
    const char* table;
    const char* index;  // "" = primary
    const char* field;  // where the keys come from
    std::optional<normbase::RecordKind> kind;  // keys only from records of this kind
    const char* note;
};

int lookup(const std::string& dir, int keys) {
    namespace tbl = normbase::tbl;
    namespace idx = normbase::idx;
    namespace fld = normbase::fld;
    std::cout << "Поиск записей по ключу через индекс, мкс на ключ (" << keys << " случайных ключей)\n";
    const std::vector<LookupCase> cases = {
        {tbl::RESURS, idx::IDRAB, fld::IDRAB, std::nullopt, ""},
        {tbl::RABMAT, idx::IDOGL, fld::IDOGL, normbase::RecordKind::Rate, " (таблицы расценок)"},
        {tbl::RABMAT, idx::IDOGL, fld::IDOGL, normbase::RecordKind::Material, " (группы материалов)"},
        {tbl::RABMAT, "", fld::ID, std::nullopt, ""},
        {tbl::NAME, "", fld::ID, std::nullopt, ""},
        {tbl::OGL, idx::IDREESTR, fld::IDREESTR, std::nullopt, ""}};
    std::mt19937 rng(12345);
    for (const auto& c : cases) {
        const std::string path = (fs::path(dir) / c.table).string();
        auto tOpen = Clock::now();
        auto t = storage::openParadoxTable(path, storage::OpenMode::ReadOnly);
        double openMs = secondsSince(tOpen) * 1000;
        const int f = t->fieldIndex(c.field);
        const uint32_t n = t->recordCount();
        if (n == 0 || f < 0) continue;
        std::vector<storage::Value> sample;
        std::uniform_int_distribution<uint32_t> pick(0, n - 1);
        const int kind = c.kind ? t->fieldIndex(fld::RABMAT) : -1;
        for (int i = 0, tries = 0; i < keys && tries < keys * 100; ++tries) {
            auto loc = *t->locate(pick(rng));
            if (kind >= 0 && t->readField(loc, kind).asInteger() != static_cast<int64_t>(*c.kind)) continue;
            sample.push_back(t->readField(loc, f));
            ++i;
        }
        if (sample.empty()) continue;

        auto tFirst = Clock::now();
        auto firstHits = t->lookup(c.index, {sample.front()});
        double firstUs = secondsSince(tFirst) * 1e6;
        size_t found = 0;
        auto tLookup = Clock::now();
        for (auto& k : sample) found += t->lookup(c.index, {k}).size();
        double lookupUs = secondsSince(tLookup) * 1e6 / double(sample.size());
        auto tRead = Clock::now();
        size_t read = 0;
        for (auto& k : sample)
            for (auto& loc : t->lookup(c.index, {k})) read += t->read(loc).size() ? 1 : 0;
        double readUs = secondsSince(tRead) * 1e6 / double(sample.size());
        const double perKey = double(found) / double(sample.size());
        std::cout << "  " << c.table << " " << (*c.index ? c.index : "(первичный)") << c.note << ": " << n
                  << " записей; открытие " << fixed(openMs, 2) << " мс, первый поиск " << fixed(firstUs, 0)
                  << " мкс; поиск " << fixed(lookupUs, 2) << " мкс на ключ (" << fixed(perKey, 1)
                  << " записей на ключ, " << fixed(lookupUs / std::max(perKey, 1.0), 2) << " мкс на запись); "
                  << "поиск с чтением записей " << fixed(readUs, 2) << " мкс на ключ\n";
        (void)firstHits;
    }
    return 0;
}

}  // namespace

int benchCommand(const Args& args) {
    const char* usage = "talvira-cli bench scan DIR [--runs N] | bench lookup DIR [--keys N] | bench search DIR | bench import FILE... | bench gge FILE.gge";
    if (!args.empty() && args[0] == "import") return benchImport(Args(args.begin() + 1, args.end()));
    if (!args.empty() && args[0] == "gge") return benchGge(Args(args.begin() + 1, args.end()));
    if (args.size() < 2) throw Error(std::string("talvira-cli bench: укажите вид замера и папку базы: ") + usage);
    const std::string what = args[0], dir = args[1];
    if (what == "search") return benchSearch(dir);
    int runs = 3, keys = 2000;
    for (size_t i = 2; i < args.size(); ++i) {
        auto number = [&](int& out) {
            if (i + 1 >= args.size()) throw Error("talvira-cli bench: после «" + args[i] + "» укажите число");
            out = std::atoi(args[++i].c_str());
            if (out <= 0) throw Error("talvira-cli bench: «" + args[i] + "» не положительное число");
        };
        if (args[i] == "--runs") number(runs);
        else if (args[i] == "--keys") number(keys);
        else throw Error("talvira-cli bench: неизвестный параметр «" + args[i] + "»");
    }
    if (!fs::is_directory(dir)) throw Error("talvira-cli bench: папка «" + dir + "» не найдена");
    if (what == "scan") return scan(dir, runs);
    if (what == "lookup") return lookup(dir, keys);
    throw Error("talvira-cli bench: неизвестный замер «" + what + "»: " + usage);
}

}  // namespace talvira::cli
