#include "export/EstimateExport.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "export/XlsSpreadsheet.h"

#include <system_error>

namespace talvira::xls {

/* ------------------------------------------------------------------------------------- */
/*  The walk                                                                             */
/* ------------------------------------------------------------------------------------- */

namespace {

constexpr int kFirstPositionRow = 12;
constexpr int kFrameTopRow = 10;

/** Column letters of the 1-based column `n`: 1 = A, 17 = Q, 27 = AA. */
std::string columnName(int n) {
    if (n < 1) throw Error("Таблица сметы не содержит полей для выгрузки в книгу");
    std::string s;
    while (n > 0) {
        int d = (n - 1) % 26;
        s.insert(s.begin(), static_cast<char>('A' + d));
        n = (n - 1) / 26;
    }
    return s;
}

std::string cell(const char* col, int row) { return col + std::to_string(row); }

/** Display suspended for the lifetime of the guard. */
class DisplaySuspended {
public:
    explicit DisplaySuspended(PositionReader& t) : t_(t) { t_.disableControls(); }
    ~DisplaySuspended() {
        if (!done_) try { t_.enableControls(); } catch (...) {}
    }
    /** Resumes now, letting a failure of the resumption itself through. */
    void resume() { done_ = true; t_.enableControls(); }
    DisplaySuspended(const DisplaySuspended&) = delete;
    DisplaySuspended& operator=(const DisplaySuspended&) = delete;

private:
    PositionReader& t_;
    bool done_ = false;
};

/** The remembered position, returned to when the guard ends. */
class PositionRemembered {
public:
    explicit PositionRemembered(PositionReader& t) : t_(t) { t_.rememberPosition(); }
    ~PositionRemembered() {
        if (!done_) try { t_.returnToPosition(); } catch (...) {}
    }
    void giveBack() { done_ = true; t_.returnToPosition(); }
    PositionRemembered(const PositionRemembered&) = delete;
    PositionRemembered& operator=(const PositionRemembered&) = delete;

private:
    PositionReader& t_;
    bool done_ = false;
};

void moveRight(Spreadsheet& s, int n) {
    for (int i = 0; i < n; ++i) s.next();
}

void writePositionRow(PositionReader& table, Spreadsheet& s, int r, int fields) {
    const std::string row = std::to_string(r);
    s.range("A" + row);
    s.writeInteger(r - (kFirstPositionRow - 1));
    for (int place = 1; place <= 3; ++place) {
        s.next();
        s.writeText(table.fieldText(place));
    }
    for (int place = 4; place <= fields - 8; ++place) {
        s.next();
        s.writeDouble(table.fieldNumber(place));
    }
    for (const char* col : {"F", "G", "H", "I", "J"}) {
        s.next();
        s.writeFormula("=E" + row + "*" + col + row);
    }
    s.next();
    s.writeDouble(table.fieldNumber(fields - 2));
    s.next();
    s.writeFormula("=E" + row + "*P" + row);
}

/** A charge row: caption in C, rate in D, unit sign in E, the formula in K. */
void writeChargeRow(Spreadsheet& s, int r, const char* caption, const std::string& rate,
                    const std::string& formula) {
    s.range(cell("A", r));
    moveRight(s, 2);
    s.writeText(caption);
    s.next();
    s.writeTyped(rate);
    s.next();
    s.writeText("%");
    moveRight(s, 6);
    s.writeFormula(formula);
}

/** A running total row: caption in C, "=K<r-1>+K<r-2>" in K. */
void writeTotalRow(Spreadsheet& s, int r, const char* caption) {
    s.range(cell("A", r));
    moveRight(s, 2);
    s.writeText(caption);
    moveRight(s, 8);
    s.writeFormula("=K" + std::to_string(r - 1) + "+K" + std::to_string(r - 2));
}

void writeTotalsBlock(Spreadsheet& s, const EstimateTexts& texts, int T, char decimalSep) {
    const std::string first = std::to_string(kFirstPositionRow);
    const std::string last = std::to_string(T - 1);
    // Without positions the range 12..11 would turn round into rows 11..12 and add up the
    // template's column numbers; an empty estimate sums to nothing instead.
    auto sum = [&](const char* col) {
        if (T == kFirstPositionRow) return std::string("=0");
        return std::string("=СУММ(") + col + first + ":" + col + last + ")";
    };
    s.range(cell("A", T));
    moveRight(s, 2);
    s.writeText("Итого по смете (основная з/п, материалы, экспл. маш., в т.ч. з/п маш.) ");
    moveRight(s, 8);
    for (const char* col : {"K", "L", "M", "N", "O"}) {
        s.writeFormula(sum(col));
        s.next();
    }
    s.next();  // P stays as it is
    s.writeFormula(sum("Q"));

    const std::string t = std::to_string(T);
    auto ofWages = [&](int r) { return "=D" + std::to_string(r) + "/100*(L" + t + "+O" + t + ")"; };
    auto ofAbove = [&](int r) {
        return "=K" + std::to_string(r - 1) + "/100*D" + std::to_string(r);
    };

    writeChargeRow(s, T + 1, "Накладные расходы (от з/п основной и машиниста)", texts.overheadsPercent,
                   ofWages(T + 1));
    writeTotalRow(s, T + 2, "Итого");
    writeChargeRow(s, T + 3, "Плановые накопления (от з/п основной и машиниста)", texts.savingsPercent,
                   ofWages(T + 3));
    writeTotalRow(s, T + 4, "Итого");
    writeChargeRow(s, T + 5, "Стесненные условия (от з/п основной и машиниста)", texts.crampedPercent,
                   ofWages(T + 5));
    writeTotalRow(s, T + 6, "Итого");
    writeChargeRow(s, T + 7, "Зимнее удорожание", texts.winterPercent, ofAbove(T + 7));
    writeTotalRow(s, T + 8, "Итого");
    writeChargeRow(s, T + 9, "Затраты на временные здания и сооружения", texts.temporaryPercent,
                   ofAbove(T + 9));
    writeTotalRow(s, T + 10, "Итого");

    // The conversion row: the factor is read here, after C and D of the row are written.
    const int rk = T + 11;
    s.range(cell("A", rk));
    moveRight(s, 2);
    s.writeText("С коэффициентом перехода в текущие цены");
    s.next();
    s.writeText("K=");
    s.next();
    s.writeDouble(static_cast<double>(strToFloat(texts.currentPriceFactor, decimalSep)));
    moveRight(s, 6);
    s.writeFormula("=K" + std::to_string(rk - 1) + "*E" + std::to_string(rk));

    writeChargeRow(s, T + 12, "НДС", texts.vatPercent, ofAbove(T + 12));
    writeTotalRow(s, T + 13, "Итого с НДС");

    const int sig = T + 16;
    s.range(cell("B", sig));
    s.writeText("Заказчик");
    s.next();
    s.writeText("________");
    s.range(cell("O", sig));
    s.writeText("Подрядчик");
    s.next();
    s.writeText("________");
}

}  // namespace

void exportEstimate(PositionReader& table, const EstimateTexts& texts, Spreadsheet& sheet,
                    const std::string& templatePath, char decimalSep) {
    sheet.connect();
    sheet.addWorkbook(templatePath);

    int T = kFirstPositionRow;
    int fields = 0;
    {
        DisplaySuspended display(table);
        PositionRemembered position(table);
        table.first();
        int r = kFirstPositionRow;
        if (!table.eof()) {
            sheet.range("A2");
            sheet.writeText(texts.approverPost);
            sheet.range("O2");
            sheet.writeText(texts.contractorPost);
            sheet.range("C5");
            sheet.writeText(texts.approverName);
            sheet.range("P5");
            sheet.writeText(texts.contractorName);
            sheet.range("E3");
            sheet.writeText(texts.title);
        }
        fields = table.fieldCount();
        while (!table.eof()) {
            writePositionRow(table, sheet, r, fields);
            table.next();
            ++r;
        }
        T = r;
        writeTotalsBlock(sheet, texts, T, decimalSep);
        position.giveBack();
        display.resume();
    }

    sheet.setBorders(cell("A", kFrameTopRow), columnName(fields) + std::to_string(T - 1), 1);
    sheet.show();
    sheet.disconnect();
}

/* ------------------------------------------------------------------------------------- */
/*  Into a file                                                                          */
/* ------------------------------------------------------------------------------------- */

std::filesystem::path exportEstimateToFile(PositionReader& table, const EstimateTexts& texts,
                                           const std::string& templatePath,
                                           const std::filesystem::path& outPath, char decimalSep,
                                           const WorkbookOpener& open, bool keepExisting) {
    XlsSpreadsheet sheet(outPath, decimalSep, keepExisting, open);
    exportEstimate(table, texts, sheet, templatePath, decimalSep);
    return sheet.savedPath();
}

namespace {

std::string safeFileName(std::string_view name) {
    std::string s(name);
    for (char& c : s)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    return s;
}

}  // namespace

std::filesystem::path workbookPathFor(std::string_view estimateName,
                                      const std::filesystem::path& dir) {
    std::filesystem::path base = dir;
    if (base.empty()) {
        std::error_code ec;
        base = std::filesystem::temp_directory_path(ec);
        if (ec) base = "/tmp";
    }
    const std::string stem = "Смета " + safeFileName(estimateName);
    std::filesystem::path p = base / (stem + ".xls");
    for (int n = 2; std::filesystem::exists(p); ++n)
        p = base / (stem + " (" + std::to_string(n) + ").xls");
    return p;
}

}  // namespace talvira::xls
