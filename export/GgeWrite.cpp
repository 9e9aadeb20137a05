// The thin writer of the expertise file: each step of the plan is one call of libxml2's text
// writer; the bytes are checked against the shipped schema before they become a file.
#include "export/GgeWrite.h"

#include "common/AtomicFile.h"
#include "common/Error.h"
#include "export/GgeSchema.h"
#include "export/Libxml.h"

#include <memory>

namespace talvira::gge {

namespace {

const xmlChar* x(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
const xmlChar* x(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

struct WriterFree {
    void operator()(xmlTextWriter* w) const { xml::libxml().xmlFreeTextWriter(w); }
};

constexpr size_t kProgressEvery = 256;  // Items between two progress calls

void check(int rc, const GgeNode& n) {
    if (rc < 0)
        throw Error(std::string("Файл для экспертизы не составлен: текст элемента «") + n.name +
                    "» не в кодировке UTF-8");
}

}  // namespace

std::string renderGge(const GgePlan& plan, const sheet::Progress& progress) {
    const xml::LibxmlFunctions& lib = xml::libxml();
    // The declaration is ours: libxml2 given the encoding would pass every byte through a
    // UTF-8 to UTF-8 converter. The writer appends straight to the string, sized ahead.
    std::string bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    bytes.reserve(plan.nodes.size() * 40 + 4096);
    xmlOutputBuffer* out = lib.xmlOutputBufferCreateIO(
        [](void* to, const char* data, int size) {
            static_cast<std::string*>(to)->append(data, size_t(size));
            return size;
        },
        nullptr, &bytes, nullptr);
    if (!out) throw Error("Файл для экспертизы не составлен: не хватает памяти");
    std::unique_ptr<xmlTextWriter, WriterFree> writer(lib.xmlNewTextWriter(out));  // owns `out` from here
    if (!writer) {
        lib.xmlOutputBufferClose(out);
        throw Error("Файл для экспертизы не составлен: не хватает памяти");
    }
    xmlTextWriter* w = writer.get();
    const GgeNode start{GgeNode::Kind::Open, "xml", {}};
    check(lib.xmlTextWriterSetIndent(w, 1), start);
    check(lib.xmlTextWriterSetIndentString(w, x("  ")), start);
    const size_t total = plan.positions + plan.positions / 3 + 1;
    size_t items = 0;
    for (const GgeNode& n : plan.nodes) {
        switch (n.kind) {
            case GgeNode::Kind::Open:
                check(lib.xmlTextWriterStartElement(w, x(n.name)), n);
                if (std::string_view(n.name) == "Item" && ++items % kProgressEvery == 0 && progress &&
                    !progress(items, total))
                    throw sheet::WriteStopped();
                break;
            case GgeNode::Kind::Attribute: check(lib.xmlTextWriterWriteAttribute(w, x(n.name), x(n.text)), n); break;
            case GgeNode::Kind::Leaf: check(lib.xmlTextWriterWriteElement(w, x(n.name), x(n.text)), n); break;
            case GgeNode::Kind::Close: check(lib.xmlTextWriterEndElement(w), n); break;
        }
    }
    check(lib.xmlTextWriterFlush(w), start);
    writer.reset();  // closes the output into the string
    bytes += '\n';
    return bytes;
}

std::filesystem::path writeGge(const GgePlan& plan, const std::filesystem::path& out, bool keepExisting,
                               const sheet::Progress& progress) {
    const std::string bytes = renderGge(plan, progress);
    const size_t total = plan.positions + plan.positions / 3 + 1;
    if (progress && !progress(plan.positions, total)) throw sheet::WriteStopped();
    if (const std::string v = exporting::schemaViolation(exporting::kBaseIndexSchema, bytes); !v.empty())
        throw Error("Файл для экспертизы не записан: он не прошёл проверку по схеме, это ошибка программы, а не "
                    "сметы. " + v);
    if (progress && !progress(total, total)) throw sheet::WriteStopped();
    return writeFileAtomically(out, bytes, keepExisting, "файл для экспертизы");
}

}  // namespace talvira::gge
