#include "normbase/import/InputFiles.h"

#include "common/Error.h"
#include "common/LazyLibrary.h"
#include "common/Utf8.h"
#include "storage/CodePage.h"

#include <zip.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <span>
#include <vector>

namespace talvira::normimport {

namespace fs = std::filesystem;

namespace {

/** libzip (and the crypto library it brings), loaded when the first archive is read rather
 *  than when the program starts. */
const LazyLibrary& zipLibrary() {
    static const LazyLibrary lib({"libzip.so.4", "libzip.so"}, "чтения архивов ZIP", "libzip4");
    return lib;
}

/** The functions of libzip used here. */
struct ZipFunctions {
#define TALVIRA_ZIP(name) decltype(&::name) name = zipLibrary().function<decltype(&::name)>(#name);
    TALVIRA_ZIP(zip_discard)
    TALVIRA_ZIP(zip_fclose)
    TALVIRA_ZIP(zip_fopen_index)
    TALVIRA_ZIP(zip_fread)
    TALVIRA_ZIP(zip_get_name)
    TALVIRA_ZIP(zip_get_num_entries)
    TALVIRA_ZIP(zip_open)
    TALVIRA_ZIP(zip_stat_index)
    TALVIRA_ZIP(zip_stat_init)
#undef TALVIRA_ZIP
};

const ZipFunctions& zipLib() {
    static const ZipFunctions functions;  // a failure to load is thrown again at the next call
    return functions;
}


constexpr size_t kPiece = 256 * 1024;

bool isZip(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    char magic[4] = {};
    f.read(magic, 4);
    return f.gcount() == 4 && magic[0] == 'P' && magic[1] == 'K' && magic[2] == 3 && magic[3] == 4;
}

/** A member name as the user wrote it: UTF-8 when it is (the flag set, or plain ASCII), else
 *  the code page 866 of Russian archivers. */
std::string memberName(const std::string& raw) { return utf8::valid(raw) ? raw : storage::toUtf8(raw, 866); }

bool endsWithXml(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".xml" && name.back() != '/';
}

std::string shown(const fs::path& p) { return p.filename().string(); }

struct ZipCloser {
    void operator()(zip_t* z) const { zipLib().zip_discard(z); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* f) const { zipLib().zip_fclose(f); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

ZipHandle openZip(const fs::path& p) {
    int err = 0;
    zip_t* z = zipLib().zip_open(p.c_str(), ZIP_RDONLY, &err);
    if (!z) throw Error("Файл «" + shown(p) + "»: архив ZIP повреждён или не читается");
    return ZipHandle(z);
}

std::string megabytes(uint64_t b) { return std::to_string(b / (1024 * 1024)) + " МБ"; }

}  // namespace

struct InputSet::Archive {
    ZipHandle zip;
};

InputSet::~InputSet() = default;

InputSet::InputSet(const std::vector<fs::path>& files, uint64_t memberLimit) : memberLimit_(memberLimit) {
    for (const fs::path& p : files) {
        std::error_code ec;
        if (!fs::is_regular_file(p, ec)) throw Error("Файл «" + p.string() + "» не найден");
        if (!isZip(p)) {
            const uint64_t size = fs::file_size(p, ec);
            docs_.push_back({shown(p), p, -1, 0, ec ? 0 : size});
            total_ += docs_.back().size;
            continue;
        }
        archives_.push_back(std::make_unique<Archive>(Archive{openZip(p)}));
        zip_t* z = archives_.back()->zip.get();
        const zip_int64_t n = zipLib().zip_get_num_entries(z, 0);
        bool any = false;
        for (zip_int64_t i = 0; i < n; ++i) {
            const char* raw = zipLib().zip_get_name(z, zip_uint64_t(i), ZIP_FL_ENC_RAW);
            if (!raw) continue;
            const std::string name = memberName(raw);
            if (!endsWithXml(name)) continue;
            zip_stat_t st;
            zipLib().zip_stat_init(&st);
            if (zipLib().zip_stat_index(z, zip_uint64_t(i), 0, &st) != 0) throw Error("Файл «" + shown(p) + "»: архив ZIP повреждён");
            const uint64_t size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
            if (size > memberLimit_)
                throw Error("Файл «" + shown(p) + "»: «" + name + "» распаковывается в " + megabytes(size) +
                            ", больше допустимых " + megabytes(memberLimit_) + " (архив-бомба?)");
            docs_.push_back({shown(p) + ": " + name, p, i, archives_.size() - 1, size});
            total_ += size;
            any = true;
        }
        if (!any) emptyArchives_.push_back(shown(p));
    }
}

void InputSet::read(size_t i, const PieceFn& piece) const {
    const InputDocument& d = docs_.at(i);
    // No bigger than the document (a thousand small members must not each clear 256 KiB).
    const size_t bufSize = d.size > 0 && d.size < kPiece ? size_t(d.size) + 1 : kPiece;
    const std::unique_ptr<char[]> bytes(new char[bufSize]);
    const std::span<char> buf(bytes.get(), bufSize);
    if (d.member < 0) {
        std::FILE* f = std::fopen(d.file.c_str(), "rb");
        if (!f) throw Error("Файл «" + d.shownName + "» не открывается для чтения");
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> guard(f, &std::fclose);
        while (size_t n = std::fread(buf.data(), 1, buf.size(), f))
            if (!piece(buf.data(), n)) return;
        if (std::ferror(f)) throw Error("Файл «" + d.shownName + "»: ошибка чтения");
        return;
    }
    zip_t* z = archives_.at(d.archive)->zip.get();
    std::unique_ptr<zip_file_t, ZipFileCloser> m(zipLib().zip_fopen_index(z, zip_uint64_t(d.member), 0));
    if (!m) throw Error("Файл «" + d.shownName + "»: член архива не открывается (сжатие не поддерживается или архив повреждён)");
    uint64_t got = 0;
    while (true) {
        const zip_int64_t n = zipLib().zip_fread(m.get(), buf.data(), buf.size());
        if (n < 0) throw Error("Файл «" + d.shownName + "»: архив повреждён, распаковка не удалась");
        if (n == 0) return;
        got += uint64_t(n);
        if (got > memberLimit_)
            throw Error("Файл «" + d.shownName + "» распаковывается больше чем в " + megabytes(memberLimit_) + " (архив-бомба?)");
        if (!piece(buf.data(), size_t(n))) return;
    }
}

}  // namespace talvira::normimport
