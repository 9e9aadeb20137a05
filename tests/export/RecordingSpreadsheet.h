#pragma once
/** A spreadsheet and an estimate table that log every call, for the export's sequence tests. */
#include "common/Error.h"
#include "export/EstimateExport.h"
#include "export/XlsFormula.h"

#include <map>
#include <string>
#include <vector>

namespace talvira::test {

/** Both fakes write into one log, so the order of table and sheet calls shows. */
struct CallLog {
    std::vector<std::string> calls;
};

class RecordingSpreadsheet : public xls::Spreadsheet {
public:
    explicit RecordingSpreadsheet(CallLog& log) : log_(log) {}

    void connect() override { log_.calls.push_back("connect"); }
    void addWorkbook(const std::string& p) override { log_.calls.push_back("add " + p); }
    void range(const std::string& ref) override {
        log_.calls.push_back("range " + ref);
        if (!xls::parseCellRef(ref, cur_)) throw Error("bad ref " + ref);
    }
    void next() override {
        log_.calls.push_back("next");
        ++cur_.col;
    }
    void writeText(const std::string& t) override { put("text", t); }
    void writeTyped(const std::string& t) override { put("typed", t); }
    void writeInteger(int64_t v) override { put("int", std::to_string(v)); }
    void writeDouble(double v) override {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", v);
        put("double", buf);
    }
    void writeFormula(const std::string& f) override { put("formula", f); }
    void setBorders(const std::string& a, const std::string& b, int s) override {
        log_.calls.push_back("borders " + a + ":" + b + " " + std::to_string(s));
    }
    void show() override { log_.calls.push_back("show"); }
    void disconnect() override { log_.calls.push_back("disconnect"); }

    /** What each cell received last, as "kind value", by A1 name. */
    std::map<std::string, std::string> cells;

private:
    void put(const char* kind, const std::string& v) {
        const std::string where = xls::cellName(cur_.row, cur_.col);
        log_.calls.push_back(std::string(kind) + " " + where + " " + v);
        cells[where] = std::string(kind) + " " + v;
    }
    CallLog& log_;
    xls::CellRef cur_;
};

/** One estimate position as the bound fields hold it (17 fields, place 0 = COUNT). */
struct Position {
    std::string tab, name, izm;
    double kolvo = 0, stoim = 0, osnzp = 0, mater = 0, explmash = 0, zpmash = 0, trud = 0;
};

class RecordingTable : public xls::PositionReader {
public:
    RecordingTable(CallLog& log, std::vector<Position> rows, int current = 0)
        : log_(log), rows_(std::move(rows)), pos_(current) {}

    void disableControls() override { log_.calls.push_back("table disable"); }
    void enableControls() override { log_.calls.push_back("table enable"); }
    void rememberPosition() override {
        log_.calls.push_back("table remember");
        mark_ = pos_;
    }
    void returnToPosition() override {
        log_.calls.push_back("table return");
        pos_ = mark_;
    }
    void first() override { pos_ = 0; }
    bool eof() const override { return pos_ >= static_cast<int>(rows_.size()); }
    void next() override { ++pos_; }
    int fieldCount() const override { return 17; }
    std::string fieldText(int place) const override {
        const Position& p = rows_.at(static_cast<size_t>(pos_));
        switch (place) {
        case 1: return p.tab;
        case 2: return p.name;
        case 3: return p.izm;
        default: throw Error("text of place " + std::to_string(place));
        }
    }
    double fieldNumber(int place) const override {
        const Position& p = rows_.at(static_cast<size_t>(pos_));
        switch (place) {
        case 4: return p.kolvo;
        case 5: return p.stoim;
        case 6: return p.osnzp;
        case 7: return p.mater;
        case 8: return p.explmash;
        case 9: return p.zpmash;
        case 15: return p.trud;
        default: throw Error("number of place " + std::to_string(place));
        }
    }
    int position() const { return pos_; }

private:
    CallLog& log_;
    std::vector<Position> rows_;
    int pos_ = 0;
    int mark_ = -1;
};

/** Three positions: base wages total 1000, machinist wages total 200 (the third one has no
 *  quantity). */
inline std::vector<Position> threePositions() {
    return {
        {"ТЕР01-01-001-01", "Разработка грунта экскаватором", "1000 м3", 2, 100, 250, 20, 10, 50, 1.5},
        {"ТЕР06-01-001-01", "Бетонная подготовка\nпод фундаменты", "100 м3", 4, 80, 125, 10, 5, 25, 2},
        {"С101-0001", "Бетон тяжёлый", "м3", 0, 500, 0, 500, 0, 0, 0},
    };
}

}  // namespace talvira::test
