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
#include "storage/TableHandle.h"
#include "storage/Value.h"

namespace talvira::normbase {
class NormBase;
}

namespace talvira::estimate {

/**
 * Appends the current rate and its unaccounted resources to `smeta`.
 * rate = Table2 (RABMAT), rateName = Table1 (000_NAME), rateUnit = Table8 (000_EDIZM),
 * lines = Table3 (RESURS), resource = Table4 (RABMAT), resourceName = Table5 (000_NAME),
 * resourceUnit = Table9 (000_EDIZM); the last three follow `lines` through their master links.
 */
void addPositions(storage::TableHandle& rate, storage::TableHandle& rateName,
                  storage::TableHandle& rateUnit, storage::TableHandle& lines,
                  storage::TableHandle& resource, storage::TableHandle& resourceName,
                  storage::TableHandle& resourceUnit, storage::TableHandle& smeta);

/** The same over the main window's norm base handles (Table2, Table1, Table8, Table3, Table4,
 *  Table5, Table9). */
void addPositions(normbase::NormBase& nb, storage::TableHandle& smeta);

}  // namespace talvira::estimate
