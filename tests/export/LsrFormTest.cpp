// The official form written for a hand-worked estimate (the worked ФЕР position, a rate with
// coefficients on ОТ and ЭМ apart from ОТМ, the repair factors, a priced and an unpriced material
// of that rate, a material of its own, a mounting rate, equipment) and read back by an
// independent reader (python3-openpyxl): the values stored for every formula, and the values
// LibreOffice and Gnumeric recalculate from a copy whose stored values were all set to 0, equal
// the computation to the kopeck; the layout (fonts, borders, head, widths, print settings) is
// the form's. Amounts of the case were worked by hand (exact decimals, half up).
#include "export/LsrForm.h"

#include "common/Error.h"
#include "editing/EstimateRows.h"
#include "editing/EstimateSide.h"
#include "editing/LsrExport.h"
#include "estimate/EstimateFile.h"
#include "tools/CliShared.h"
#include "tools/Commands.h"
#include "tests/e2e/Workbook.h"
#include "tests/support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using model::Dec7;
using model::Money;
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
    const int64_t units = whole * Dec7::kScale + frac;
    return Dec7::fromUnits(neg ? -units : units);
}
Money rub(std::string_view s) { return Money::fromKopecks(dec(s).units() / 100'000); }

/** Elements from "ot=32.74 em=10.46 …" (zt, ztm as labour). */
model::Elements elements(const std::string& spec) {
    model::Elements e;
    std::istringstream in(spec);
    std::string item;
    const std::map<std::string, Money model::Elements::*> money = {
        {"ot", &model::Elements::ot}, {"em", &model::Elements::em}, {"otm", &model::Elements::otm},
        {"m", &model::Elements::m},   {"pz", &model::Elements::pz}, {"fot", &model::Elements::fot},
        {"nr", &model::Elements::nr}, {"sp", &model::Elements::sp}, {"total", &model::Elements::total}};
    while (in >> item) {
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq), value = item.substr(eq + 1);
        if (key == "zt") e.zt = dec(value);
        else if (key == "ztm") e.ztm = dec(value);
        else e.*money.at(key) = rub(value);
    }
    return e;
}

model::PositionRow row(int32_t count, const char* code, const char* name, const char* unit) {
    model::PositionRow r;
    r.count = count;
    r.code = code;
    r.name = name;
    r.unit = unit;
    return r;
}

struct Estimate {
    std::vector<model::PositionRow> rows;
    model::EstimateTexts texts = model::EstimateTexts::defaults(',');
    model::EstimateParams params;
    model::Local421 result;
    lsr::FormFacts facts;
    std::vector<std::string> chargeTitles;
    lsr::FormInput input() const { return {rows, texts, params, result, facts, chargeTitles}; }
};

PositionResult rate(size_t at, int32_t n, WorkType t, const char* q, const char* perUnit) {
    PositionResult p;
    p.row = at;
    p.number = n;
    p.workType = t;
    p.quantity = dec(q);
    const model::Elements u = elements(perUnit);
    p.ot1 = u.ot, p.em1 = u.em, p.otm1 = u.otm, p.m1 = u.m, p.pz1 = u.ot + u.em + u.m;
    p.zt1 = u.zt, p.ztm1 = u.ztm;
    p.kOt = p.kEm = p.kOtm = p.kM = p.kZt = p.kZtm = Dec7::fromInt(1);
    p.nrFactor = p.spFactor = Dec7::fromInt(1);
    return p;
}

Estimate handWorked() {
    Estimate e;
    e.rows = {row(1, "ФЕР08-01-001-01", "Устройство из бутового камня фундаментов: ленточных", "м3"),
              row(2, "ФЕР06-01-001-01", "Устройство бетонной подготовки", "100 м3"),
              row(3, "04.1.02.05-0006", "Смеси бетонные тяжелого бетона", "м3"),
              row(4, "01.7.15.03-0042", "Болты с гайками и шайбами строительные", "т"),
              row(5, "ФССЦ-01.7.15.03-0042", "Болты анкерные", "т"),
              row(6, "ФЕРм08-02-001-01", "Монтаж щитков осветительных", "шт"),
              row(7, "ФССЦ-62.1.01.01-0001", "Вентилятор радиальный", "шт")};
    e.texts.contractorName = "Петров П. П.";
    e.texts.approverName = "Иванов И. И.";
    e.params.method = model::Method::BaseIndex421;
    e.params.region = "Московская область";
    e.params.level = "II кв. 2025";
    e.params.baseLevel = "01.01.2000";
    e.params.letter = "письмо Минстроя России от 01.04.2025 № 12345-ИФ/09";
    e.params.indexOt = dec("52.21");
    e.params.indexEm = dec("16.64");
    e.params.indexM = dec("8.49");
    e.params.indexEq = dec("5.5");
    e.facts = {"Тальвира 1.0", "ФСНБ-2020", {"172/пр", "557/пр"}, "02-01-01", "Фундаменты", "Школа", "Корпус 1",
               "ведомость объемов работ № 1"};

    // 1: the worked position
    PositionResult p1 = rate(0, 1, WorkType::Construction, "1", "ot=32.74 em=10.46 otm=1.74 m=215.19 zt=3.94 ztm=0.15");
    p1.nrRow = p1.spRow = "008.0";
    p1.nrRef = "Пр/812-008.0-1", p1.spRef = "Пр/774-008.0";
    p1.nrNorm = p1.nrPercent = dec("110");
    p1.spNorm = p1.spPercent = dec("69");
    p1.base = elements("ot=32.74 em=10.46 otm=1.74 m=215.19 pz=258.39 fot=34.48 nr=37.93 sp=23.79 total=320.11 "
                       "zt=3.94 ztm=0.15");
    p1.current = elements("ot=1709.36 otm=90.85 fot=1800.21 nr=1980.23 sp=1242.14");
    // 2: ОТ+ЗТ × 1.15, ЭМ × 1.2 (ОТМ not), НР × 0.9, СП × 0.85; a priced and an unpriced material
    PositionResult p2 = rate(1, 2, WorkType::Construction, "2.5", "ot=45.67 em=20.10 otm=3.33 m=100.01 zt=5.2 ztm=0.26");
    p2.kOt = p2.kZt = dec("1.15");
    p2.kEm = dec("1.2");
    p2.nrRow = p2.spRow = "006.0";
    p2.nrRef = "Пр/812-006.0-1", p2.spRef = "Пр/774-006.0";
    p2.nrNorm = dec("112"), p2.nrFactor = dec("0.9"), p2.nrPercent = dec("100.8");
    p2.spNorm = dec("65"), p2.spFactor = dec("0.85"), p2.spPercent = dec("55.25");
    p2.materials = {{2, dec("1.02"), dec("2.55"), rub("512.37"), rub("1306.54"), true},
                    {3, dec("0.5"), dec("1.25"), Money{}, Money{}, false}};
    p2.base = elements("ot=131.30 em=58.64 otm=8.33 m=1556.57 pz=1746.51 fot=139.63 nr=140.75 sp=77.15 total=1964.41 "
                       "zt=14.95 ztm=0.65");
    p2.current = elements("ot=6855.17 otm=434.91 fot=7290.08 nr=7348.40 sp=4027.77");
    // 5: a material of its own
    PositionResult p5 = rate(4, 5, WorkType::Construction, "0.015", "m=12345.67");
    p5.kind = PositionResult::Kind::Standalone;
    p5.base = elements("m=185.19 pz=185.19 total=185.19");
    // 6: a mounting rate
    PositionResult p6 = rate(5, 6, WorkType::Mounting, "3", "ot=10 em=2.50 otm=0.50 m=1.05 zt=1.1 ztm=0.05");
    p6.nrRow = p6.spRow = "033.0";
    p6.nrRef = "Пр/812-033.0-1", p6.spRef = "Пр/774-033.0";
    p6.nrNorm = p6.nrPercent = dec("95");
    p6.spNorm = p6.spPercent = dec("65");
    p6.base = elements("ot=30 em=7.50 otm=1.50 m=3.15 pz=40.65 fot=31.50 nr=29.93 sp=20.48 total=91.06 zt=3.3 ztm=0.15");
    p6.current = elements("ot=1566.30 otm=78.32 fot=1644.62 nr=1562.39 sp=1069.00");
    // 7: equipment
    PositionResult p7 = rate(6, 7, WorkType::Equipment, "2", "m=15000");
    p7.kind = PositionResult::Kind::Standalone;
    p7.base = elements("m=30000 pz=30000 total=30000");
    e.result.positions = {p1, p2, p5, p6, p7};
    e.chargeTitles = {"Конструкции из кирпича и блоков", "Бетонные и железобетонные конструкции монолитные", {},
                      "Электротехнические установки", {}};

    model::WorkTypeTotals c{WorkType::Construction,
                            elements("ot=164.04 em=69.10 otm=10.07 m=1956.95 pz=2190.09 fot=174.11 nr=178.68 sp=100.94 "
                                     "total=2469.71 zt=18.89 ztm=0.80"),
                            elements("ot=8564.53 em=1149.82 otm=525.76 m=16614.51 pz=26328.86 fot=9090.29 nr=9328.63 "
                                     "sp=5269.91 total=40927.40"),
                            dec("52.21"), dec("16.64"), dec("8.49")};
    model::WorkTypeTotals m{WorkType::Mounting,
                            elements("ot=30 em=7.50 otm=1.50 m=3.15 pz=40.65 fot=31.50 nr=29.93 sp=20.48 total=91.06 "
                                     "zt=3.3 ztm=0.15"),
                            elements("ot=1566.30 em=124.80 otm=78.32 m=26.74 pz=1717.84 fot=1644.62 nr=1562.39 "
                                     "sp=1069.00 total=4349.23"),
                            dec("52.21"), dec("16.64"), dec("8.49")};
    model::WorkTypeTotals q{WorkType::Equipment, elements("m=30000 pz=30000 total=30000"),
                            elements("m=165000 pz=165000 total=165000"), dec("52.21"), dec("16.64"), dec("5.5")};
    e.result.workTypes = {c, m, q};
    e.result.total.base = elements("ot=194.04 em=76.60 otm=11.57 m=31960.10 pz=32230.74 fot=205.61 nr=208.61 "
                                   "sp=121.42 total=32560.77 zt=22.19 ztm=0.95");
    e.result.total.current = elements("ot=10130.83 em=1274.62 otm=604.08 m=181641.25 pz=193046.70 fot=10734.91 "
                                      "nr=10891.02 sp=6338.91 total=210276.63");
    return e;
}

/* ------------------------------------------------------------------------------------- */
/*  Readers                                                                              */
/* ------------------------------------------------------------------------------------- */

/** The reader and the copy without stored values, in python3 with openpyxl (and zipfile). */
constexpr const char* kReader = R"PY(
import json, re, sys, zipfile
if sys.argv[1] == 'zero':
    with zipfile.ZipFile(sys.argv[2]) as zi, zipfile.ZipFile(sys.argv[3], 'w', zipfile.ZIP_DEFLATED) as zo:
        for item in zi.infolist():
            data = zi.read(item.filename)
            if item.filename.startswith('xl/worksheets/'):
                data = re.sub(rb'(<f>[^<]*</f>)<v>[^<]*</v>', rb'\1<v>0</v>', data)
            zo.writestr(item, data)
    sys.exit(0)
import openpyxl
path = sys.argv[2]
sf = openpyxl.load_workbook(path).active
sv = openpyxl.load_workbook(path, data_only=True).active
cells = {}
for row in sf.iter_rows():
    for c in row:
        if c.value is None:
            continue
        v = sv[c.coordinate].value
        b = c.border
        cells[c.coordinate] = {
            'v': float(v) if isinstance(v, (int, float)) else v,
            'f': c.value if isinstance(c.value, str) and c.value.startswith('=') else None,
            'font': c.font.name, 'size': float(c.font.sz or 0), 'bold': bool(c.font.b),
            'fmt': c.number_format, 'top': b.top.style,
            'boxed': all(getattr(b, s).style == 'thin' for s in ('left', 'right', 'top', 'bottom'))}
hidden = []
widths = {}
for k, d in sf.column_dimensions.items():
    for i in range(d.min, d.max + 1):
        letter = openpyxl.utils.get_column_letter(i)
        widths[letter] = d.width
        if d.hidden:
            hidden.append(letter)
ps = sf.page_setup
print(json.dumps({'cells': cells, 'merged': [str(r) for r in sf.merged_cells.ranges], 'widths': widths,
                  'hidden': hidden, 'orientation': ps.orientation, 'paper': str(ps.paperSize),
                  'fitW': ps.fitToWidth, 'fitH': ps.fitToHeight,
                  'fitToPage': bool(sf.sheet_properties.pageSetUpPr and sf.sheet_properties.pageSetUpPr.fitToPage),
                  'titles': sf.print_title_rows, 'gridlines': sf.sheet_view.showGridLines}, ensure_ascii=False))
)PY";

