#include "export/XlsContainer.h"

#include "common/Error.h"
#include "common/LazyLibrary.h"
#include "export/XlsRecords.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-output.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <fstream>
#include <functional>

namespace talvira::xls {

/* ------------------------------------------------------------------------------------- */
/*  Private functions                                                                    */
/* ------------------------------------------------------------------------------------- */

namespace {

/** libgsf (and the GLib object and I/O libraries it brings, with theirs), loaded when the first
 *  workbook by the template is read or written rather than when the program starts. GLib's own
 *  functions are found through it too: they come with it. */
const LazyLibrary& gsfLibrary() {
    static const LazyLibrary lib({"libgsf-1.so.114", "libgsf-1.so"}, "записи книг Excel", "libgsf-1-114");
    return lib;
}

void quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

/** The functions of libgsf and GLib used here; the type checks of their headers' macros are
 *  made through g_type_check_instance_is_a and the types' own functions. */
struct GsfFunctions {
#define TALVIRA_GSF(name) decltype(&::name) name = gsfLibrary().function<decltype(&::name)>(#name);
    TALVIRA_GSF(g_error_free)
    TALVIRA_GSF(g_log_set_handler)
    TALVIRA_GSF(g_object_unref)
    TALVIRA_GSF(g_type_check_instance_is_a)
    TALVIRA_GSF(gsf_infile_child_by_index)
    TALVIRA_GSF(gsf_infile_get_type)
    TALVIRA_GSF(gsf_infile_msole_get_class_id)
    TALVIRA_GSF(gsf_infile_msole_get_type)
    TALVIRA_GSF(gsf_infile_msole_new)
    TALVIRA_GSF(gsf_infile_name_by_index)
    TALVIRA_GSF(gsf_infile_num_children)
    TALVIRA_GSF(gsf_init)
    TALVIRA_GSF(gsf_input_memory_new)
    TALVIRA_GSF(gsf_input_read)
    TALVIRA_GSF(gsf_input_size)
    TALVIRA_GSF(gsf_outfile_msole_new)
    TALVIRA_GSF(gsf_outfile_msole_set_class_id)
    TALVIRA_GSF(gsf_outfile_new_child)
    TALVIRA_GSF(gsf_output_close)
    TALVIRA_GSF(gsf_output_is_closed)
    TALVIRA_GSF(gsf_output_memory_get_bytes)
    TALVIRA_GSF(gsf_output_memory_new)
    TALVIRA_GSF(gsf_output_size)
    TALVIRA_GSF(gsf_output_stdio_new)
    TALVIRA_GSF(gsf_output_write)
#undef TALVIRA_GSF

    GsfFunctions() {
        gsf_init();
        // A damaged file is reported once, by our own error; the library's complaints about
        // its directory would only reach the terminal.
        const GLogLevelFlags levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL);
        g_log_set_handler("libgsf:msole", levels, quiet, nullptr);
        g_log_set_handler("libgsf", levels, quiet, nullptr);
    }

