#include "export/XlsRecordStream.h"

#include "common/Utf8.h"

#include <algorithm>
#include <array>

namespace talvira::xls {

using namespace biff;

void biff::writeRecord(std::vector<uint8_t>& out, uint16_t id, const uint8_t* data, size_t size) {
    size_t done = 0;
    bool firstPart = true;
    do {
        const size_t n = std::min(size - done, kMaxRecordData);
        add16(out, firstPart ? id : CONTINUE);
        add16(out, static_cast<uint16_t>(n));
        out.insert(out.end(), data + done, data + done + n);
        done += n;
        firstPart = false;
    } while (done < size);
}

uint32_t biff::xfChecksum(const uint8_t* data, size_t size, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t v = i << 24;
            for (int bit = 0; bit < 8; ++bit) v = (v & 0x80000000u) ? (v << 1) ^ 0xAFu : v << 1;
            t[i] = v;
        }
        return t;
    }();
    for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ table[(crc >> 24) ^ data[i]];
    return crc;
}

bool isCellRecord(uint16_t id) {
    switch (id) {
    case BLANK: case NUMBER: case LABEL: case BOOLERR: case FORMULA: case RK: case MULRK:
    case MULBLANK: case LABELSST: case RSTRING:
        return true;
    default:
        return false;
    }
}

bool isCellTableRecord(uint16_t id) {
    return isCellRecord(id) || id == ROW || id == DBCELL || id == STRING || id == SHRFMLA ||
           id == ARRAY || id == TABLE;
}

std::u16string utf8ToUtf16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const utf8::Char c = utf8::next(s, i);
        i += c.size;
        if (c.code >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c.code - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c.code - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c.code);
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        utf8::append(out, cp);
    }
    return out;
}

}  // namespace talvira::xls
