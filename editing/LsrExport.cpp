#include "editing/LsrExport.h"

#include "common/Error.h"
#include "editing/EstimateRows.h"

namespace talvira::editing {

const char* const kNeedsBaseIndexMethod =
    "Локальный сметный расчет по форме 421/пр составляется для сметы, рассчитанной базисно-индексным методом "
    "(421/пр); эта смета рассчитана по шаблону. Выберите метод в параметрах сметы или выгрузите смету по "
    "шаблону (Excel).";

LsrFacts lsrFactsOf(const normbase::BaseInfo& base) {
    LsrFacts f;
    f.edition = base.edition;
    f.orders = base.orders;
    return f;
}

lsr::FormFacts formFactsOf(const model::EstimateTexts& texts, const std::string& estimateName, const LsrFacts& facts) {
    lsr::FormFacts f;
    f.program = facts.program;
    f.edition = facts.edition;
    f.orders = facts.orders;
    f.worksName = estimateName;
    // «Локальная смета №1» → «1»
    const std::string mark = "№";
    const size_t at = texts.title.rfind(mark);
    if (at != std::string::npos) {
        std::string n = texts.title.substr(at + mark.size());
        while (!n.empty() && n.front() == ' ') n.erase(n.begin());
        while (!n.empty() && n.back() == ' ') n.pop_back();
        f.number = n;
    }
    return f;
}

std::vector<std::string> chargeTitles(const model::BaseIndexResult& result, const model::NrSpTables& tables) {
    std::vector<std::string> out;
    out.reserve(result.positions.size());
    for (const model::PositionResult& p : result.positions) {
        const std::string& row = p.nrRow.empty() ? p.spRow : p.nrRow;
        const model::NrSpRow* r = row.empty() ? nullptr : tables.find(row);
        out.push_back(r ? r->title() : std::string());
    }
    return out;
}

LsrFormData prepareLsrForm(EstimateDocument& doc, const model::EstimateTexts& texts, const LsrFacts& facts) {
    const model::BaseIndexResult* computed = doc.baseIndex();
    if (!computed) throw Error(kNeedsBaseIndexMethod);
    LsrFormData form;
    form.result = *computed;
    // the rows with their names and units, as the totals read them, the table back where it was
    form.rows = readPositionRows(doc.table());
    std::string problems;
    int listed = 0;
    for (const model::Problem& p : form.result.problems) {
        if (p.number == 0) continue;  // a missing index: the form is written in base prices there
        if (++listed <= 10) problems += "\n" + p.message;
    }
    if (listed > 10) problems += "\n… и ещё " + std::to_string(listed - 10);
    if (listed > 0) throw Error("Локальный сметный расчет не составлен: не рассчитаны позиции" + problems);
    form.texts = texts;
    form.params = doc.calc().params;
    form.facts = formFactsOf(texts, std::filesystem::path(doc.table().tablePath()).stem().string(), facts);
    form.chargeTitles = chargeTitles(form.result, doc.tables());
    return form;
}

std::filesystem::path writeLsrForm(const LsrFormData& form, const std::filesystem::path& out, bool keepExisting,
                                   const sheet::Progress& progress) {
    return lsr::exportLsrToFile(form.input(), out, keepExisting, progress);
}

std::filesystem::path exportLsrForm(EstimateDocument& doc, const model::EstimateTexts& texts, const LsrFacts& facts,
                                    const std::filesystem::path& out, bool keepExisting) {
    return writeLsrForm(prepareLsrForm(doc, texts, facts), out, keepExisting);
}

}  // namespace talvira::editing
