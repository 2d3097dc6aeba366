// The little of HTML the stand-in browser understands: the title, the scripts and the frames in
// page order, and the text a reader would see, in lines, with the elements that carry an id kept
// apart so that the page's script can change their text (document.getElementById(id).textContent
// = ...).
#pragma once
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sv::standin {

struct HtmlElement {
    std::wstring tag;    // lower case
    std::wstring text;   // its text, as shown; the script may replace it
    std::wstring value;  // "value" of a form field
};

struct HtmlPage {
    std::wstring title;
    std::vector<std::wstring> scripts;
    // The addresses of the page's frames (<iframe src>), in page order.
    std::vector<std::wstring> frames;
    // What is shown, in order: plain text, or (when elementId is not empty) an element's text.
    struct Piece {
        std::wstring text;
        std::wstring elementId;
    };
    std::vector<Piece> pieces;
    std::map<std::wstring, HtmlElement> elements;

    // The page's text now: pieces joined, line breaks where blocks end, blanks collapsed.
    std::wstring VisibleText() const;
};

// Reads a page (its text already decoded). Never fails: anything it does not know is text or
// skipped.
HtmlPage ParseHtml(std::wstring_view html);

// "&amp;", "&lt;", "&#39;", "&#x263A;" ... as their characters; unknown entities stay as written.
std::wstring DecodeEntities(std::wstring_view text);

}  // namespace sv::standin
