#pragma once
/**
 * Reads one document of the official norm base, a norm file (root `base`: collections, sections,
 * tables, norms with their resources) or a price file (root `ResourceCatalog`: books, sections,
 * resources with their prices), as a streaming state machine over expat: each element's
 * attributes are read once when it starts and turned into records of the base being assembled;
 * nothing of the document is kept. The source's facts (kind, book, decree, price level, date)
 * go into `source`.
 *
 *   XmlInput in{"ГЭСНп.xml", [&](const PieceFn& piece) { while (n = read(buf)) if (!piece(buf, n)) break; }};
 *   if (readDocument(in, assembler, source).kind == DocumentKind::Other) ...
 *
 * Caveats: elements it does not know are skipped with everything inside them and counted. A
 * norm outside any section, or a resource of a price file outside any section, is refused. Every
 * failure is talvira::Error naming the file, the line and the column; a document of another
 * kind is read no further than its root.
 */
#include "normbase/import/BaseAssembler.h"

#include <cstddef>
#include <functional>
#include <string>

namespace talvira::normimport {

/** A document to read: the name messages give it, and its bytes in order. */
struct XmlInput {
    std::string shownName;
    /** Calls `piece` with the document's bytes, in order, until the end or a false answer. */
    std::function<void(const PieceFn& piece)> read;
};

enum class DocumentKind { Norms, Prices, Other };

struct DocumentRead {
    DocumentKind kind = DocumentKind::Other;
    std::string rootName;  // the root element's name ("base", "ResourceCatalog", ...)
};

/** Reads `input` whole into `base`, its facts into `source`. */
DocumentRead readDocument(const XmlInput& input, BaseAssembler& base, SourceInfo& source);

}  // namespace talvira::normimport
