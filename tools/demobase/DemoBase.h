#pragma once
/**
 * The demonstration norm base: the six tables of a norm base with realistic Russian content,
 * written as Paradox 7 tables in code page 1251 with their primary and secondary indexes.
 * The content is the same on every run (a fixed seed drives every choice).
 *
 *   auto counts = talvira::demobase::writeDemoBase("/tmp/Base", DemoScale::Small);
 *   // counts.rates == number of unit rates written
 *   writeDemoTable(dir, DemoTable::Resurs, {demoRecord(DemoTable::Resurs, {{"ID", Value::integer(1)}})});
 *
 * Every table is written in the norm base's own format (normbase/NormBaseFormat: the 82 rate
 * fields, the 15 resource-line fields, the index set), and records are filled by field name. Part of the
 * tools (talvira-cli mkbase, tests, benchmarks); the program itself never links it.
 *
 * Caveats: existing tables of the same names in `dir` are replaced; other files are left
 * alone. Records are streamed to disk in key order (keyed tables must lie sorted), so even the
 * large base needs little memory. The workbook template is not part of the base.
 */
#include "storage/FieldDef.h"
#include "storage/Value.h"
#include "normbase/NormBaseFormat.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace talvira::demobase {

enum class DemoScale {
    Small,  // the bundled demo: a few collections, a few hundred rates
    Large,  // for measurements: ~100 collections, 150 000 RABMAT records, 1 000 000 resource lines
};

/** What was written, table by table. */
struct DemoBaseCounts {
    uint32_t collections = 0;      // 000_REESTR.DB
    uint32_t contentsEntries = 0;  // OGL.DB (sections and tables)
    uint32_t rates = 0;            // RABMAT.DB records that are unit rates
    uint32_t resources = 0;        // RABMAT.DB records that are resources (materials, machines)
    uint32_t resourceLines = 0;    // RESURS.DB
    uint32_t names = 0;            // 000_NAME.DB
    uint32_t units = 0;            // 000_EDIZM.DB
};

/** The six tables of a norm base, their files, fields and indexes: the norm base's own format. */
using DemoTable = normbase::NormTable;
inline const char* demoTableFile(DemoTable t) { return normbase::normTableFile(t); }
inline std::vector<storage::FieldDef> demoTableFields(DemoTable t) { return normbase::normTableFields(t); }
inline std::vector<storage::SecondaryIndexDef> demoTableIndexes(DemoTable t) { return normbase::normTableIndexes(t); }

/** One field of a record given by name. */
using NamedValue = std::pair<const char*, storage::Value>;
/** A record of table `t` with `values` set by field name and every other field empty; an
 *  unknown name is talvira::Error. Small bases for tests and measurements are built this way. */
storage::Record demoRecord(DemoTable t, const std::vector<NamedValue>& values);
/** Writes table `t` into `dir` from `records` (in ascending ID order) with its indexes. */
void writeDemoTable(const std::string& dir, DemoTable t, const std::vector<storage::Record>& records);

/** Writes the six tables and their indexes into `dir` (created when missing). `progress`,
 *  when set, receives a short Russian line per finished step. Throws talvira::Error. */
DemoBaseCounts writeDemoBase(const std::string& dir, DemoScale scale,
                             const std::function<void(const std::string&)>& progress = {});

}  // namespace talvira::demobase
