// talvira-cli import BASE_DIR FILE... [--wage RUB_PER_HOUR]: the official norm base into BASE_DIR;
// talvira-cli bench import FILE...: its measurements (each step, the peak memory, and the ratio to
// expat reading the same bytes with no handler); bench import --make-national OUT.xml FILE.xml:
// a national-size norm file made from a small one.
#include "tools/Commands.h"

#include "common/Error.h"
#include "normbase/NormBaseFields.h"
#include "normbase/import/OfficialImport.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace talvira::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kImportUsage = "использование: talvira-cli import BASE_DIR FILE... [--wage RUB_PER_HOUR]";

Money wageOf(const std::string& v) {
    const std::optional<DecimalText> d = DecimalText::parse(v, DecimalSyntax::Lenient);
    const std::optional<Money> w = d && !d->negative() ? d->money() : std::nullopt;
    if (!w)
        throw Error("talvira-cli import: часовая ставка «" + v + "» не число (например, 350 или 412,50)");
    return *w;
}

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

/** Processor time of the process so far (user and system), seconds. */
double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double peakMegabytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

/** Python's own streaming XML reader over the same files, the way the public importers read
 *  them; seconds, or a negative number without python3. */
double iterparseSeconds(const std::vector<fs::path>& files) {
    if (std::system("python3 -c 'import xml.etree.ElementTree' >/dev/null 2>&1") != 0) return -1;
    std::string cmd =
        "python3 -c 'import sys, zipfile, xml.etree.ElementTree as ET\n"
        "def read(src):\n"
        "    for ev, el in ET.iterparse(src): el.clear()\n"
        "for f in sys.argv[1:]:\n"
        "    if zipfile.is_zipfile(f):\n"
        "        z = zipfile.ZipFile(f)\n"
        "        for n in z.namelist():\n"
        "            if n.lower().endswith(\".xml\"): read(z.open(n))\n"
        "    else: read(f)\n'";
    for (const fs::path& f : files) cmd += " '" + f.string() + "'";
    const auto t = Clock::now();
    if (std::system(cmd.c_str()) != 0) return -1;
    return std::chrono::duration<double>(Clock::now() - t).count();
}

/** A norm file `times` as large: the collections of `from` repeated, each copy's section and
 *  norm codes prefixed with its number so that every code stays distinct; resource codes stay. */
int makeNational(const fs::path& out, const fs::path& from, int times) {
    std::ifstream in(from, std::ios::binary);
    if (!in) throw Error("Файл «" + from.string() + "» не найден");
    std::string head, body, tail, line;
    int part = 0;  // 0 before the collections, 1 inside, 2 after
    while (std::getline(in, line)) {
        line += '\n';
        if (part == 1 && line.find("</ResourceCategory>") != std::string::npos) part = 2;
        (part == 0 ? head : part == 1 ? body : tail) += line;
        if (part == 0 && line.find("<ResourceCategory") != std::string::npos) part = 1;
    }
    if (body.empty()) throw Error("Файл «" + from.string() + "»: не найден элемент ResourceCategory");
    std::ofstream o(out, std::ios::binary);
    o << head;
    for (int k = 1; k <= times; ++k) {
        const std::string mark = "Code=\"" + std::to_string(k) + "-";
        size_t at = 0;
        while (at < body.size()) {
            size_t end = body.find('\n', at);
            end = end == std::string::npos ? body.size() : end + 1;
            std::string_view l(body.data() + at, end - at);
            const size_t code = l.find("Code=\"");
            if (code != std::string_view::npos && (l.find("<Section ") != std::string_view::npos || l.find("<Work ") != std::string_view::npos))
                o << l.substr(0, code) << mark << l.substr(code + 6);
            else
                o << l;
            at = end;
        }
    }
    o << tail;
    if (!o) throw Error("Не удалось записать «" + out.string() + "»");
    std::cout << "Записан «" << out.string() << "»: " << fixed(double(fs::file_size(out)) / 1e6, 1) << " МБ\n";
    return 0;
}

}  // namespace

int importCommand(const Args& args) {
    std::string baseDir;
    std::vector<fs::path> files;
    normimport::ImportOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--wage") {
            if (i + 1 >= args.size()) throw Error(std::string("talvira-cli import: после --wage укажите ставку в рублях за час\n") + kImportUsage);
            options.wagePerHour = wageOf(args[++i]);
        } else if (a.starts_with("--")) {
            throw Error("talvira-cli import: неизвестный параметр «" + a + "»\n" + kImportUsage);
        } else if (baseDir.empty()) {
            baseDir = a;
        } else {
            files.emplace_back(a);
        }
    }
    if (baseDir.empty() || files.empty()) throw Error(std::string("talvira-cli import: укажите папку базы и файлы\n") + kImportUsage);
    const auto report = normimport::importBase(baseDir, files, options);
    std::cout << "Нормативная база записана в «" << baseDir << "»\n" << report.text();
    return 0;
}

