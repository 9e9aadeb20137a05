// The official form written for a hand-worked estimate (the worked ФЕР position; a rate with
// coefficients on ОТ and on ЭМ apart from ОТМ, the repair factors, a priced and an unpriced
// material; a material of its own; a mounting rate; equipment) and for a real estimate table
// through talvira-cli, read back by an independent reader (python3-openpyxl): the values stored
// for the formulas, and those LibreOffice and Gnumeric recalculate from a copy whose stored
// values are all 0, equal the computation to the kopeck; the layout is the form's. The case's
// amounts were worked by hand (exact decimals, half up; three of them end in a half kopeck).
#include "export/LsrForm.h"

#include "common/Error.h"
#include "editing/EstimateRows.h"
#include "editing/KeptCalc.h"
#include "editing/LsrExport.h"
#include "model/ResultJson.h"
#include "estimate/EstimateFile.h"
#include "tests/e2e/Workbook.h"
#include "tests/support/TestPaths.h"
#include "tools/CliShared.h"
#include "tools/Commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <regex>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using talvira::Dec7;
using talvira::Money;
using model::PositionResult;
using model::WorkType;

/* ------------------------------------------------------------------------------------- */
/*  The hand-worked estimate                                                             */
/* ------------------------------------------------------------------------------------- */

