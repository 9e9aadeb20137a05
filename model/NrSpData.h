#pragma once
/** The НР and СП tables as shipped (data/nrsp/nr-812.csv and sp-774.csv), compiled into the
 *  program so that no path is needed at run time. */
#include <string_view>

namespace talvira::model {

std::string_view shippedNrCsv();
std::string_view shippedSpCsv();

}  // namespace talvira::model
