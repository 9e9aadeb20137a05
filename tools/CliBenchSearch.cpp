// talvira-cli bench search DIR: the rate search over a norm base directory: the preparation in
// the background (its time and memory peak), the first query one second after it started (as
// when the user types right after the window shows), then a mix of queries as they are typed,
// with word forms and by the exact rule alone, and the memory it holds.
// Nothing here is run by the tests; the numbers are for people.
#include "tools/Commands.h"

#include "common/Error.h"
#include "common/Utf8.h"
#include "normbase/NormBase.h"
#include "normbase/RateSearch.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
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
    for (size_t n = 1; n <= utf8::length(q); ++n) out.emplace_back(utf8::cut(q, n));
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
    normbase::RateSearch search(nb);
    const std::vector<std::string> mix = {"08-02",  "401-0",        "бетон", "кладка стен кирпич", "щъыэюжзх",
                                          "кровля", "ремонт кровли", "0.5",   "смена"};

    // Preparation in the background; the memory looked at every few milliseconds meanwhile.
    auto tStart = Clock::now();
    const double cpuStart = cpuMs();
    search.startPreparing();
    double peakMb = 0, preparedMs = -1;
    while (msSince(tStart) < 1000) {
        peakMb = std::max(peakMb, statusMb("VmRSS"));
        if (preparedMs < 0 && search.prepared()) preparedMs = msSince(tStart);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    // The first query at 1 s, answered from what is prepared by then (the preparation may go on).
    const bool preparedAtFirst = search.prepared();
    auto tFirst = Clock::now();
    const auto first = search.find(mix.front());
    const double firstMs = msSince(tFirst);
    auto tWait = Clock::now();
    search.prepare();  // the rest of the preparation, for the figures below
    const double waitMs = msSince(tWait);
    if (preparedMs < 0) preparedMs = msSince(tStart);
    const double prepCpu = cpuMs() - cpuStart;
    peakMb = std::max(peakMb, statusMb("VmHWM"));
    const double rssPrepared = statusMb("VmRSS");

    std::cout << "Поиск расценок в «" << dir << "»: " << search.listedCount() << " расценок в списках обозревателя\n"
              << "  открытие девяти таблиц: " << fixed(openMs, 1) << " мс\n"
              << "  подготовка в фоне: " << fixed(preparedMs, 1) << " мс (процессорное время процесса за первую секунду "
              << fixed(prepCpu, 1) << " мс), пик памяти " << fixed(peakMb - rssBefore, 1) << " МБ сверх открытой базы\n"
              << "  первый запрос «" << mix.front() << "» через 1 с после начала подготовки: " << fixed(firstMs, 2) << " мс ("
              << (preparedAtFirst ? "подготовка уже закончена" : "во время подготовки; её остаток " + fixed(waitMs, 2) + " мс")
              << "; " << first.rates.size() << " найдено)\n";

    // The mix in turn, so that no query narrows the one before it and each scans the whole
    // text; then every query typed key by key, each keystroke a query of its own.
    constexpr int kRounds = 21;
    for (const bool exact : {false, true}) {
        auto run = [&](const std::string& q) {
            return exact ? std::pair(search.findExact(q).size(), size_t(0)) : [&] {
                const auto f = search.find(q);
                return std::pair(f.exact, f.rates.size() - f.exact);
            }();
        };
        std::cout << (exact ? "  точное правило (--exact):\n" : "  с формами слов и десятичным знаком:\n");
        std::vector<std::vector<double>> each(mix.size());
        std::vector<std::pair<size_t, size_t>> found(mix.size());
        std::vector<double> all, typed;
        for (int r = 0; r < kRounds; ++r)
            for (size_t q = 0; q < mix.size(); ++q) {
                auto t = Clock::now();
                found[q] = run(mix[q]);
                each[q].push_back(msSince(t));
                all.push_back(each[q].back());
            }
        for (size_t q = 0; q < mix.size(); ++q) {
            const Figures f = figures(each[q]);
            std::cout << "    «" << mix[q] << "»: медиана " << fixed(f.median, 2) << " мс, худший " << fixed(f.worst, 2)
                      << " мс (" << found[q].first << " + " << found[q].second << " по формам, " << kRounds << " раз)\n";
        }
        std::string slowest;
        double slowestMs = -1;
        for (const auto& q : mix)
            for (const auto& k : keystrokes(q)) {
                auto t = Clock::now();
                run(k);
                typed.push_back(msSince(t));
                if (typed.back() > slowestMs) slowestMs = typed.back(), slowest = k;
            }
        const Figures f = figures(all), k = figures(typed);
        std::cout << "    все запросы смеси: медиана " << fixed(f.median, 2) << " мс, худший " << fixed(f.worst, 2) << " мс\n"
                  << "    по нажатиям (каждый префикс смеси, " << typed.size() << " запросов): медиана "
                  << fixed(k.median, 2) << " мс, худший " << fixed(k.worst, 2) << " мс («" << slowest << "»)\n";
    }
    std::cout << "  память поиска: " << fixed(double(search.memoryUsed()) / 1048576.0, 1)
              << " МБ в индексе; резидентная память процесса выросла на " << fixed(statusMb("VmRSS") - rssBefore, 1)
              << " МБ (после подготовки " << fixed(rssPrepared - rssBefore, 1) << " МБ; всего у процесса "
              << fixed(statusMb("VmRSS"), 1) << " МБ)\n";
    return 0;
}

}  // namespace talvira::cli
