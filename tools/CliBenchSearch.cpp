// talvira-cli bench search DIR: the rate search over a norm base directory: the first query
// with its preparation, then a mix of queries as they are typed, and the memory it holds.
// Nothing here is run by the tests; the numbers are for people.
#include "tools/Commands.h"

#include "common/Error.h"
#include "normbase/NormBase.h"
#include "normbase/RateSearch.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace talvira::cli {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

/** Processor time of this process in milliseconds (the machine may be shared). */
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

/** A line of /proc/self/status in MB ("VmRSS", "VmHWM"). */
double statusMb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string k;
    long kb = 0;
    while (in >> k) {
        if (k == std::string(key) + ":" && in >> kb) return double(kb) / 1024.0;
        std::getline(in, k);
    }
    return 0;
}

/** Every prefix of `q` that ends at a character boundary, as typed key by key. */
std::vector<std::string> keystrokes(const std::string& q) {
    std::vector<std::string> out;
    for (size_t i = 1; i <= q.size(); ++i)
        if (i == q.size() || (static_cast<unsigned char>(q[i]) & 0xC0) != 0x80) out.push_back(q.substr(0, i));
    return out;
}

struct Figures {
    double median = 0, worst = 0;
};
Figures figures(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

}  // namespace

int benchSearch(const std::string& dir) {
    if (!std::filesystem::is_directory(dir)) throw Error("talvira-cli bench: папка «" + dir + "» не найдена");
    normbase::NormBase nb;
    for (int i = 1; i <= 9; ++i) nb.table(i).setReadOnly(true);
    nb.setDirectory(dir);
    auto tOpen = Clock::now();
    nb.openAll();
    const double openMs = msSince(tOpen);

    const double rssBefore = statusMb("VmRSS");
    auto tMake = Clock::now();
    normbase::RateSearch search(nb);
    const double makeMs = msSince(tMake);
    const std::vector<std::string> mix = {"08-02", "401-0", "бетон", "кладка стен кирпич", "щъыэюжзх"};

    auto tFirst = Clock::now();
    const double cpuFirst = cpuMs();
    const size_t firstFound = search.find(mix.front()).size();
    const double firstMs = msSince(tFirst), firstCpu = cpuMs() - cpuFirst;
    const double peak = statusMb("VmHWM");
    const double rssPrepared = statusMb("VmRSS");

    std::cout << "Поиск расценок в «" << dir << "»: " << search.listedCount() << " расценок в списках обозревателя\n"
              << "  открытие девяти таблиц: " << fixed(openMs, 1) << " мс; создание поиска: " << fixed(makeMs, 3)
              << " мс (ничего не читает)\n"
              << "  первый запрос «" << mix.front() << "» с подготовкой: " << fixed(firstMs, 1) << " мс (процессорное время "
              << fixed(firstCpu, 1) << " мс; " << firstFound << " найдено)\n";

    // The mix in turn, so that no query narrows the one before it and each scans the whole
    // text; then every query typed key by key, each keystroke a query of its own.
    constexpr int kRounds = 21;
    std::vector<std::vector<double>> each(mix.size()), eachCpu(mix.size());
    std::vector<size_t> found(mix.size());
    std::vector<double> all, allCpu, typed;
    for (int r = 0; r < kRounds; ++r)
        for (size_t q = 0; q < mix.size(); ++q) {
            auto t = Clock::now();
            const double c = cpuMs();
            found[q] = search.find(mix[q]).size();
            each[q].push_back(msSince(t));
            eachCpu[q].push_back(cpuMs() - c);
            all.push_back(each[q].back());
            allCpu.push_back(eachCpu[q].back());
        }
    for (size_t q = 0; q < mix.size(); ++q) {
        const Figures f = figures(each[q]), c = figures(eachCpu[q]);
        std::cout << "  «" << mix[q] << "»: медиана " << fixed(f.median, 2) << " мс, худший " << fixed(f.worst, 2)
                  << " мс; процессорное время: медиана " << fixed(c.median, 2) << " мс, худшее " << fixed(c.worst, 2)
                  << " мс (" << found[q] << " найдено, " << kRounds << " раз)\n";
    }
    std::string slowest;
    double slowestMs = -1;
    for (const auto& q : mix)
        for (const auto& k : keystrokes(q)) {
            auto t = Clock::now();
            search.find(k);
            typed.push_back(msSince(t));
            if (typed.back() > slowestMs) slowestMs = typed.back(), slowest = k;
        }
    const Figures f = figures(all), fc = figures(allCpu), k = figures(typed);
    std::cout << "  все запросы смеси: медиана " << fixed(f.median, 2) << " мс, худший " << fixed(f.worst, 2)
              << " мс; процессорное время: медиана " << fixed(fc.median, 2) << " мс, худшее " << fixed(fc.worst, 2) << " мс\n"
              << "  по нажатиям (каждый префикс смеси, " << typed.size() << " запросов): медиана "
              << fixed(k.median, 2) << " мс, худший " << fixed(k.worst, 2) << " мс («" << slowest << "»)\n"
              << "  память поиска: " << fixed(double(search.memoryUsed()) / 1048576.0, 1)
              << " МБ в индексе; резидентная память процесса выросла на " << fixed(statusMb("VmRSS") - rssBefore, 1)
              << " МБ (после подготовки " << fixed(rssPrepared - rssBefore, 1) << " МБ, пик подготовки "
              << fixed(peak - rssBefore, 1) << " МБ сверх открытой базы; всего у процесса "
              << fixed(statusMb("VmRSS"), 1) << " МБ)\n";
    return 0;
}

}  // namespace talvira::cli
