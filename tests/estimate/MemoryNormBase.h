#pragma once
/** A small norm base in memory with the seven handles the Add command reads, linked as the
 *  main window links them, and an empty estimate to add to. */
#include "tests/support/MemoryTableFile.h"

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
                   const std::vector<NameRow>& names, const std::vector<NameRow>& units);
    ~MemoryNormBase();

    /** Opens the norm base handles and the empty estimate. */
    void open();
    /** Moves the rate handle to the rate with this ID (everything below follows). */
    void goToRate(int id);
    /** Runs the Add command. */
    void add();
    /** The estimate's positions: each position's values in the bound field order. */
    std::vector<storage::Record> positions();

    MemoryTables mem;
    storage::TableHandle Table2{"Table2"}, Table1{"Table1"}, Table8{"Table8"}, Table3{"Table3"},
        Table4{"Table4"}, Table5{"Table5"}, Table9{"Table9"};
    storage::TableHandle smeta{"SmetaTable"};
    static constexpr const char* kBase = "/mem/Base";
    static constexpr const char* kSmeti = "/mem/Smeti";
};

storage::Value num(std::optional<double> v);
storage::Value integer(std::optional<int> v);
storage::Value text(const std::string& s);

}  // namespace talvira::test
