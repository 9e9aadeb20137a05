#pragma once
#include "model/Summary.h"

#include <string>

namespace talvira::model {

/** The summary estimate as the JSON object of `talvira-cli summary totals --json`: `chapters` (all
 *  twelve, each `n`, `lines`, `total`), `subtotals` ("1-7" … "1-12"), `reserve` (with `pct`),
 *  `with_reserve`, `vat` (with `rate`), `total`; every amount as `building`, `mounting`,
 *  `equipment`, `other`, `total` in rubles with two decimals. A line whose linked estimates are
 *  not read now also has `stale`: why, each file named. */
std::string summaryJson(const SummaryResult& r);

}  // namespace talvira::model
