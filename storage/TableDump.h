#pragma once
/**
 * Text of a table for `talvira-cli table info|dump` and for tests: one line per record, cells
 * separated by tabs, UTF-8.
 *
 *   dumpTable(*openParadoxTable(path, OpenMode::ReadOnly), std::cout, "");
 *
 * Cell texts: empty field = empty cell; numbers in the shortest form that reads back to the
 * same double, with a point; dates "YYYY-MM-DD", times "HH:MM:SS[.mmm]", timestamps
 * "YYYY-MM-DDTHH:MM:SS[.mmm]"; logical "true"/"false"; bytes fields (Y) in hexadecimal;
 * binary, OLE and graphic blobs as "<N bytes>"; memos whole. A backslash, tab, line feed and
 * carriage return inside a text are written as \\, \t, \n and \r.
 */
#include "storage/TableFile.h"

#include <ostream>
#include <string>

namespace talvira::storage {

/** The dump text of one field value. */
std::string dumpCell(const FieldDef& field, const Value& v);
/** Header line, then every record (in physical order, or in the order of `index`). */
void dumpTable(const TableFile& t, std::ostream& out, const std::string& index, bool useIndex);
/** The facts of `table info`. */
void describeTable(const TableFile& t, std::ostream& out);

}  // namespace talvira::storage
