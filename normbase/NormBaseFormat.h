#pragma once
/**
 * The norm base as files: its six tables, the fields each is created with, the indexes each
 * carries, and a writer that streams one table to disk with its indexes. Whatever writes a norm
 * base (the demo base generator, the import of the official base, test bases) goes through here,
 * so that every base the program meets has the same layout.
 *
 *   NormTableWriter w(dir, NormTable::Edizm);
 *   w.next().set(fld::ID, Value::integer(1)).set(fld::NAME, Value::string("шт"));
 *   w.append();  ...  w.finish();
 *
 * Caveats: records go in ascending ID order (each table is keyed on ID); a table of the same name
 * in `dir` is replaced. Field names unknown to the table are talvira::Error.
 */
#include "storage/FieldDef.h"
#include "storage/ParadoxIndexWriter.h"
#include "storage/TableBuilder.h"
#include "storage/Value.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talvira::normbase {

/** The six tables of a norm base. */
enum class NormTable { Reestr, Ogl, Rabmat, Resurs, Name, Edizm };
inline constexpr NormTable kNormTables[] = {NormTable::Reestr, NormTable::Ogl,  NormTable::Rabmat,
                                            NormTable::Resurs, NormTable::Name, NormTable::Edizm};

/** File name of a table ("RABMAT.DB", ...). */
const char* normTableFile(NormTable t);
/** The fields a table is created with, in order (RABMAT: the 82 rate fields; RESURS: the 15
 *  resource-line fields; the others ID and NAME, OGL also IDREESTR; the name is a memo). */
std::vector<storage::FieldDef> normTableFields(NormTable t);
/** The secondary indexes a table carries (OGL: IDREESTR; RABMAT: IDNAME_INDEX, IDOGL, IDREESTR;
 *  RESURS: IDRAB; the others none). Every table is keyed on its ID. */
std::vector<storage::SecondaryIndexDef> normTableIndexes(NormTable t);

/** A record of one table filled by field name; every field not set is empty. */
class NormRecord {
public:
    explicit NormRecord(NormTable t);
    /** The place of a field in the record; unknown name: talvira::Error. */
    size_t place(std::string_view field) const;
    NormRecord& set(std::string_view field, storage::Value v) { return set(place(field), std::move(v)); }
    NormRecord& set(size_t place, storage::Value v) {
        values_[place] = std::move(v);
        return *this;
    }
    /** Empties every field. */
    NormRecord& clear();
    storage::Record& values() { return values_; }

private:
    storage::Record values_;
    std::unordered_map<std::string, size_t> place_;
};

/** Writes one table of a norm base into a folder, record by record, then its indexes. */
class NormTableWriter {
public:
    NormTableWriter(const std::string& dir, NormTable t);
    /** The record to fill for the next append, emptied. */
    NormRecord& next() { return record_.clear(); }
    const NormRecord& record() const { return record_; }
    /** Stores the record filled through next() (its values move into the table). */
    void append() { writer_.add(std::move(record_.values())); }
    void append(storage::Record r) { writer_.add(std::move(r)); }
    /** Stores what is left and writes the indexes; returns the record count. */
    uint32_t finish() { return writer_.finish(); }

private:
    NormRecord record_;
    storage::TableBuilder writer_;
};

}  // namespace talvira::normbase