/** What one reader makes of the sheet: values and texts by A1 reference. */
struct Reading {
    std::string who;
    std::map<std::string, double> values;
    std::map<std::string, std::string> texts;
    std::optional<double> value(const std::string& ref) const {
        const auto it = values.find(ref);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    std::string text(const std::string& ref) const {
        const auto it = texts.find(ref);
        return it == texts.end() ? std::string() : it->second;
    }
};

/** The python3 that has openpyxl: Debian's own (python3-openpyxl), else the first on PATH; empty
 *  when none has it. */
const QString& python() {
    static const QString found = [] {
        for (const QString& p : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")})
            if (QProcess::execute(p, {QStringLiteral("-c"), QStringLiteral("import openpyxl")}) == 0) return p;
        return QString();
    }();
    return found;
}

/** python3 with the reader script; its standard output. */
std::string runReader(const fs::path& script, const QStringList& args) {
    QProcess p;
    p.start(python(), QStringList{QString::fromStdString(script.string())} + args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        throw std::runtime_error("the python reader failed: " + p.readAllStandardError().toStdString());
    return p.readAllStandardOutput().toStdString();
}

std::string colLetters(int c) {
    std::string s;
    for (int n = c; n > 0; n = (n - 1) / 26) s.insert(s.begin(), char('A' + (n - 1) % 26));
    return s;
}

/** LibreOffice told to recalculate every formula on load (its own setting for .xlsx). */
std::optional<std::vector<e2e::Sheet>> recalcWithLibreOffice(const fs::path& book, const fs::path& scratch,
                                                              QString* error) {
    const QString soffice = e2e::findSoffice();
    if (soffice.isEmpty()) {
        *error = QStringLiteral("soffice is not installed");
        return std::nullopt;
    }
    const fs::path user = scratch / "profile" / "user";
    fs::create_directories(user);
    std::ofstream(user / "registrymodifications.xcu")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
           "<item oor:path=\"/org.openoffice.Office.Calc/Formula/Load\"><prop oor:name=\"OOXMLRecalcMode\" "
           "oor:op=\"fuse\"><value>0</value></prop></item>\n"
           "</oor:items>\n";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    const QString out = QString::fromStdString(scratch.string());
    p.start(soffice, {QStringLiteral("--headless"), QStringLiteral("--norestore"),
                      QStringLiteral("-env:UserInstallation=") +
                          QUrl::fromLocalFile(QString::fromStdString((scratch / "profile").string())).toString(),
                      QStringLiteral("--convert-to"), QStringLiteral("fods"), QStringLiteral("--outdir"), out,
                      QString::fromStdString(book.string())});
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
        *error = QStringLiteral("soffice did not finish");
        return std::nullopt;
    }
    const QString fods = out + QLatin1Char('/') + QString::fromStdString(book.stem().string()) + QStringLiteral(".fods");
    if (!QFile::exists(fods)) {
        *error = QStringLiteral("soffice wrote no .fods: ") + QString::fromLocal8Bit(p.readAll());
        return std::nullopt;
    }
    return e2e::readFods(fods);
}

/** Gnumeric's recalculation, raw values as CSV. */
std::optional<std::vector<QStringList>> recalcWithGnumeric(const fs::path& book, const fs::path& scratch,
                                                           QString* error) {
    const QString ssconvert = QStandardPaths::findExecutable(QStringLiteral("ssconvert"));
    if (ssconvert.isEmpty()) {
        *error = QStringLiteral("ssconvert is not installed");
        return std::nullopt;
    }
    const QString out = QString::fromStdString((scratch / "gnumeric.txt").string());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(ssconvert, {QStringLiteral("--recalc"), QStringLiteral("-T"), QStringLiteral("Gnumeric_stf:stf_assistant"),
                        QStringLiteral("-O"), QStringLiteral("separator=, format=raw"),
                        QString::fromStdString(book.string()), out});
    if (!p.waitForFinished(120000) || p.exitCode() != 0 || !QFile::exists(out)) {
        *error = QStringLiteral("ssconvert failed: ") + QString::fromLocal8Bit(p.readAll());
        return std::nullopt;
    }
    QFile f(out);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    return e2e::parseCsv(QString::fromUtf8(f.readAll()));
}

/** Numbers of a CSV cell as Gnumeric writes them raw ("1709.36"); texts otherwise. */
Reading readingOf(const std::string& who, const std::vector<QStringList>& csv) {
    Reading r{who, {}, {}};
    for (size_t i = 0; i < csv.size(); ++i)
        for (int c = 0; c < csv[i].size(); ++c) {
            const QString& s = csv[i][c];
            if (s.isEmpty()) continue;
            const std::string ref = colLetters(c + 1) + std::to_string(i + 1);
            bool ok = false;
            const double v = s.toDouble(&ok);
            if (ok) r.values[ref] = v;
            else r.texts[ref] = s.toStdString();
        }
    return r;
}

Reading readingOf(const std::string& who, const e2e::Sheet& sheet) {
    Reading r{who, {}, {}};
    for (const auto& [at, cell] : sheet.cells) {
        const std::string ref = colLetters(at.second) + std::to_string(at.first);
        if (cell.type == QLatin1String("float")) r.values[ref] = cell.value;
        else if (!cell.text.isEmpty()) r.texts[ref] = cell.text.toStdString();
    }
    return r;
}

/** Rows of the sheet by their texts in A and C (1-based), for finding lines by label. */
struct Lines {
    std::map<int, std::string> a, c;
    int find(const std::string& label, int from, bool inA = false) const {
        const auto& col = inA ? a : c;
        for (auto it = col.lower_bound(from); it != col.end(); ++it)
            if (it->second == label) return it->first;
        return -1;
    }
};

/** The workbook as openpyxl reads it: the whole sheet, its stored values, its lines. */
struct Book {
    QJsonObject sheet;
    Reading cached;
    Lines lines;
};

Book readBook(const fs::path& script, const fs::path& book) {
    Book b;
    const std::string json = runReader(script, {QStringLiteral("read"), QString::fromStdString(book.string())});
    b.sheet = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    b.cached.who = "stored values";
    const QJsonObject cells = b.sheet[QStringLiteral("cells")].toObject();
    for (auto it = cells.begin(); it != cells.end(); ++it) {
        const QJsonValue v = it.value().toObject()[QStringLiteral("v")];
        if (v.isDouble()) b.cached.values[it.key().toStdString()] = v.toDouble();
        else if (v.isString()) b.cached.texts[it.key().toStdString()] = v.toString().toStdString();
    }
    for (const auto& [ref, text] : b.cached.texts) {
        if (!std::isdigit(static_cast<unsigned char>(ref[1]))) continue;  // one-letter columns only
        const int r = std::stoi(ref.substr(1));
        if (ref[0] == 'A') b.lines.a[r] = text;
        if (ref[0] == 'C') b.lines.c[r] = text;
    }
    return b;
}

/* ------------------------------------------------------------------------------------- */
/*  What the form must show                                                              */
/* ------------------------------------------------------------------------------------- */

/** One amount the form must carry: found by the label in column C (or A) below an anchor. */
struct Expected {
    std::string where;   // "1: ОТ", "ИТОГИ: ВСЕГО монтажные работы" …
    std::string ref;     // filled by locate()
    double value = 0;
    bool labour = false; // чел.-ч: to seven decimals
};

std::string cellOf(char col, int r) { return std::string(1, col) + std::to_string(r); }

/** Every amount of `e` with the cell the form must hold it in. */
std::vector<Expected> expectedAmounts(const Estimate& e, const Reading& cached, const Lines& lines) {
    std::vector<Expected> out;
    auto add = [&](const std::string& where, const std::string& ref, Money m) {
        out.push_back({where, ref, static_cast<double>(m.kopecks()) / 100.0, false});
    };
    auto labour = [&](const std::string& where, const std::string& ref, Dec7 d) {
        out.push_back({where, ref, static_cast<double>(d.units()) / 1e7, true});
    };
    int from = 1;
    for (const PositionResult& p : e.result.positions) {
        const std::string n = std::to_string(p.number);
        int at = -1;
        // the position line: its number in A, its name in C
        for (const auto& [r, name] : lines.c)
            if (r >= from && name == e.rows[p.row].name && cached.value(cellOf('A', r)) == double(p.number)) {
                at = r;
                break;
            }
        if (at < 0) {
            out.push_back({n + ": position line not found", "", 0, false});
            continue;
        }
        const int end = lines.find("Всего по позиции", at);
        auto line = [&](const std::string& label) {
            const int r = lines.find(label, at);
            return r >= 0 && r <= end ? r : -1;
        };
        auto need = [&](const std::string& label) {
            const int r = line(label);
            if (r < 0) out.push_back({n + ": no line " + label, "", 0, false});
            return r;
        };
        labour(n + ": Q", cellOf('G', at), p.quantity);
        if (p.kind == PositionResult::Kind::Standalone) {
            add(n + ": amount", cellOf('J', at), p.base.m);
        } else {
            Money priced;
            for (const auto& m : p.materials)
                if (m.priced) priced += m.amount;
            // a line for each element the rate has
            if (int r = p.ot1.isZero() ? 0 : need("ОТ"); r > 0) add(n + ": ОТ", cellOf('J', r), p.base.ot), add(n + ": ОТ cur", cellOf('L', r), p.current.ot);
            if (int r = p.em1.isZero() ? 0 : need("ЭМ"); r > 0) add(n + ": ЭМ", cellOf('J', r), p.base.em);
            if (int r = p.otm1.isZero() ? 0 : need("в т.ч. ОТм"); r > 0)
                add(n + ": ОТм", cellOf('J', r), p.base.otm), add(n + ": ОТм cur", cellOf('L', r), p.current.otm);
            if (int r = p.m1.isZero() ? 0 : need("М"); r > 0) add(n + ": М", cellOf('J', r), p.base.m - priced);
            if (int r = p.zt1.isZero() ? 0 : need("ЗТ"); r > 0) labour(n + ": ЗТ", cellOf('G', r), p.base.zt);
            if (int r = p.ztm1.isZero() ? 0 : need("ЗТм"); r > 0) labour(n + ": ЗТм", cellOf('G', r), p.base.ztm);
            if (int r = need("Итого по расценке"); r > 0) add(n + ": Итого по расценке", cellOf('J', r), p.base.pz - priced);
            int k = 0;
            for (const auto& m : p.materials) {
                const int r = lines.find(e.rows[m.row].name, at);
                labour(n + ": material quantity", cellOf('G', r), m.quantity);
                if (!m.priced) continue;
                EXPECT_EQ(cached.text(cellOf('A', r)), n + "." + std::to_string(++k));
                add(n + "." + std::to_string(k), cellOf('J', r), m.amount);
            }
            if (int r = need("ФОТ"); r > 0) add(n + ": ФОТ", cellOf('J', r), p.base.fot), add(n + ": ФОТ cur", cellOf('L', r), p.current.fot);
            const std::string title = e.chargeTitles[size_t(&p - e.result.positions.data())];
            if (int r = need("НР (" + title + ")"); r > 0) {
                labour(n + ": НР %", cellOf('G', r), p.nrPercent);
                add(n + ": НР", cellOf('J', r), p.base.nr), add(n + ": НР cur", cellOf('L', r), p.current.nr);
            }
            if (int r = need("СП (" + title + ")"); r > 0) {
                labour(n + ": СП %", cellOf('G', r), p.spPercent);
                add(n + ": СП", cellOf('J', r), p.base.sp), add(n + ": СП cur", cellOf('L', r), p.current.sp);
            }
        }
        add(n + ": Всего по позиции", cellOf('J', end), p.base.total);
        from = end + 1;
    }

    // the totals by type of work, then the estimate
    const int results = lines.find("ИТОГИ ПО СМЕТЕ:", from);
    auto block = [&](const std::string& heading, const model::Elements& b, const model::Elements& c, int start,
                     const char* mLabel) {
        const int h = lines.find(heading, start);
        if (h < 0) {
            out.push_back({heading + ": not found", "", 0, false});
            return h;
        }
        const std::vector<std::tuple<std::string, Money, Money>> rows = {
            {"Всего прямые затраты", b.pz, c.pz},
            {"в том числе: оплата труда (ОТ)", b.ot, c.ot},
            {"эксплуатация машин и механизмов", b.em, c.em},
            {"в том числе: оплата труда машинистов (ОТм)", b.otm, c.otm},
            {mLabel, b.m, c.m},
            {"Всего ФОТ (справочно)", b.fot, c.fot},
            {"Всего накладные расходы", b.nr, c.nr},
            {"Всего сметная прибыль", b.sp, c.sp},
            {heading, b.total, c.total}};
        for (const auto& [label, base, current] : rows) {
            const int r = lines.find(label, h + 1);
            add(heading + ": " + label, cellOf('J', r), base);
            add(heading + ": " + label + " cur", cellOf('L', r), current);
        }
        return h;
    };
    const char* kTypeHeading[] = {"ВСЕГО строительные работы", "ВСЕГО монтажные работы", "ВСЕГО пусконаладочные работы",
                                  "ВСЕГО оборудование", "ВСЕГО прочие затраты"};
    int last = results;
    for (const model::WorkTypeTotals& t : e.result.workTypes) {
        const bool eq = t.type == WorkType::Equipment;
        last = block(kTypeHeading[int(t.type)], t.base, t.current, results, eq ? "оборудование" : "материальные ресурсы");
        const int idx = lines.find(eq ? "оборудование" : "эксплуатация машин и механизмов", last);
        labour(std::string(kTypeHeading[int(t.type)]) + ": index", cellOf('K', idx), eq ? *t.indexM : *t.indexEm);
    }
    const int total = lines.find("ВСЕГО по смете", last);
    add("ВСЕГО по смете", cellOf('J', total), e.result.total.base.total);
    add("ВСЕГО по смете cur", cellOf('L', total), e.result.total.current.total);
    // the section's own totals
    const int section = lines.find("Итого по Разделу 1", from);
    add("Итого по Разделу 1", cellOf('J', section), e.result.total.base.total);
    add("Итого по Разделу 1 cur", cellOf('L', section), e.result.total.current.total);
    labour("затраты труда рабочих", cellOf('J', lines.find("затраты труда рабочих, чел.-ч", total)),
           e.result.total.base.zt);
    labour("затраты труда машинистов", cellOf('J', lines.find("затраты труда машинистов, чел.-ч", total)),
           e.result.total.base.ztm);
    return out;
}

void expectAmounts(const Reading& r, const std::vector<Expected>& expected) {
    for (const Expected& x : expected) {
        ASSERT_FALSE(x.ref.empty() || x.ref.size() < 2 || x.ref.find('-') != std::string::npos)
            << r.who << ": " << x.where;
        const auto v = r.value(x.ref);
        ASSERT_TRUE(v.has_value()) << r.who << ": " << x.where << " (" << x.ref << ") holds no number";
        if (x.labour) {
            EXPECT_NEAR(*v, x.value, 5e-8) << r.who << ": " << x.where << " (" << x.ref << ")";
        } else {
            EXPECT_EQ(std::llround(*v * 100), std::llround(x.value * 100)) << r.who << ": " << x.where << " (" << x.ref << ") " << *v;
        }
    }
}

/* ------------------------------------------------------------------------------------- */
/*  The tests                                                                            */
/* ------------------------------------------------------------------------------------- */

class LsrForm : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir("talvira-lsr");
        estimate_ = new Estimate(handWorked());
        book_ = new fs::path(lsr::exportLsrToFile(estimate_->input(), lsr::lsrPathFor("Дом", dir_->path()), true));
        script_ = new fs::path(dir_->path() / "reader.py");
        std::ofstream(*script_) << kReader;
        if (python().isEmpty()) return;
        Book b = readBook(*script_, *book_);
        sheet_ = new QJsonObject(std::move(b.sheet));
        cached_ = new Reading(std::move(b.cached));
        lines_ = new Lines(std::move(b.lines));
        zeroed_ = new fs::path(dir_->path() / "zeroed.xlsx");
        runReader(*script_, {QStringLiteral("zero"), QString::fromStdString(book_->string()),
                             QString::fromStdString(zeroed_->string())});
    }
    static void TearDownTestSuite() {
        delete lines_;
        delete cached_;
        delete sheet_;
        delete zeroed_;
        delete script_;
        delete book_;
        delete estimate_;
        delete dir_;
        lines_ = nullptr, cached_ = nullptr, sheet_ = nullptr, zeroed_ = nullptr;
    }
    void SetUp() override {
        if (!sheet_) GTEST_SKIP() << "python3-openpyxl is not installed";
    }
    QJsonObject cell(const std::string& ref) const {
        return (*sheet_)[QStringLiteral("cells")].toObject()[QString::fromStdString(ref)].toObject();
    }

