// The object and summary estimates as expertise XML trees, element by element in the order the
// schemas fix (every level is an xs:sequence).
#include "editing/SummaryXml.h"

#include "common/AtomicFile.h"
#include "common/Error.h"

#include <ctime>

namespace talvira::editing {

namespace fs = std::filesystem;
using model::CostColumn;
using model::CostColumns;
using model::Elements;
using model::LineKind;
using model::SummaryLine;
using model::WorkType;
using Details = std::array<Elements, model::kWorkTypes>;

namespace {

const char* const kSoft = "Тальвира";
const char* const kSoftVersion = "1.0";

std::string th(Money m) { return model::thousandsText(m); }

/** Labour in чел.-ч, two decimals, rounded half up once. */
std::string labour(Dec7 d) {
    const int64_t u = d.units(), q = u / 100'000, rest = u % 100'000;
    return Money::fromKopecks(rest >= 50'000 ? q + 1 : rest <= -50'000 ? q - 1 : q).text();
}

Elements plus(Elements a, const Elements& b) {
    for (auto [x, y] : {std::pair{&a.ot, &b.ot}, {&a.em, &b.em}, {&a.otm, &b.otm}, {&a.m, &b.m}, {&a.pz, &b.pz},
                        {&a.fot, &b.fot}, {&a.nr, &b.nr}, {&a.sp, &b.sp}, {&a.total, &b.total}})
        *x += *y;
    a.zt = Dec7::fromUnits(a.zt.units() + b.zt.units());
    a.ztm = Dec7::fromUnits(a.ztm.units() + b.ztm.units());
    return a;
}

Details plus(Details a, const Details& b) {
    for (size_t i = 0; i < a.size(); ++i) a[i] = plus(a[i], b[i]);
    return a;
}

const Elements& of(const Details& d, WorkType t) { return d[static_cast<size_t>(t)]; }

/** гр. 4–8 of a row (TPriceElements). */
void money(xml::Element& e, const CostColumns& c) {
    e.add("Building", th(c[CostColumn::Building]));
    e.add("Mounting", th(c[CostColumn::Mounting]));
    e.add("Equipment", th(c[CostColumn::Equipment]));
    e.add("Other", th(c[CostColumn::Other]));
    e.add("Total", th(c.total()));
}

/** One type of work by element of cost (TSummaryItems): no freight, so Price is Total. */
void summaryItems(xml::Element& e, const Elements& d) {
    e.add("Total", th(d.total));
    e.add("WorkersSalary", th(d.ot));
    e.add("MachinistSalary", th(d.otm));
    e.add("Salary", th(d.fot));
    e.add("Overhead", th(d.nr));
    e.add("Profit", th(d.sp));
    e.add("Machines", th(d.em));
    e.add("Materials", th(d.m));
    e.add("Direct", th(d.pz));
    e.add("TotalLaborCosts", labour(Dec7::fromUnits(d.zt.units() + d.ztm.units())));
    e.add("LaborCosts", labour(d.zt));
    e.add("MachinistLaborCosts", labour(d.ztm));
    e.add("TransportTotal", "0.00");
    e.add("TransportAdd", "0.00");
    e.add("Transport", "0.00");
    e.add("Price", th(d.total));
}

/** TSummary: by type of work; its Summary (all СМР and ПНР) as items (ОСР) or one number (ССР). */
void details(xml::Element& parent, const Details& d, bool summaryAsItems) {
    xml::Element& e = parent.add("Details");
    summaryItems(e.add("Building"), of(d, WorkType::Construction));
    summaryItems(e.add("Mounting"), of(d, WorkType::Mounting));
    xml::Element& equipment = e.add("Equipment");
    equipment.add("Total", th(of(d, WorkType::Equipment).total));
    equipment.add("Price", th(of(d, WorkType::Equipment).total));
    e.add("Other", th(of(d, WorkType::Other).total));
    if (of(d, WorkType::Commissioning) != Elements()) summaryItems(e.add("Commissioning"), of(d, WorkType::Commissioning));
    Money total;
    for (const Elements& t : d) total += t.total;
    e.add("Total", th(total));
    const Elements works =
        plus(plus(of(d, WorkType::Construction), of(d, WorkType::Mounting)), of(d, WorkType::Commissioning));
    if (summaryAsItems) summaryItems(e.add("Summary"), works);
    else e.add("Summary", th(works.total));
}

void meta(xml::Element& root, const char* type) {
    root.attribute("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance");
    xml::Element& m = root.add("Meta");
    xml::Element& soft = m.add("Soft");
    soft.add("Name", kSoft);
    soft.add("Version", kSoftVersion);
    xml::Element& file = m.add("File");
    file.add("Type", type);
    file.add("Version", "3.01");
}

/** The price level the construction names, when it names a day (TPriceLevel). */
void priceLevel(xml::Element& parent, const model::Construction& c) {
    const std::optional<model::CalendarDate> d = model::levelStart(c.level);
    if (!d) return;
    xml::Element& e = parent.add("PriceLevel");
    e.add("Year", std::to_string(d->year));
    e.add("Quarter", std::to_string((d->month - 1) / 3 + 1));
    e.add("BasicPrice", "false");
    e.add("Note", c.level);
}

Details detailsOf(const SummaryLine& line) {
    Details d{};
    for (const model::LinkedEstimate& e : line.estimates) d = plus(d, e.details);
    return d;
}

std::string created(const model::Construction& c, const ExportMoment& when) {
    return (c.created.year ? c.created : when.date).text();
}

}  // namespace

ExportMoment exportMoment() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string s = buf;
    if (s.size() >= 5) s.insert(s.size() - 2, ":");  // +0300 -> +03:00, as xs:dateTime writes a zone
    return {{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}, s};
}

