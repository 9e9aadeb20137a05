// talvira-cli estimate import: an estimate made from another program's expertise file (.gge).
#include "tools/CliShared.h"
#include "tools/Commands.h"

#include "common/Error.h"
#include "editing/GgeImport.h"

#include <functional>

#include "export/GgeRead.h"

#include <expat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace talvira::cli {

namespace {
const char* const kUsage = "использование: talvira-cli estimate import FILE.gge DIR [--name NAME]";

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string fileText(const fs::path& f) {
    std::ifstream in(f, std::ios::binary);
    if (!in) throw Error("Файл «" + f.string() + "» не открывается для чтения.");
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/** The file with its positions (Item elements) repeated in one section to `positions` of them. */
std::string replicated(const std::string& text, size_t positions) {
    std::vector<std::string_view> items;
    for (size_t at = text.find("<Item>"); at != std::string::npos; at = text.find("<Item>", at)) {
        const size_t end = text.find("</Item>", at);
        if (end == std::string::npos) break;
        items.push_back(std::string_view(text).substr(at, end + 7 - at));
        at = end;
    }
    const size_t sections = text.find("<Sections>"), after = text.find("</Sections>");
    if (items.empty() || sections == std::string::npos || after == std::string::npos)
        throw Error("talvira-cli bench gge: в файле нет позиций (Item) в разделах (Sections).");
    std::string out = text.substr(0, sections) + "<Sections><Section><Code>1</Code><Name>Раздел</Name><Items>\n";
    for (size_t i = 0; i < positions; ++i) (out += items[i % items.size()]) += '\n';
    return out + "</Items><SectionPrice/></Section>" + text.substr(after);
}

/** One pass of expat over the file with no handler: the floor of any reader. */
void bareExpat(const fs::path& f) {
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> p(XML_ParserCreate("UTF-8"), &XML_ParserFree);
    std::ifstream in(f, std::ios::binary);
    std::vector<char> buffer(size_t(1) << 20);
    while (true) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        const size_t n = size_t(in.gcount());
        if (XML_Parse(p.get(), buffer.data(), int(n), n == 0) == XML_STATUS_ERROR) throw Error("bench gge: не XML");
        if (n == 0) break;
    }
}

double best(int rounds, const std::function<void()>& run) {
    double b = 1e9;
    for (int r = 0; r < rounds; ++r) {
        const auto t = Clock::now();
        run();
        b = std::min(b, std::chrono::duration<double>(Clock::now() - t).count());
    }
    return b;
}

}  // namespace

int benchGge(const Args& args) {
    if (args.empty()) throw Error("talvira-cli bench gge FILE.gge [--positions N] [--rounds N]");
    size_t positions = 10'000;
    int rounds = 3;
    for (size_t i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--positions") positions = size_t(std::max(1, std::atoi(args[i + 1].c_str())));
        else if (args[i] == "--rounds") rounds = std::max(1, std::atoi(args[i + 1].c_str()));
    }
    const fs::path dir = fs::temp_directory_path() / ("talvira-bench-gge-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path big = dir / "big.gge";
    std::ofstream(big, std::ios::binary) << replicated(fileText(args[0]), positions);
    const double floor = best(rounds, [&] { bareExpat(big); });
    size_t read = 0;
    const double reading = best(rounds, [&] { read = exporting::readGge(big).positions.size(); });
    int made = 0;
    const double importing = best(1, [&] {
        editing::importGge(big, dir.string(), "Смета " + std::to_string(made++), '.', shippedTables());
    });
    fs::remove_all(dir);
    std::cout << "Чтение файла экспертизы: " << read << " позиций, лучшее из " << rounds << "\n"
              << "  expat без обработчиков, с: " << floor << "\n"
              << "  чтение файла (разбор в данные сметы), с: " << reading << "\n"
              << "  загрузка целиком (чтение, таблица сметы, расчет и сравнение), с: " << importing << "\n"
              << "  отношение чтения к expat: " << reading / floor << "\n";
    return 0;
}

int ggeImportCommand(const Args& args) {
    std::string name;
    Args rest;
    const ArgReader reader{"talvira-cli estimate import", kUsage};
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--name") name = reader.value(args, i);
        else if (!args[i].empty() && args[i][0] == '-') throw Error("talvira-cli estimate import: неизвестный параметр «" + args[i] + "»\n" + kUsage);
        else rest.push_back(args[i]);
    }
    if (rest.size() != 2) throw Error(kUsage);
    const editing::GgeImported r = editing::importGge(rest[0], rest[1], name, '.', shippedTables());
    std::cout << r.table.string() << "\n";
    for (const std::string& n : r.notes) std::cout << "Примечание: " << n << "\n";
    for (const std::string& p : r.problems) std::cout << "Не рассчитано: " << p << "\n";
    if (r.differences.empty()) std::cout << "Расчет программы совпадает с файлом во всех суммах.\n";
    else std::cout << "Расхождения с файлом (" << r.differences.size() << "):\n";
    for (const editing::GgeDifference& d : r.differences) std::cout << "  " << editing::differenceText(d, '.') << "\n";
    return 0;
}

}  // namespace talvira::cli