    static inline TempDir* dir_ = nullptr;
    static inline Estimate* estimate_ = nullptr;
    static inline fs::path* book_ = nullptr;
    static inline fs::path* script_ = nullptr;
    static inline fs::path* zeroed_ = nullptr;
    static inline QJsonObject* sheet_ = nullptr;
    static inline Reading* cached_ = nullptr;
    static inline Lines* lines_ = nullptr;
};

TEST_F(LsrForm, StoredValuesAreTheComputationsToTheKopeck) {
    EXPECT_EQ(book_->filename().string(), "Дом ЛСР.xlsx");
    const std::vector<Expected> expected = expectedAmounts(*estimate_, *cached_, *lines_);
    EXPECT_GT(expected.size(), 120u);
    expectAmounts(*cached_, expected);
    // the header, in thousands: current (base)
    struct Head { const char* label; char col; double value; } heads[] = {
        {"Сметная стоимость", 'D', 210.27663}, {"Сметная стоимость", 'E', 32.56077},
        {"строительных работ", 'D', 40.9274}, {"монтажных работ", 'E', 0.09106},
        {"оборудования", 'D', 165.0}, {"прочих затрат", 'E', 0.0},
    };
    for (const Head& h : heads) {
        const int r = lines_->find(h.label, 1, true);
        ASSERT_GT(r, 0) << h.label;
        EXPECT_NEAR(cached_->value(cellOf(h.col, r)).value_or(-1), h.value, 1e-9) << h.label;
    }
    const int ot = lines_->find("Сметная стоимость", 1, true);
    EXPECT_EQ(cached_->text(cellOf('G', ot)), "Средства на оплату труда рабочих");
    EXPECT_NEAR(cached_->value(cellOf('J', ot)).value_or(-1), 10.13083, 1e-9);
    EXPECT_NEAR(cached_->value(cellOf('J', ot + 1)).value_or(-1), 22.19, 1e-9);  // ЗТ
}