    bool isA(void* object, GType type) const {
        return object && g_type_check_instance_is_a(static_cast<GTypeInstance*>(object), type);
    }
};

/** libgsf, loaded and started once (a failure to load is thrown again at the next call). */
const GsfFunctions& gsf() {
    static const GsfFunctions functions;
    return functions;
}

/** One object of the library as another of its types (the headers' casting macros, unchecked). */
template <class T>
T* as(void* object) {
    return static_cast<T*>(object);
}

/** g_object_unref on scope exit. */
template <typename T>
struct GRef {
    T* p = nullptr;
    explicit GRef(T* q = nullptr) : p(q) {}
    ~GRef() {
        if (p) gsf().g_object_unref(p);
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
};

std::string damaged(const std::string& name) {
    return "Файл «" + name + "» не является книгой Excel или повреждён (составной файл OLE2 не читается)";
}

void readStorage(GsfInfile* dir, CompoundEntry& out, const std::string& name, int depth) {
    if (depth > 32) throw Error(damaged(name));
    const GsfFunctions& g = gsf();
    if (g.isA(dir, g.gsf_infile_msole_get_type())) {
        guint8 id[16] = {};
        if (g.gsf_infile_msole_get_class_id(as<GsfInfileMSOle>(dir), id))
            std::copy(id, id + 16, out.clsid.begin());
    }
    const int n = g.gsf_infile_num_children(dir);
    for (int i = 0; i < n; ++i) {
        const char* childName = g.gsf_infile_name_by_index(dir, i);
        GRef<GsfInput> child(g.gsf_infile_child_by_index(dir, i));
        if (!child.p || !childName) throw Error(damaged(name));
        CompoundEntry e;
        e.name = childName;
        // A storage is an infile; an empty storage still answers -1 children for a stream.
        if (g.isA(child.p, g.gsf_infile_get_type()) && g.gsf_infile_num_children(as<GsfInfile>(child.p)) >= 0) {
            e.storage = true;
            readStorage(as<GsfInfile>(child.p), e, name, depth + 1);
        } else {
            const gsf_off_t size = g.gsf_input_size(child.p);
            if (size < 0 || size > (gsf_off_t{1} << 31)) throw Error(damaged(name));
            e.data.resize(static_cast<size_t>(size));
            if (size > 0 && !g.gsf_input_read(child.p, static_cast<size_t>(size), e.data.data()))
                throw Error(damaged(name));
        }
        out.children.push_back(std::move(e));
    }
}

void writeStorage(GsfOutfile* dir, const CompoundEntry& entry) {
    const GsfFunctions& g = gsf();
    for (const CompoundEntry& e : entry.children) {
        GsfOutput* child = g.gsf_outfile_new_child(dir, e.name.c_str(), e.storage);
        if (!child) throw Error("Не удалось записать раздел «" + e.name + "» книги");
        bool ok = true;
        if (e.storage) {
            g.gsf_outfile_msole_set_class_id(as<GsfOutfileMSOle>(child), e.clsid.data());
            writeStorage(as<GsfOutfile>(child), e);
        } else if (!e.data.empty()) {
            ok = g.gsf_output_write(child, e.data.size(), e.data.data());
        }
        ok = g.gsf_output_close(child) && ok;
        g.g_object_unref(child);
        if (!ok) throw Error("Не удалось записать раздел «" + e.name + "» книги");
    }
}


/* ---- the directory as the format wants it ------------------------------------------ */

/** Random access to the bytes of a finished compound file. */
struct FileBytes {
    std::function<bool(uint64_t, uint8_t*, size_t)> read;
    std::function<bool(uint64_t, const uint8_t*, size_t)> write;
};

/**
 * Sets right what the container library leaves loose in the directory: an unused entry must
 * be all zeros but for its sibling and child ids, which are NOSTREAM (0xFFFFFFFF), and a
 * storage's start sector and size must be zero. Any inconsistency met on the way leaves the
 * file as it is (the library wrote it; readers accept it).
 */
void tidyDirectory(const FileBytes& f) {
    uint8_t h[512];
    if (!f.read(0, h, sizeof h)) return;
    const unsigned shift = biff::u16(h + 0x1E);
    if (shift != 9 && shift != 12) return;
    const size_t ss = size_t{1} << shift, perSector = ss / 4;
    std::vector<uint32_t> fatSectors;
    for (size_t i = 0; i < 109; ++i) {
        const uint32_t v = biff::u32(h + 0x4C + 4 * i);
        if (v < 0xFFFFFFFAu) fatSectors.push_back(v);
    }
    std::vector<uint8_t> sec(ss);
    uint32_t difat = biff::u32(h + 0x44);
    for (uint32_t n = biff::u32(h + 0x48); n > 0 && difat < 0xFFFFFFFAu; --n) {
        if (!f.read((uint64_t{difat} + 1) * ss, sec.data(), ss)) return;
        for (size_t i = 0; i + 1 < perSector; ++i) {
            const uint32_t v = biff::u32(&sec[4 * i]);
            if (v < 0xFFFFFFFAu) fatSectors.push_back(v);
        }
        difat = biff::u32(&sec[ss - 4]);
    }
    auto next = [&](uint32_t s, uint32_t& out) {
        const size_t k = s / perSector;
        if (k >= fatSectors.size()) return false;
        uint8_t v[4];
        if (!f.read((uint64_t{fatSectors[k]} + 1) * ss + 4 * (s % perSector), v, 4)) return false;
        out = biff::u32(v);
        return true;
    };
    uint32_t s = biff::u32(h + 0x30);
    for (size_t guard = 0; s < 0xFFFFFFFAu && guard < (1u << 20); ++guard) {
        const uint64_t at = (uint64_t{s} + 1) * ss;
        if (!f.read(at, sec.data(), ss)) return;
        bool changed = false;
        for (size_t e = 0; e + 128 <= ss; e += 128) {
            uint8_t* d = &sec[e];
            uint8_t want[128];
            std::copy(d, d + 128, want);
            if (d[0x42] == 0) {  // unused
                std::fill(want, want + 128, 0);
                std::fill(want + 0x44, want + 0x50, 0xFF);
            } else if (d[0x42] == 1) {  // storage
                std::fill(want + 0x74, want + 0x80, 0);
            }
            if (!std::equal(want, want + 128, d)) {
                std::copy(want, want + 128, d);
                changed = true;
            }
        }
        if (changed && !f.write(at, sec.data(), ss)) return;
        if (!next(s, s)) return;
    }
}

}  // namespace

/* ------------------------------------------------------------------------------------- */
/*  Public interface                                                                     */
/* ------------------------------------------------------------------------------------- */

CompoundEntry* CompoundFile::find(const std::string& name) {
    for (CompoundEntry& e : root.children)
        if (!e.storage && e.name == name) return &e;
    return nullptr;
}

const CompoundEntry* CompoundFile::find(const std::string& name) const {
    return const_cast<CompoundFile*>(this)->find(name);
}

std::vector<uint8_t> readWholeFile(const std::filesystem::path& path, const std::string& what) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        throw Error(what + " «" + path.string() + "» не найден");
    if (std::filesystem::is_directory(path, ec))
        throw Error(what + " «" + path.string() + "» является папкой, а не файлом");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("Не удаётся открыть " + what + " «" + path.string() + "»: нет доступа");
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) throw Error("Не удаётся прочитать " + what + " «" + path.string() + "»");
    in.seekg(0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size))
        throw Error("Не удаётся прочитать " + what + " «" + path.string() + "»");
    return bytes;
}

