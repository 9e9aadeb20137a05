#include "export/XlsRecordStream.h"

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
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        int extra = 0;
        if (c < 0x80) { cp = c; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
        else { out += u'\uFFFD'; ++i; continue; }
        if (i + static_cast<size_t>(extra) >= s.size()) {
            out += u'\uFFFD';
            break;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char d = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((d & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (d & 0x3F);
        }
        if (!ok) { out += u'\uFFFD'; ++i; continue; }
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += u'\uFFFD';
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}


}  // namespace talvira::xls
