#pragma once
/**
 * Writes the index files of a Paradox table that is already on disk: the primary index
 * (T.PX) of a keyed table and its secondary indexes (T.Xnn/T.Ynn for a single-field,
 * case-sensitive index named after its field; T.XGn/T.YGn for the others), laid out as the
 * Borland engine lays them out: the X file is a keyed table of (index fields, primary key,
 * "Blk Num") sorted along its block chain, the Y and PX files are block trees over the blocks
 * below them (2 KiB blocks, the root numbered 1, each level below it next, the leaves last).
 * The table is read through the file layer (storage::RawFile, storage::parseParadoxHeader).
 *
 *   writePrimaryIndex("/base/RESURS.DB", 1);
 *   writeSecondaryIndexes("/base/RESURS.DB", {{"IDRAB", {"IDRAB"}, false}});
 *   writeIndexes("/base/RESURS.DB", 1, {{"IDRAB", {"IDRAB"}, false}});  // both, one walk
 *
 * Caveats: the table's records must already lie in key order along the block chain (a keyed
 * table is written that way); the writer checks it and refuses otherwise. Keys are compared as
 * the stored bytes, which orders every numeric and date type exactly; text keys are ordered
 * by their code-page bytes (upper-cased first for a case-insensitive index). Only keyed tables
 * get secondary indexes. The index files describe the table as it is now: any later write to
 * the table leaves them stale. The record counts kept in tree entries are statistics and stop at
 * 32767; block numbers above 32767 in "Blk Num" read back negative, and readers then fall back
 * to the primary key. Each file is written under a temporary name and renamed into place.
 */
#include <string>
#include <vector>

namespace talvira::storage {

/** A secondary index to build: its name, its fields in key order, its options. */
struct SecondaryIndexDef {
    std::string name;
    std::vector<std::string> fields;
    bool caseInsensitive = false;
};

/** Marks the table at `dbPath` keyed on its first `keyFields` fields (header bytes 0x04 and
 *  0x23) and writes T.PX beside it. Throws talvira::Error, naming the file, when the table is
 *  damaged, its records are not in strictly ascending key order, or a file cannot be written. */
void writePrimaryIndex(const std::string& dbPath, int keyFields);

/** Removes the secondary index files of the keyed table at `dbPath` and writes `indexes`
 *  (numbering the .XGn/.YGn files from 0 in the order given). Returns the paths written,
 *  X file then Y file for each index. Throws talvira::Error naming the file or field. */
std::vector<std::string> writeSecondaryIndexes(const std::string& dbPath,
                                               const std::vector<SecondaryIndexDef>& indexes);

/** writePrimaryIndex and then writeSecondaryIndexes (when `indexes` are given), in one walk
 *  over the table: for a table just built. */
std::vector<std::string> writeIndexes(const std::string& dbPath, int keyFields,
                                      const std::vector<SecondaryIndexDef>& indexes);

/** The file name (without directory) that `def` gets for table `tableFile` ("RESURS.DB"):
 *  "RESURS.X02" for a plain single-field index on field 2, "RESURS.XG0" for the first of the
 *  others. `fieldNumber` is the 1-based table field of the first index field; `xgNumber` the
 *  running number among the .XGn indexes. */
std::string secondaryIndexFileName(const std::string& tableFile, const SecondaryIndexDef& def,
                                   int fieldNumber, int xgNumber);

}  // namespace talvira::storage
