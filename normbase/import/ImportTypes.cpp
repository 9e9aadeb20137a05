#include "normbase/import/ImportTypes.h"

#include <sstream>

namespace talvira::normimport {

std::string sourceLine(const SourceInfo& s) {
    std::string line = s.file + " — " + s.kind;
    if (!s.baseType.empty()) line += ", " + s.baseType;
    if (!s.decree.empty()) line += ", " + s.decree;
    if (!s.priceLevel.empty()) line += ", уровень цен " + s.priceLevel;
    if (!s.date.empty()) line += ", дата " + s.date;
    return line;
}

std::string wageLine(const std::optional<Money>& wagePerHour) {
    if (!wagePerHour) return "Часовая ставка оплаты труда не задана: основная зарплата расценок равна 0";
    return "Часовая ставка оплаты труда: " + decimalText(*wagePerHour, {0, kMoneyPlaces}, ',') + " руб.";
}

std::string ImportReport::text() const {
    std::ostringstream s;
    s << "Прочитано файлов: " << sources.size() << "\n";
    for (const SourceInfo& src : sources) s << "  " << sourceLine(src) << "\n";
    s << wageLine(wagePerHour) << "\n";
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
    if (!keptBases.empty()) {
        s << "Прежняя нормативная база сохранена в папке «" << keptBases.front() << "»";
        for (size_t i = 1; i < keptBases.size(); ++i) s << (i == 1 ? "; более ранние: «" : ", «") << keptBases[i] << "»";
        s << ".\n";
    }
    return s.str();
}

}  // namespace talvira::normimport
