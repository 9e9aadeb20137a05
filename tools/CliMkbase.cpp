// talvira-cli mkbase DIR [--scale small|large]: writes the demonstration norm base.
#include "tools/Commands.h"

#include "common/Error.h"
#include "tools/demobase/DemoBase.h"

#include <chrono>
#include <cstdio>
#include <iostream>

namespace talvira::cli {

int mkbaseCommand(const Args& args) {
    std::string dir;
    demobase::DemoScale scale = demobase::DemoScale::Small;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--scale") {
            if (i + 1 >= args.size()) throw Error("talvira-cli mkbase: после --scale укажите small или large");
            const std::string& v = args[++i];
            if (v == "small") scale = demobase::DemoScale::Small;
            else if (v == "large") scale = demobase::DemoScale::Large;
            else throw Error("talvira-cli mkbase: неизвестный размер базы «" + v + "» (допустимо small или large)");
        } else if (a.rfind("--", 0) == 0) {
            throw Error("talvira-cli mkbase: неизвестный параметр «" + a + "»");
        } else if (dir.empty()) {
            dir = a;
        } else {
            throw Error("talvira-cli mkbase: лишний аргумент «" + a + "»");
        }
    }
    if (dir.empty()) throw Error("talvira-cli mkbase: укажите папку, например: talvira-cli mkbase Base [--scale small|large]");

    auto start = std::chrono::steady_clock::now();
    auto counts = demobase::writeDemoBase(dir, scale, [](const std::string& s) { std::cerr << s << "\n"; });
    double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.2f", sec);
    std::cout << "Нормативная база записана в «" << dir << "» за " << took << " с\n"
              << "  сборников (000_REESTR.DB):        " << counts.collections << "\n"
              << "  разделов и таблиц (OGL.DB):       " << counts.contentsEntries << "\n"
              << "  расценок (RABMAT.DB):             " << counts.rates << "\n"
              << "  ресурсов (RABMAT.DB):             " << counts.resources << "\n"
              << "  ресурсных строк (RESURS.DB):      " << counts.resourceLines << "\n"
              << "  наименований (000_NAME.DB):       " << counts.names << "\n"
              << "  единиц измерения (000_EDIZM.DB):  " << counts.units << "\n";
    return 0;
}

}  // namespace talvira::cli
