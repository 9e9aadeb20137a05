#pragma once
/**
 * BIFF8 record ids and the little-endian helpers the workbook reader and writer share.
 * Names follow the record names of the file format description.
 */
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace talvira::xls::biff {

// ---- record ids -----------------------------------------------------------------------
constexpr uint16_t FORMULA = 0x0006;
constexpr uint16_t EOF_ = 0x000A;
constexpr uint16_t CONTINUE = 0x003C;
constexpr uint16_t WINDOW1 = 0x003D;
constexpr uint16_t DEFCOLWIDTH = 0x0055;
constexpr uint16_t BOUNDSHEET = 0x0085;
constexpr uint16_t MULRK = 0x00BD;
constexpr uint16_t MULBLANK = 0x00BE;
constexpr uint16_t RSTRING = 0x00D6;
constexpr uint16_t DBCELL = 0x00D7;
constexpr uint16_t XF = 0x00E0;
constexpr uint16_t MERGEDCELLS = 0x00E5;
constexpr uint16_t SST = 0x00FC;
constexpr uint16_t LABELSST = 0x00FD;
constexpr uint16_t EXTSST = 0x00FF;
constexpr uint16_t RECALCID = 0x01C1;
constexpr uint16_t DIMENSIONS = 0x0200;
constexpr uint16_t BLANK = 0x0201;
constexpr uint16_t NUMBER = 0x0203;
constexpr uint16_t LABEL = 0x0204;
constexpr uint16_t BOOLERR = 0x0205;
constexpr uint16_t STRING = 0x0207;
constexpr uint16_t ROW = 0x0208;
constexpr uint16_t BOF_BIFF2 = 0x0009;
constexpr uint16_t BOF_BIFF3 = 0x0209;
constexpr uint16_t BOF_BIFF4 = 0x0409;
constexpr uint16_t INDEX = 0x020B;
constexpr uint16_t ARRAY = 0x0221;
constexpr uint16_t DEFAULTROWHEIGHT = 0x0225;
constexpr uint16_t TABLE = 0x0236;
constexpr uint16_t WINDOW2 = 0x023E;
constexpr uint16_t RK = 0x027E;
constexpr uint16_t SHRFMLA = 0x04BC;
constexpr uint16_t XFCRC = 0x087C;
constexpr uint16_t XFEXT = 0x087D;
constexpr uint16_t BOF = 0x0809;

// ---- fixed values ---------------------------------------------------------------------
constexpr uint16_t kBiff8Version = 0x0600;
constexpr uint16_t kBiff5Version = 0x0500;  // BIFF5 and BIFF7
constexpr uint16_t kDtGlobals = 0x0005;
constexpr uint16_t kDtWorksheet = 0x0010;
constexpr size_t kMaxRecordData = 8224;  // longer data goes on in CONTINUE records
constexpr int kMaxRows = 65536;
constexpr int kMaxCols = 256;
constexpr int kMaxXf = 4050;
constexpr int kMaxCellChars = 32767;

// ---- little-endian access -------------------------------------------------------------
inline uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline double f64(const uint8_t* p) {
    double d;
    std::memcpy(&d, p, 8);
    return d;
}
inline void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void add8(std::vector<uint8_t>& b, uint8_t v) { b.push_back(v); }
inline void add16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void add32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void addF64(std::vector<uint8_t>& b, double d) {
    uint8_t t[8];
    std::memcpy(t, &d, 8);
    b.insert(b.end(), t, t + 8);
}

/** Appends a record: header and data; data longer than one record goes on in CONTINUE
 *  records (for records whose continuation carries no structure of its own). */
void writeRecord(std::vector<uint8_t>& out, uint16_t id, const uint8_t* data, size_t size);

/** The checksum XFCRC carries over the data of every XF record in order (a CRC with the
 *  polynomial 0xAF, most significant bit first, starting from 0). */
uint32_t xfChecksum(const uint8_t* data, size_t size, uint32_t crc = 0);
inline void writeRecord(std::vector<uint8_t>& out, uint16_t id, const std::vector<uint8_t>& data) {
    writeRecord(out, id, data.data(), data.size());
}

}  // namespace talvira::xls::biff
