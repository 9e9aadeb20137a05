// pxlib, an independent Paradox reader, reads the demo base's tables (all but 000_NAME, whose
// memos pxlib 0.6.8 cannot read without attaching the .MB, which makes it abort), our primary
// index files and our X files, with the values our reader gives.
//
// What may legitimately differ: pxlib reports no empty long integer (it reads one as
// -2147483648) and no empty number (0), so an empty value of ours is compared against those.
#include "tools/demobase/DemoBase.h"
#include "storage/TableFile.h"
#include "tests/support/TestPaths.h"

extern "C" {
#include <paradox.h>
}

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace talvira;
using namespace talvira::storage;
using namespace talvira::demobase;
using demobase::DemoTable;

namespace {

void quietErrors(pxdoc_t*, int, const char* msg, void* data) {
    static_cast<std::string*>(data)->append(msg).append("\n");
}

/** One pxlib document, closed with the object. */
class PxDoc {
public:
    explicit PxDoc(const std::string& path) {
        doc_ = PX_new3(quietErrors, nullptr, nullptr, nullptr, &errors_);
        if (PX_open_file(doc_, path.c_str()) < 0) throw std::runtime_error("pxlib cannot open " + path + ": " + errors_);
        // Index tree files carry no code page (nor do the Borland engine's): no text to convert.
        if (doc_->px_head->px_doscodepage) PX_set_targetencoding(doc_, "UTF-8");
    }
    ~PxDoc() {
        PX_close(doc_);
        PX_delete(doc_);
    }
    PxDoc(const PxDoc&) = delete;
    PxDoc& operator=(const PxDoc&) = delete;
    pxdoc_t* get() const { return doc_; }
    const std::string& errors() const { return errors_; }

    /** Field values of record `i` (pxlib's order: along the block chain), as text. */
    std::vector<std::string> record(int i) const {
        std::vector<char> buf(size_t(PX_get_recordsize(doc_)));
        if (!PX_get_record(doc_, i, buf.data())) throw std::runtime_error("pxlib cannot read record " + std::to_string(i));
        std::vector<std::string> out;
        pxfield_t* f = PX_get_fields(doc_);
        char* p = buf.data();
        for (int k = 0; k < PX_get_num_fields(doc_); ++k) {
            long lv = 0;
            double dv = 0;
            short sv = 0;
            char* sp = nullptr;
            switch (f[k].px_ftype) {
            case pxfLong: PX_get_data_long(doc_, p, f[k].px_flen, &lv); out.push_back(std::to_string(lv)); break;
            case pxfShort:  // pxlib tells an empty short apart (return 0), unlike a long
                out.push_back(PX_get_data_short(doc_, p, f[k].px_flen, &sv) > 0 ? std::to_string(sv) : "");
                break;
            case pxfNumber:
            case pxfTimestamp: {
                PX_get_data_double(doc_, p, f[k].px_flen, &dv);
                char t[40];
                std::snprintf(t, sizeof t, "%.17g", dv);
                out.push_back(t);
                break;
            }
            case pxfAlpha:
                if (PX_get_data_alpha(doc_, p, f[k].px_flen, &sp) > 0 && sp) {
                    out.push_back(sp);
                    doc_->free(doc_, sp);
                } else {
                    out.push_back("");
                }
                break;
            default: out.push_back("?"); break;
            }
            p += f[k].px_flen;
        }
        return out;
    }

private:
    pxdoc_t* doc_ = nullptr;
    std::string errors_;
};

/** Our value as pxlib would print it (see the header for what pxlib cannot tell apart). */
std::string asPxlib(const Value& v, FieldType t) {
    char buf[40];
    switch (t) {
    case FieldType::Long: return v.isEmpty() ? std::to_string(INT_MIN) : std::to_string(v.asInteger());
    case FieldType::Short: return v.isEmpty() ? "" : std::to_string(v.asInteger());
    case FieldType::Number:
        std::snprintf(buf, sizeof buf, "%.17g", v.asFloat());
        return buf;
    case FieldType::Timestamp: {
        double ms = 0;
        if (auto* d = v.asDateTime()) ms = double(d->days) * 86400000.0 + d->msOfDay;
        std::snprintf(buf, sizeof buf, "%.17g", ms);
        return buf;
    }
    default: return v.asString();
    }
}

class PxlibCross : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        PX_boot();
        dir_ = new test::TempDir("mkbase-pxlib");
        demobase::writeDemoBase(dir_->path().string(), demobase::DemoScale::Small);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
        PX_shutdown();
    }
    static std::string path(const std::string& file) { return (dir_->path() / file).string(); }
    static test::TempDir* dir_;
};
test::TempDir* PxlibCross::dir_ = nullptr;

}  // namespace