std::string estimateNumber(const std::string& objectNumber, size_t order) {
    return objectNumber + "-" + (order < 10 ? "0" : "") + std::to_string(order);
}

std::string ggeFileName(const std::string& number, const std::string& name) {
    std::string out = number + " " + name;
    for (char& ch : out)
        if (ch == '/' || ch == '\\' || ch == ':' || ch == '*' || ch == '?' || ch == '"' || ch == '<' || ch == '>' ||
            ch == '|' || static_cast<unsigned char>(ch) < 0x20)
            ch = '_';
    return out + ".gge";
}

xml::Element osrTree(const model::Construction& c, const std::string& objectNumber, const ExportMoment& when) {
    const SummaryLine* object = nullptr;
    for (int n = 1; n <= model::kChapters && !object; ++n)
        for (const SummaryLine& line : c.chapter(n))
            if (line.kind == LineKind::Object && line.objectNumber == objectNumber) object = &line;
    if (!object) throw Error("В сводном сметном расчете нет объекта " + objectNumber);

    xml::Element root{"Construction"};
    meta(root, "ОСР");
    root.attribute("xsi:noNamespaceSchemaLocation", "ObjectEstimate-3_01.xsd");
    root.add("Num", objectNumber);
    root.add("Name", c.name);
    xml::Element& o = root.add("Object");
    o.add("Num", objectNumber);
    o.add("Name", object->name);
    o.add("Region", "00");
    o.add("Reason");
    o.add("ReasonLink");
    o.add("Created", created(c, when));
    o.add("Approved", created(c, when));
    priceLevel(o, c);
    CostColumns all;
    for (const model::LinkedEstimate& e : object->estimates) all += e.amounts;
    money(o.add("Summary"), all);
    xml::Element& signatures = o.add("Signatures");
    signatures.add("ChiefProjectEngineer").add("Name");
    xml::Element& chief = signatures.add("Chief");
    chief.add("Name");
    chief.add("Department");
    for (const char* who : {"Composer", "Verifier"}) {
        xml::Element& s = signatures.add(who);
        s.add("Name");
        s.add("Position");
    }
    for (size_t i = 0; i < object->estimates.size(); ++i) {
        const model::LinkedEstimate& e = object->estimates[i];
        const std::string number = estimateNumber(objectNumber, i + 1);
        xml::Element& l = o.add("LocalEstimate");
        money(l, e.amounts);
        l.add("Name", e.name);
        l.add("Num", std::to_string(i + 1));
        l.add("Reason", number);
        details(l, e.details, true);
        l.add("Link", ggeFileName(number, e.name));
    }
    money(o.add("SubSummary1"), all);
    details(o, detailsOf(*object), true);
    root.add("ExportDateTime", when.dateTime);
    return root;
}

