// An imported estimate's table, written in one go, holds what appending its rows one at a time
// through a handle stores: the same records read by our reader, the same records read by pxlib
// (an independent Paradox reader), and a header from which the next appended position is
// numbered after the last. pxlib 0.6.8 aborts when a .MB is attached, so the name memo is seen
// through our reader only, and pxlib reports an empty number as 0.
#include "editing/GgeImport.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "export/GgeRead.h"
#include "storage/TableFile.h"
#include "storage/TableHandle.h"
#include "tests/support/TestPaths.h"

extern "C" {
#include <paradox.h>
}

#include <gtest/gtest.h>

namespace talvira::editing {
namespace {

namespace fs = std::filesystem;
using storage::Value;

void quietPxlib(pxdoc_t*, int, const char*, void*) {}

struct PxDoc {
    pxdoc_t* doc = PX_new2(quietPxlib, nullptr, nullptr, nullptr);
    ~PxDoc() {
        PX_close(doc);
        PX_delete(doc);
    }
};

std::vector<storage::Record> records(const fs::path& table) {
    const auto t = storage::openParadoxTable(table.string(), storage::OpenMode::ReadOnly);
    std::vector<storage::Record> out;
    for (auto at = t->first(); at; at = t->next(*at)) out.push_back(t->read(*at));
    return out;
}

/** The plan's rows appended one at a time through a handle, as an estimate is filled in. */
fs::path appendedOneByOne(const std::vector<model::PositionRow>& rows, const fs::path& dir) {
    namespace fld = estimate::fld;
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, dir.string(), "По одной");
    estimate::createAndOpen(smeta);
    for (const model::PositionRow& r : rows) {
        smeta.append();
        smeta.setFieldValue(fld::TAB, Value::string(r.code));
        smeta.setFieldValue(fld::NAME, Value::string(r.name));
        smeta.setFieldValue(fld::IZM, Value::string(r.unit));
        smeta.setFieldValue(fld::KOLVO, Value::real(r.quantity));
        smeta.setFieldValue(fld::STOIM, Value::real(r.cost));
        smeta.setFieldValue(fld::OSNZP, Value::real(r.baseWages));
        smeta.setFieldValue(fld::MATER, Value::real(r.materials));
        smeta.setFieldValue(fld::EXPLMASH, Value::real(r.machines));
        smeta.setFieldValue(fld::ZPMASH, Value::real(r.machineWages));
        smeta.setFieldValue(fld::TRUD, Value::real(r.labour));
        smeta.post();
    }
    const fs::path path = smeta.tablePath();
    smeta.close();
    return path;
}

TEST(GgeImportPxlib, TheImportedTableIsTheOneAppendsWouldStore) {
    test::TempDir dir;
    const fs::path file = test::fixture("real/gge/BIM-3.01-example.gge");
    const GgeImported imported = importGge(file, dir.path().string(), "Из файла", '.', model::nrSpTables());
    const GgePlan plan = planGgeImport(exporting::readGge(file), '.');
    const fs::path appended = appendedOneByOne(plan.rows, dir.path());

    const std::vector<storage::Record> ours = records(imported.table);
    ASSERT_GT(ours.size(), 16u);  // several blocks
    EXPECT_EQ(ours, records(appended));

    PxDoc px;
    ASSERT_EQ(PX_open_file(px.doc, imported.table.c_str()), 0);
    PX_set_targetencoding(px.doc, "UTF-8");
    ASSERT_EQ(PX_get_num_records(px.doc), int(ours.size()));
    const auto& defs = estimate::estimateFieldDefs();
    ASSERT_EQ(PX_get_num_fields(px.doc), int(defs.size()));
    for (size_t i = 0; i < ours.size(); ++i) {
        SCOPED_TRACE(i);
        pxval_t** v = PX_retrieve_record(px.doc, int(i));
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v[0]->value.lval, long(i + 1));
        EXPECT_EQ(ours[i][0], Value::integer(int64_t(i + 1)));
        for (size_t f = 1; f < defs.size(); ++f) {
            SCOPED_TRACE(defs[f].name);
            if (defs[f].type == storage::FieldType::Alpha) {
                const std::string text = v[f]->isnull ? "" : std::string(v[f]->value.str.val, size_t(v[f]->value.str.len));
                EXPECT_EQ(text, ours[i][f].asString());
            } else if (defs[f].type == storage::FieldType::Number) {
                EXPECT_EQ(v[f]->value.dval, ours[i][f].isEmpty() ? 0.0 : ours[i][f].asFloat());
            }
        }
    }

    // The next position the estimator adds is numbered after the last.
    storage::TableHandle smeta("SmetaTable");
    estimate::bindForOpening(smeta, dir.path().string(), imported.table.filename().string());
    estimate::openEstimate(smeta);
    smeta.last();
    smeta.append();
    smeta.setFieldValue(estimate::fld::TAB, Value::string("новая"));
    smeta.post();
    EXPECT_EQ(smeta.fieldValue(estimate::fld::COUNT), Value::integer(int64_t(ours.size() + 1)));
}

}  // namespace
}  // namespace talvira::editing
