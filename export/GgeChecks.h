#pragma once
/**
 * What an expert refuses in a local estimate that no schema catches, checked before the
 * expertise file is written: the acts and indices missing, positions the computation could not
 * price or that have no НР/СП row, a quantity not above zero, a priced line without a price, VAT,
 * winter or temporary-building lines inside a local estimate, text XML cannot carry, names that
 * differ from the base's, and the facts of the title left empty. Each check names its position;
 * it blocks (nothing is written) or warns (the estimator may write all the same).
 *
 *   const gge::CheckTexts texts = gge::shippedCheckTexts();          // data/gge/checks.txt
 *   std::vector<gge::GgeCheck> list = gge::checkGge(input, texts);
 *   if (gge::blocks(list)) …                                         // the window offers no "write all the same"
 *
 * Caveats: the texts and whether each blocks are data (checks.txt, replaceable); a code the file
 * does not carry blocks with its code as text, so a check is never lost. Names are compared with
 * the base's only where the caller gives them.
 */
#include "export/GgePlan.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace talvira::gge {

struct GgeCheck {
    std::string code;        // "no_nrsp"
    int32_t position = 0;    // the position's number in the file (N), 0: the whole estimate
    bool blocking = true;
    std::string text;        // «Позиция 3 «…»: не выбран норматив НР и СП (812/пр, 774/пр).»
    bool operator==(const GgeCheck&) const = default;
};

/** The checks' texts and the words of lines that do not belong in a local estimate. */
struct CheckTexts {
    struct Text {
        bool blocking = true;
        std::string text;
    };
    std::map<std::string, Text> byCode;
    /** What the lines are called («НДС») → words that give them away in a name (any case). */
    std::vector<std::pair<std::string, std::vector<std::string>>> words;
};

/** The texts of the file `path` (format in data/gge/checks.txt); talvira::Error naming the file
 *  and the line when it cannot be read. */
CheckTexts readCheckTexts(const std::filesystem::path& path);
/** The texts shipped with the program (exporting::ggeSchemaDir() / "checks.txt"). */
CheckTexts shippedCheckTexts();

/** The checks of the estimate `input` describes. `baseNames`, when given, holds the base's name
 *  of each row of `input.rows` ("" where unknown). */
std::vector<GgeCheck> checkGge(const GgeInput& input, const CheckTexts& texts,
                               const std::vector<std::string>& baseNames = {});

/** Whether any check blocks the file. */
bool blocks(const std::vector<GgeCheck>& checks);

/** «блокирует: …» / «предупреждение: …», one line. */
std::string checkLine(const GgeCheck& check);

}  // namespace talvira::gge
