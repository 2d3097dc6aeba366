#include "xml_reader.h"

#include "text.h"

#include <cstdlib>
#include <stdexcept>

namespace svtest {
namespace {

class Reader {
public:
    explicit Reader(const std::string& xml) : s_(xml) {}

    Node Document() {
        SkipMisc();
        if (!Peek('<')) Fail("no root element");
        Node root = Element();
        SkipMisc();
        if (at_ != s_.size()) Fail("content after the root element");
        return root;
    }

private:
    [[noreturn]] void Fail(const std::string& why) { throw std::runtime_error(why + " at " + std::to_string(at_)); }
    bool Peek(char c) const { return at_ < s_.size() && s_[at_] == c; }
    bool Starts(const char* text) const { return s_.compare(at_, std::char_traits<char>::length(text), text) == 0; }
    void SkipSpace() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\r' || s_[at_] == '\n')) ++at_;
    }
    void SkipPast(const char* end) {
        const size_t found = s_.find(end, at_);
        if (found == std::string::npos) Fail(std::string("unterminated, expected ") + end);
        at_ = found + std::char_traits<char>::length(end);
    }
    void SkipMisc() {
        for (;;) {
            SkipSpace();
            if (Starts("<?"))
                SkipPast("?>");
            else if (Starts("<!--"))
                SkipPast("-->");
            else if (Starts("<!"))
                Fail("document type definitions are not expected");
            else
                return;
        }
    }
    std::string Name() {
        const size_t start = at_;
        while (at_ < s_.size()) {
            const char c = s_[at_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>' || c == '=' || c == '<' ||
                c == '"' || c == '\'' || c == '&')
                break;
            ++at_;
        }
        if (at_ == start) Fail("name expected");
        return s_.substr(start, at_ - start);
    }
    // Reads character data up to (not including) stop, decoding references.
    std::string CharData(char stop) {
        std::string out;
        while (at_ < s_.size() && s_[at_] != stop) {
            const char c = s_[at_];
            if (c == '<') Fail("'<' inside a value");
            if (c != '&') {
                out += c;
                ++at_;
                continue;
            }
            const size_t semi = s_.find(';', at_);
            if (semi == std::string::npos || semi - at_ > 10) Fail("bare '&'");
            const std::string entity = s_.substr(at_ + 1, semi - at_ - 1);
            if (entity == "amp")
                out += '&';
            else if (entity == "lt")
                out += '<';
            else if (entity == "gt")
                out += '>';
            else if (entity == "quot")
                out += '"';
            else if (entity == "apos")
                out += '\'';
            else if (entity.size() > 2 && entity[0] == '#' && entity[1] == 'x')
                standin::AppendUtf8(out, strtoul(entity.c_str() + 2, nullptr, 16));
            else if (entity.size() > 1 && entity[0] == '#')
                standin::AppendUtf8(out, strtoul(entity.c_str() + 1, nullptr, 10));
            else
                Fail("unknown entity &" + entity + ";");
            at_ = semi + 1;
        }
        return out;
    }
    Node Element() {
        ++at_;  // '<'
        Node node;
        node.name = Name();
        for (;;) {
            SkipSpace();
            if (Starts("/>")) {
                at_ += 2;
                return node;
            }
            if (Peek('>')) {
                ++at_;
                break;
            }
            std::string attribute = Name();
            SkipSpace();
            if (!Peek('=')) Fail("'=' expected");
            ++at_;
            SkipSpace();
            if (!Peek('"') && !Peek('\'')) Fail("quoted value expected");
            const char quote = s_[at_++];
            std::string value = CharData(quote);
            if (!Peek(quote)) Fail("unterminated attribute");
            ++at_;
            for (const auto& existing : node.attributes) {
                if (existing.first == attribute) Fail("attribute repeated");
            }
            node.attributes.emplace_back(std::move(attribute), std::move(value));
        }
        for (;;) {
            if (at_ >= s_.size()) Fail("unterminated element " + node.name);
            if (Starts("</")) {
                at_ += 2;
                if (Name() != node.name) Fail("mismatched end tag for " + node.name);
                SkipSpace();
                if (!Peek('>')) Fail("'>' expected");
                ++at_;
                return node;
            }
            if (Starts("<!--")) {
                SkipPast("-->");
                continue;
            }
            if (Starts("<![CDATA[")) {
                const size_t end = s_.find("]]>", at_);
                if (end == std::string::npos) Fail("unterminated CDATA");
                Node text;
                text.isText = true;
                text.text = s_.substr(at_ + 9, end - at_ - 9);
                node.children.push_back(std::move(text));
                at_ = end + 3;
                continue;
            }
            if (Starts("<?")) {
                SkipPast("?>");
                continue;
            }
            if (Peek('<')) {
                node.children.push_back(Element());
                continue;
            }
            Node text;
            text.isText = true;
            text.text = CharData('<');
            node.children.push_back(std::move(text));
        }
    }

    const std::string& s_;
    size_t at_ = 0;
};

}  // namespace

const std::string* Node::Attribute(const std::string& attribute) const {
    for (const auto& [name, value] : attributes) {
        if (name == attribute) return &value;
    }
    return nullptr;
}

std::string Node::TextContent() const {
    if (isText) return text;
    std::string out;
    for (const Node& child : children) out += child.TextContent();
    return out;
}

const Node* Node::Find(const std::string& element) const {
    for (const Node& child : children) {
        if (child.isText) continue;
        if (child.name == element) return &child;
        if (const Node* below = child.Find(element)) return below;
    }
    return nullptr;
}

std::vector<const Node*> Node::Elements() const {
    std::vector<const Node*> elements;
    for (const Node& child : children) {
        if (!child.isText) elements.push_back(&child);
    }
    return elements;
}

std::optional<Node> Parse(const std::string& xml, std::string* error) {
    try {
        return Reader(xml).Document();
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
}

}  // namespace svtest
