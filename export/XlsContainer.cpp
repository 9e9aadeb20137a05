#include "export/XlsContainer.h"

#include "common/Error.h"

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

#include <fstream>
#include <mutex>

namespace talvira::xls {

/* ------------------------------------------------------------------------------------- */
/*  Private functions                                                                    */
/* ------------------------------------------------------------------------------------- */

namespace {

void quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void initGsf() {
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        // A damaged file is reported once, by our own error; the library's complaints about
        // its directory would only reach the terminal.
        const GLogLevelFlags levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL);
        g_log_set_handler("libgsf:msole", levels, quiet, nullptr);
        g_log_set_handler("libgsf", levels, quiet, nullptr);
    });
}

/** g_object_unref on scope exit. */
template <typename T>
struct GRef {
    T* p = nullptr;
    explicit GRef(T* q = nullptr) : p(q) {}
    ~GRef() {
        if (p) g_object_unref(p);
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
};

std::string damaged(const std::string& name) {
    return "Файл «" + name + "» не является книгой Excel или повреждён (составной файл OLE2 не читается)";
}

void readStorage(GsfInfile* dir, CompoundEntry& out, const std::string& name, int depth) {
    if (depth > 32) throw Error(damaged(name));
    if (GSF_IS_INFILE_MSOLE(dir)) {
        guint8 id[16] = {};
        if (gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(dir), id))
            std::copy(id, id + 16, out.clsid.begin());
    }
    const int n = gsf_infile_num_children(dir);
    for (int i = 0; i < n; ++i) {
        const char* childName = gsf_infile_name_by_index(dir, i);
        GRef<GsfInput> child(gsf_infile_child_by_index(dir, i));
        if (!child.p || !childName) throw Error(damaged(name));
        CompoundEntry e;
        e.name = childName;
        // A storage is an infile; an empty storage still answers -1 children for a stream.
        if (GSF_IS_INFILE(child.p) && gsf_infile_num_children(GSF_INFILE(child.p)) >= 0) {
            e.storage = true;
            readStorage(GSF_INFILE(child.p), e, name, depth + 1);
        } else {
            const gsf_off_t size = gsf_input_size(child.p);
            if (size < 0 || size > (gsf_off_t{1} << 31)) throw Error(damaged(name));
            e.data.resize(static_cast<size_t>(size));
            if (size > 0 && !gsf_input_read(child.p, static_cast<size_t>(size), e.data.data()))
                throw Error(damaged(name));
        }
        out.children.push_back(std::move(e));
    }
}

void writeStorage(GsfOutfile* dir, const CompoundEntry& entry) {
    for (const CompoundEntry& e : entry.children) {
        GsfOutput* child = gsf_outfile_new_child(dir, e.name.c_str(), e.storage);
        if (!child) throw Error("Не удалось записать раздел «" + e.name + "» книги");
        bool ok = true;
        if (e.storage) {
            gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(child), e.clsid.data());
            writeStorage(GSF_OUTFILE(child), e);
        } else if (!e.data.empty()) {
            ok = gsf_output_write(child, e.data.size(), e.data.data());
        }
        ok = gsf_output_close(child) && ok;
        g_object_unref(child);
        if (!ok) throw Error("Не удалось записать раздел «" + e.name + "» книги");
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
    initGsf();
    static const uint8_t magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (bytes.size() < 512 || !std::equal(magic, magic + 8, bytes.begin()))
        throw Error(damaged(displayName));
    GRef<GsfInput> input(gsf_input_memory_new(bytes.data(), static_cast<gsf_off_t>(bytes.size()), FALSE));
    GError* err = nullptr;
    GRef<GsfInfile> ole(gsf_infile_msole_new(input.p, &err));
    if (err) g_error_free(err);
    if (!ole.p) throw Error(damaged(displayName));
    CompoundFile f;
    f.root.name = "Root Entry";
    f.root.storage = true;
    readStorage(ole.p, f.root, displayName, 0);
    return f;
}

std::vector<uint8_t> writeCompoundFile(const CompoundFile& file) {
    initGsf();
    GRef<GsfOutput> sink(gsf_output_memory_new());
    GRef<GsfOutfile> ole(gsf_outfile_msole_new(sink.p));
    if (!ole.p) throw Error("Не удалось создать составной файл книги");
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(ole.p), file.root.clsid.data());
    writeStorage(ole.p, file.root);
    if (!gsf_output_close(GSF_OUTPUT(ole.p))) throw Error("Не удалось записать составной файл книги");
    const gsf_off_t size = gsf_output_size(sink.p);
    const guint8* data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.p));
    std::vector<uint8_t> out;
    if (size > 0 && data) out.assign(data, data + size);
    if (!gsf_output_is_closed(sink.p)) gsf_output_close(sink.p);
    return out;
}

void writeCompoundFile(const CompoundFile& file, const std::filesystem::path& path) {
    initGsf();
    GError* err = nullptr;
    GRef<GsfOutput> sink(gsf_output_stdio_new(path.c_str(), &err));
    if (err) g_error_free(err);
    if (!sink.p) throw Error("Не удалось создать файл книги «" + path.string() + "»");
    GRef<GsfOutfile> ole(gsf_outfile_msole_new(sink.p));
    if (!ole.p) throw Error("Не удалось создать файл книги «" + path.string() + "»");
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(ole.p), file.root.clsid.data());
    writeStorage(ole.p, file.root);
    bool ok = gsf_output_close(GSF_OUTPUT(ole.p));
    if (!gsf_output_is_closed(sink.p)) ok = gsf_output_close(sink.p) && ok;
    if (!ok) throw Error("Не удалось записать файл книги «" + path.string() + "»");
}

}  // namespace talvira::xls
