// pxlib as an independent reader and writer of estimates: it reads an estimate we write with
// the same values, and an estimate it writes with the 19 fields opens as an estimate here.
// pxlib 0.6.8 aborts when a .MB is attached, so the name memo is seen through its in-record
// part only (with the estimate's memo size of 10 that part holds no text), and it reports an
// empty number as 0.
#include "tests/support/TestPaths.h"

#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "storage/TableHandle.h"

extern "C" {
#include <paradox.h>
}

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace talvira::test {
namespace {

using storage::Value;

void quietPxlib(pxdoc_t*, int, const char*, void*) {}

struct PxDoc {
    pxdoc_t* doc = PX_new2(quietPxlib, nullptr, nullptr, nullptr);
    ~PxDoc() {
        PX_close(doc);
        PX_delete(doc);
    }
};

TEST(PxlibEstimate, ReadsAnEstimateWeWrite) {
    TempDir dir;
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, dir.path().string(), "Дом");
    estimate::createAndOpen(smeta);
    for (int i = 0; i < 300; ++i) {  // several blocks
        smeta.append();
        smeta.setFieldValue("TAB", Value::string("06-01-041-" + std::to_string(i)));
        smeta.setFieldValue("NAME", Value::string(std::string(i % 50, 'x') + "Устройство перекрытий"));
        smeta.setFieldValue("IZM", Value::string("100 м3"));
        if (i % 2) smeta.setFieldValue("KOLVO", Value::real(i / 4.0));
        smeta.setFieldValue("STOIM", Value::real(16682.71 + i));
        smeta.setFieldValue("TRUD", Value::real(-0.5 * i));
        smeta.post();
    }
    smeta.close();

    PxDoc px;
    ASSERT_EQ(PX_open_file(px.doc, estimate::estimatePath(dir.path().string(), "Дом").c_str()), 0);
    PX_set_targetencoding(px.doc, "UTF-8");
    ASSERT_EQ(PX_get_num_records(px.doc), 300);
    ASSERT_EQ(PX_get_num_fields(px.doc), 19);
    const auto& defs = estimate::estimateFieldDefs();
    for (int f = 0; f < 19; ++f) {
        pxfield_t* field = PX_get_field(px.doc, f);
        EXPECT_EQ(field->px_fname, defs[size_t(f)].name) << f;
        EXPECT_EQ(int(field->px_ftype), int(defs[size_t(f)].type)) << f;
    }
    for (int i = 0; i < 300; ++i) {
        pxval_t** v = PX_retrieve_record(px.doc, i);
        ASSERT_NE(v, nullptr) << i;
        EXPECT_EQ(v[0]->value.lval, i + 1) << i;  // COUNT
        EXPECT_EQ(std::string(v[1]->value.str.val, size_t(v[1]->value.str.len)), "06-01-041-" + std::to_string(i));
        EXPECT_EQ(std::string(v[3]->value.str.val, size_t(v[3]->value.str.len)), "100 м3");
        EXPECT_EQ(v[4]->value.dval, i % 2 ? i / 4.0 : 0.0) << i;
        EXPECT_EQ(v[5]->value.dval, 16682.71 + i) << i;
        EXPECT_EQ(v[10]->value.dval, -0.5 * i) << i;
        for (int f = 11; f < 19; ++f) EXPECT_EQ(v[f]->value.dval, 0.0) << i << " " << f;
    }
}

TEST(PxlibEstimate, AnEstimatePxlibWritesOpensAsAnEstimate) {
    TempDir dir;
    const auto& defs = estimate::estimateFieldDefs();
    // pxlib takes the field list over and frees it (names included) with free().
    auto* fields = static_cast<pxfield_t*>(std::malloc(defs.size() * sizeof(pxfield_t)));
    int recordSize = 0;
    for (size_t i = 0; i < defs.size(); ++i) {
        const int size = defs[i].type == storage::FieldType::AutoInc ? 4
                         : defs[i].type == storage::FieldType::Number ? 8
                                                                      : defs[i].size;
        fields[i] = {strdup(defs[i].name.c_str()), char(defs[i].type), size, 0};
        recordSize += size;
    }
    const std::string path = (dir / "PXLIB.DB").string();
    {
        PxDoc px;
        ASSERT_EQ(PX_create_file(px.doc, fields, int(defs.size()), path.c_str(), pxfFileTypNonIndexDB), 0);
        PX_set_value(px.doc, "codepage", 1251);
        ASSERT_EQ(PX_get_recordsize(px.doc), recordSize);
        for (int k = 0; k < 40; ++k) {
            std::vector<char> rec(size_t(recordSize), 0);
            char* p = rec.data();
            PX_put_data_long(px.doc, p, 4, k + 1);
            std::string tab = "T" + std::to_string(k);
            tab.resize(50, '\0');
            PX_put_data_alpha(px.doc, p + 4, 50, tab.data());
            // NAME (bytes 54..63) stays empty; IZM from 64.
            PX_put_data_alpha(px.doc, p + 64, 50, const_cast<char*>("\xF2"));  // "т" in 1251
            PX_put_data_double(px.doc, p + 114, 8, k / 8.0);                   // KOLVO
            PX_put_data_double(px.doc, p + 122, 8, 100.0 + k);                 // STOIM
            ASSERT_GE(PX_put_record(px.doc, p), 0);
        }
    }

    storage::TableHandle smeta("SmetaTable");
    estimate::bindForOpening(smeta, dir.path().string(), "PXLIB.DB");
    smeta.open();
    ASSERT_EQ(smeta.recordCount(), 40);
    ASSERT_EQ(smeta.fieldCount(), 17);
    int k = 0;
    for (smeta.first(); !smeta.eof(); smeta.next(), ++k) {
        EXPECT_EQ(smeta.fieldValue("COUNT"), Value::integer(k + 1));
        EXPECT_EQ(smeta.fieldAsString("TAB"), "T" + std::to_string(k));
        EXPECT_EQ(smeta.fieldAsString("NAME"), "");
        EXPECT_EQ(smeta.fieldAsString("IZM"), "т");
        EXPECT_EQ(smeta.fieldValue("KOLVO").asFloat(), k / 8.0);
        EXPECT_EQ(smeta.fieldValue("STOIM"), Value::real(100.0 + k));
    }
    EXPECT_EQ(k, 40);
    // And we can go on adding positions to it.
    smeta.append();
    smeta.setFieldValue("TAB", Value::string("новая"));
    smeta.post();
    EXPECT_EQ(smeta.recordCount(), 41);
    EXPECT_FALSE(smeta.fieldValue("COUNT").isEmpty());
    // The number the new position gets comes from the table header's counter, which pxlib
    // leaves at 0 when it writes records itself; so it is not compared here.
}

}  // namespace
}  // namespace talvira::test