Dec7 dec(std::string_view s) {
    const bool neg = !s.empty() && s[0] == '-';
    if (neg) s.remove_prefix(1);
    int64_t whole = 0, frac = 0, scale = Dec7::kScale;
    size_t i = 0;
    for (; i < s.size() && s[i] != '.'; ++i) whole = whole * 10 + (s[i] - '0');
    for (++i; i < s.size(); ++i) frac += (s[i] - '0') * (scale /= 10);
    return Dec7::fromUnits((neg ? -1 : 1) * (whole * Dec7::kScale + frac));
}
Money rub(std::string_view s) { return Money::fromKopecks(dec(s).units() / 100'000); }
double num(Money m) { return double(m.kopecks()) / 100; }

struct Estimate {
    std::vector<model::PositionRow> rows;
    model::EstimateTexts texts = model::EstimateTexts::defaults(',');
    model::EstimateParams params;
    model::BaseIndexResult result;
    lsr::FormFacts facts;
    std::vector<std::string> chargeTitles;
    lsr::FormInput input() const { return {rows, texts, params, result, facts, chargeTitles}; }
};

/** The positions as Add leaves them in the table: the worked ФЕР rate (COUNT 1); a rate (2)
 *  followed by a priced (3) and an unpriced (4) material; a material of its own (5); a mounting
 *  rate (6); equipment (7). */
constexpr const char* kLongName =
    "Монтаж щитков осветительных, устанавливаемых на стене распорными дюбелями, масса щитка до 6 кг, с подключением "
    "проводов и заземлением корпуса в помещениях с нормальной средой";
struct Position { const char* code; const char* name; const char* unit; double q, ot, em, otm, m, labour, cost; };
constexpr Position kPositions[] = {
    {"ФЕР08-01-001-01", "Устройство из бутового камня фундаментов: ленточных", "м3", 1, 32.74, 10.46, 1.74, 215.19, 3.94, 258.39},
    {"ФЕР06-01-001-01", "Устройство бетонной подготовки", "100 м3", 2.5, 45.67, 20.10, 3.33, 100.01, 5.2, 165.78},
    {"04.1.02.05-0006", "Смеси бетонные тяжелого бетона", "м3", 2.55, 0, 0, 0, 512.37, 0, 512.37},
    {"01.7.15.03-0042", "Болты с гайками и шайбами строительные", "т", 1.25, 0, 0, 0, 0, 0, 0},
    {"ФССЦ-01.7.15.03-0042", "Болты анкерные", "т", 0.015, 0, 0, 0, 12345.67, 0, 12345.67},
    {"ФЕРм08-02-001-01", kLongName, "шт", 3, 10, 2.50, 0.50, 1.05, 1.1, 13.55},
    {"ФССЦ-62.1.01.01-0001", "Вентилятор радиальный", "шт", 2, 0, 0, 0, 15000, 0, 15000},
};

void makeEstimateTable(const fs::path& dir) {
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, dir.string(), "Дом");
    estimate::createAndOpen(smeta);
    for (const Position& p : kPositions) {
        smeta.append();
        smeta.setFieldValue("TAB", storage::Value::string(p.code));
        smeta.setFieldValue("NAME", storage::Value::string(p.name));
        smeta.setFieldValue("IZM", storage::Value::string(p.unit));
        smeta.setFieldValue("KOLVO", storage::Value::real(p.q));
        smeta.setFieldValue("STOIM", storage::Value::real(p.cost));
        smeta.setFieldValue("OSNZP", storage::Value::real(p.ot));
        smeta.setFieldValue("MATER", storage::Value::real(p.m));
        smeta.setFieldValue("EXPLMASH", storage::Value::real(p.em));
        smeta.setFieldValue("ZPMASH", storage::Value::real(p.otm));
        smeta.setFieldValue("TRUD", storage::Value::real(p.labour));
        smeta.post();
    }
}

/** What the estimate keeps beside its table: the base-index method, capital repair (НР × 0.9,
 *  СП × 0.85), ОТ+ЗТ × 1.15 and ЭМ × 1.2 (not ОТМ) on rate 2; `nrsp` is rate 1's row. */
editing::KeptCalc sideData(const std::string& nrsp) {
    editing::KeptCalc calc;
    model::EstimateParams& p = calc.params;
    p.method = model::Method::BaseIndex;
    p.capitalRepair = true;
    p.indexOt = dec("52.21"), p.indexEm = dec("16.64"), p.indexM = dec("8.49"), p.indexEq = dec("5.5");
    p.region = "Московская область", p.level = "II кв. 2025", p.baseLevel = "01.01.2000";
    model::PositionData& first = calc.entry(1);
    first.nrRow = first.spRow = nrsp;
    first.machinistLabour = dec("0.15");
    model::PositionData& second = calc.entry(2);
    second.nrRow = second.spRow = "006.0";
    second.machinistLabour = dec("0.26");
    second.coefficients = {{dec("1.15"), model::OT | model::ZT, "прил. 10"}, {dec("1.2"), model::EM, "прил. 10"}};
    for (int32_t material : {3, 4}) {
        calc.entry(material).parent = 2;
        calc.entry(material).perUnit = dec(material == 3 ? "1.02" : "0.5");
    }
    calc.entry(6).nrRow = calc.entry(6).spRow = "033.0";
    calc.entry(7).workType = WorkType::Equipment;
    return calc;
}

/** The estimate read back from its table and computed, as the window's command does. */
Estimate computed(const fs::path& table, const editing::KeptCalc& calc) {
    storage::TableHandle smeta("SmetaTable");
    cli::openEstimate(smeta, table.string());
    Estimate e;
    e.rows = editing::readPositionRows(smeta);
    e.params = calc.params;
    e.result = model::computeBaseIndex(e.rows, calc.positions, calc.params, model::nrSpTables());
    e.chargeTitles = editing::chargeTitles(e.result, model::nrSpTables());
    e.texts.contractorPost = "Главный инженер ";
    e.texts.contractorName = "Петров П. П.";
    e.texts.approverName = "Иванов И. И.";
    e.facts = {"Тальвира 1.0", "ФСНБ-2020", {"172/пр", "557/пр"}, "02-01-01", "Фундаменты", "Школа", "Корпус 1",
               "ведомость объемов работ № 1"};
    return e;
}

/* ------------------------------------------------------------------------------------- */
/*  Readers                                                                              */
/* ------------------------------------------------------------------------------------- */

/** python3 + openpyxl: "read BOOK" prints the sheet as JSON; "zero BOOK COPY" writes a copy whose
 *  formulas store 0; "xml BOOK" prints the sheet's XML as stored. */
constexpr const char* kReader = R"PY(
import json, re, sys, zipfile
if sys.argv[1] == 'xml':
    with zipfile.ZipFile(sys.argv[2]) as z:
        sys.stdout.write(z.read('xl/worksheets/sheet1.xml').decode('utf-8'))
    sys.exit(0)
if sys.argv[1] == 'zero':
    with zipfile.ZipFile(sys.argv[2]) as zi, zipfile.ZipFile(sys.argv[3], 'w', zipfile.ZIP_DEFLATED) as zo:
        for item in zi.infolist():
            data = zi.read(item.filename)
            if item.filename.startswith('xl/worksheets/'):
                data = re.sub(rb'(<f>[^<]*</f>)<v>[^<]*</v>', rb'\1<v>0</v>', data)
            zo.writestr(item, data)
    sys.exit(0)
import openpyxl
sf = openpyxl.load_workbook(sys.argv[2]).active
sv = openpyxl.load_workbook(sys.argv[2], data_only=True).active
cells = {}
for c in (c for row in sf.iter_rows() for c in row if c.value is not None):
    v, b = sv[c.coordinate].value, c.border
    cells[c.coordinate] = {'v': float(v) if isinstance(v, (int, float)) else v,
        'f': c.value if isinstance(c.value, str) and c.value.startswith('=') else None,
        'font': c.font.name, 'bold': bool(c.font.b), 'fmt': c.number_format, 'top': b.top.style,
        'boxed': all(getattr(b, s).style == 'thin' for s in ('left', 'right', 'top', 'bottom'))}
dims = [(openpyxl.utils.get_column_letter(i), d) for d in sf.column_dimensions.values() for i in range(d.min, d.max + 1)]
ps = sf.page_setup
print(json.dumps({'cells': cells, 'merged': [str(r) for r in sf.merged_cells.ranges],
    'widths': {k: d.width for k, d in dims}, 'hidden': [k for k, d in dims if d.hidden],
    'orientation': ps.orientation, 'paper': str(ps.paperSize), 'fitW': ps.fitToWidth, 'fitH': ps.fitToHeight,
    'fitToPage': bool(sf.sheet_properties.pageSetUpPr and sf.sheet_properties.pageSetUpPr.fitToPage),
    'titles': sf.print_title_rows, 'gridlines': sf.sheet_view.showGridLines,
    'heights': {str(i): d.height for i, d in sf.row_dimensions.items() if d.height}}, ensure_ascii=False))
)PY";