TEST_F(PxlibCross, ReadsTheTablesWithOurValues) {
    for (DemoTable t : {DemoTable::Rabmat, DemoTable::Resurs, DemoTable::Ogl, DemoTable::Reestr, DemoTable::Edizm}) {
        const std::string file = demobase::demoTableFile(t);
        SCOPED_TRACE(file);
        PxDoc px(path(file));
        auto ours = openParadoxTable(path(file), OpenMode::ReadOnly);
        ASSERT_EQ(PX_get_num_records(px.get()), int(ours->recordCount()));
        ASSERT_EQ(PX_get_num_fields(px.get()), int(ours->fields().size()));
        EXPECT_EQ(px.get()->px_head->px_doscodepage, 1251);
        EXPECT_EQ(px.get()->px_head->px_primarykeyfields, 1);
        int i = 0;
        for (auto loc = ours->first(); loc; loc = ours->next(*loc), ++i) {
            Record r = ours->read(*loc);
            std::vector<std::string> theirs = px.record(i);
            for (size_t k = 0; k < r.size(); ++k)
                ASSERT_EQ(theirs[k], asPxlib(r[k], ours->fields()[k].type))
                    << "record " << i << ", field " << ours->fields()[k].name;
        }
    }
}

// pxlib reads our primary index files: the data blocks they point to hold every record.
TEST_F(PxlibCross, ReadsOurPrimaryIndexes) {
    for (DemoTable t : {DemoTable::Rabmat, DemoTable::Resurs, DemoTable::Ogl, DemoTable::Reestr, DemoTable::Edizm,
                        DemoTable::Name}) {
        std::string db = path(demobase::demoTableFile(t));
        std::string pxFile = db.substr(0, db.size() - 3) + ".PX";
        SCOPED_TRACE(pxFile);
        PxDoc index(pxFile);
        ASSERT_EQ(PX_read_primary_index(index.get()), 0) << index.errors();
        auto* entries = static_cast<pxpindex_t*>(index.get()->px_data);
        long records = 0;
        std::map<int, int> blocks;
        for (int i = 0; i < index.get()->px_datalen; ++i)
            if (entries[i].level == 1) {
                records += entries[i].numrecords;
                blocks[entries[i].blocknumber]++;
            }
        auto ours = openParadoxTable(db, OpenMode::ReadOnly);
        EXPECT_EQ(records, long(ours->recordCount()));
        for (auto& [b, n] : blocks) EXPECT_EQ(n, 1) << "block " << b << " listed twice";
        EXPECT_TRUE(index.errors().empty()) << index.errors();
    }
}

// pxlib reads the X files of the secondary indexes as tables: (index value, ID, block) rows
// in index order, one per record, each naming the block that holds the record.
TEST_F(PxlibCross, ReadsOurSecondaryIndexData) {
    struct Case { const char* table; const char* xfile; const char* field; };
    for (auto c : {Case{"RESURS.DB", "RESURS.X02", "IDRAB"}, Case{"RABMAT.DB", "RABMAT.X0B", "IDOGL"},
                   Case{"RABMAT.DB", "RABMAT.X03", "IDREESTR"}, Case{"RABMAT.DB", "RABMAT.XG0", "IDNAME"},
                   Case{"OGL.DB", "OGL.X02", "IDREESTR"}}) {
        SCOPED_TRACE(c.xfile);
        auto ours = openParadoxTable(path(c.table), OpenMode::ReadOnly);
        const int f = ours->fieldIndex(c.field);
        std::map<long, std::pair<long, uint32_t>> byId;  // ID -> (index value, block)
        for (auto loc = ours->first(); loc; loc = ours->next(*loc))
            byId[long(ours->readField(*loc, 0).asInteger())] = {long(ours->readField(*loc, f).asInteger()), loc->block};
        PxDoc x(path(c.xfile));
        ASSERT_EQ(PX_get_num_records(x.get()), int(byId.size()));
        std::pair<long, long> prev{LONG_MIN, LONG_MIN};
        for (int i = 0; i < PX_get_num_records(x.get()); ++i) {
            auto row = x.record(i);
            ASSERT_EQ(row.size(), 3u);
            long key = std::stol(row[0]), id = std::stol(row[1]), block = std::stol(row[2]);
            ASSERT_TRUE(byId.count(id)) << id;
            EXPECT_EQ(byId[id].first, key) << "ID " << id;
            EXPECT_EQ(long(byId[id].second), block) << "ID " << id;
            EXPECT_LT(prev, std::make_pair(key, id)) << "row " << i;
            prev = {key, id};
        }
    }
}