xml::Element ssrTree(const model::Construction& c, const model::SummaryResult& r, const ExportMoment& when) {
    xml::Element root{"Construction"};
    meta(root, "ССР");
    root.attribute("xsi:noNamespaceSchemaLocation", "SummaryEstimate-3_01.xsd");
    root.add("Num", c.number);
    root.add("Name", c.name);
    root.add("Customer", c.customer);
    root.add("Created", created(c, when));
    root.add("Approved", created(c, when));
    priceLevel(root, c);
    money(root.add("Summary"), r.total);
    int num = 0;
    for (const model::ChapterResult& ch : r.chapters) {
        const std::vector<SummaryLine>& lines = c.chapter(ch.n);
        if (ch.n < model::kFirstSubtotal && lines.empty()) continue;
        xml::Element& e = root.add("Chapter" + std::to_string(ch.n));
        e.add("ChapterName").add("ConstantNameChapter", std::string(model::chapterName(ch.n)));
        for (size_t i = 0; i < lines.size(); ++i) {
            const SummaryLine& line = lines[i];
            const model::SummaryLineResult& lr = ch.lines[i];
            num = lr.num;
            const bool linked = line.kind == LineKind::Estimate || line.kind == LineKind::Object;
            const char* kind = line.kind == LineKind::Percent ? "Addition"
                               : !linked || ch.n == 10 ? "Calculation"  // chapter 10 takes no estimates
                               : line.kind == LineKind::Object ? "ObjectEstimate"
                                                               : "LocalEstimate";
            xml::Element& l = e.add(kind);
            money(l, lr.amounts);
            l.add("Name", line.kind == LineKind::Percent ? lr.name + " " + line.percent.text(',') + " %" : lr.name);
            l.add("Num", std::to_string(lr.num));
            l.add("Reason", lr.reason);
            if (line.kind == LineKind::Percent) continue;
            std::string link;
            if (line.kind == LineKind::Object) link = ggeFileName(line.objectNumber, line.name);
            else if (line.kind == LineKind::Estimate) link = ggeFileName(lr.reason.substr(lr.reason.find(' ') + 1), lr.name);
            if (linked && ch.n != 10) details(l, detailsOf(line), false);
            l.add("Link", link);
            l.add("StageID", "0");
            l.add("StageName", "Без этапа");
        }
        money(e.add("Summary"), ch.total);
        if (ch.n >= model::kFirstSubtotal) money(e.add("SubSummary"), r.subtotal(ch.n));
    }
    // the reserve and VAT: chapters 13 and 14 of the file, each one addition
    xml::Element& reserve = root.add("Chapter13");
    reserve.add("ChapterName").add("ConstantNameChapter", "Резерв средств на непредвиденные работы и затраты");
    xml::Element& ra = reserve.add("Addition");
    money(ra, r.reserve);
    ra.add("Name", "Резерв средств на непредвиденные работы и затраты " + r.reservePercent.text(',') + " %");
    ra.add("Num", std::to_string(++num));
    ra.add("Reason");
    money(reserve.add("Summary"), r.reserve);
    money(reserve.add("SubSummary"), r.withReserve);
    xml::Element& taxes = root.add("Chapter14");
    taxes.add("ChapterName").add("ConstantNameChapter", "Налог на добавленную стоимость");
    xml::Element& va = taxes.add("Addition");
    money(va, r.vat);
    va.add("Name", "Налог на добавленную стоимость " + r.vatRate.text(',') + " %");
    va.add("Num", std::to_string(++num));
    va.add("Reason");
    money(taxes.add("Summary"), r.vat);
    xml::Element& signatures = root.add("Signatures");
    signatures.add("ProjectOrg").add("Name");
    signatures.add("ChiefProjectEngineer").add("Name");
    xml::Element& chief = signatures.add("Chief");
    chief.add("Name");
    chief.add("Department");
    xml::Element& customer = signatures.add("Customer");
    customer.add("Name");
    customer.add("Position");
    root.add("ExportDateTime", when.dateTime);
    return root;
}

fs::path writeSummaryXml(const xml::Element& tree, const fs::path& file) {
    return writeFileAtomically(file, xml::render(tree), /*keepExisting=*/false, "файл XML");
}

}  // namespace talvira::editing
