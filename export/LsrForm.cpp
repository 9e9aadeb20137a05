#include "export/LsrForm.h"

#include "common/AtomicFile.h"

namespace talvira::lsr {

namespace {

std::string safeFileName(std::string_view name) {
    std::string s(name);
    for (char& c : s)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    return s;
}

}  // namespace

void writeLsrWorkbook(const FormInput& in, const std::filesystem::path& file) {
    sheet::renderXlsx(planLsr(in), file, file);
}

std::filesystem::path exportLsrToFile(const FormInput& in, const std::filesystem::path& outPath, bool keepExisting,
                                      const sheet::Progress& progress) {
    const sheet::SheetPlan plan = planLsr(in);
    // a temporary a killed write left beside the target goes with this one
    return writeFileAtomically(
        outPath, [&](const std::filesystem::path& tmp) { sheet::renderXlsx(plan, tmp, outPath, progress); },
        keepExisting, "книгу");
}

std::filesystem::path lsrPathFor(std::string_view estimateName, const std::filesystem::path& dir) {
    return dir / (safeFileName(estimateName) + " ЛСР.xlsx");
}

xls::WorkbookPlace lsrPlaceFor(const std::filesystem::path& estimateTable) {
    // the template workbook's place, under the form's name
    xls::WorkbookPlace place = xls::workbookPlaceFor(estimateTable);
    place.path = lsrPathFor(estimateTable.stem().string(), place.path.parent_path());
    return place;
}

}  // namespace talvira::lsr