/** The python3 that has openpyxl (Debian's own first); empty when none has it. */
const QString& python() {
    static const QString found = [] {
        for (const QString& p : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")})
            if (QProcess::execute(p, {QStringLiteral("-c"), QStringLiteral("import openpyxl")}) == 0) return p;
        return QString();
    }();
    return found;
}

std::string runReader(const fs::path& dir, const QStringList& args) {
    const fs::path script = dir / "reader.py";
    if (!fs::exists(script)) std::ofstream(script) << kReader;
    QProcess p;
    p.start(python(), QStringList{QString::fromStdString(script.string())} + args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        throw std::runtime_error("the python reader failed: " + p.readAllStandardError().toStdString());
    return p.readAllStandardOutput().toStdString();
}

std::string cellOf(int col, int row) {  // (1, 5) → "A5"
    std::string s;
    for (int n = col; n > 0; n = (n - 1) / 26) s.insert(s.begin(), char('A' + (n - 1) % 26));
    return s + std::to_string(row);
}
std::string cellOf(char col, int row) { return cellOf(col - 'A' + 1, row); }

/** What one reader makes of the sheet: numbers and texts by A1 reference. */
struct Reading {
    std::string who;
    std::map<std::string, double> values;
    std::map<std::string, std::string> texts;
    std::string text(const std::string& ref) const { return texts.count(ref) ? texts.at(ref) : std::string(); }
    /** The row (from `from` on) whose column `col` reads `label`; -1 when none. */
    int find(const std::string& label, int from, char col = 'C') const {
        for (int r = std::max(from, 1); r < 2000; ++r)
            if (text(cellOf(col, r)) == label) return r;
        return -1;
    }
};

/** The workbook as openpyxl reads it: the sheet's JSON and its stored values. */
struct Book {
    QJsonObject sheet;
    Reading stored{"stored values", {}, {}};
    QJsonObject cell(const std::string& ref) const {
        return sheet[QStringLiteral("cells")][QString::fromStdString(ref)].toObject();
    }
};

Book readBook(const fs::path& dir, const fs::path& book) {
    Book b;
    b.sheet = QJsonDocument::fromJson(QByteArray::fromStdString(
                                          runReader(dir, {QStringLiteral("read"), QString::fromStdString(book.string())})))
                  .object();
    const QJsonObject cells = b.sheet[QStringLiteral("cells")].toObject();
    for (auto it = cells.begin(); it != cells.end(); ++it) {
        const QJsonValue v = it.value()[QStringLiteral("v")];
        if (v.isDouble()) b.stored.values[it.key().toStdString()] = v.toDouble();
        else if (v.isString()) b.stored.texts[it.key().toStdString()] = v.toString().toStdString();
    }
    return b;
}

/** Gnumeric's CSV: numbers as their cells show them ("1,709.36"). */
Reading recalculated(const std::string& who, const std::vector<QStringList>& rows) {
    Reading r{who, {}, {}};
    for (size_t i = 0; i < rows.size(); ++i)
        for (int c = 0; c < rows[i].size(); ++c) {
            const QString s = QString(rows[i][c]).remove(QLatin1Char(','));
            bool ok = false;
            const double v = s.toDouble(&ok);
            if (ok) r.values[cellOf(c + 1, int(i) + 1)] = v;
        }
    return r;
}

/* ------------------------------------------------------------------------------------- */
/*  Every amount of the computation and where the form holds it                          */
/* ------------------------------------------------------------------------------------- */

struct Expected {
    std::string where, ref;
    double value;
    bool labour;  // to seven decimals
};

std::vector<Expected> expectedAmounts(const Estimate& e, const Reading& stored) {
    std::vector<Expected> out;
    auto add = [&](const std::string& where, char col, int r, Money m) {
        out.push_back({where, r > 0 ? cellOf(col, r) : "", num(m), false});
    };
    auto labour = [&](const std::string& where, char col, int r, Dec7 d) {
        out.push_back({where, r > 0 ? cellOf(col, r) : "", double(d.units()) / 1e7, true});
    };
    int from = 1;
    for (size_t i = 0; i < e.result.positions.size(); ++i) {
        const PositionResult& p = e.result.positions[i];
        const std::string n = std::to_string(p.number);
        const int at = stored.find(e.rows[p.row].name, from);
        const int end = stored.find("Всего по позиции", at);
        // the line of `label` within the position, when the position has that element
        auto line = [&](const std::string& label, bool has = true) {
            const int r = has ? stored.find(label, at) : 0;
            return has && (r < 0 || r > end) ? -1 : r;
        };
        labour(n + " Q", 'G', at, p.quantity);
        if (p.kind == PositionResult::Kind::Standalone) add(n + " amount", 'J', at, p.base.m);
        Money priced;
        for (const auto& m : p.materials) priced += m.amount;
        struct Element { std::string label; bool has; Money base, current; bool indexed; } elements[] = {
            {"ОТ", !p.ot1.isZero(), p.base.ot, p.current.ot, true},
            {"ЭМ", !p.em1.isZero(), p.base.em, {}, false},
            {"в т.ч. ОТм", !p.otm1.isZero(), p.base.otm, p.current.otm, true},
            {"М", !p.m1.isZero() && p.kind == PositionResult::Kind::Rate, p.base.m - priced, {}, false},
            {"Итого по расценке", p.kind == PositionResult::Kind::Rate, p.base.pz - priced, {}, false},
            {"ФОТ", p.kind == PositionResult::Kind::Rate, p.base.fot, p.current.fot, true},
            {"НР (" + e.chargeTitles[i] + ")", !p.nrRow.empty(), p.base.nr, p.current.nr, true},
            {"СП (" + e.chargeTitles[i] + ")", !p.spRow.empty(), p.base.sp, p.current.sp, true},
        };
        for (const Element& x : elements) {
            const int r = line(x.label, x.has);
            if (r == 0) continue;
            add(n + " " + x.label, 'J', r, x.base);
            if (x.indexed) add(n + " " + x.label + " current", 'L', r, x.current);
        }
        if (int r = line("ЗТ", !p.zt1.isZero()); r != 0) labour(n + " ЗТ", 'G', r, p.base.zt);
        if (int r = line("ЗТм", !p.ztm1.isZero()); r != 0) labour(n + " ЗТм", 'G', r, p.base.ztm);
        if (int r = line("НР (" + e.chargeTitles[i] + ")", !p.nrRow.empty()); r != 0) labour(n + " НР %", 'G', r, p.nrPercent);
        int k = 0;
        for (const auto& m : p.materials) {
            const int r = line(e.rows[m.row].name);
            labour(n + " material", 'G', r, m.quantity);
            if (!m.priced) continue;
            EXPECT_EQ(stored.text(cellOf('A', r)), n + "." + std::to_string(++k));
            add(n + "." + std::to_string(k), 'J', r, m.amount);
        }
        add(n + " Всего по позиции", 'J', end, p.base.total);
        from = end + 1;
    }
    // the section, the types of work, the estimate
    add("Итого по Разделу 1", 'J', stored.find("Итого по Разделу 1", from), e.result.total.base.total);
    add("Итого по Разделу 1 current", 'L', stored.find("Итого по Разделу 1", from), e.result.total.current.total);
    const char* headings[] = {"ВСЕГО строительные работы", "ВСЕГО монтажные работы", "ВСЕГО пусконаладочные работы",
                              "ВСЕГО оборудование", "ВСЕГО прочие затраты"};
    int last = stored.find("ИТОГИ ПО СМЕТЕ:", from);
    // the lines below `h` up to the total captioned `heading`
    auto block = [&](int h, const std::string& heading, const model::Elements& b, const model::Elements& c, const char* m) {
        const std::tuple<const char*, Money, Money> rows[] = {
            {"Всего прямые затраты", b.pz, c.pz}, {"в том числе: оплата труда (ОТ)", b.ot, c.ot},
            {"эксплуатация машин и механизмов", b.em, c.em}, {"в том числе: оплата труда машинистов (ОТм)", b.otm, c.otm},
            {m, b.m, c.m}, {"Всего ФОТ (справочно)", b.fot, c.fot}, {"Всего накладные расходы", b.nr, c.nr},
            {"Всего сметная прибыль", b.sp, c.sp}, {heading.c_str(), b.total, c.total}};
        for (const auto& [label, base, current] : rows) {
            const int r = stored.find(label, h + 1);
            add(heading + ": " + label, 'J', r, base);
            add(heading + ": " + label + " current", 'L', r, current);
        }
        last = stored.find(heading, h + 1);
    };
    for (const model::WorkTypeTotals& t : e.result.workTypes) {
        const bool eq = t.type == WorkType::Equipment;
        block(stored.find(headings[int(t.type)], last), headings[int(t.type)], t.base, t.current,
              eq ? "оборудование" : "материальные ресурсы");
        labour(std::string(headings[int(t.type)]) + " index", 'K', stored.find(eq ? "оборудование" : "эксплуатация машин и механизмов", last - 8),
               eq ? *t.indexM : *t.indexEm);
    }
    block(last, "ВСЕГО по смете", e.result.total.base, e.result.total.current, "материальные ресурсы и оборудование");
    labour("затраты труда рабочих", 'J', stored.find("затраты труда рабочих, чел.-ч", last), e.result.total.base.zt);
    labour("затраты труда машинистов", 'J', stored.find("затраты труда машинистов, чел.-ч", last), e.result.total.base.ztm);
    return out;
}

void expectAmounts(const Reading& r, const std::vector<Expected>& expected) {
    for (const Expected& x : expected) {
        ASSERT_FALSE(x.ref.empty()) << r.who << ": no line for " << x.where;
        const auto v = r.values.find(x.ref);
        ASSERT_NE(v, r.values.end()) << r.who << ": " << x.where << " (" << x.ref << ") holds no number";
        if (x.labour) {
            EXPECT_NEAR(v->second, x.value, 5e-8) << r.who << ": " << x.where << " (" << x.ref << ")";
        } else {
            EXPECT_EQ(std::llround(v->second * 100), std::llround(x.value * 100))
                << r.who << ": " << x.where << " (" << x.ref << ") " << v->second;
        }
    }
}

/* ------------------------------------------------------------------------------------- */
/*  The hand-worked estimate's form                                                      */
/* ------------------------------------------------------------------------------------- */

/** The process's locale (as the program sets it from the environment) for the object's life. */
class ProcessLocale {
public:
    explicit ProcessLocale(const char* name) : old_(std::setlocale(LC_ALL, nullptr)) {
        set_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ProcessLocale() { std::setlocale(LC_ALL, old_.c_str()); }
    bool set() const { return set_; }

private:
    std::string old_;
    bool set_ = false;
};

class LsrForm : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir("talvira-lsr");
        makeEstimateTable(dir_->path());
        estimate_ = new Estimate(computed(dir_->path() / "Дом.db", sideData("008.0")));
        {
            // written as the program writes it: in the user's locale, a decimal comma where it is there
            const ProcessLocale comma("ru_RU.UTF-8");
            underComma_ = comma.set();
            path_ = new fs::path(lsr::exportLsrToFile(estimate_->input(), lsr::lsrPathFor("Дом", dir_->path()), true));
        }
        if (!python().isEmpty()) book_ = new Book(readBook(dir_->path(), *path_));
    }
    static void TearDownTestSuite() {
        delete book_, delete path_, delete estimate_, delete dir_;
        book_ = nullptr;
    }
    void SetUp() override {
        if (!book_) GTEST_SKIP() << "python3-openpyxl is not installed";
    }
    static inline TempDir* dir_ = nullptr;
    static inline Estimate* estimate_ = nullptr;
    static inline fs::path* path_ = nullptr;
    static inline Book* book_ = nullptr;
    static inline bool underComma_ = false;
};

TEST_F(LsrForm, EveryAmountIsTheComputationsStoredAndRecalculated) {
    EXPECT_EQ(path_->filename().string(), "Дом ЛСР.xlsx");
    const Reading& stored = book_->stored;
    const std::vector<Expected> expected = expectedAmounts(*estimate_, stored);
    EXPECT_GT(expected.size(), 120u);
    expectAmounts(stored, expected);
    // the worked position, by hand (with the repair factors): НР r(34.48 × 110 × 0.9 / 100) …
    const PositionResult& worked = estimate_->result.positions.front();
    const std::pair<Money, const char*> byHand[] = {{worked.base.ot, "32.74"},  {worked.current.ot, "1709.36"},
                                                   {worked.base.nr, "34.14"},  {worked.current.nr, "1782.21"},
                                                   {worked.base.sp, "20.22"},  {worked.base.total, "312.75"}};
    for (const auto& [amount, text] : byHand) EXPECT_EQ(amount, rub(text)) << text;
    // the header, in thousands: current (base)
    const model::BaseIndexResult& r = estimate_->result;
    auto type = [&](WorkType t) { return *std::find_if(r.workTypes.begin(), r.workTypes.end(), [&](auto& w) { return w.type == t; }); };
    const int head = stored.find("Сметная стоимость", 1, 'A');
    const std::tuple<int, char, double> heads[] = {
        {0, 'D', num(r.total.current.total) / 1000},
        {0, 'E', num(r.total.base.total) / 1000},
        {0, 'J', num(r.total.current.ot) / 1000},
        {1, 'J', double(r.total.base.zt.units()) / 1e7},
        {2, 'D', num(type(WorkType::Construction).current.total) / 1000},
        {3, 'E', num(type(WorkType::Mounting).base.total) / 1000},
        {4, 'D', num(type(WorkType::Equipment).current.total) / 1000},
        {5, 'E', 0.0}};
    for (const auto& [line, col, value] : heads)
        EXPECT_NEAR(stored.values.at(cellOf(col, head + line)), value, 1e-9) << col << head + line;

    // recalculated from a copy that stores 0 for every formula
    const fs::path zeroed = dir_->path() / "zeroed.xlsx";
    runReader(dir_->path(), {QStringLiteral("zero"), QString::fromStdString(path_->string()),
                             QString::fromStdString(zeroed.string())});
    QString error;
    const auto lo = e2e::readWithLibreOffice(QString::fromStdString(zeroed.string()),
                                             QString::fromStdString((dir_->path() / "lo").string()), &error);
    ASSERT_TRUE(lo && !lo->empty()) << error.toStdString();
    Reading office{"LibreOffice", {}, {}};
    for (const auto& [at, cell] : lo->front().cells)
        if (cell.type == QLatin1String("float")) office.values[cellOf(at.second, at.first)] = cell.value;
    expectAmounts(office, expected);
    const auto gn = e2e::recalcWithGnumeric(QString::fromStdString(zeroed.string()),
                                            QString::fromStdString((dir_->path() / "gn").string()), &error);
    ASSERT_TRUE(gn) << error.toStdString();
    expectAmounts(recalculated("Gnumeric", *gn), expected);
}

TEST_F(LsrForm, FormulasAreLiveWhereTheFormComputes) {
    const Reading& s = book_->stored;
    const int p1 = s.find("Устройство из бутового камня фундаментов: ленточных", 1);
    const int p2 = s.find("Устройство бетонной подготовки", 1);
    const int mounting = s.find("ВСЕГО монтажные работы", p1);
    // (from, label in C, column, the formula with its row numbers as #)
    const std::tuple<int, const char*, char, const char*> cases[] = {
        {p1, "ОТ", 'J', "=ROUND(G#*H#,2)"},
        {p1, "ОТ", 'L', "=ROUND(J#*K#,2)"},
        {p2, "ОТ", 'J', "=ROUND(G#*H#*I#,2)"},
        // ЭМ × 1.2, ОТМ × 1, and the machinists' extra pay: ОТ × 1.15 exceeds ОТМ × 1 by 0.15
        {p2, "ЭМ", 'J', "=ROUND(G#*((H#-H#)*I#+H#),2)+ROUND(G#*H#*0.15,2)"},
        {p2, "ЗТ", 'G', "=ROUND(E#*F#*G#,7)"},
        {p2, "Смеси бетонные тяжелого бетона", 'G', "=ROUND(E#*G#,7)"},
        {p1, "НР (Конструкции из кирпича и блоков)", 'L', "=ROUND(L#*G#/100,2)"},  // of ФОТ in current prices
        {p1, "Итого ФОТ", 'J', "=ROUND(SUMIF($M$#:$M$#,\"ФОТ\",J#:J#),2)"},
        {mounting, "в том числе: оплата труда (ОТ)", 'J', "=ROUND(SUMIFS(J#:J#,$M$#:$M$#,\"ОТ\",$N$#:$N$#,2),2)"},
        {mounting, "эксплуатация машин и механизмов", 'L', "=ROUND(J#*K#,2)"},
        {mounting + 1, "ВСЕГО монтажные работы", 'J', "=ROUND(J#+J#+J#,2)"},
    };
    for (const auto& [from, label, col, shape] : cases) {
        const int r = s.find(label, from);
        std::string f = book_->cell(cellOf(col, r))[QStringLiteral("f")].toString().toStdString();
        for (size_t i = 0; i < f.size(); ++i)  // row numbers after a column's letters
            if (std::isdigit(static_cast<unsigned char>(f[i])) && i > 0 && (std::isupper(f[i - 1]) || f[i - 1] == '$'))
                f.replace(i, std::strspn(f.c_str() + i, "0123456789"), "#");
        EXPECT_EQ(f, shape) << label;
    }
}

TEST_F(LsrForm, LayoutIsTheForms) {
    const QJsonObject& s = book_->sheet;
    const Reading& r = book_->stored;
    EXPECT_EQ(s[QStringLiteral("orientation")].toString(), QStringLiteral("landscape"));
    EXPECT_EQ(s[QStringLiteral("paper")].toString(), QStringLiteral("9"));  // A4
    EXPECT_EQ(s[QStringLiteral("fitW")].toInt(1), 1);                      // 1 is the file format's default
    EXPECT_EQ(s[QStringLiteral("fitH")].toInt(), 0);
    EXPECT_TRUE(s[QStringLiteral("fitToPage")].toBool());
    EXPECT_FALSE(s[QStringLiteral("gridlines")].toBool());
    EXPECT_EQ(s[QStringLiteral("hidden")].toArray(), (QJsonArray{QStringLiteral("M"), QStringLiteral("N")}));
    const QJsonObject widths = s[QStringLiteral("widths")].toObject();
    EXPECT_NEAR(widths[QStringLiteral("C")].toDouble() / widths[QStringLiteral("A")].toDouble(), 450.0 / 56, 0.6);

    // the head: three rows repeated on every page, boxed, numbered 1…12, the groups merged
    const int head = r.find("№ п/п", 1, 'A');
    const std::string h = std::to_string(head), h2 = std::to_string(head + 1);
    EXPECT_EQ(s[QStringLiteral("titles")].toString().toStdString(), "$" + h + ":$" + std::to_string(head + 2));
    for (int c = 1; c <= 12; ++c) {
        EXPECT_EQ(r.values.at(cellOf(c, head + 2)), c);
        EXPECT_TRUE(book_->cell(cellOf(c, head + 2))[QStringLiteral("boxed")].toBool()) << c;
    }
    for (const std::string& range : {"A" + h + ":A" + h2, "E" + h + ":G" + h, "H" + h + ":J" + h, "L" + h + ":L" + h2})
        EXPECT_TRUE(s[QStringLiteral("merged")].toArray().contains(QString::fromStdString(range))) << range;
    const QJsonObject cells = s[QStringLiteral("cells")].toObject();
    for (auto it = cells.begin(); it != cells.end(); ++it) {
        if (it.key() >= QLatin1String("M")) continue;  // the hidden keys
        EXPECT_EQ(it.value()[QStringLiteral("font")].toString(), QStringLiteral("Times New Roman")) << it.key().toStdString();
    }
    EXPECT_TRUE(book_->cell(cellOf('A', r.find("ЛОКАЛЬНЫЙ СМЕТНЫЙ РАСЧЕТ (СМЕТА) № 02-01-01", 1, 'A')))[QStringLiteral("bold")].toBool());

    // (label, column, number format, top border) in the second position
    const int p2 = r.find("Устройство бетонной подготовки", 1);
    const std::string nr = "НР (" + estimate_->chargeTitles[1] + ")";
    const std::tuple<std::string, char, const char*, bool> lines[] = {
        {"Итого по расценке", 'J', "#,##0.00", true}, {"Итого по расценке", 'C', "General", true},
        {"Всего по позиции", 'J', "#,##0.00", true},  {"ОТ", 'J', "#,##0.00", false},
        {"ОТ", 'I', "General", false},                 {nr, 'F', "General", false},
        {nr, 'E', "#,##0.00#####", false},
    };
    for (const auto& [label, col, format, top] : lines) {
        const QJsonObject c = book_->cell(cellOf(col, r.find(label, p2)));
        EXPECT_EQ(c[QStringLiteral("fmt")].toString().toStdString(), format) << label << col;
        EXPECT_EQ(c[QStringLiteral("top")].toString() == QStringLiteral("thin"), top) << label << col;
    }
    EXPECT_EQ(r.values.at(cellOf('I', r.find("ОТ", p2))), 1.15);  // coefficients as they are

    // Regression: a long name overprinted the next row; its row is as tall as its lines.
    const QJsonObject heights = s[QStringLiteral("heights")].toObject();
    EXPECT_GE(heights[QString::number(r.find(kLongName, 1))].toDouble(), 3 * 13.0);
    EXPECT_EQ(heights[QString::number(p2)].toDouble(), 0.0);  // a short one keeps the sheet's own height
    EXPECT_EQ(r.values.at(cellOf('F', r.find(nr, p2))), 0.9);

    // the header block and the signatures: (label in A or B, column, text)
    const std::tuple<const char*, char, char, const char*> texts[] = {
        {"Наименование программного продукта", 'A', 'D', "Тальвира 1.0"},
        {"Наименование редакции сметных нормативов", 'A', 'D', "ФСНБ-2020"},
        {"Реквизиты приказа Минстроя России об утверждении дополнений и изменений к сметным нормативам", 'A', 'D', "172/пр; 557/пр"},
        {"Наименование субъекта Российской Федерации", 'A', 'D', "Московская область"},
        {"Составлен(а) в текущем (базисном) уровне цен", 'A', 'D', "II кв. 2025 (01.01.2000)"},
        {"Составил", 'B', 'C', ""},  // signed by hand: the title block names who agrees and approves
        {"Проверил", 'B', 'C', ""},
    };
    for (const auto& [label, in, col, value] : texts) EXPECT_EQ(r.text(cellOf(col, r.find(label, 1, in))), value) << label;
    // Regression: «Составил» and «Проверил» both read the title block's «Генеральный директор»;
    // the title block's signatories are printed where the form has them, each from its own texts.
    const int approvals = r.find("СОГЛАСОВАНО:", 1, 'A');
    ASSERT_GT(approvals, 0);
    EXPECT_EQ(r.text(cellOf('H', approvals)), "УТВЕРЖДАЮ:");
    EXPECT_EQ(r.text(cellOf('A', approvals + 1)), "Главный инженер Петров П. П.");  // the contractor agrees
    EXPECT_EQ(r.text(cellOf('H', approvals + 1)), "Генеральный директор Иванов И. И.");  // the customer approves
    for (const auto& [ref, text] : r.texts) EXPECT_EQ(text.find("НДС"), std::string::npos) << ref;
}

TEST_F(LsrForm, NumbersHaveAPointUnderACommaLocale) {
    // Regression: under ru_RU.UTF-8 every number of the sheet was written with a comma
    // (<v>32,74</v>, width="15,7109375"), which readers take for text or refuse.
    if (!underComma_) GTEST_SKIP() << "the locale ru_RU.UTF-8 is not installed";
    const std::string xml = runReader(dir_->path(), {QStringLiteral("xml"), QString::fromStdString(path_->string())});
    ASSERT_NE(xml.find("<v>32.74</v>"), std::string::npos);
    const std::regex comma(R"((<v>[^<]*,)|((width|ht|left|right|top|bottom|header|footer)="[^"]*,))");
    std::smatch m;
    EXPECT_FALSE(std::regex_search(xml, m, comma)) << m.str();
    // and the amounts read back are the computation's (EveryAmountIsTheComputationsStoredAndRecalculated)
}

TEST(LsrFormFile, FailuresLeaveNothingAndSayWhy) {
    TempDir dir("talvira-lsr-fail");
    Estimate e;
    // (target, the reason the message gives): a missing folder, a full disk
    const std::pair<fs::path, const char*> cases[] = {{dir / "нет такой папки" / "Дом ЛСР.xlsx", "папка не существует"},
                                                      {"/dev/full", "на диске нет места"}};
    for (const auto& [target, why] : cases) {
        try {
            if (target == "/dev/full") lsr::writeLsrWorkbook(e.input(), target);
            else lsr::exportLsrToFile(e.input(), target, true);
            ADD_FAILURE() << target;
        } catch (const Error& err) {
            EXPECT_NE(std::string(err.what()).find(why), std::string::npos) << err.what();
        }
    }
    EXPECT_TRUE(directoryBytes(dir.path()).empty());
    // a name taken is kept: the next one is used
    const fs::path first = lsr::exportLsrToFile(e.input(), lsr::lsrPathFor("Дом/Кровля", dir.path()), true);
    const fs::path second = lsr::exportLsrToFile(e.input(), lsr::lsrPathFor("Дом/Кровля", dir.path()), true);
    EXPECT_EQ(first.filename().string(), "Дом_Кровля ЛСР.xlsx");
    EXPECT_EQ(second.filename().string(), "Дом_Кровля ЛСР (2).xlsx");
    // an estimate without positions gives the empty form; what a killed export of it left is gone
    const fs::path killed = dir / (".Пусто ЛСР.xlsx.part-" + std::to_string(::getpid()) + "-999999");
    std::ofstream(killed).put('x');
    EXPECT_GT(fs::file_size(lsr::exportLsrToFile(Estimate{}.input(), dir / "Пусто ЛСР.xlsx", false)), 1000u);
    EXPECT_FALSE(fs::exists(killed));
}

TEST(LsrFormFile, ProgressRunsToTheEndAndAStopAtAnyStepLeavesNothing) {
    TempDir dir("talvira-lsr-stop");
    const Estimate e;
    std::vector<std::pair<size_t, size_t>> steps;
    lsr::exportLsrToFile(e.input(), dir / "Дом ЛСР.xlsx", false, [&](size_t done, size_t total) {
        steps.emplace_back(done, total);
        return true;
    });
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps.front().first, 0u);
    EXPECT_EQ(steps.back().first, steps.back().second);
    for (size_t i = 1; i < steps.size(); ++i) EXPECT_LE(steps[i - 1].first, steps[i].first);
    // the last step comes after the file is complete, before it gets its name
    for (size_t stopAt = 0; stopAt < steps.size(); ++stopAt) {
        size_t n = 0;
        EXPECT_THROW(lsr::exportLsrToFile(e.input(), dir / "Кровля ЛСР.xlsx", false,
                                          [&](size_t, size_t) { return n++ < stopAt; }),
                     sheet::WriteStopped)
            << stopAt;
    }
    std::vector<std::string> left;
    for (const auto& f : fs::directory_iterator(dir.path())) left.push_back(f.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"Дом ЛСР.xlsx"});
}

