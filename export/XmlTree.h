#pragma once
/**
 * An XML document as plain data — elements with their attributes, text and children in order —
 * and its rendering through libxml2's text writer: UTF-8, indented, the declaration first. The
 * writers of the expertise files build the tree from a computation's result (testable without a
 * file) and render it here; this knows nothing of estimates.
 *
 *   xml::Element root{"Construction"};
 *   root.attribute("xsi:noNamespaceSchemaLocation", "ObjectEstimate-3_01.xsd");
 *   root.add("Name", "Школа");
 *   std::string bytes = xml::render(root);
 *
 * Caveats: texts must be UTF-8 (the writer escapes &, < and >); an element with children has no
 * text of its own. Numbers are texts: the caller formats them locale-free.
 */
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvira::xml {

struct Element {
    std::string name;
    std::string text;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<Element> children;

    /** Appends a child (with its text) and returns it. */
    Element& add(std::string childName, std::string childText = {});
    void attribute(std::string attrName, std::string value) { attributes.emplace_back(std::move(attrName), std::move(value)); }
    /** The first child named `childName`, nullptr when none. */
    const Element* child(std::string_view childName) const;
    /** The children named `childName`, in order. */
    std::vector<const Element*> all(std::string_view childName) const;
    /** The text of the element found by a path of names ("Object/Summary/Total"); "" when none. */
    std::string textAt(std::string_view path) const;
};

/** The document: `<?xml version="1.0" encoding="UTF-8"?>`, then `root`, indented by two blanks;
 *  talvira::Error when libxml2 refuses it (a text that is not UTF-8). */
std::string render(const Element& root);

}  // namespace talvira::xml