int benchImport(const Args& args) {
    if (!args.empty() && args[0] == "--make-national") {
        if (args.size() < 3) throw Error("talvira-cli bench import --make-national OUT.xml FILE.xml [--times N]");
        int times = 39;  // the fixture ГЭСНп (2.9 MB) repeated to the ~110 MB of a national base
        if (args.size() >= 5 && args[3] == "--times") times = std::max(1, std::atoi(args[4].c_str()));
        return makeNational(args[1], args[2], times);
    }
    if (args.empty())
        throw Error("talvira-cli bench import FILE... [--rounds N] | bench import --make-national OUT.xml FILE.xml [--times N]");
    std::vector<fs::path> files;
    int rounds = 3;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--rounds" && i + 1 < args.size()) rounds = std::max(1, std::atoi(args[++i].c_str()));
        else files.emplace_back(args[i]);
    }
    uint64_t bytes = 0;
    for (const auto& f : files) bytes += fs::file_size(f);
    const fs::path dir = fs::temp_directory_path() / ("talvira-bench-import-" + std::to_string(::getpid()));
    // The time of each step as the import reports its steps (reading is one step for all
    // files): wall clock and processor time of the process.
    struct Step {
        std::string name;
        double wall = 0, cpu = 0;
    };
    struct Round {
        double floor = 0, took = 0, tookCpu = 0;
        std::vector<Step> steps;
        normimport::ImportReport report;
    };
    // Rounds of the floor (expat alone over the same bytes, no handler) and the import one after
    // the other, so that a moment of a noisy machine meets one round, not the comparison.
    std::vector<Round> all;
    uint64_t xmlBytes = 0;
    for (int r = 0; r < rounds; ++r) {
        Round& round = all.emplace_back();
        auto t = Clock::now();
        xmlBytes = normimport::parseOnly(files, {});
        round.floor = std::chrono::duration<double>(Clock::now() - t).count();

        fs::remove_all(dir);
        fs::create_directories(dir);
        std::vector<Step>& steps = round.steps;
        auto stepStart = Clock::now();
        double stepCpu = 0;
        auto endStep = [&] {
            if (steps.empty()) return;
            steps.back().wall = std::chrono::duration<double>(Clock::now() - stepStart).count();
            steps.back().cpu = cpuSeconds() - stepCpu;
        };
        auto progress = [&](const normimport::ImportProgress& p) {
            const std::string step = p.stage.starts_with("Чтение") ? "чтение и разбор файлов" : p.stage;
            if (steps.empty() || steps.back().name != step) {
                endStep();
                steps.push_back({step});
                stepStart = Clock::now();
                stepCpu = cpuSeconds();
            }
            return true;
        };
        t = Clock::now();
        const double cpu = cpuSeconds();
        try {
            round.report = normimport::importBase(normbase::baseDirectory(dir.string()), files, {}, progress);
        } catch (...) {
            fs::remove_all(dir);
            throw;
        }
        round.took = std::chrono::duration<double>(Clock::now() - t).count();
        round.tookCpu = cpuSeconds() - cpu;
        endStep();
        fs::remove_all(dir);
    }
    const double rss = peakMegabytes();
    auto fastest = [&](auto time) -> const Round& {
        return *std::min_element(all.begin(), all.end(), [&](const Round& a, const Round& b) { return time(a) < time(b); });
    };
    const Round& best = fastest([](const Round& r) { return r.took; });
    const double floor = fastest([](const Round& r) { return r.floor; }).floor;
    const normimport::ImportReport& report = best.report;
    std::cout << "Импорт " << fixed(double(bytes) / 1e6, 1) << " МБ (XML " << fixed(double(xmlBytes) / 1e6, 1) << " МБ): "
              << report.rates << " расценок, " << report.resourceLines << " ресурсных строк, " << report.priceRecords
              << " ресурсов с ценами\n";
    for (size_t r = 0; r < all.size(); ++r)
        std::cout << "  круг " << r + 1 << ": expat без обработчиков " << fixed(all[r].floor, 2) << " с, импорт "
                  << fixed(all[r].took, 2) << " с (в " << fixed(all[r].took / all[r].floor, 2) << " раза дольше)\n";
    std::cout << "  быстрейший импорт по шагам:\n";
    for (const Step& st : best.steps)
        std::cout << "  " << st.name << ": " << fixed(st.wall, 2) << " с (процессор " << fixed(st.cpu, 2) << " с)\n";
    std::cout << "  время импорта (чтение, шесть таблиц и индексы): " << fixed(best.took, 2) << " с (процессор "
              << fixed(best.tookCpu, 2) << " с)\n"
              << "  пиковая занятая память процесса: " << fixed(rss, 0) << " МБ\n";
    const double py = iterparseSeconds(files);
    if (py < 0) {
        std::cout << "  python3 не найден: сравнение с xml.etree.ElementTree.iterparse пропущено\n";
    } else {
        std::cout << "  python3 iterparse тех же файлов (только чтение): " << fixed(py, 2) << " с\n"
                  << "  отношение импорт / iterparse: " << fixed(best.took / py, 2) << "\n";
    }
    // Each round's ratio pairs two passes made close in time; their median stands when the
    // machine's speed drifts between rounds or one round is disturbed.
    std::vector<double> ratios;
    for (const Round& r : all) ratios.push_back(r.took / r.floor);
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios.size() % 2 ? ratios[ratios.size() / 2]
                                            : (ratios[ratios.size() / 2 - 1] + ratios[ratios.size() / 2]) / 2;
    std::cout << "  expat без обработчиков, те же байты (быстрейший круг): " << fixed(floor, 2) << " с; быстрейший импорт в "
              << fixed(best.took / floor, 2) << " раза дольше\n"
              << "  отношение импорт / expat без обработчиков (медиана кругов): " << fixed(median, 2) << "\n";
    return 0;
}

}  // namespace talvira::cli