TEST_F(LsrForm, LibreOfficeAndGnumericRecalculateTheSameAmounts) {
    const std::vector<Expected> expected = expectedAmounts(*estimate_, *cached_, *lines_);
    QString error;
    const auto lo = recalcWithLibreOffice(*zeroed_, dir_->path() / "lo", &error);
    if (!lo) {
        ADD_FAILURE() << error.toStdString();
    } else {
        ASSERT_FALSE(lo->empty());
        expectAmounts(readingOf("LibreOffice", lo->front()), expected);
    }
    const auto gn = recalcWithGnumeric(*zeroed_, dir_->path(), &error);
    if (!gn) ADD_FAILURE() << error.toStdString();
    else expectAmounts(readingOf("Gnumeric", *gn), expected);
}

TEST_F(LsrForm, FormulasAreLiveWhereTheFormComputes) {
    // (label in C, column, what its formula must say)
    const int p1 = lines_->find("Устройство из бутового камня фундаментов: ленточных", 1);
    const int p2 = lines_->find("Устройство бетонной подготовки", 1);
    struct Case { int from; const char* label; char col; const char* pattern; } cases[] = {
        {p1, "ОТ", 'J', "=ROUND(G%d*H%d,2)"},
        {p1, "ОТ", 'L', "=ROUND(J%d*K%d,2)"},
        {p2, "ОТ", 'J', "=ROUND(G%d*H%d*I%d,2)"},
        {p2, "ЭМ", 'J', "=ROUND(G%d*((H%d-H%d)*I%d+H%d),2)"},  // ЭМ × 1.2, ОТМ × 1
        {p2, "ЗТ", 'G', "=ROUND(E%d*F%d*G%d,7)"},
        {p1, "НР (Конструкции из кирпича и блоков)", 'L', "=ROUND(L%d*G%d/100,2)"},  // of current ФОТ
        {p1, "Итого ФОТ", 'J', "=ROUND(SUMIF($M$%d:$M$%d,\"ФОТ\",J%d:J%d),2)"},
        {lines_->find("ВСЕГО монтажные работы", p1) + 1, "ВСЕГО монтажные работы", 'J', "=ROUND(J%d+J%d+J%d,2)"},
    };
    for (const Case& c : cases) {
        const int r = lines_->find(c.label, c.from);
        ASSERT_GT(r, 0) << c.label;
        const std::string f = cell(cellOf(c.col, r))[QStringLiteral("f")].toString().toStdString();
        // the pattern with every row number taken out
        std::string shape;
        for (size_t i = 0; i < f.size(); ++i) {
            if (std::isdigit(static_cast<unsigned char>(f[i])) && i > 0 && (std::isalpha(static_cast<unsigned char>(f[i - 1])) || f[i - 1] == '$' || shape.ends_with("%d"))) {
                if (!shape.ends_with("%d")) shape += "%d";
                continue;
            }
            shape += f[i];
        }
        EXPECT_EQ(shape, c.pattern) << c.label << " " << f;
    }
    // types of work summed by their key
    const int mounting = lines_->find("ВСЕГО монтажные работы", 1);
    const std::string ot = cell(cellOf('J', mounting + 2))[QStringLiteral("f")].toString().toStdString();
    EXPECT_NE(ot.find("SUMIFS("), std::string::npos) << ot;
    EXPECT_NE(ot.find(",\"ОТ\","), std::string::npos) << ot;
    EXPECT_TRUE(ot.ends_with(",2),2)")) << ot;  // монтажные
    EXPECT_EQ(cached_->value(cellOf('K', lines_->find("эксплуатация машин и механизмов", mounting))), 16.64);
}

