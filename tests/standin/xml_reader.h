// A small, strict XML reader for checking the stand-in's replies natively (MSXML reads them in the
// plug-in). Elements, attributes, text, the five named entities and character references;
// comments, the declaration and processing instructions are skipped. Anything else is an error.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace svtest {

struct Node {
    bool isText = false;
    std::string name;  // element name; empty for text
    std::string text;  // text of a text node
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<Node> children;

    const std::string* Attribute(const std::string& attribute) const;
    std::string TextContent() const;
    // The first element with that name among the descendants, in document order.
    const Node* Find(const std::string& element) const;
    std::vector<const Node*> Elements() const;  // element children
};

// The document element, or nothing with the reason in *error.
std::optional<Node> Parse(const std::string& xml, std::string* error = nullptr);

}  // namespace svtest
