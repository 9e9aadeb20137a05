#pragma once
/**
 * Field definitions of Paradox tables. The type codes are the ones the .DB header stores.
 *
 *   std::vector<FieldDef> defs = {{"COUNT", FieldType::AutoInc, 0}, {"TAB", FieldType::Alpha, 50}};
 */
#include <cstdint>
#include <string>
#include <vector>

namespace talvira::storage {

enum class FieldType : uint8_t {
    Alpha = 0x01,      // A: text of `size` bytes in the table's code page
    Date = 0x02,       // D
    Short = 0x03,      // S: 16-bit integer
    Long = 0x04,       // I: 32-bit integer
    Currency = 0x05,   // $
    Number = 0x06,     // N: double
    Logical = 0x09,    // L
    Memo = 0x0C,       // M: `size` = bytes kept in the record (1..240)
    Blob = 0x0D,       // B
    FmtMemo = 0x0E,    // F
    Ole = 0x0F,        // O
    Graphic = 0x10,    // G
    Time = 0x14,       // T
    Timestamp = 0x15,  // @
    AutoInc = 0x16,    // +
    BCD = 0x17,        // #: `size` = decimals
    Bytes = 0x18,      // Y
};

struct FieldDef {
    std::string name;
    FieldType type = FieldType::Alpha;
    int size = 0;  // Alpha, Bytes: length; Memo/Blob/...: in-record part; BCD: decimals; else 0
    bool operator==(const FieldDef&) const = default;
};

/** The letter Paradox uses for a type ("A", "N", "+", ...). */
const char* fieldTypeLetter(FieldType t);
/** A readable Russian name of the type, for messages ("алфавитно-цифровое", ...). */
const char* fieldTypeName(FieldType t);

/** An index as found beside a table: the primary index (.PX) or a secondary one. */
struct IndexInfo {
    std::string name;                 // primary: "" ; secondary: its name (a single-field .Xnn is named after its field)
    std::vector<std::string> fields;  // in key order
    bool primary = false;
    bool caseInsensitive = false;
    bool unique = false;
    bool descending = false;
    std::string file;                 // the index file (.PX, .Xnn, .XGn) as found on disk
    bool maintained = true;           // kept up to date by every write (an "incremental" index)
    /** Why the index cannot be used (its file is damaged or does not match the table: the
     *  message a handle asking for it gives); empty for a usable index. */
    std::string setAside;
};

}  // namespace talvira::storage
