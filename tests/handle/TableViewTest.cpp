// The rows a handle shows, below the handle: orders, keys and filters over a memory table, the
// rows found again after a write, and the kept records.
#include "storage/TableView.h"
#include "tests/support/MemoryTableFile.h"

#include <gtest/gtest.h>

#include <optional>

using namespace talvira;
using namespace talvira::storage;
using talvira::test::MemoryTableData;
using talvira::test::MemoryTableFile;

namespace {

/** Ten records in physical order, IDs shuffled; GRP 1..3; VIDNR 1 on every other record. */
std::shared_ptr<MemoryTableData> tableData() {
    auto d = std::make_shared<MemoryTableData>();
    d->info.path = "/base/RESURS.DB";
    d->fields = {{"ID", FieldType::Long, 0}, {"GRP", FieldType::Long, 0}, {"VIDNR", FieldType::Short, 0}};
    d->indexes = {test::primaryIndex({"ID"}), test::secondaryIndex("GRP", {"GRP"})};
    const int ids[] = {7, 3, 10, 1, 5, 8, 2, 9, 4, 6};
    for (int i = 0; i < 10; ++i)
        d->records.push_back({Value::integer(ids[i]), Value::integer(ids[i] % 3 + 1), i % 2 ? Value() : Value::integer(1)});
    return d;
}

Filter boundFilter(const std::string& expr, const MemoryTableData& d) {
    Filter f = Filter::parse(expr, "RESURS.DB");
    f.bind(d.fields, "RESURS.DB");
    return f;
}

std::vector<int64_t> idsOf(const TableView& v) {
    std::vector<int64_t> out;
    for (int r = 0; r < v.count(); ++r) out.push_back(v.recordAt(r)[0].asInteger());
    return out;
}

}  // namespace

TEST(TableView, OrdersKeysAndFiltersGiveTheRowsInOrder) {
    const auto data = tableData();
    MemoryTableFile file(data, OpenMode::ReadOnly);
    using Key = std::optional<std::vector<Value>>;
    struct Case {
        const char* what;
        bool indexed;
        const char* index;
        std::optional<Key> key;  // nothing: every record
        const char* filter;
        std::vector<int64_t> ids;
    };
    const std::vector<Case> cases = {
        {"physical order", false, "", std::nullopt, "", {7, 3, 10, 1, 5, 8, 2, 9, 4, 6}},
        {"physical order, filtered", false, "", std::nullopt, "VIDNR = 1", {7, 10, 5, 2, 4}},
        {"primary index", true, "", std::nullopt, "", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"primary index, filtered", true, "", std::nullopt, "VIDNR = 1", {2, 4, 5, 7, 10}},
        {"one key of a secondary index", true, "GRP", Key{{Value::integer(2)}}, "", {1, 4, 7, 10}},
        {"one key, filtered", true, "GRP", Key{{Value::integer(2)}}, "VIDNR = 1", {4, 7, 10}},
        {"a key no record has", true, "GRP", Key{{Value::integer(9)}}, "", {}},
        {"no key (a master without a record)", true, "GRP", Key{}, "", {}},
    };
    for (const Case& c : cases) {
        TableView v;
        v.setFile(&file);
        v.setOrder(c.indexed, c.index);
        v.setFilter(boundFilter(c.filter, *data));
        c.key ? v.takeKey(*c.key) : v.takeAll();
        EXPECT_EQ(idsOf(v), c.ids) << c.what;
        EXPECT_EQ(v.indexed(), c.indexed) << c.what;
    }
    TableView closed;
    EXPECT_EQ(closed.count(), 0);
}

TEST(TableView, RowsAreFoundAgainByPlaceOrOrdinal) {
    const auto data = tableData();
    MemoryTableFile file(data, OpenMode::ReadOnly);
    TableView filtered;
    filtered.setFile(&file);
    filtered.setFilter(boundFilter("VIDNR = 1", *data));
    filtered.takeAll();
    // Shown: physical ordinals 0, 2, 4, 6, 8.
    struct Case { uint32_t ord; int row, following; };
    for (const Case& c : {Case{0, 0, -1}, Case{4, 2, -1}, Case{5, -1, 3}, Case{9, -1, 5}}) {
        int following = -1;
        EXPECT_EQ(filtered.rowOfOrdinal(c.ord, &following), c.row) << c.ord;
        EXPECT_EQ(following, c.following) << c.ord;
    }
    EXPECT_EQ(filtered.ordinalOf(3), 6u);

    TableView plain;
    plain.setFile(&file);
    plain.takeAll();
    EXPECT_EQ(plain.rowOfOrdinal(7), 7);
    EXPECT_EQ(plain.rowOfOrdinal(10), -1);

    TableView byId;
    byId.setFile(&file);
    byId.setOrder(true, "");
    byId.takeAll();
    EXPECT_EQ(byId.rowOfPlace(plain.locOf(0)), 6);  // ID 7
    EXPECT_EQ(byId.locOf(6), plain.locOf(0));
    EXPECT_EQ(byId.rowOfPlace(RecordLoc{99, 0}), -1);
}

TEST(TableView, KeptRecordsAreReadOnceUntilDropped) {
    const auto data = tableData();
    MemoryTableFile file(data, OpenMode::ReadWrite);
    TableView v;
    v.setFile(&file);
    v.takeAll();
    const uint64_t before = data->reads;
    for (int pass = 0; pass < 3; ++pass) (void)v.recordAt(5);
    EXPECT_EQ(data->reads, before + 1);
    // A write behind the view's back shows after the kept records are dropped.
    file.update(v.locOf(5), {Value::integer(80), Value::integer(1), Value()});
    EXPECT_EQ(v.recordAt(5)[0], Value::integer(8));
    v.clearCache();
    EXPECT_EQ(v.recordAt(5)[0], Value::integer(80));
}
