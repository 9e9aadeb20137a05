// The open construction: made, opened with its linked estimates brought up to date, and changed
// only by a whole construction checked and written before it is taken.
#include "editing/SummaryDocument.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "editing/SummaryFile.h"

#include <ctime>

namespace talvira::editing {

namespace fs = std::filesystem;
using model::LineKind;
using model::SummaryLine;

namespace {

struct Field {
    const char* key;
    const char* name;
};
constexpr Field kFields[] = {
    {"name", "Наименование стройки"}, {"number", "Номер сводного сметного расчета"}, {"customer", "Заказчик"}, {"level", "Уровень цен"},
    {"vat.date", "Дата НДС"},         {"reserve", "Резерв"},     {"purpose", "Назначение объектов"},
};

std::string fieldName(const std::string& key) {
    for (const Field& f : kFields)
        if (key == f.key) return std::string(f.name) + " (" + f.key + ")";
    return key;
}

/** Where the estimate `link` stands in `c` ("строка 3, глава 2"), empty when it is not linked. */
std::string whereLinked(const model::Construction& c, const std::string& link) {
    int num = 0;
    for (int n = 1; n <= model::kChapters; ++n)
        for (const SummaryLine& line : c.chapter(n)) {
            ++num;
            for (const model::LinkedEstimate& e : line.estimates)
                if (equalFolded(e.file, link)) return "строка " + std::to_string(num) + ", глава " + std::to_string(n);
        }
    return {};
}

}  // namespace

model::CalendarDate today() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

fs::path SummaryDocument::create(const fs::path& dir, const std::string& name, model::CalendarDate created) {
    if (name.empty()) throw Error("Введите наименование сводного сметного расчета.");
    if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos || name == "." || name == ".." ||
        name.find('\0') != std::string::npos)
        throw Error("«" + name + "» не может быть именем файла сводного сметного расчета (знаки «/» и «\\» недопустимы).");
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) throw Error("Папка «" + dir.string() + "» не найдена");
    const fs::path file = summaryPath(dir, name);
    if (fs::exists(file, ec))
        throw Error("Сводный сметный расчет «" + file.string() + "» уже есть: он не заменен.");
    model::Construction c;
    c.name = fs::path(name).extension() == ".ssr" ? fs::path(name).stem().string() : name;
    c.created = created;
    saveSummary(file, c);
    return file;
}

void SummaryDocument::open(const fs::path& file) {
    model::Construction c = loadSummary(file);
    file_ = file;
    construction_ = std::move(c);
    notices_.clear();
    refresh();
}

void SummaryDocument::refresh() {
    bool kept = false;
    notices_ = refreshLinks(construction_, file_, *tables_, kept);
    if (!kept) return;
    try {
        saveSummary(file_, construction_);
    } catch (const std::exception& e) {
        // The amounts just read stand; the file keeps the old ones until a later save.
        LinkNotice n;
        n.kind = LinkNotice::Kind::Unreadable;
        n.text = std::string("Новые итоги смет не записаны в файл сводного сметного расчета: ") + e.what();
        notices_.push_back(std::move(n));
    }
}

void SummaryDocument::replace(model::Construction next) {
    model::checkConstruction(next);
    saveSummary(file_, next);
    construction_ = std::move(next);
}

void SummaryDocument::set(const std::vector<std::pair<std::string, std::string>>& values) {
    replace(withValues(construction_, values));
}

model::Construction SummaryDocument::withValues(model::Construction next,
                                                const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [key, value] : values) {
        if (key == "name") {
            next.name = value;
        } else if (key == "number") {
            next.number = value;
        } else if (key == "customer") {
            next.customer = value;
        } else if (key == "level") {
            next.level = value;
        } else if (key == "vat.date") {
            if (value.empty()) {
                next.vatDate.reset();
            } else if (!(next.vatDate = model::CalendarDate::parse(value))) {
                throw Error(fieldName(key) + ": «" + value + "» — ожидается дата ГГГГ-ММ-ДД (например 2026-01-01)");
            }
        } else if (key == "reserve") {
            const std::optional<Dec7> d = Dec7::tryParse(value);
            if (!d) throw Error(fieldName(key) + ": «" + value + "» не число");
            next.reserve = *d;
        } else if (key == "purpose") {
            if (value == "production") next.purpose = model::Purpose::Production;
            else if (value == "other") next.purpose = model::Purpose::Other;
            else throw Error(fieldName(key) + ": «" + value + "» — ожидается production (производственного) или other "
                             "(непроизводственного назначения)");
        } else {
            throw Error("Неизвестный параметр «" + key + "»: name, number, customer, level, vat.date, reserve, purpose");
        }
    }
    // the reserve against the purpose both may have changed
    model::reservePercent(next.reserve.text(), next.purpose);
    return next;
}

void SummaryDocument::addLine(int chapter, SummaryLine line) {
    model::checkLine(chapter, line);
    model::Construction next = construction_;
    next.chapter(chapter).push_back(std::move(line));
    replace(std::move(next));
}

void SummaryDocument::addEstimate(int chapter, const fs::path& table, const std::string& objectNumber,
                                  const std::string& objectName, bool exempt) {
    replace(withEstimate(chapter, table, objectNumber, objectName, exempt));
}

model::Construction SummaryDocument::withEstimate(int chapter, const fs::path& table, const std::string& objectNumber,
                                                  const std::string& objectName, bool exempt) const {
    if (chapter < 1 || chapter > model::kChapters)
        throw Error("Глава «" + std::to_string(chapter) + "»: в сводном сметном расчете главы с 1 по 12");
    model::Construction next = construction_;
    // the object before the estimate is read: a wrong object costs no reading
    SummaryLine* object = nullptr;
    if (!objectNumber.empty()) {
        for (int n = 1; n <= model::kChapters && !object; ++n)
            for (SummaryLine& line : next.chapter(n))
                if (line.kind == LineKind::Object && line.objectNumber == objectNumber) {
                    if (n != chapter)
                        throw Error("Объект " + objectNumber + " «" + line.name + "» уже есть в главе " + std::to_string(n) +
                                    ", а не в главе " + std::to_string(chapter));
                    if (!objectName.empty() && objectName != line.name)
                        throw Error("Объект " + objectNumber + " называется «" + line.name + "», а не «" + objectName + "»");
                    object = &line;
                    break;
                }
        if (!object && objectName.empty())
            throw Error("Объекта " + objectNumber + " еще нет: укажите его наименование (--object " + objectNumber +
                        ":НАИМЕНОВАНИЕ)");
    }
    model::LinkedEstimate e = linkEstimate(table, file_, *tables_);
    e.exempt = exempt;
    if (const std::string where = whereLinked(next, e.file); !where.empty())
        throw Error("Смета «" + e.file + "» уже есть в сводном сметном расчете (" + where + ")");
    if (object) {
        object->estimates.push_back(std::move(e));
    } else if (!objectNumber.empty()) {
        SummaryLine line = SummaryLine::object(objectNumber, objectName);
        line.estimates.push_back(std::move(e));
        next.chapter(chapter).push_back(std::move(line));
    } else {
        next.chapter(chapter).push_back(SummaryLine::estimate(std::move(e)));
    }
    return next;
}

}  // namespace talvira::editing
