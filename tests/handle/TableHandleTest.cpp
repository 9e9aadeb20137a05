#include "common/Error.h"
#include "storage/TableHandle.h"
#include "tests/support/MemoryTableFile.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

using namespace talvira;
using namespace talvira::storage;
using talvira::test::MemoryTables;
using talvira::test::primaryIndex;
using talvira::test::secondaryIndex;

namespace {

const std::vector<FieldDef> kPeople = {
    {"ID", FieldType::Long, 0}, {"NAME", FieldType::Alpha, 20}, {"GRP", FieldType::Long, 0}, {"VAL", FieldType::Number, 0}};

Record person(int64_t id, const std::string& name, std::optional<int64_t> grp, std::optional<double> val = {}) {
    return {Value::integer(id), Value::string(name), grp ? Value::integer(*grp) : Value(),
            val ? Value::real(*val) : Value()};
}

std::vector<int64_t> ids(TableHandle& t, const char* field = "ID") {
    std::vector<int64_t> out;
    for (int r = 0; r < t.recordCount(); ++r) out.push_back(t.valueAt(r, t.fieldIndex(field)).asInteger());
    return out;
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

struct Counter : TableObserver {
    int moved = 0, data = 0, state = 0, active = 0;
    void recordMoved(TableHandle&) override { ++moved; }
    void dataChanged(TableHandle&) override { ++data; }
    void stateChanged(TableHandle&) override { ++state; }
    void activeChanged(TableHandle&) override { ++active; }
};

class HandleTest : public ::testing::Test {
protected:
    MemoryTables mem;
    TableHandle t{"T"};
    void SetUp() override {
        mem.add("/mem/PEOPLE.DB", kPeople, {primaryIndex({"ID"}), secondaryIndex("GRP", {"GRP"})},
                {person(3, "c", 1), person(1, "a", 2), person(2, "b", 1)});
        t.setDatabaseName("/mem");
        t.setTableName("people");  // bare and in another case
    }
};

}  // namespace

// ---- navigation -----------------------------------------------------------------------

TEST_F(HandleTest, OpensOnFirstRecordInPrimaryKeyOrder) {
    t.open();
    EXPECT_TRUE(t.active());
    EXPECT_EQ(t.tablePath(), "/mem/PEOPLE.DB");
    EXPECT_EQ(ids(t), (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(t.fieldValue("ID").asInteger(), 1);
    EXPECT_TRUE(t.bof());
    EXPECT_FALSE(t.eof());
}

TEST(HandleNavigation, EofBofFindNextOverViewSizes) {
    struct Case { const char* name; int records; };
    for (const Case& c : {Case{"empty", 0}, Case{"one", 1}, Case{"three", 3}}) {
        SCOPED_TRACE(c.name);
        MemoryTables mem;
        std::vector<Record> recs;
        for (int i = 0; i < c.records; ++i) recs.push_back(person(i + 1, "n", 1));
        mem.add("/m/T.DB", kPeople, {}, recs);
        TableHandle t;
        t.setDatabaseName("/m");
        t.setTableName("T.DB");
        t.open();
        EXPECT_EQ(t.isEmpty(), c.records == 0);
        EXPECT_EQ(t.eof(), c.records == 0);
        EXPECT_TRUE(t.bof());
        int visited = 0;
        for (t.first(); !t.eof(); t.next()) {
            ++visited;
            EXPECT_EQ(t.fieldValue("ID").asInteger(), visited);
            ASSERT_LE(visited, c.records);
        }
        EXPECT_EQ(visited, c.records);
        // eof only after a move past the last record
        t.last();
        EXPECT_EQ(t.eof(), c.records == 0);
        EXPECT_EQ(t.recNo(), c.records - 1);
        EXPECT_FALSE(t.findNext());
        EXPECT_TRUE(t.eof());
        t.first();
        int moves = 0;
        while (t.findNext()) ++moves;
        EXPECT_EQ(moves, std::max(0, c.records - 1));
        t.first();
        t.prior();
        EXPECT_TRUE(t.bof());
        EXPECT_EQ(t.recNo(), c.records == 0 ? -1 : 0);
    }
}

TEST_F(HandleTest, CloseIsIdempotentAndReopenGoesToFirst) {
    Counter obs;
    t.addObserver(&obs);
    t.close();
    EXPECT_EQ(obs.active, 0);
    t.open();
    t.last();
    t.close();
    t.close();
    EXPECT_EQ(obs.active, 2);
    EXPECT_FALSE(t.active());
    EXPECT_TRUE(t.eof());
    EXPECT_EQ(t.recordCount(), 0);
    t.open();
    EXPECT_EQ(t.recNo(), 0);
    t.removeObserver(&obs);
}

TEST_F(HandleTest, OperationsOnClosedHandleFailWithTableName) {
    for (auto op : std::vector<std::function<void()>>{[&] { t.first(); }, [&] { t.append(); },
                                                      [&] { (void)t.fieldValue("ID"); }, [&] { t.remove(); }}) {
        const std::string msg = errorOf(op);
        EXPECT_NE(msg.find("/mem/people.DB"), std::string::npos) << msg;
    }
}

TEST(HandleNames, BareNameGetsDbAndIsFoundInAnyCaseOnDisk) {
    talvira::test::TempDir dir;
    for (const char* n : {"000_name.db", "RABMAT.DB", "Дом.db"}) std::ofstream(dir / n) << "x";
    TableHandle t;
    t.setDatabaseName(dir.path().string());
    struct Case { const char* given; const char* found; };
    for (const Case& c : {Case{"000_NAME", "000_name.db"}, Case{"000_NAME.DB", "000_name.db"},
                          Case{"rabmat.db", "RABMAT.DB"}, Case{"ДОМ", "Дом.db"},
                          Case{"Дом 1.5", "Дом 1.5.DB"}}) {
        t.setTableName(c.given);
        EXPECT_EQ(t.tablePath(), (dir / c.found).string()) << c.given;
    }
}

// ---- open failures --------------------------------------------------------------------

TEST_F(HandleTest, OpenFailuresNameTableAndWhatIsMissingAndLeaveHandleClosed) {
    struct Case {
        const char* name;
        std::function<void(TableHandle&)> setup;
        const char* mentions;
    };
    const std::vector<Case> cases = {
        {"missing table", [](TableHandle& h) { h.setTableName("NOPE"); }, "NOPE.DB"},
        {"missing index", [](TableHandle& h) { h.setIndexName("IDX"); }, "IDX"},
        {"missing index on fields", [](TableHandle& h) { h.setIndexFieldNames("NAME"); }, "NAME"},
        {"missing bound field",
         [](TableHandle& h) { h.setBoundFields({{"ID", BoundKind::Integer}, {"KOLL", BoundKind::Float}}); }, "KOLL"},
        {"bound field of another type", [](TableHandle& h) { h.setBoundFields({{"ID", BoundKind::SmallInt}}); }, "ID"},
        {"text bound as number", [](TableHandle& h) { h.setBoundFields({{"NAME", BoundKind::Float}}); }, "NAME"},
        {"number bound as memo", [](TableHandle& h) { h.setBoundFields({{"VAL", BoundKind::Memo}}); }, "VAL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TableHandle h;
        h.setDatabaseName("/mem");
        h.setTableName("PEOPLE.DB");
        c.setup(h);
        const std::string msg = errorOf([&] { h.open(); });
        EXPECT_NE(msg.find(c.mentions), std::string::npos) << msg;
        EXPECT_NE(msg.find("Таблица"), std::string::npos) << msg;
        EXPECT_FALSE(h.active());
        EXPECT_EQ(h.file(), nullptr);
        EXPECT_EQ(mem.find("/mem/PEOPLE.DB")->readers, 0);
    }
}

TEST_F(HandleTest, BoundFieldsAreTheFieldListInTheirOrderAndNothingElseIsReachable) {
    t.setBoundFields({{"VAL", BoundKind::Float}, {"ID", BoundKind::Integer}});
    t.open();
    ASSERT_EQ(t.fieldCount(), 2);
    EXPECT_EQ(t.field(0).name, "VAL");
    EXPECT_EQ(t.field(1).name, "ID");
    EXPECT_EQ(t.fieldIndex("NAME"), -1);
    EXPECT_NE(errorOf([&] { (void)t.fieldValue("NAME"); }).find("NAME"), std::string::npos);
    EXPECT_EQ(t.fieldValue(1).asInteger(), 1);
}

// ---- editing --------------------------------------------------------------------------

class EditTest : public ::testing::Test {
protected:
    MemoryTables mem;
    TableHandle t{"SmetaTable"};
    const std::vector<FieldDef> defs = {
        {"COUNT", FieldType::AutoInc, 0}, {"TAB", FieldType::Alpha, 50}, {"NAME", FieldType::Memo, 10},
        {"KOLVO", FieldType::Number, 0}};
    void SetUp() override {
        t.setDatabaseName("/smeti");
        t.setTableName("Дом");
        t.setFieldDefs(defs);
        t.createTable();
        t.setBoundFields({{"COUNT", BoundKind::AutoInc, true}, {"TAB", BoundKind::String},
                          {"NAME", BoundKind::Memo}, {"KOLVO", BoundKind::Float}});
        t.open();
    }
    void add(const std::string& tab) {
        t.append();
        t.setFieldValue("TAB", Value::string(tab));
        t.post();
    }
    std::vector<std::string> tabs() {
        std::vector<std::string> out;
        for (int r = 0; r < t.recordCount(); ++r) out.push_back(t.valueAt(r, 1).asString());
        return out;
    }
};

TEST_F(EditTest, CreateTableMakesEmptyTableInFieldOrderAndLeavesHandleClosed) {
    auto* data = mem.find("/smeti/Дом.DB");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->fields, defs);
    EXPECT_TRUE(data->indexes.empty());
    EXPECT_TRUE(t.isEmpty());
    add("x");
    t.close();
    t.createTable();  // replaces
    EXPECT_FALSE(t.active());
    EXPECT_TRUE(mem.find("/smeti/дом.db")->records.empty());
    EXPECT_NE(errorOf([&] { t.open(); t.createTable(); }), "");  // not while open
}

TEST_F(EditTest, AppendPostNumbersAutoincrementAndKeepsOrder) {
    add("a");
    add("b");
    add("c");
    EXPECT_EQ(tabs(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(t.recNo(), 2);
    EXPECT_EQ(t.fieldValue("COUNT").asInteger(), 3);
    EXPECT_EQ(t.valueAt(0, 0).asInteger(), 1);
}

TEST_F(EditTest, WritesOnlyWhileEditingAndNeverIntoReadOnlyField) {
    EXPECT_NE(errorOf([&] { t.setFieldValue("TAB", Value::string("x")); }), "");
    t.append();
    EXPECT_NE(errorOf([&] { t.setFieldValue("COUNT", Value::integer(5)); }).find("COUNT"), std::string::npos);
    EXPECT_NE(errorOf([&] { t.setFieldValue("KOLVO", Value::string("abc")); }).find("KOLVO"), std::string::npos);
    t.setFieldValue("KOLVO", Value::string("2,5"));
    EXPECT_DOUBLE_EQ(t.fieldValue("KOLVO").asFloat(), 2.5);
    t.setFieldValue("KOLVO", Value::integer(3));
    EXPECT_EQ(t.fieldValue("KOLVO").kind(), Value::Kind::Float);
    t.post();
}

TEST_F(EditTest, EditOnEmptyTableStartsNewRecordAndDeleteThenCancelsIt) {
    t.edit();
    EXPECT_EQ(t.state(), TableHandle::State::Insert);
    EXPECT_EQ(t.recordCount(), 1);  // the new record is shown
    t.remove();
    EXPECT_EQ(t.state(), TableHandle::State::Browse);
    EXPECT_TRUE(t.isEmpty());
    EXPECT_TRUE(mem.find("/smeti/Дом.DB")->records.empty());
    EXPECT_NE(errorOf([&] { t.remove(); }), "");  // nothing to delete
}

TEST_F(EditTest, DeleteGoesToNextRecordOrNewLast) {
    for (auto s : {"a", "b", "c", "d"}) add(s);
    t.moveTo(1);
    t.edit();  // deleting while editing deletes the record
    t.remove();
    EXPECT_EQ(tabs(), (std::vector<std::string>{"a", "c", "d"}));
    EXPECT_EQ(t.fieldValue("TAB").asString(), "c");
    t.last();
    t.remove();
    EXPECT_EQ(t.fieldValue("TAB").asString(), "c");
    t.first();
    t.remove();
    t.remove();
    EXPECT_TRUE(t.isEmpty());
    EXPECT_TRUE(t.eof());
}

TEST_F(EditTest, MovingWhileEditingPostsChangedAndDropsUnchanged) {
    struct Case { const char* name; bool insert; bool change; std::vector<std::string> after; };
    for (const Case& c : {Case{"blank new record dropped", true, false, {"a", "b"}},
                          Case{"changed new record posted", true, true, {"a", "b", "z"}},
                          Case{"unchanged edit left", false, false, {"a", "b"}},
                          Case{"changed edit posted", false, true, {"z", "b"}}}) {
        SCOPED_TRACE(c.name);
        t.close();
        t.createTable();
        t.open();
        add("a");
        add("b");
        t.first();
        if (c.insert) t.append(); else t.edit();
        if (c.change) t.setFieldValue("TAB", Value::string("z"));
        EXPECT_EQ(t.modified(), c.change);
        t.first();
        EXPECT_EQ(t.state(), TableHandle::State::Browse);
        EXPECT_EQ(tabs(), c.after);
    }
}

TEST_F(EditTest, CloseDropsUnpostedEdit) {
    add("a");
    t.edit();
    t.setFieldValue("TAB", Value::string("lost"));
    t.append();  // leaving the edit posts it
    t.setFieldValue("TAB", Value::string("dropped"));
    t.close();
    t.open();
    EXPECT_EQ(tabs(), (std::vector<std::string>{"lost"}));
}

TEST_F(EditTest, ReadOnlyHandleRefusesWrites) {
    t.close();
    t.setReadOnly(true);
    t.open();
    EXPECT_NE(errorOf([&] { t.append(); }).find("только для чтения"), std::string::npos);
    EXPECT_EQ(t.state(), TableHandle::State::Browse);
}

TEST_F(EditTest, FailedPostKeepsTheEditAndTheTable) {
    add("a");
    t.append();
    t.setFieldValue("TAB", Value::string("b"));
    mem.find("/smeti/Дом.DB")->failWrites = true;
    EXPECT_NE(errorOf([&] { t.post(); }), "");
    EXPECT_EQ(t.state(), TableHandle::State::Insert);
    EXPECT_EQ(t.fieldValue("TAB").asString(), "b");
    mem.find("/smeti/Дом.DB")->failWrites = false;
    t.post();
    EXPECT_EQ(tabs(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(EditTest, BookmarkReturnsToRememberedRecord) {
    for (auto s : {"a", "b", "c"}) add(s);
    t.moveTo(1);
    {
        PositionKept keep(t);
        ControlsSuspended quiet(t);
        for (t.first(); !t.eof(); t.next()) {}
    }
    EXPECT_EQ(t.recNo(), 1);
    Bookmark none;
    t.gotoBookmark(none);  // an empty mark is no move
    EXPECT_EQ(t.recNo(), 1);
}

TEST_F(EditTest, EachWriteIsToldOnceWithWhatItStoredItsStateAndOrigin) {
    // Before, a stored edit was told four times (the change, then state, data and move), and
    // the history knew its own writes only by a flag it set around them.
    struct Told {
        TableChange::Kind kind;
        int row, count, current;
        bool inserted, stateChanged;
        const TableObserver* origin;
        std::optional<Record> after;
        std::vector<Record> appended;
    };
    struct Recorder : TableObserver {
        std::vector<Told> told;
        int others = 0;
        void tableChanged(TableHandle&, const TableChange& c) override {
            told.push_back({c.kind, c.row, c.count, c.current, c.inserted, c.stateChanged, c.origin,
                            c.after ? std::optional<Record>(*c.after) : std::nullopt,
                            c.appended ? *c.appended : std::vector<Record>{}});
        }
        void recordMoved(TableHandle&) override { ++others; }
        void dataChanged(TableHandle&) override { ++others; }
        void stateChanged(TableHandle&) override { ++others; }
        void activeChanged(TableHandle&) override { ++others; }
    };
    const TableObserver someone;  // the observer a write is made for (the history, say)
    const TableObserver* const history = &someone;
    using K = TableChange::Kind;
    const Record z = {Value(), Value::string("z"), Value(), Value::real(1)};
    struct Case {
        const char* what;
        std::function<void()> prepare, write;
        K kind;
        int row, count, current;
        bool inserted, stateChanged;
        const TableObserver* origin;
        const char* tab;  // the TAB stored (Posted), or of the last appended record
    };
    const std::vector<Case> cases = {
        {"a stored edit", [&] { t.moveTo(1); t.edit(); t.setFieldValue("TAB", Value::string("B")); }, [&] { t.post(); },
         K::Posted, 1, 1, 1, false, true, nullptr, "B"},
        {"a new record", [&] { t.append(); t.setFieldValue("TAB", Value::string("d")); }, [&] { t.post(); },
         K::Posted, 3, 1, 3, true, true, nullptr, "d"},
        {"a deletion while editing", [&] { t.moveTo(0); t.edit(); }, [&] { t.remove(); }, K::Deleted, 0, 1, 0, false, true, nullptr, ""},
        {"a record rewritten", [] {}, [&] { t.storeRecord(2, z, history); }, K::Posted, 2, 1, 2, false, false, history, "z"},
        {"a record put back", [] {}, [&] { t.insertRecord(1, z, history); }, K::Posted, 1, 1, 1, true, false, history, "z"},
        {"records appended", [] {}, [&] { t.appendRecords({z, z}, history); }, K::Appended, 3, 2, 4, false, false, history, "z"},
        {"a record removed", [] {}, [&] { t.removeRecord(2, history); }, K::Deleted, 2, 1, 1, false, false, history, ""},
        {"the table replaced", [] {}, [&] { t.replaceRecords(t.tableFields(), {}, history); }, K::Replaced, -1, 1, -1, false, false, history, ""},
    };
    for (const Case& c : cases) {
        t.close();
        t.createTable();
        t.open();
        for (const char* tab : {"a", "b", "c"}) add(tab);
        c.prepare();
        Recorder rec;
        Counter control;  // a bound control takes the notice as state, data and move
        t.addObserver(&rec);
        t.addObserver(&control);
        c.write();
        t.removeObserver(&rec);
        t.removeObserver(&control);
        ASSERT_EQ(rec.told.size(), 1u) << c.what;
        EXPECT_EQ(rec.others, 0) << c.what;
        const Told& n = rec.told[0];
        EXPECT_EQ(n.kind, c.kind) << c.what;
        EXPECT_EQ(n.row, c.row) << c.what;
        EXPECT_EQ(n.count, c.count) << c.what;
        EXPECT_EQ(n.current, c.current) << c.what;
        EXPECT_EQ(n.current, t.recNo()) << c.what;
        EXPECT_EQ(n.inserted, c.inserted) << c.what;
        EXPECT_EQ(n.stateChanged, c.stateChanged) << c.what;
        EXPECT_EQ(t.state(), TableHandle::State::Browse) << c.what;
        EXPECT_EQ(n.origin, c.origin) << c.what;
        if (c.kind == K::Posted) {
            ASSERT_TRUE(n.after) << c.what;
            EXPECT_EQ((*n.after)[1], Value::string(c.tab)) << c.what;
            EXPECT_EQ(*n.after, t.storedRecord(n.row)) << c.what;
        }
        if (c.kind == K::Appended) {
            ASSERT_EQ(n.appended.size(), 2u) << c.what;
            EXPECT_EQ(n.appended[1], t.storedRecord(4)) << c.what;  // numbered as stored
            EXPECT_FALSE(n.appended[1][0].isEmpty()) << c.what;
        }
        EXPECT_EQ(control.state, c.stateChanged ? 1 : 0) << c.what;
        EXPECT_EQ(control.data, 1) << c.what;
        EXPECT_EQ(control.moved, 1) << c.what;
    }
}

TEST_F(EditTest, SuspendedDisplayNotifiesOnceOnResume) {
    Counter obs;
    t.addObserver(&obs);
    t.disableControls();
    t.disableControls();
    add("a");
    add("b");
    t.first();
    t.enableControls();
    EXPECT_EQ(obs.moved + obs.data + obs.state + obs.active, 0);
    t.enableControls();
    EXPECT_EQ(obs.moved, 1);
    EXPECT_EQ(obs.data, 1);
    t.removeObserver(&obs);
}

TEST_F(EditTest, SecondWriterIsRefusedAndTableStaysReadable) {
    add("a");  // t now holds the table for writing
    TableHandle other;
    other.setDatabaseName("/smeti");
    other.setTableName("дом.db");
    EXPECT_NE(errorOf([&] { other.open(); }).find("занята"), std::string::npos);
    EXPECT_FALSE(other.active());
}

// ---- master and detail ----------------------------------------------------------------

class LinkTest : public ::testing::Test {
protected:
    MemoryTables mem;
    TableHandle groups{"groups"}, people{"people"}, pets{"pets"};
    void SetUp() override {
        mem.add("/b/GROUPS.DB", {{"ID", FieldType::Long, 0}, {"NAME", FieldType::Alpha, 10}}, {primaryIndex({"ID"})},
                {{Value::integer(2), Value::string("two")}, {Value::integer(1), Value::string("one")},
                 {Value::integer(3), Value::string("none")}});
        // GRP ties are listed by ID; a record with an empty GRP belongs to no group.
        mem.add("/b/PEOPLE.DB", kPeople, {primaryIndex({"ID"}), secondaryIndex("GRP", {"GRP"})},
                {person(30, "c", 1), person(10, "a", 2), person(20, "b", 1), person(5, "e", {}), person(40, "d", 1)});
        mem.add("/b/PETS.DB", {{"ID", FieldType::Long, 0}, {"OWNER", FieldType::Long, 0}, {"VIDNR", FieldType::Short, 0}},
                {primaryIndex({"ID"}), secondaryIndex("OWNER", {"OWNER"})},
                {{Value::integer(1), Value::integer(20), Value::integer(1)},
                 {Value::integer(2), Value::integer(20), Value()},
                 {Value::integer(3), Value::integer(30), Value::integer(0)},
                 {Value::integer(4), Value::integer(20), Value::integer(1)}});
        for (auto* h : {&groups, &people, &pets}) h->setDatabaseName("/b");
        groups.setTableName("GROUPS.DB");
        people.setTableName("PEOPLE.DB");
        people.setIndexName("GRP");
        people.setMasterSource(&groups, "ID");
        pets.setTableName("PETS.DB");
        pets.setIndexName("OWNER");
        pets.setMasterSource(&people, "ID");
    }
};

TEST_F(LinkTest, DetailsFollowTheMasterInAnyOpeningOrder) {
    // Opened detail first, as the norm base does.
    pets.open();
    people.open();
    EXPECT_TRUE(people.isEmpty());  // master still closed: no records
    groups.open();
    EXPECT_EQ(ids(people), (std::vector<int64_t>{20, 30, 40}));  // ties in primary-key order
    EXPECT_EQ(ids(pets), (std::vector<int64_t>{1, 2, 4}));
    groups.next();
    EXPECT_EQ(ids(people), (std::vector<int64_t>{10}));
    EXPECT_TRUE(pets.isEmpty());
    groups.next();
    EXPECT_TRUE(people.isEmpty());  // group without members
    EXPECT_TRUE(pets.isEmpty());    // linked to an empty value
    EXPECT_TRUE(pets.fieldValue("ID").isEmpty());
    groups.first();
    people.moveTo(1);
    EXPECT_EQ(ids(pets), (std::vector<int64_t>{3}));
    groups.close();
    EXPECT_TRUE(people.isEmpty());
    EXPECT_TRUE(pets.isEmpty());
}

TEST_F(LinkTest, SuspendedMasterUpdatesDetailsOnResume) {
    groups.open();
    people.open();
    groups.disableControls();
    groups.next();
    EXPECT_EQ(ids(people), (std::vector<int64_t>{20, 30, 40}));  // not followed yet
    groups.enableControls();
    EXPECT_EQ(ids(people), (std::vector<int64_t>{10}));
}

TEST_F(LinkTest, FilterShowsMatchingLinesAndSwitchingGoesToFirst) {
    groups.open();
    people.open();
    pets.open();
    pets.moveTo(2);
    pets.setFiltered(true);
    pets.setFilter("VIDNR = 1");
    EXPECT_EQ(ids(pets), (std::vector<int64_t>{1, 4}));  // the empty VIDNR is not 1
    EXPECT_EQ(pets.recNo(), 0);
    people.next();  // the filter stays on while walking
    EXPECT_TRUE(pets.isEmpty());
    people.first();
    pets.moveTo(1);
    pets.setFiltered(false);
    EXPECT_EQ(pets.filter(), "VIDNR = 1");
    EXPECT_EQ(ids(pets), (std::vector<int64_t>{1, 2, 4}));
    EXPECT_EQ(pets.recNo(), 0);
    pets.setFilter("VIDNR <> 1");
    EXPECT_EQ(ids(pets), (std::vector<int64_t>{1, 2, 4}));  // not filtered: text only stored
    pets.setFiltered(true);
    EXPECT_EQ(ids(pets), (std::vector<int64_t>{2}));
}

TEST_F(LinkTest, BadFilterNamesTableAndFilter) {
    pets.open();
    const std::string parse = errorOf([&] { pets.setFilter("VIDNR = = 1"); });
    EXPECT_NE(parse.find("PETS.DB"), std::string::npos) << parse;
    EXPECT_NE(parse.find("VIDNR = = 1"), std::string::npos) << parse;
    pets.setFilter("NOSUCH = 1");
    const std::string field = errorOf([&] { pets.setFiltered(true); });
    EXPECT_NE(field.find("NOSUCH"), std::string::npos) << field;
    EXPECT_FALSE(pets.filtered());
}

TEST_F(LinkTest, DetailReadsOnlyItsOwnRecords) {
    groups.open();
    people.open();
    pets.open();
    auto* data = mem.find("/b/PETS.DB");
    const auto before = data->reads;
    people.next();
    people.prior();
    // Two re-takes, each reading the detail's first record once; never the whole table.
    EXPECT_LE(data->reads - before, 4u);
}

TEST_F(LinkTest, DestroyingMasterFirstLeavesDetailSafe) {
    auto master = std::make_unique<TableHandle>();
    master->setDatabaseName("/b");
    master->setTableName("GROUPS.DB");
    people.setMasterSource(master.get(), "ID");
    master->open();
    people.open();
    EXPECT_EQ(people.recordCount(), 3);
    master.reset();
    EXPECT_EQ(people.masterSource(), nullptr);
    people.close();
}

TEST(HandleNames, NameThatLeavesTheDirectoryIsRefused) {
    talvira::test::TempDir dir;
    std::filesystem::create_directory(dir / "Smeti");
    TableHandle t;
    t.setDatabaseName((dir / "Smeti").string());
    t.setFieldDefs({{"A", FieldType::Long, 0}});
    for (const char* name : {"../escape", "sub/x", "..", "."}) {
        t.setTableName(name);
        EXPECT_NE(errorOf([&] { t.createTable(); }).find("Недопустимое имя"), std::string::npos) << name;
        EXPECT_NE(errorOf([&] { t.open(); }).find("Недопустимое имя"), std::string::npos) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "escape.DB"));
}

TEST_F(HandleTest, ReadersOfOneTableShareOneFileAndAWriterNeedsItAlone) {
    TableHandle other;
    other.setDatabaseName("/mem");
    other.setTableName("PEOPLE.DB");
    t.open();
    other.open();
    auto* data = mem.find("/mem/PEOPLE.DB");
    EXPECT_EQ(data->readers, 1);
    EXPECT_EQ(t.file(), other.file());
    // Writing needs the table alone: refused while the other handle reads it, and t still reads.
    EXPECT_NE(errorOf([&] { t.edit(); }).find("занята"), std::string::npos);
    EXPECT_TRUE(t.active());
    EXPECT_EQ(t.state(), TableHandle::State::Browse);
    EXPECT_EQ(t.fieldValue("ID").asInteger(), 1);
    other.close();
    t.edit();
    t.setFieldValue("NAME", Value::string("renamed"));
    t.post();
    EXPECT_EQ(data->writers, 1);
    t.close();
    EXPECT_EQ(data->readers + data->writers, 0);
}
