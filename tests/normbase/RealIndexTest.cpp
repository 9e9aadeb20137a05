// Every secondary index of the real Paradox fixtures, reached through a handle linked to a
// master: the detail holds exactly the records of the master's key, in the index's order.
#include "common/Error.h"
#include "storage/TableHandle.h"
#include "tests/support/MemoryTableFile.h"
#include "tests/support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace talvira;
using namespace talvira::storage;
namespace fs = std::filesystem;

namespace {

bool hasSecondaryIndexFile(const fs::path& db) {
    const std::string stem = db.stem().string();
    for (const auto& e : fs::directory_iterator(db.parent_path())) {
        const std::string n = e.path().filename().string();
        if (n.size() > stem.size() + 2 && test::foldCase(n.substr(0, stem.size() + 2)) == test::foldCase(stem + ".x"))
            return true;
    }
    return false;
}

}  // namespace

TEST(RealIndexes, DetailThroughEverySecondaryIndexHoldsKeyRecordsInIndexOrder) {
    int indexesTried = 0;
    for (const fs::path& table : test::realParadoxTables()) {
        if (!hasSecondaryIndexFile(table)) continue;
        std::unique_ptr<TableFile> file;
        try {
            file = openParadoxTable(table.string(), OpenMode::ReadOnly);
        } catch (const Error& err) {
            ADD_FAILURE() << table << ": " << err.what();
            continue;
        }
        for (const IndexInfo& ix : file->indexes()) {
            if (ix.primary || ix.fields.empty()) continue;
            SCOPED_TRACE(table.string() + " index " + ix.name);
            const int keyCol = file->fieldIndex(ix.fields[0]);
            ASSERT_GE(keyCol, 0);
            // The distinct non-empty values of the first index field, in index order.
            std::vector<Value> keys;
            for (const auto& loc : file->scan(ix.name)) {
                Value v = file->readField(loc, keyCol);
                if (!v.isEmpty() && (keys.empty() || !(keys.back() == v))) keys.push_back(v);
            }
            if (keys.size() > 40) keys.resize(40);
            ++indexesTried;

            test::MemoryTables mem;  // the master: one record per key; the detail is on disk
            std::vector<Record> masterRecs;
            for (const auto& k : keys) masterRecs.push_back({k});
            mem.add("/keys/KEYS.DB", {{"K", file->fields()[size_t(keyCol)].type, file->fields()[size_t(keyCol)].size}},
                    {}, masterRecs);
            TableHandle master, detail;
            master.setDatabaseName("/keys");
            master.setTableName("KEYS");
            detail.setDatabaseName(table.parent_path().string());
            detail.setTableName(table.filename().string());
            detail.setIndexName(ix.name);
            detail.setMasterSource(&master, "K");
            detail.open();
            master.open();
            const auto scan = file->scan(ix.name);
            for (size_t k = 0; k < keys.size(); ++k, master.next()) {
                // Expected: the records of the key, in the order the whole index holds them.
                std::vector<Record> want;
                for (const auto& loc : scan)
                    if (file->readField(loc, keyCol) == keys[k]) want.push_back(file->read(loc));
                ASSERT_EQ(detail.recordCount(), int(want.size())) << "key " << keys[k].asString();
                for (int r = 0; r < detail.recordCount(); ++r)
                    for (int f = 0; f < detail.fieldCount(); ++f)
                        ASSERT_EQ(detail.valueAt(r, f), want[size_t(r)][size_t(f)])
                            << "key " << keys[k].asString() << " row " << r << " field " << f;
                EXPECT_EQ(detail.recNo(), want.empty() ? -1 : 0);
            }
        }
    }
    EXPECT_GE(indexesTried, 10);
}
