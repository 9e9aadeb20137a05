#pragma once
/** A small norm base in memory, opened through the main window's nine handles (every table
 *  with its full field list: one collection, one contents entry listing every rate), and an
 *  empty estimate to add to. */
#include "tests/support/MemoryTableFile.h"

#include "model/BaseIndex.h"
#include "normbase/NormBase.h"
#include "storage/TableHandle.h"
#include "storage/Value.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace talvira::storage {
/** Readable values in test failures. */
inline void PrintTo(const Value& v, std::ostream* os) {
    *os << (v.isEmpty() ? "empty" : "kind " + std::to_string(int(v.kind())) + " «" + v.asString() + "»");
}
}  // namespace talvira::storage

namespace talvira::test {

struct RateRow {
    int id;
    std::optional<int> idName, idUnit;
    std::string tab;
    std::optional<double> ba, bb, bc, bd, be, bg;
    std::string preisk = {}, pospreisk = {};  // НР and СП references the norm names
    std::optional<double> bh = {};             // machinists' labour
};

struct LineRow {
    int id;
    int rate;
    std::optional<int> resource;
    std::optional<double> koll;
    std::optional<int> vidnr;
};

struct NameRow {
    int id;
    std::string name;
};

class MemoryNormBase {
public:
    MemoryNormBase(const std::vector<RateRow>& rates, const std::vector<LineRow>& lines,
                   const std::vector<NameRow>& names, const std::vector<NameRow>& units,
                   const std::string& collection = "Сборник");
    ~MemoryNormBase();

    /** Opens the norm base handles and the empty estimate. */
    void open();
    /** Moves the rate handle to the rate with this ID (everything below follows). */
    void goToRate(int id);
    /** Runs the Add command (by the base-index method when `params` say so); what the
     *  positions keep beside the table. */
    std::vector<model::PositionData> add(const model::EstimateParams* params = nullptr);
    /** The estimate's positions: each position's values in the bound field order. */
    std::vector<storage::Record> positions();

    MemoryTables mem;
    normbase::NormBase base;
    storage::TableHandle &Table2 = base.Table2, &Table1 = base.Table1, &Table8 = base.Table8, &Table3 = base.Table3,
                         &Table4 = base.Table4, &Table5 = base.Table5, &Table9 = base.Table9;
    storage::TableHandle smeta{"SmetaTable"};
    static constexpr const char* kBase = "/mem/Base";
    static constexpr const char* kSmeti = "/mem/Smeti";
};

storage::Value num(std::optional<double> v);
storage::Value integer(std::optional<int> v);
storage::Value text(const std::string& s);

}  // namespace talvira::test
