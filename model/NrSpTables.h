#pragma once
/**
 * The overhead (НР, 812/пр) and profit (СП, 774/пр) norms by type of work, as shipped with the
 * program (data/nrsp/), and the references an estimate writes for a row of them.
 */
#include "common/Decimal.h"
#include "model/Params.h"
#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::model {

struct NrSpRow {
    std::string ref;          // "011.0"
    std::string item;         // "11"
    std::string section;      // "I"
    std::string group;        // wording of the parent item, may be empty
    std::string workType;     // wording of the row («Полы»)
    std::array<Dec7, 3> nrPercent;   // by Territory (Ordinary, Mprks, Rks): read through nrPercentIn
    Dec7 spPercent;
    /** The НР percentage of the territory's column (the one place that knows the column order). */
    Dec7 nrPercentIn(Territory territory) const { return nrPercent[static_cast<size_t>(territory) - 1]; }
    std::string collections;
    /** "Полы" or "Земляные работы, выполняемые: механизированным способом". */
    std::string title() const;
};

class NrSpTables {
public:
    /** Rows from the two CSV texts (nr-812.csv, sp-774.csv); talvira::Error naming the line. */
    static NrSpTables fromCsv(std::string_view nrCsv, std::string_view spCsv);
    const std::vector<NrSpRow>& rows() const { return rows_; }
    /** The row "011.0"; also accepts "Пр/812-011.0", "Пр/812-011.0-1", "Пр/774-011.0". */
    const NrSpRow* find(std::string_view ref) const;
    /** Rows whose ref, item or words contain every word of `query` (case and ё ignored). */
    std::vector<const NrSpRow*> search(std::string_view query) const;

private:
    std::vector<NrSpRow> rows_;
    std::map<std::string, size_t, std::less<>> byRef_;  // ref -> place in rows_
};
/** The tables as shipped with this program (compiled in from data/nrsp/). */
const NrSpTables& nrSpTables();

/** "Пр/812-011.0-1" for row "011.0" in `territory`; "Пр/774-011.0". */
std::string nrReference(std::string_view row, Territory territory);
std::string spReference(std::string_view row);
/** The row a reference names: "Пр/812-011.0-1", "Пр/774-011.0", "011.0" -> "011.0". */
std::string rowOfReference(std::string_view reference);

}  // namespace talvira::model
