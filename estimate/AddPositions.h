#pragma once
/**
 * The Add command: the rate under the norm browser's cursor becomes positions of the open
 * estimate. One position for the rate itself, then one for each of its unaccounted resource
 * lines (normbase::NormBase::isUnaccounted: VIDNR equal to 1), in the order in which the resource line handle presents them.
 *
 *   estimate::addPositions(normBase, Form2->SmetaTable);
 *
 * Caveats: every position is posted on its own, at once; a failure stops the command with the
 * engine's error and leaves the positions already posted in the estimate. The resource line
 * handle (and the resource, name and unit handles that follow it) is left on the last line
 * visited. Nothing checks that the estimate is open: a closed estimate fails at the first step.
 */
#include "model/NrSpTables.h"
#include "model/Params.h"
#include "model/PositionData.h"
#include "storage/TableHandle.h"
#include "storage/Value.h"

#include <string_view>
#include <vector>

namespace talvira::normbase {
class NormBase;
}

namespace talvira::estimate {

/** What the estimate is computed by, for Add: nothing (or the template) gives the positions as
 *  they always were; an estimate by the base-index method leaves a material's quantity to
 *  follow its rate's. */
struct AddContext {
    const model::EstimateParams* params = nullptr;
    /** The НР and СП tables whose percentages a rate's row keeps (none: the rows are named
     *  without percentages). */
    const model::NrSpTables* tables = nullptr;
    /** The name of the rate's collection ("ГЭСНп 01. …"): the type of work when the code
     *  carries no book. */
    std::string_view collectionName;
};

/**
 * Appends the current rate and its unaccounted resources to `smeta`, and returns the data each
 * appended position keeps beside the table (the rate first, then its materials):
 * - the rate: model::PositionData::ofRate of its facts (estimate::rateFactsOf: PREISK,
 *   POSPREISK with several references joined by "; ", BH, the collection's name);
 * - each material: model::PositionData::ofMaterial, the line's KOLL per unit of the rate.
 * The table receives what it always did, except that in an estimate by the base-index method a
 * material's quantity is left empty: it is its consumption per unit times the rate's quantity,
 * and the rate has none yet (see materialQuantity).
 * rate = Table2 (RABMAT), rateName = Table1 (000_NAME), rateUnit = Table8 (000_EDIZM),
 * lines = Table3 (RESURS), resource = Table4 (RABMAT), resourceName = Table5 (000_NAME),
 * resourceUnit = Table9 (000_EDIZM); the last three follow `lines` through their master links.
 */
std::vector<model::PositionData> addPositions(storage::TableHandle& rate, storage::TableHandle& rateName,
                                               storage::TableHandle& rateUnit, storage::TableHandle& lines,
                                               storage::TableHandle& resource, storage::TableHandle& resourceName,
                                               storage::TableHandle& resourceUnit, storage::TableHandle& smeta,
                                               const AddContext& context = {});

/** The same over the main window's norm base handles (Table2, Table1, Table8, Table3, Table4,
 *  Table5, Table9), the collection's name read from Table7. */
std::vector<model::PositionData> addPositions(normbase::NormBase& nb, storage::TableHandle& smeta,
                                              const model::EstimateParams* params = nullptr,
                                              const model::NrSpTables* tables = nullptr);

}  // namespace talvira::estimate
