#include "normbase/import/ImportTypes.h"

#include <algorithm>
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

std::string wageLine(const std::optional<Money>& wagePerHour, uint64_t rates, uint64_t ratesWithOwnPrice) {
    const std::string wage = wagePerHour ? decimalText(*wagePerHour, {0, kMoneyPlaces}, ',') + " руб." : std::string();
    const uint64_t byWage = rates - std::min(rates, ratesWithOwnPrice);
    if (rates == 0)
        return wagePerHour ? "Часовая ставка оплаты труда " + wage + " не использована: в файлах нет расценок" : std::string();
    // Rates that carry their own price (ФЕР) have their basic wages: the wage is not asked of them.
    if (byWage == 0)
        return wagePerHour ? "Часовая ставка оплаты труда " + wage +
                                 " не использована: основная зарплата расценок взята из их цен в файлах"
                           : "Основная зарплата расценок взята из их цен в файлах (часовая ставка не нужна)";
    const std::string own = ratesWithOwnPrice == 0 ? std::string()
                          : "; расценок с основной зарплатой из их цен в файлах: " + std::to_string(ratesWithOwnPrice);
    if (!wagePerHour)
        return ratesWithOwnPrice == 0
                   ? "Часовая ставка оплаты труда не задана: основная зарплата расценок равна 0"
                   : "Часовая ставка оплаты труда не задана: основная зарплата расценок без цены в файлах равна 0 (" +
                         std::to_string(byWage) + ")" + own;
    return "Часовая ставка оплаты труда: " + wage + own;
}

std::string ImportReport::text() const {
    std::ostringstream s;
    s << "Прочитано файлов: " << sources.size() << "\n";
    for (const SourceInfo& src : sources) s << "  " << sourceLine(src) << "\n";
    if (const std::string w = wageLine(wagePerHour, rates, ratesWithOwnPrice); !w.empty()) s << w << "\n";
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
    if (!removedBase.empty())
        s << "Копия, хранившаяся в папке «" << removedBase << "», удалена: хранятся только три прежние базы.\n";
    return s.str();
}

}  // namespace talvira::normimport
