// What a strict reader holds the writer to: strings of the shared string table cut at record
// boundaries only where the format allows, the XF checksum (XFCRC) kept true when formats are
// added, the format of the template told by its BOF record rather than its stream's name.
// Each rule is checked at record level and over every workbook written by other software.
#include "common/Error.h"
#include "export/EstimateExport.h"
#include "export/XlsContainer.h"
#include "export/XlsRecords.h"
#include "export/XlsWorkbook.h"
#include "tests/export/EstimatePositions.h"
#include "tests/export/SheetReadBack.h"
#include "tests/support/TestPaths.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using namespace xls::biff;

Bytes record(uint16_t id, const Bytes& data) {
    Bytes out;
    add16(out, id);
    add16(out, static_cast<uint16_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

const BiffRecord* first(const std::vector<BiffRecord>& recs, uint16_t id, size_t* index = nullptr) {
    for (size_t i = 0; i < recs.size(); ++i)
        if (recs[i].id == id) {
            if (index) *index = i;
            return &recs[i];
        }
    return nullptr;
}

/* ---- the shared string table ------------------------------------------------------ */

/** A template whose SST holds a long string that fills the first record nearly to its end,
 *  then "x" with a phonetic block of 16 bytes and "рун" with three formatting runs. */
Bytes phoneticTemplate() {
    Bytes sst;
    add32(sst, 3);  // cstTotal
    add32(sst, 3);  // cstUnique
    add16(sst, 8200);
    add8(sst, 0x00);
    sst.insert(sst.end(), 8200, 'a');  // 8 + 8203 bytes: 13 left in the record
    Bytes cont;
    add16(cont, 1);
    add8(cont, 0x04);  // fExtSt
    add32(cont, 16);
    add8(cont, 'x');
    // ExtRst: reserved 1, cb 12, phs (font, info), crun 0, cch 1, st: cch 1, one character
    for (uint16_t v : {1, 12, 0, 0x0001, 0, 1, 1, 0x30AB}) add16(cont, v);
    add16(cont, 3);
    add8(cont, 0x09);  // fHighByte, fRichSt
    add16(cont, 3);    // cRun
    for (char16_t c : std::u16string(u"рун")) add16(cont, static_cast<uint16_t>(c));
    for (uint16_t v : {0, 1, 1, 2, 2, 1}) add16(cont, v);  // (ich, ifnt) x 3
    Bytes globals = record(SST, sst);
    const Bytes c = record(CONTINUE, cont);
    globals.insert(globals.end(), c.begin(), c.end());
    return emptyWorkbookStream(globals);
}

TEST(XlsStrictFormat, PhoneticBlockStaysWholeAtARecordBoundary) {
    xls::XlsWorkbook wb = xls::XlsWorkbook::fromStream(phoneticTemplate(), "шаблон.xls", ',');
    for (int i = 0; i < 400; ++i) wb.setText({i, 2}, "Строка " + std::to_string(i) + " с запасом длины");
    const Bytes stream = wb.workbookStream();
    const std::vector<BiffRecord> recs = biffRecords(stream);
    size_t sstAt = 0;
    ASSERT_TRUE(first(recs, SST, &sstAt));
    // Before: the first 5 of the block's 16 bytes ended the SST record, the other 11 began
    // the CONTINUE; now the SST record ends after "x" and the block opens the next record.
    EXPECT_EQ(recs[sstAt].data.size(), 8u + 8203u + 8u);
    ASSERT_EQ(recs[sstAt + 1].id, CONTINUE);
    const Bytes& next = recs[sstAt + 1].data;
    ASSERT_GE(next.size(), 16u);
    EXPECT_EQ(Bytes(next.begin(), next.begin() + 16),
              Bytes({1, 0, 12, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0xAB, 0x30}));
    EXPECT_EQ(sstFramingFaults(recs), std::vector<std::string>{});
    const SheetReadBack s = readBack(stream);
    ASSERT_GE(s.strings.size(), 3u);
    EXPECT_EQ(s.strings[1], "x");
    EXPECT_EQ(s.strings[2], "рун");
    EXPECT_EQ(s.content("C400"), "text Строка 399 с запасом длины");
}

TEST(XlsStrictFormat, FramingFaultsAreSeen) {
    // the checker itself: the template's own table holds; a block cut after 5 bytes does not
    const Bytes good = phoneticTemplate();
    EXPECT_EQ(sstFramingFaults(biffRecords(good)), std::vector<std::string>{});
    Bytes sst;
    add32(sst, 1);
    add32(sst, 1);
    add16(sst, 1);
    add8(sst, 0x04);
    add32(sst, 16);
    add8(sst, 'x');
    sst.insert(sst.end(), 5, 0);
    Bytes cut = record(SST, sst);
    const Bytes rest = record(CONTINUE, Bytes(11, 0));
    cut.insert(cut.end(), rest.begin(), rest.end());
    const auto faults = sstFramingFaults(biffRecords(cut));
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_NE(faults[0].find("phonetic block cut after 5 bytes"), std::string::npos) << faults[0];
}

/* ---- the XF checksum -------------------------------------------------------------- */

TEST(XlsStrictFormat, XfChecksumFollowsTheAddedFormats) {
    // a template saved by a newer Excel: XFCRC over its 16 formats, and an XFExt record
    std::vector<std::array<uint8_t, 20>> xfs = readBack(emptyWorkbookStream()).xfs;
    ASSERT_EQ(xfs.size(), 16u);
    Bytes crc(20, 0);
    put16(&crc[0], XFCRC);  // frtHeader.rt
    put16(&crc[14], 16);
    put32(&crc[16], xfCrcOf(xfs));
    const Bytes xfext = record(XFEXT, Bytes{0x7D, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0F, 0, 0, 0, 0, 0});
    Bytes extra = record(XFCRC, crc);
    extra.insert(extra.end(), xfext.begin(), xfext.end());
    xls::XlsWorkbook wb = xls::XlsWorkbook::fromStream(emptyWorkbookStream(extra), "шаблон.xls", ',');
    wb.addBorders({9, 0}, {11, 16});
    const Bytes stream = wb.workbookStream();
    const std::vector<BiffRecord> recs = biffRecords(stream);
    const SheetReadBack s = readBack(stream);
    ASSERT_EQ(s.xfs.size(), 17u);  // one format with the frame's lines
    const BiffRecord* out = first(recs, XFCRC);
    ASSERT_TRUE(out);
    EXPECT_EQ(u16(&out->data[14]), 17);                 // was 16
    EXPECT_EQ(u32(&out->data[16]), xfCrcOf(s.xfs));     // was the checksum of the 16
    EXPECT_NE(u32(&out->data[16]), u32(&crc[16]));
    const BiffRecord* ext = first(recs, XFEXT);
    ASSERT_TRUE(ext);
    EXPECT_EQ(record(ext->id, ext->data), xfext);        // kept as it was
}

/* ---- the compound file's directory ------------------------------------------------ */

/** Directory entries that break the container format's rules: an unused entry that is not
 *  blank (all zeros, sibling and child ids NOSTREAM), a storage with a start sector or size. */
std::vector<std::string> directoryFaults(const Bytes& f) {
    std::vector<std::string> faults;
    if (f.size() < 512) return {"no header"};
    const size_t ss = size_t{1} << u16(&f[0x1E]), per = ss / 4;
    std::vector<uint32_t> fat;
    for (size_t i = 0; i < 109; ++i) {
        const uint32_t v = u32(&f[0x4C + 4 * i]);
        if (v >= 0xFFFFFFFAu) continue;
        for (size_t k = 0; k < per && (v + 1) * ss + 4 * k + 4 <= f.size(); ++k)
            fat.push_back(u32(&f[(v + 1) * ss + 4 * k]));
    }
    uint32_t s = u32(&f[0x30]);
    for (int guard = 0; s < 0xFFFFFFFAu && guard < 10000 && (s + 1) * ss + ss <= f.size(); ++guard) {
        for (size_t e = 0; e < ss; e += 128) {
            const uint8_t* d = &f[(s + 1) * ss + e];
            const std::string where = "entry " + std::to_string(s) + "/" + std::to_string(e / 128);
            if (d[0x42] == 0) {
                Bytes blank(128, 0);
                std::fill(blank.begin() + 0x44, blank.begin() + 0x50, 0xFF);
                if (!std::equal(blank.begin(), blank.end(), d)) faults.push_back(where + " unused but not blank");
            } else if (d[0x42] == 1 && (u32(d + 0x74) != 0 || u32(d + 0x78) != 0 || u32(d + 0x7C) != 0)) {
                faults.push_back(where + " storage with a start sector or size");
            }
        }
        s = s < fat.size() ? fat[s] : 0xFFFFFFFFu;
    }
    return faults;
}

/* ---- every real workbook as a template -------------------------------------------- */

/** The rules over a workbook stream: string framing, XFCRC true, XFCRC and XFExt together. */
void expectStrict(const Bytes& stream, const std::string& name) {
    const std::vector<BiffRecord> recs = biffRecords(stream);
    EXPECT_EQ(sstFramingFaults(recs), std::vector<std::string>{}) << name;
    const SheetReadBack s = readBack(stream);
    const BiffRecord* crc = first(recs, XFCRC);
    EXPECT_EQ(crc != nullptr, first(recs, XFEXT) != nullptr) << name;
    if (crc) {
        ASSERT_GE(crc->data.size(), 20u) << name;
        EXPECT_EQ(u16(&crc->data[14]), s.xfs.size()) << name;
        EXPECT_EQ(u32(&crc->data[16]), xfCrcOf(s.xfs)) << name;
    }
}

TEST(XlsStrictFormat, EveryRealWorkbookAsATemplate) {
    TempDir dir("talvira-strict");
    const std::vector<fs::path> templates = filesUnder(fixture("real/xls"), ".xls");
    ASSERT_GE(templates.size(), 17u);
    size_t withCrc = 0;
    for (const fs::path& t : templates) {
        const std::string name = t.filename().string();
        const xls::CompoundFile in = xls::readCompoundFile(xls::readWholeFile(t, "x"), name);
        ASSERT_TRUE(in.find("Workbook")) << name;
        const Bytes& before = in.find("Workbook")->data;
        // the checker agrees with the template as its writer left it
        const std::vector<BiffRecord> inRecs = biffRecords(before);
        if (const BiffRecord* crc = first(inRecs, XFCRC)) {
            ++withCrc;
            EXPECT_EQ(u32(&crc->data[16]), xfCrcOf(readBack(before).xfs)) << name << " (template)";
        }
        const fs::path out = dir / name;
        xls::exportEstimateToFile(threePositions(), model::EstimateTexts::defaults(','), t.string(), out, ',', {},
                                  false);
        const Bytes file = xls::readWholeFile(out, "x");
        EXPECT_EQ(directoryFaults(file), std::vector<std::string>{}) << name;
        const xls::CompoundFile made = xls::readCompoundFile(file, name);
        ASSERT_TRUE(made.find("Workbook")) << name;
        const Bytes& stream = made.find("Workbook")->data;
        expectStrict(stream, name);
        const SheetReadBack s = readBack(stream);
        EXPECT_EQ(s.content("C13"), "text Бетонная подготовка\nпод фундаменты") << name;
        EXPECT_EQ(s.content("K12"), formulaOf("=E12*F12")) << name;
        EXPECT_TRUE(s.framed("Q14")) << name;
    }
    EXPECT_GE(withCrc, 5u);  // the rule is exercised, not skipped
}

TEST(XlsStrictFormat, TheDirectoryIsTidyInMemoryToo) {
    // a template with a storage (a macro project) and a directory sector not filled
    xls::XlsWorkbook wb = xls::XlsWorkbook::open(fixture("real/xls/19599-1.xls"), ',');
    wb.setText({1, 0}, "Генеральный директор ");
    const Bytes file = wb.save();
    EXPECT_EQ(directoryFaults(file), std::vector<std::string>{});
    const xls::CompoundFile back = xls::readCompoundFile(file, "19599-1.xls");
    EXPECT_TRUE(back.find("Workbook"));
    bool storage = false;
    for (const auto& e : back.root.children) storage = storage || e.storage;
    EXPECT_TRUE(storage);  // the macro project is carried over
}

/* ---- the stream's name ------------------------------------------------------------ */

/** A compound file holding `stream` under `name` and nothing else, written with libgsf. */
void writeWithGsf(const fs::path& path, const std::string& name, const Bytes& stream) {
    gsf_init();
    GError* err = nullptr;
    GsfOutput* sink = gsf_output_stdio_new(path.c_str(), &err);
    ASSERT_TRUE(sink) << (err ? err->message : "");
    GsfOutfile* ole = gsf_outfile_msole_new(sink);
    GsfOutput* child = gsf_outfile_new_child(ole, name.c_str(), FALSE);
    ASSERT_TRUE(gsf_output_write(child, stream.size(), stream.data()));
    gsf_output_close(child);
    g_object_unref(child);
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    g_object_unref(sink);  // closed with the compound file
}

/** The names of the top-level streams of `path`, read with libgsf. */
std::vector<std::string> streamNames(const fs::path& path) {
    std::vector<std::string> names;
    GError* err = nullptr;
    GsfInput* in = gsf_input_stdio_new(path.c_str(), &err);
    if (!in) return names;
    GsfInfile* ole = gsf_infile_msole_new(in, &err);
    if (ole) {
        for (int i = 0; i < gsf_infile_num_children(ole); ++i) names.emplace_back(gsf_infile_name_by_index(ole, i));
        g_object_unref(ole);
    }
    g_object_unref(in);
    return names;
}

TEST(XlsStrictFormat, ABiff8StreamUnderAnotherNameIsTakenByItsBof) {
    TempDir dir("talvira-book");
    const fs::path src = fixture("templates/1.xls");
    const xls::CompoundFile srcFile = xls::readCompoundFile(xls::readWholeFile(src, "x"), "1.xls");
    const Bytes biff8 = srcFile.find("Workbook")->data;
    struct Case { const char* name; bool biff8; const char* error; } cases[] = {
        {"BOOK", true, ""},
        {"Book", true, ""},
        {"book", true, ""},
        {"WORKBOOK", true, ""},
        {"workbook", true, ""},
        {"Book", false, "BIFF5"},
    };
    for (const Case& c : cases) {
        Bytes stream = biff8;
        if (!c.biff8) put16(&stream[4], kBiff5Version);  // the globals' BOF says BIFF5
        const fs::path templ = dir / (std::string(c.name) + (c.biff8 ? "-8" : "-5") + ".xls");
        writeWithGsf(templ, c.name, stream);
        const fs::path out = dir / (std::string("out-") + templ.filename().string());
        std::string error;
        try {
            xls::exportEstimateToFile(threePositions(), model::EstimateTexts::defaults(','), templ.string(), out,
                                      ',', {}, false);
        } catch (const Error& e) {
            error = e.what();
        }
        if (*c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
            continue;
        }
        ASSERT_EQ(error, "") << c.name;
        EXPECT_EQ(streamNames(out), std::vector<std::string>{"Workbook"}) << c.name;
        const xls::CompoundFile made = xls::readCompoundFile(xls::readWholeFile(out, "x"), "out");
        const SheetReadBack s = readBack(made.find("Workbook")->data);
        EXPECT_EQ(s.content("B12"), "text ТЕР01-01-001-01") << c.name;
        EXPECT_EQ(s.content("K15"), formulaOf("=СУММ(K12:K14)")) << c.name;
    }
}


// Damaged templates kept in tests/data/fail: each ends in a clear error, except "survived-*",
// damage the container reader goes around (a directory whose siblings point in a circle).
TEST(KeptFindings, DamagedTemplatesFailCleanly) {
    const fs::path dir = fixture("fail");
    int kept = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() != ".xls") continue;
        ++kept;
        SCOPED_TRACE(e.path().string());
        const bool survives = e.path().stem().string().rfind("survived-", 0) == 0;
        try {
            xls::XlsWorkbook wb = xls::XlsWorkbook::open(e.path(), ',');
            xls::writeEstimate(wb, threePositions(), model::EstimateTexts::defaults(','), ',');
            const SheetReadBack back = readBack(wb.workbookStream());
            EXPECT_TRUE(survives) << "read without an error";
            EXPECT_EQ(back.content("B12").rfind("text ", 0), 0u);
        } catch (const Error& err) {
            EXPECT_FALSE(survives) << err.what();
            EXPECT_NE(std::string(err.what()).find("повреждён"), std::string::npos) << err.what();
        }
    }
    EXPECT_GE(kept, 2);
}

}  // namespace
}  // namespace talvira::test