CompoundFile readCompoundFile(const std::vector<uint8_t>& bytes, const std::string& displayName) {
    const GsfFunctions& g = gsf();
    static const uint8_t magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (bytes.size() < 512 || !std::equal(magic, magic + 8, bytes.begin()))
        throw Error(damaged(displayName));
    GRef<GsfInput> input(g.gsf_input_memory_new(bytes.data(), static_cast<gsf_off_t>(bytes.size()), FALSE));
    GError* err = nullptr;
    GRef<GsfInfile> ole(g.gsf_infile_msole_new(input.p, &err));
    if (err) g.g_error_free(err);
    if (!ole.p) throw Error(damaged(displayName));
    CompoundFile f;
    f.root.name = "Root Entry";
    f.root.storage = true;
    readStorage(ole.p, f.root, displayName, 0);
    return f;
}

std::vector<uint8_t> writeCompoundFile(const CompoundFile& file) {
    const GsfFunctions& g = gsf();
    GRef<GsfOutput> sink(g.gsf_output_memory_new());
    GRef<GsfOutfile> ole(g.gsf_outfile_msole_new(sink.p));
    if (!ole.p) throw Error("Не удалось создать составной файл книги");
    g.gsf_outfile_msole_set_class_id(as<GsfOutfileMSOle>(ole.p), file.root.clsid.data());
    writeStorage(ole.p, file.root);
    if (!g.gsf_output_close(as<GsfOutput>(ole.p))) throw Error("Не удалось записать составной файл книги");
    const gsf_off_t size = g.gsf_output_size(sink.p);
    const guint8* data = g.gsf_output_memory_get_bytes(as<GsfOutputMemory>(sink.p));
    std::vector<uint8_t> out;
    if (size > 0 && data) out.assign(data, data + size);
    if (!g.gsf_output_is_closed(sink.p)) g.gsf_output_close(sink.p);
    tidyDirectory({[&out](uint64_t at, uint8_t* p, size_t n) {
                       if (at > out.size() || n > out.size() - at) return false;
                       std::copy(out.begin() + static_cast<long>(at), out.begin() + static_cast<long>(at + n), p);
                       return true;
                   },
                   [&out](uint64_t at, const uint8_t* p, size_t n) {
                       std::copy(p, p + n, out.begin() + static_cast<long>(at));
                       return true;
                   }});
    return out;
}

void writeCompoundFile(const CompoundFile& file, const std::filesystem::path& path) {
    const GsfFunctions& g = gsf();
    GError* err = nullptr;
    GRef<GsfOutput> sink(g.gsf_output_stdio_new(path.c_str(), &err));
    if (err) g.g_error_free(err);
    if (!sink.p) throw Error("Не удалось создать файл книги «" + path.string() + "»");
    GRef<GsfOutfile> ole(g.gsf_outfile_msole_new(sink.p));
    if (!ole.p) throw Error("Не удалось создать файл книги «" + path.string() + "»");
    g.gsf_outfile_msole_set_class_id(as<GsfOutfileMSOle>(ole.p), file.root.clsid.data());
    writeStorage(ole.p, file.root);
    bool ok = g.gsf_output_close(as<GsfOutput>(ole.p));
    if (!g.gsf_output_is_closed(sink.p)) ok = g.gsf_output_close(sink.p) && ok;
    if (!ok) throw Error("Не удалось записать файл книги «" + path.string() + "»");
    std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!io) throw Error("Не удалось записать файл книги «" + path.string() + "»");
    bool writeFailed = false;  // a read that fails only stops the tidying
    tidyDirectory({[&io](uint64_t at, uint8_t* p, size_t n) {
                       io.clear();
                       io.seekg(static_cast<std::streamoff>(at));
                       return static_cast<bool>(io.read(reinterpret_cast<char*>(p), static_cast<std::streamsize>(n)));
                   },
                   [&io, &writeFailed](uint64_t at, const uint8_t* p, size_t n) {
                       io.clear();
                       io.seekp(static_cast<std::streamoff>(at));
                       writeFailed = !io.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
                       return !writeFailed;
                   }});
    io.clear();
    io.close();
    if (writeFailed || io.fail()) throw Error("Не удалось записать файл книги «" + path.string() + "»");
}

}  // namespace talvira::xls