TEST_F(LsrForm, LayoutIsTheForms) {
    const QJsonObject& s = *sheet_;
    EXPECT_EQ(s[QStringLiteral("orientation")].toString(), QStringLiteral("landscape"));
    EXPECT_EQ(s[QStringLiteral("paper")].toString(), QStringLiteral("9"));  // A4
    EXPECT_EQ(s[QStringLiteral("fitW")].toInt(1), 1);  // 1 is the file format's default
    EXPECT_EQ(s[QStringLiteral("fitH")].toInt(), 0);
    EXPECT_TRUE(s[QStringLiteral("fitToPage")].toBool());
    EXPECT_FALSE(s[QStringLiteral("gridlines")].toBool());
    const QJsonArray hidden = s[QStringLiteral("hidden")].toArray();
    EXPECT_EQ(hidden, (QJsonArray{QStringLiteral("M"), QStringLiteral("N")}));

    // the head: three rows repeated on every page, every cell boxed, numbers 1…12
    const int head = lines_->find("№ п/п", 1, true);
    ASSERT_GT(head, 0);
    EXPECT_EQ(s[QStringLiteral("titles")].toString().toStdString(),
              "$" + std::to_string(head) + ":$" + std::to_string(head + 2));
    for (int c = 1; c <= 12; ++c) {
        const QJsonObject n = cell(colLetters(c) + std::to_string(head + 2));
        EXPECT_EQ(n[QStringLiteral("v")].toDouble(), c);
        EXPECT_TRUE(n[QStringLiteral("boxed")].toBool()) << c;
    }
    const QJsonArray merged = s[QStringLiteral("merged")].toArray();
    const std::string h = std::to_string(head), h2 = std::to_string(head + 1);
    for (const std::string& want : {"A" + h + ":A" + h2, "E" + h + ":G" + h, "H" + h + ":J" + h, "L" + h + ":L" + h2})
        EXPECT_TRUE(merged.contains(QString::fromStdString(want))) << want;
    // widths (pixels 56/110/450 … as character widths) and fonts
    const QJsonObject widths = s[QStringLiteral("widths")].toObject();
    EXPECT_GT(widths[QStringLiteral("C")].toDouble(), 3.5 * widths[QStringLiteral("B")].toDouble());
    EXPECT_NEAR(widths[QStringLiteral("C")].toDouble() / widths[QStringLiteral("A")].toDouble(), 450.0 / 56, 0.6);
    const QJsonObject cells = s[QStringLiteral("cells")].toObject();
    for (auto it = cells.begin(); it != cells.end(); ++it) {
        const QJsonObject c = it.value().toObject();
        if (it.key().startsWith(QLatin1Char('M')) || it.key().startsWith(QLatin1Char('N'))) continue;
        EXPECT_EQ(c[QStringLiteral("font")].toString(), QStringLiteral("Times New Roman")) << it.key().toStdString();
    }
    const int title = lines_->find("ЛОКАЛЬНЫЙ СМЕТНЫЙ РАСЧЕТ (СМЕТА) № 02-01-01", 1, true);
    ASSERT_GT(title, 0);
    EXPECT_TRUE(cell(cellOf('A', title))[QStringLiteral("bold")].toBool());

    // (label, column, number format, top border)
    const int p2 = lines_->find("Устройство бетонной подготовки", 1);
    struct Case { const char* label; char col; const char* format; bool top; } cases[] = {
        {"Итого по расценке", 'J', "#,##0.00", true},
        {"Итого по расценке", 'C', nullptr, true},
        {"Всего по позиции", 'J', "#,##0.00", true},
        {"ОТ", 'J', "#,##0.00", false},
        {"ОТ", 'I', "General", false},
        {"НР (Бетонные и железобетонные конструкции монолитные)", 'F', "General", false},
    };
    for (const Case& c : cases) {
        const int r = lines_->find(c.label, p2);
        const QJsonObject x = cell(cellOf(c.col, r));
        if (c.format) {
            EXPECT_EQ(x[QStringLiteral("fmt")].toString().toStdString(), c.format) << c.label << c.col;
        }
        EXPECT_EQ(x[QStringLiteral("top")].toString() == QStringLiteral("thin"), c.top) << c.label << c.col;
    }
    // coefficients at full precision: 1,15 and 0,9 as they are
    EXPECT_EQ(cached_->value(cellOf('I', lines_->find("ОТ", p2))), 1.15);
    EXPECT_EQ(cached_->value(cellOf('F', lines_->find("НР (Бетонные и железобетонные конструкции монолитные)", p2))), 0.9);
    // the header block and the signatures
    struct Text { const char* label; char col; std::string value; } texts[] = {
        {"Наименование программного продукта", 'D', "Тальвира 1.0"},
        {"Наименование редакции сметных нормативов", 'D', "ФСНБ-2020"},
        {"Наименование субъекта Российской Федерации", 'D', "Московская область"},
        {"Составлен(а) в текущем (базисном) уровне цен", 'D', "II кв. 2025 (01.01.2000)"},
        {"Составил", 'C', "Генеральный директор Петров П. П."},
        {"Проверил", 'C', "Генеральный директор Иванов И. И."},
    };
    for (const Text& t : texts) {
        int r = lines_->find(t.label, 1, true);
        if (r < 0) {
            for (const auto& [row, text] : cached_->texts)
                if (text == t.label) r = std::stoi(row.substr(1));
        }
        ASSERT_GT(r, 0) << t.label;
        EXPECT_EQ(cached_->text(cellOf(t.col, r)), t.value) << t.label;
    }
    for (const auto& [ref, text] : cached_->texts) EXPECT_EQ(text.find("НДС"), std::string::npos) << ref;
}

