// The expertise files of a construction: an object estimate of three local estimates made in the
// program (rates of three books with their НР and СП, materials, equipment) valid against the
// official ObjectEstimate 3.01 schema, its amounts the estimates' own totals; the worked school's
// summary estimate valid against the shipped draft, to the printed thousands of the notes; and
// each refused edit of the file that the schemas must catch, so that validation is known to bite.
#include "tests/support/PricedEstimate.h"
#include "tests/support/TestPaths.h"

#include "common/Error.h"
#include "editing/EstimateRows.h"
#include "editing/SummaryDocument.h"
#include "editing/SummaryLinks.h"
#include "editing/SummaryXml.h"
#include "model/BaseIndex.h"
#include "model/NrSpTables.h"

#include <gtest/gtest.h>
#include <libxml/xmlschemas.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

namespace talvira::test {
namespace {

namespace fs = std::filesystem;
using model::WorkType;

fs::path schema(const char* name) { return fs::path(TALVIRA_SOURCE_DIR) / "data" / "gge" / name; }

/** The schema's complaints about `bytes`, "" when it validates. */
std::string complaints(const std::string& bytes, const fs::path& xsd) {
    static std::string said;
    said.clear();
    xmlSchemaParserCtxtPtr pc = xmlSchemaNewParserCtxt(xsd.c_str());
    xmlSchemaPtr s = xmlSchemaParse(pc);
    xmlSchemaFreeParserCtxt(pc);
    if (!s) return "schema not read: " + xsd.string();
    xmlSchemaValidCtxtPtr vc = xmlSchemaNewValidCtxt(s);
    xmlSchemaSetValidStructuredErrors(
        vc, [](void*, xmlErrorPtr e) { said += e && e->message ? e->message : "?"; }, nullptr);
    xmlDocPtr doc = xmlReadMemory(bytes.data(), int(bytes.size()), "in.gge", nullptr, 0);
    const int rc = doc ? xmlSchemaValidateDoc(vc, doc) : -1;
    if (doc) xmlFreeDoc(doc);
    xmlSchemaFreeValidCtxt(vc);
    xmlSchemaFree(s);
    return rc == 0 ? std::string() : "invalid" + (said.empty() ? std::string() : ": " + said);
}

/** The element at a path of names ("Object/Summary/Building"), to spoil. */
xml::Element& at(xml::Element& e, std::string_view path) {
    xml::Element* here = &e;
    while (!path.empty()) {
        const size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        auto found = std::find_if(here->children.begin(), here->children.end(), [&](const xml::Element& c) { return c.name == name; });
        if (found == here->children.end()) throw std::runtime_error("no " + std::string(name));
        here = &*found;
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return *here;
}

const editing::ExportMoment kMoment{{2026, 2, 10}, "2026-02-10T12:00:00+03:00"};

/** An estimate of rates of the three books and materials, some of them equipment. */
fs::path ratedEstimate(const fs::path& dir, const std::string& name, int positions, double scale) {
    storage::TableHandle smeta("SmetaTable");
    estimate::bindEstimate(smeta, dir.string(), name);
    estimate::createAndOpen(smeta);
    editing::KeptCalc s;
    s.params.method = model::Method::BaseIndex;
    s.params.indexOt = Dec7::parse("52.21");
    s.params.indexEm = Dec7::parse("16.64");
    s.params.indexM = Dec7::parse("8.49");
    s.params.indexEq = Dec7::parse("6.31");
    const char* books[] = {"ФЕР08-01-001-01", "ФЕРм08-02-001-01", "ФЕРп01-05-001-01"};
    for (int i = 0; i < positions; ++i) {
        const bool material = i % 4 == 3;
        const std::string code = material ? "ФССЦ-01.1.01-" + std::to_string(i) : books[i % 3];
        smeta.append();
        smeta.setFieldValue("TAB", storage::Value::string(code));
        smeta.setFieldValue("KOLVO", storage::Value::real(scale * (1 + i % 7)));
        if (material) {
            smeta.setFieldValue("STOIM", storage::Value::real(1234.56 + i));
            smeta.setFieldValue("MATER", storage::Value::real(1234.56 + i));
        } else {
            smeta.setFieldValue("STOIM", storage::Value::real(258.39));
            smeta.setFieldValue("OSNZP", storage::Value::real(32.74));
            smeta.setFieldValue("EXPLMASH", storage::Value::real(10.46));
            smeta.setFieldValue("ZPMASH", storage::Value::real(1.74));
            smeta.setFieldValue("MATER", storage::Value::real(215.19));
            smeta.setFieldValue("TRUD", storage::Value::real(3.94));
        }
        smeta.post();
        model::PositionData& e = s.entry(static_cast<int32_t>(smeta.fieldValue("COUNT").asInteger()));
        e.code = code;
        if (material) {
            if (i % 8 == 3) e.workType = WorkType::Equipment;
        } else {
            e.nrRow = e.spRow = "008.0";
            e.machinistLabour = Dec7::parse("0.15");
        }
    }
    const fs::path table = smeta.tablePath();
    smeta.close();
    editing::saveKeptCalc(table, s);
    return table;
}

/** The estimate's own result. */
model::BaseIndexResult resultOf(const fs::path& table) {
    storage::TableHandle smeta("SmetaTable");
    estimate::bindForOpening(smeta, table.parent_path().string(), table.filename().string());
    smeta.open();
    const editing::KeptCalc side = editing::loadKeptCalc(table);
    return model::computeBaseIndex(editing::readPositionRows(smeta), side.positions, side.params, model::nrSpTables());
}

TEST(SummaryXml, AnObjectOfThreeEstimatesValidatesAndCarriesTheirOwnTotals) {
    TempDir dir("talvira-osr");
    const fs::path tables[] = {ratedEstimate(dir.path(), "Общестроительные", 11, 1.5),
                               ratedEstimate(dir.path(), "Электроснабжение", 7, 2.25),
                               ratedEstimate(dir.path(), "Пусконаладка", 5, 1)};
    const fs::path ssr = editing::SummaryDocument::create(dir.path(), "Школа", {2026, 2, 10});
    editing::SummaryDocument doc(model::nrSpTables());
    doc.open(ssr);
    doc.set({{"name", "Школа на 550 мест"}, {"level", "I кв. 2026"}});
    for (const fs::path& t : tables) doc.addEstimate(2, t, "02-01", "Здание школы", false);

    const xml::Element osr = editing::osrTree(doc.construction(), "02-01", kMoment);
    const std::string bytes = xml::render(osr);
    EXPECT_EQ(complaints(bytes, schema("ObjectEstimate-3_01.xsd")), "");

    const std::vector<const xml::Element*> lines = osr.child("Object")->all("LocalEstimate");
    ASSERT_EQ(lines.size(), 3u);
    Money all;
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(tables[i].string());
        const model::BaseIndexResult own = resultOf(tables[i]);
        all += own.total.current.total;
        EXPECT_EQ(lines[i]->textAt("Total"), model::thousandsText(own.total.current.total));
        EXPECT_EQ(lines[i]->textAt("Details/Total"), model::thousandsText(own.total.current.total));
        EXPECT_EQ(lines[i]->textAt("Reason"), "02-01-0" + std::to_string(i + 1));
        EXPECT_EQ(lines[i]->textAt("Link"), "02-01-0" + std::to_string(i + 1) + " " + tables[i].stem().string() + ".gge");
        for (const model::WorkTypeTotals& w : own.workTypes) {
            const char* at = w.type == WorkType::Construction ? "Details/Building/"
                             : w.type == WorkType::Mounting   ? "Details/Mounting/"
                             : w.type == WorkType::Commissioning ? "Details/Commissioning/"
                                                                 : nullptr;
            if (!at) continue;
            EXPECT_EQ(lines[i]->textAt(std::string(at) + "WorkersSalary"), model::thousandsText(w.current.ot)) << at;
            EXPECT_EQ(lines[i]->textAt(std::string(at) + "Overhead"), model::thousandsText(w.current.nr)) << at;
            EXPECT_EQ(lines[i]->textAt(std::string(at) + "Total"), model::thousandsText(w.current.total)) << at;
        }
    }
    EXPECT_EQ(osr.textAt("Object/Summary/Total"), model::thousandsText(all));
    EXPECT_EQ(osr.textAt("Object/SubSummary1/Total"), model::thousandsText(all));
    EXPECT_EQ(osr.textAt("Object/PriceLevel/Quarter"), "1");
    EXPECT_THROW(editing::osrTree(doc.construction(), "02-02", kMoment), Error);
}

/** The worked school of the notes, its estimates made in the program. */
editing::SummaryDocument school(const fs::path& dir) {
    const fs::path general = makePricedEstimate(dir, "ЛСР 02-01-01", {{WorkType::Construction, "18456789.37"}},
                                                "Общестроительные работы");
    const fs::path systems = makePricedEstimate(dir, "ЛСР 02-01-02",
                                                {{WorkType::Construction, "1234567.89"}, {WorkType::Mounting, "2345678.91"},
                                                 {WorkType::Equipment, "3456789.12"}, {WorkType::Other, "123456.78"}},
                                                "Внутренние инженерные системы");
    const fs::path networks = makePricedEstimate(
        dir, "ЛСР 06-01-01", {{WorkType::Construction, "2987654.32"}, {WorkType::Mounting, "412345.82"}},
        "Наружные сети водоснабжения");
    editing::SummaryDocument doc(model::nrSpTables());
    doc.open(editing::SummaryDocument::create(dir, "Школа", {2026, 2, 10}));
    doc.set({{"name", "Школа на 550 мест"}, {"customer", "ГКУ «Дирекция»"}, {"level", "I кв. 2026"}});
    doc.addEstimate(2, general, "02-01", "Здание школы", false);
    doc.addEstimate(2, systems, "02-01", "", false);
    doc.addEstimate(6, networks, "", "", false);
    constexpr unsigned k45 = (1u << 4) | (1u << 5);
    doc.addLine(8, model::SummaryLine::percentage("Временные здания и сооружения", Dec7::parse("1.8"), 7, k45));
    doc.addLine(9, model::SummaryLine::percentage("Зимнее удорожание", Dec7::parse("2.4"), 8, k45));
    auto other = [](const char* rubles) {
        model::CostColumns c;
        c[model::CostColumn::Other] = *Money::tryParse(rubles);
        return c;
    };
    doc.addLine(10, model::SummaryLine::calculation("Содержание службы технического заказчика", other("742118.40")));
    doc.addLine(10, model::SummaryLine::calculation("Строительный контроль", other("512346.05")));
    doc.addLine(12, model::SummaryLine::calculation("Проектные и изыскательские работы", other("1850000")));
    doc.addLine(12, model::SummaryLine::calculation("Государственная экспертиза", other("245678.90")));
    return doc;
}

TEST(SummaryXml, TheSchoolsSummaryValidatesAgainstTheDraftInPrintedThousands) {
    TempDir dir("talvira-ssr-xml");
    const editing::SummaryDocument doc = school(dir.path());
    const xml::Element ssr = editing::ssrTree(doc.construction(), doc.result(), kMoment);
    const std::string bytes = xml::render(ssr);
    EXPECT_EQ(complaints(bytes, schema("SummaryEstimate-3_01-DRAFT-unofficial.xsd")), "");

    const xml::Element* object = ssr.child("Chapter2")->child("ObjectEstimate");
    ASSERT_TRUE(object);
    EXPECT_EQ(object->textAt("Total"), "25617.28");
    EXPECT_EQ(object->textAt("Num"), "1");
    EXPECT_EQ(object->textAt("Reason"), "ОСР 02-01");
    EXPECT_EQ(object->textAt("Link"), "02-01 Здание школы.gge");
    EXPECT_EQ(object->textAt("StageID"), "0");
    EXPECT_EQ(ssr.child("Chapter6")->child("LocalEstimate")->textAt("Link"), "06-01-01 Наружные сети водоснабжения.gge");
    const xml::Element* temporary = ssr.child("Chapter8")->child("Addition");
    EXPECT_EQ(temporary->textAt("Name"), "Временные здания и сооружения 1,8 %");
    EXPECT_EQ(temporary->textAt("Building"), "408.22");
    EXPECT_EQ(temporary->textAt("Total"), "457.87");
    EXPECT_EQ(ssr.textAt("Chapter10/Summary/Total"), "1254.46");
    EXPECT_EQ(ssr.textAt("Chapter12/SubSummary/Total"), "33446.77");
    EXPECT_EQ(ssr.textAt("Chapter13/Addition/Total"), "668.94");
    EXPECT_EQ(ssr.textAt("Chapter13/SubSummary/Total"), "34115.71");
    EXPECT_EQ(ssr.textAt("Chapter14/Addition/Name"), "Налог на добавленную стоимость 22 %");
    EXPECT_EQ(ssr.textAt("Chapter14/Summary/Total"), "7505.46");
    EXPECT_EQ(ssr.textAt("Summary/Total"), "41621.16");
    EXPECT_EQ(ssr.textAt("Summary/Building"), "29419.27");
    EXPECT_FALSE(ssr.child("Chapter1")) << "an empty chapter before the subtotals is left out";
    EXPECT_TRUE(ssr.child("Chapter11")) << "chapters 7–12 carry their subtotals";

    // written in one step where it is asked for
    const fs::path written = editing::writeSummaryXml(ssr, dir / "ССРСС Школа.gge");
    std::ifstream in(written, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_TRUE(text.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Construction xmlns:xsi=")) << text.substr(0, 80);
}

TEST(SummaryXml, TheSchemasCatchWhatTheyMust) {
    TempDir dir("talvira-ssr-xml-bad");
    const editing::SummaryDocument doc = school(dir.path());
    const xml::Element osr = editing::osrTree(doc.construction(), "02-01", kMoment);
    const xml::Element ssr = editing::ssrTree(doc.construction(), doc.result(), kMoment);
    const struct {
        const char* name;
        const xml::Element& tree;
        const char* xsd;
        std::function<void(xml::Element&)> spoil;
    } cases[] = {
        {"a decimal comma", osr, "ObjectEstimate-3_01.xsd",
         [](xml::Element& t) { at(t, "Object/Summary/Building").text = "19691,36"; }},
        {"no estimate in the object", osr, "ObjectEstimate-3_01.xsd",
         [](xml::Element& t) {
             auto& c = at(t, "Object").children;
             c.erase(std::remove_if(c.begin(), c.end(), [](const xml::Element& e) { return e.name == "LocalEstimate"; }), c.end());
         }},
        {"another file type", ssr, "SummaryEstimate-3_01-DRAFT-unofficial.xsd",
         [](xml::Element& t) { at(t, "Meta/File/Type").text = "ОСР"; }},
        {"chapters out of order", ssr, "SummaryEstimate-3_01-DRAFT-unofficial.xsd",
         [](xml::Element& t) { std::swap(at(t, "Summary"), at(t, "Chapter2")); }},
        {"a line without its link", ssr, "SummaryEstimate-3_01-DRAFT-unofficial.xsd",
         [](xml::Element& t) {
             auto& c = at(t, "Chapter6/LocalEstimate").children;
             c.erase(std::remove_if(c.begin(), c.end(), [](const xml::Element& e) { return e.name == "Link"; }), c.end());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        xml::Element spoilt = c.tree;
        c.spoil(spoilt);
        EXPECT_EQ(complaints(xml::render(c.tree), schema(c.xsd)), "");
        EXPECT_NE(complaints(xml::render(spoilt), schema(c.xsd)), "");
    }
}

}  // namespace
}  // namespace talvira::test
