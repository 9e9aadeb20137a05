#pragma once
/**
 * The record stream that the template reader and the sheet writer share: where a record lies
 * in the workbook stream, which records make a sheet's cell table, and BIFF8 text (UTF-16 code
 * units) to and from UTF-8. Writing a record with its CONTINUE records is biff::writeRecord
 * (XlsRecords.h), defined here.
 *
 *   xls::Rec r{biff::SST, pos + 4, len};   std::u16string t = xls::utf8ToUtf16("Смета");
 *
 * Caveats: invalid UTF-8 turns into U+FFFD; unpaired surrogates are carried as they are.
 */
#include "export/XlsRecords.h"

#include <cstdint>
#include <string>
#include <vector>

namespace talvira::xls {

/** A record of the template stream: id, and where its data lies. */
struct Rec {
    uint16_t id;
    uint32_t pos;  // offset of the data (the header is the 4 bytes before)
    uint32_t len;
};

/** One string of the shared string table (XLUnicodeRichExtendedString). */
struct SstString {
    std::u16string chars;
    bool high = false;
    std::vector<uint8_t> runs;  // 4 bytes per formatting run
    std::vector<uint8_t> ext;   // phonetic data
};

/** A record that stands for one cell or a run of cells (BLANK, NUMBER, LABELSST, MULRK, ...). */
bool isCellRecord(uint16_t id);
/** A record of a sheet's cell table: cells, ROW, DBCELL and what travels with a formula. */
bool isCellTableRecord(uint16_t id);

std::u16string utf8ToUtf16(const std::string& s);
std::string utf16ToUtf8(const std::u16string& s);

}  // namespace talvira::xls
