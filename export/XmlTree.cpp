// The XML tree rendered with libxml2's text writer into memory.
#include "export/XmlTree.h"

#include "common/Error.h"
#include "export/Libxml.h"

#include <memory>

namespace talvira::xml {

Element& Element::add(std::string childName, std::string childText) {
    children.push_back(Element{std::move(childName), std::move(childText), {}, {}});
    return children.back();
}

const Element* Element::child(std::string_view childName) const {
    for (const Element& c : children)
        if (c.name == childName) return &c;
    return nullptr;
}

std::vector<const Element*> Element::all(std::string_view childName) const {
    std::vector<const Element*> out;
    for (const Element& c : children)
        if (c.name == childName) out.push_back(&c);
    return out;
}

std::string Element::textAt(std::string_view path) const {
    const Element* e = this;
    while (e && !path.empty()) {
        const size_t slash = path.find('/');
        e = e->child(path.substr(0, slash));
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return e ? e->text : std::string();
}

namespace {

const xmlChar* x(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

struct BufferFree {
    void operator()(xmlBuffer* b) const { xml::libxml().xmlBufferFree(b); }
};
struct WriterFree {
    void operator()(xmlTextWriter* w) const { xml::libxml().xmlFreeTextWriter(w); }
};

void check(int rc) {
    if (rc < 0) throw Error("Не удалось составить файл XML: текст не в кодировке UTF-8");
}

void write(xmlTextWriter* w, const Element& e) {
    const LibxmlFunctions& lib = libxml();
    check(lib.xmlTextWriterStartElement(w, x(e.name)));
    for (const auto& [name, value] : e.attributes) check(lib.xmlTextWriterWriteAttribute(w, x(name), x(value)));
    if (e.children.empty()) {
        if (!e.text.empty()) check(lib.xmlTextWriterWriteString(w, x(e.text)));
        check(lib.xmlTextWriterFullEndElement(w));
        return;
    }
    for (const Element& c : e.children) write(w, c);
    check(lib.xmlTextWriterEndElement(w));
}

}  // namespace

std::string render(const Element& root) {
    const LibxmlFunctions& lib = libxml();
    std::unique_ptr<xmlBuffer, BufferFree> buffer(lib.xmlBufferCreate());
    if (!buffer) throw Error("Не удалось составить файл XML: не хватает памяти");
    // The writer frees nothing of the buffer: it is released after the writer.
    std::unique_ptr<xmlTextWriter, WriterFree> writer(lib.xmlNewTextWriterMemory(buffer.get(), 0));
    if (!writer) throw Error("Не удалось составить файл XML: не хватает памяти");
    check(lib.xmlTextWriterSetIndent(writer.get(), 1));
    check(lib.xmlTextWriterSetIndentString(writer.get(), BAD_CAST "  "));
    check(lib.xmlTextWriterStartDocument(writer.get(), "1.0", "UTF-8", nullptr));
    write(writer.get(), root);
    check(lib.xmlTextWriterEndDocument(writer.get()));
    writer.reset();  // flushes into the buffer
    const xmlChar* content = lib.xmlBufferContent(buffer.get());
    const int size = lib.xmlBufferLength(buffer.get());
    return std::string(reinterpret_cast<const char*>(content), size_t(size));
}

}  // namespace talvira::xml
