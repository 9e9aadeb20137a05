#pragma once
/**
 * Reads one document of the official norm base, a norm file (root `base`: collections, sections,
 * tables, norms with their resources) or a price file (root `ResourceCatalog`: books, sections,
 * resources with their prices), as a streaming state machine: each element's attributes are read
 * once when it starts and turned into records of the base being assembled; nothing of the
 * document is kept. The source's facts (kind, decree, price level, date) go into the report.
 *
 *   OfficialXmlReader r(assembler, source);
 *   ExpatParser p(name, r);  ... feed ...
 *   if (r.rootKind() == OfficialXmlReader::Root::Other) ...
 *
 * Caveats: elements it does not know are skipped with everything inside them and counted. A
 * norm outside any section, or a resource of a price file outside any section, is
 * talvira::Error naming the place (the parser adds file, line and column).
 */
#include "normbase/import/BaseAssembler.h"
#include "normbase/import/ExpatParser.h"

#include <optional>
#include <string>
#include <vector>

namespace talvira::normimport {

class OfficialXmlReader final : public XmlHandler {
public:
    enum class Root { Unknown, Norms, Prices, Other };

    OfficialXmlReader(BaseAssembler& base, SourceInfo& source, ExpatParser*& parser)
        : base_(base), source_(source), parser_(parser) {}

    void startElement(const char* name, const char** atts) override;
    void endElement(const char* name) override;
    void text(const char* s, size_t n) override { text_.append(s, n); }
    bool wantText() const override { return capture_; }

    Root root() const { return root_; }
    /** The root element's name (for a document that is neither kind). */
    const std::string& rootName() const { return rootName_; }

private:
    enum class El {
        Root, Decrees, Decree, ActNumber, ActDate, Directory, Category, Section, NameGroup, Work, Resources, Line,
        NrSp, Reason, WorkPrices, WorkPrice, Resource, ResourcePrices, ResourcePrice, Ignored, Skipped
    };
    struct SectionFrame {
        int32_t entry = 0;  // 0: the collection itself
    };
    El childOf(El parent, std::string_view name) const;
    void startSection(const char** atts);
    void startWork(const char** atts);
    void startLine(std::string_view name, const char** atts);
    void startResource(const char** atts);
    std::optional<double> number(const char* value, const char* what);
    int32_t currentEntry(const char* what) const;
    std::string place() const;

    BaseAssembler& base_;
    SourceInfo& source_;
    ExpatParser*& parser_;
    Root root_ = Root::Unknown;
    std::string rootName_;
    std::vector<El> stack_;
    std::vector<SectionFrame> sections_;
    std::string codePrefix_;
    std::string beginName_;
    std::string workCode_;
    // A price file's resource, stored when it ends (its price comes in a child element).
    std::string resCode_, resName_, resUnit_;
    std::optional<double> resPrice_, resMachineWages_;
    bool resHasPrice_ = false;
    int32_t resEntry_ = 0;
    bool capture_ = false;
    std::string text_, actNumber_, actDate_;
};

}  // namespace talvira::normimport