TEST(LsrFormFile, FailuresLeaveNothingAndSayWhy) {
    TempDir dir("talvira-lsr-fail");
    const Estimate e = handWorked();
    // (target, the reason the message gives)
    struct Case { fs::path target; const char* why; } cases[] = {
        {dir / "нет такой папки" / "Дом ЛСР.xlsx", "папка не существует"},
        {"/dev/full", "на диске нет места"},
    };
    for (const Case& c : cases) {
        try {
            if (c.target == "/dev/full") lsr::writeLsrWorkbook(e.input(), c.target);
            else lsr::exportLsrToFile(e.input(), c.target, true);
            ADD_FAILURE() << c.target;
        } catch (const Error& err) {
            EXPECT_NE(std::string(err.what()).find(c.why), std::string::npos) << err.what();
        }
    }
    EXPECT_TRUE(directoryBytes(dir.path()).empty());
    // a name taken is kept: the next one is used
    const fs::path first = lsr::exportLsrToFile(e.input(), lsr::lsrPathFor("Дом/Кровля", dir.path()), true);
    const fs::path second = lsr::exportLsrToFile(e.input(), lsr::lsrPathFor("Дом/Кровля", dir.path()), true);
    EXPECT_EQ(first.filename().string(), "Дом_Кровля ЛСР.xlsx");
    EXPECT_EQ(second.filename().string(), "Дом_Кровля ЛСР (2).xlsx");
    EXPECT_EQ(directoryBytes(dir.path()).size(), 2u);
}

