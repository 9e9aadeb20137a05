#pragma once
/**
 * A local estimate from another program's expertise file (.gge, base-index method 3.01) made an
 * estimate of the program: its positions become table rows (a rate with its priced lines as the
 * rate's materials, a resource that is a position as a position of its own, freight as a line of
 * its position with its own index), its parameters, indices, НР/СП rows, percentages and
 * coefficients the kept calc data; then the program computes it and every amount it gets
 * otherwise than the file is listed.
 *
 *   editing::GgeImported r = editing::importGge("ЛСР 02-01-01.gge", "/home/u/Smeti", "", '.', tables);
 *   for (const editing::GgeDifference& d : r.differences) std::cout << differenceText(d, ',') << "\n";
 *
 * Caveats: no norm base is needed (the file carries its prices); the rate's own resources and
 * unaccounted materials without a price are not kept, and the notes say so. The machinists'
 * extra pay is not a line here: the computation gives it from the coefficients (Д). The estimate
 * appears whole or not at all (EstimateDocument::createWhole); an existing estimate of the name is
 * never replaced.
 */
#include "editing/KeptCalc.h"
#include "export/GgeRead.h"
#include "model/BaseIndexResult.h"
#include "model/EstimateRows.h"
#include "model/NrSpTables.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace talvira::editing {

/** The estimate the file gives, before it is stored. */
struct GgePlan {
    std::vector<model::PositionRow> rows;  // COUNT 1, 2, … in the file's order
    KeptCalc calc;
    model::EstimateTexts texts;
    /** Per row: the file's position (index in GgeEstimate::positions) it comes from, and which
     *  of its lines (-1: the position itself). */
    std::vector<std::pair<size_t, int>> source;
    /** What the estimate does not keep of the file (said once each). */
    std::vector<std::string> notes;
};

GgePlan planGgeImport(const exporting::GgeEstimate& file, char decimalSep);

/** An amount the program computes otherwise than the file. */
struct GgeDifference {
    int64_t position = 0;       // the file's number (0: the estimate's totals)
    std::string element;        // «НР», «ОТ (текущие цены)», «Итого по строительным работам»
    Money file, ours;
};

/** Every amount of the file compared with the computation of the plan's estimate. */
std::vector<GgeDifference> compareWithFile(const exporting::GgeEstimate& file, const GgePlan& plan,
                                           const model::BaseIndexResult& result);
/** «Позиция 7, НР: в файле 177 643,44, в программе 177 643,45». */
std::string differenceText(const GgeDifference& d, char decimalSep);

/** The estimate's name from the file («ЛСР 02-01-01 Технический пример»), a safe file name. */
std::string estimateNameOf(const exporting::GgeEstimate& file);

struct GgeImported {
    std::filesystem::path table;
    std::vector<GgeDifference> differences;
    std::vector<std::string> notes;
    std::vector<std::string> problems;  // what the computation could not price
};

/** Reads `file`, makes the estimate `name` (empty: estimateNameOf) in `dir`, computes it and
 *  compares. talvira::Error when the file is refused, the name is taken or the estimate cannot
 *  be written: then nothing is created. */
GgeImported importGge(const std::filesystem::path& file, const std::string& dir, std::string name, char decimalSep,
                      const model::NrSpTables& tables);

}  // namespace talvira::editing