/* ------------------------------------------------------------------------------------- */
/*  A real estimate table through talvira-cli                                            */
/* ------------------------------------------------------------------------------------- */

TEST(LsrFormCli, WritesTheEstimatesOwnComputation) {
    if (python().isEmpty()) GTEST_SKIP() << "python3-openpyxl is not installed";
    TempDir dir("talvira-lsr-cli");
    makeEstimateTable(dir.path());
    const fs::path table = dir / "Дом.db";
    const fs::path out = dir / "Дом ЛСР.xlsx";
    const cli::Args args{table.string(), "--form", "lsr", "--out", out.string()};

    // (calc data, what the command says); nothing is written when it refuses
    struct Refused { std::optional<editing::KeptCalc> calc; const char* says; } refused[] = {
        {std::nullopt, editing::kNeedsBaseIndexMethod},                                 // an estimate by the template
        {sideData(""), "Позиция 1"},                                              // no НР/СП row for wages
    };
    for (const Refused& r : refused) {
        if (r.calc) editing::saveKeptCalc(table, *r.calc);
        try {
            cli::exportCommand(args);
            ADD_FAILURE() << r.says;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(r.says), std::string::npos) << e.what();
        }
        EXPECT_FALSE(fs::exists(out));
    }

    const editing::KeptCalc calc = sideData("008.0");
    editing::saveKeptCalc(table, calc);
    ASSERT_EQ(cli::exportCommand(args), 0);
    const Estimate e = computed(table, calc);
    ASSERT_TRUE(e.result.problems.empty()) << e.result.problems.front().message;
    const Book b = readBook(dir.path(), out);
    const std::vector<Expected> expected = expectedAmounts(e, b.stored);
    EXPECT_GT(expected.size(), 60u);
    expectAmounts(b.stored, expected);
    EXPECT_EQ(b.stored.text(cellOf('B', b.stored.find("НР (" + e.chargeTitles[0] + ")", 1))), "Пр/812-008.0-1");

    // the same amounts as `estimate totals --json` prints them
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(model::toJson(e.result, e.rows))).object();
    const QJsonObject total = json[QStringLiteral("total")].toObject();
    const int all = b.stored.find("ВСЕГО по смете", 1);
    struct Line { std::string ref; QJsonValue value; } lines[] = {
        {cellOf('J', all), total[QStringLiteral("base")][QStringLiteral("total")]},
        {cellOf('L', all), total[QStringLiteral("current")][QStringLiteral("total")]},
        {cellOf('J', b.stored.find("Всего накладные расходы", all - 9)), total[QStringLiteral("base")][QStringLiteral("nr")]},
        {cellOf('L', b.stored.find("Всего сметная прибыль", all - 9)), total[QStringLiteral("current")][QStringLiteral("sp")]},
    };
    for (const Line& l : lines) {
        ASSERT_TRUE(l.value.isDouble()) << l.ref;
        EXPECT_EQ(std::llround(b.stored.values.at(l.ref) * 100), std::llround(l.value.toDouble() * 100)) << l.ref;
    }
}

}  // namespace
}  // namespace talvira::test