TEST(LsrFormFile, AnEstimateWithoutPositionsGivesAnEmptyForm) {
    TempDir dir("talvira-lsr-empty");
    Estimate e;
    const fs::path out = lsr::exportLsrToFile(e.input(), dir / "Пусто ЛСР.xlsx", false);
    EXPECT_GT(fs::file_size(out), 1000u);
}

/** An estimate table as Add leaves it: the worked rate, a rate followed by its material, equipment. */
void makeEstimateTable(const fs::path& dir) {
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, dir.string(), "Дом");
    estimate::createAndOpen(smeta);
    struct Position { const char* code; const char* name; const char* unit; double q, ot, em, otm, m, labour, cost; };
    const Position positions[] = {
        {"ФЕР08-01-001-01", "Устройство из бутового камня фундаментов: ленточных", "м3", 1, 32.74, 10.46, 1.74, 215.19, 3.94, 258.39},
        {"ФЕР06-01-001-01", "Устройство бетонной подготовки", "100 м3", 2.5, 45.67, 20.10, 3.33, 100.01, 5.2, 165.78},
        {"04.1.02.05-0006", "Смеси бетонные тяжелого бетона", "м3", 2.55, 0, 0, 0, 512.37, 0, 512.37},
        {"ФССЦ-62.1.01.01-0001", "Вентилятор радиальный", "шт", 2, 0, 0, 0, 15000, 0, 15000},
    };
    for (const Position& p : positions) {
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

/** The side data of that table by the base-index method; `nrsp` the row of the first rate. */
editing::EstimateSide sideData(const std::string& nrsp) {
    editing::EstimateSide side;
    model::EstimateParams& p = side.params;
    p.method = model::Method::BaseIndex421;
    p.indexOt = dec("52.21"), p.indexEm = dec("16.64"), p.indexM = dec("8.49"), p.indexEq = dec("5.5");
    p.region = "Московская область";
    model::PositionExtra& first = side.extraFor(1);
    first.nrRow = first.spRow = nrsp;
    first.machinistLabour = dec("0.15");
    model::PositionExtra& second = side.extraFor(2);
    second.nrRow = second.spRow = "006.0";
    second.coefficients = {{dec("1.15"), model::OT | model::ZT, "прил. 10"}, {dec("1.2"), model::EM, "прил. 10"}};
    model::PositionExtra& material = side.extraFor(3);
    material.parent = 2;
    material.perUnit = dec("1.02");
    side.extraFor(4).workType = WorkType::Equipment;
    return side;
}

TEST(LsrFormCli, WritesTheEstimatesOwnComputation) {
    if (python().isEmpty()) GTEST_SKIP() << "python3-openpyxl is not installed";
    TempDir dir("talvira-lsr-cli");
    makeEstimateTable(dir.path());
    const fs::path table = dir / "Дом.db";
    const fs::path out = dir / "Дом ЛСР.xlsx";
    const cli::Args args{table.string(), "--form", "lsr", "--out", out.string()};

    // (side data, what the command says); nothing is written when it refuses
    struct Refused { std::optional<editing::EstimateSide> side; const char* says; } refused[] = {
        {std::nullopt, editing::kNeeds421Method},                                 // an estimate by the template
        {sideData(""), "Позиция 1"},                                              // no НР/СП row for wages
    };
    for (const Refused& r : refused) {
        if (r.side) editing::saveEstimateSide(table, *r.side);
        try {
            cli::exportCommand(args);
            ADD_FAILURE() << r.says;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(r.says), std::string::npos) << e.what();
        }
        EXPECT_FALSE(fs::exists(out));
    }

    const editing::EstimateSide side = sideData("008.0");
    editing::saveEstimateSide(table, side);
    ASSERT_EQ(cli::exportCommand(args), 0);
    storage::TableHandle smeta("SmetaTable");
    cli::openEstimate(smeta, table.string());
    Estimate e;
    e.rows = editing::readPositionRows(smeta);
    e.params = side.params;
    e.result = model::computeLocal421(e.rows, side.extras, side.params, model::nrSpTables());
    e.chargeTitles = editing::chargeTitles(e.result);
    ASSERT_TRUE(e.result.problems.empty()) << e.result.problems.front().message;
    ASSERT_EQ(e.result.positions.size(), 3u);  // the material folded into its rate
    EXPECT_EQ(e.result.positions[0].base.total, rub("320.11"));
    EXPECT_EQ(e.result.positions[0].current.nr, rub("1980.23"));

    const fs::path script = dir / "reader.py";
    std::ofstream(script) << kReader;
    const Book b = readBook(script, out);
    const std::vector<Expected> expected = expectedAmounts(e, b.cached, b.lines);
    EXPECT_GT(expected.size(), 60u);
    expectAmounts(b.cached, expected);
    EXPECT_EQ(b.cached.text(cellOf('B', b.lines.find("НР (" + e.chargeTitles[0] + ")", 1))), "Пр/812-008.0-1");
    EXPECT_EQ(b.cached.text(cellOf('D', b.lines.find("Наименование программного продукта", 1, true))), "Тальвира 1.0");
}

}  // namespace
}  // namespace talvira::test
