// The construction's forms written by the kind of file asked for.
#include "editing/SummaryExport.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "common/AtomicFile.h"
#include "editing/SummaryXml.h"
#include "export/SummaryForms.h"
#include "export/XlsxRenderer.h"

namespace talvira::editing {

namespace fs = std::filesystem;

fs::path exportSummary(const SummaryDocument& doc, SummaryForm form, const std::string& objectNumber, const fs::path& file) {
    const std::string ext = file.extension().string();
    if (equalFolded(ext, ".gge") || equalFolded(ext, ".xml")) {
        const ExportMoment now = exportMoment();
        const xml::Element tree = form == SummaryForm::Object ? osrTree(doc.construction(), objectNumber, now)
                                                              : ssrTree(doc.construction(), doc.result(), now);
        return writeSummaryXml(tree, file);
    }
    if (equalFolded(ext, ".xlsx")) {
        const sheet::SheetPlan plan = form == SummaryForm::Object ? ssr::planOsr(doc.construction(), objectNumber)
                                                                  : ssr::planSsr(doc.construction(), doc.result());
        return writeFileAtomically(
            file, [&](const fs::path& tmp) { sheet::renderXlsx(plan, tmp, file); }, /*keepExisting=*/false, "книгу");
    }
    throw Error("Файл «" + file.string() + "»: вид файла по расширению — .xlsx (печатная форма), .gge или .xml (XML для "
                "экспертизы)");
}

}  // namespace talvira::editing
