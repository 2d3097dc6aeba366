// Reading replies and cache files through the MSXML DOM, and writing cache files.
#include "lyrics/lyrics_document.h"
#include "lyrics/reply_dom.h"

#include <msxml2.h>
#include <shlwapi.h>

#include <cstring>
#include <new>

#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/utf.h"

namespace sv {
namespace {

std::u16string_view ViewOf(const UniqueBstr& bstr) { return AsU16View(bstr.c_str(), bstr.length()); }

// For each name, the first element with exactly that tag name among the descendants of root, in
// document order; found in one pre-order walk that ends once every name is found. (Asking the DOM
// for each name's element list costs a walk of the whole reply per name.)
template <size_t N>
void FindFirstElements(IXMLDOMNode* root, const wchar_t* const (&names)[N], ComPtr<IXMLDOMNode> (&found)[N]) {
    size_t missing = N;
    size_t depth = 1;  // levels below root; counted because node objects need not be unique per node
    ComPtr<IXMLDOMNode> node;
    if (FAILED(root->get_firstChild(node.put()))) return;
    while (node && missing > 0) {
        DOMNodeType type = NODE_INVALID;
        ComPtr<IXMLDOMNode> next;
        if (SUCCEEDED(node->get_nodeType(&type)) && type == NODE_ELEMENT) {
            UniqueBstr name;
            if (SUCCEEDED(node->get_nodeName(name.put()))) {
                for (size_t i = 0; i < N; ++i) {
                    if (!found[i] && name.length() == wcslen(names[i]) && wcscmp(name.c_str(), names[i]) == 0) {
                        found[i] = node.Copy();
                        --missing;
                    }
                }
            }
            if (SUCCEEDED(node->get_firstChild(next.put())) && next) ++depth;
        }
        // No children: the next sibling of this node or of its nearest ancestor below root.
        while (!next) {
            if (SUCCEEDED(node->get_nextSibling(next.put())) && next) break;
            if (--depth == 0) return;
            ComPtr<IXMLDOMNode> parent;
            if (FAILED(node->get_parentNode(parent.put())) || !parent) return;
            node = std::move(parent);
        }
        node = std::move(next);
    }
}

// The cache file is opened as a stream rather than by name: MSXML reads a name as a URL, where
// '#' and '%' in a title would make it read another file.
HRESULT OpenCacheStream(const std::u16string& path, bool forWriting, ComPtr<IStream>& stream) {
    const DWORD mode =
        forWriting ? (STGM_CREATE | STGM_WRITE | STGM_SHARE_DENY_WRITE) : (STGM_READ | STGM_SHARE_DENY_WRITE);
    return SHCreateStreamOnFileEx(AsWide(path.c_str()), mode, FILE_ATTRIBUTE_NORMAL, forWriting ? TRUE : FALSE, nullptr,
                                  stream.put());
}

UniqueVariant VariantOfStream(const ComPtr<IStream>& stream) {
    UniqueVariant value;
    value->vt = VT_UNKNOWN;
    value->punkVal = stream.Copy().detach();
    return value;
}

// Makes the folder and whichever of its parents are missing, from the top down. Existing folders
// are fine, and any other failure shows when the file opens.
void CreateFolderChain(std::u16string_view folder) {
    std::u16string prefix(folder);
    // Past "C:\" or "\\server\share\": those are never made.
    size_t start = prefix.size() >= 3 && prefix[1] == u':' ? 3 : 0;
    if (prefix.rfind(u"\\\\", 0) == 0) {
        const size_t server = prefix.find(u'\\', 2);
        start = server == std::u16string::npos ? prefix.size() : prefix.find(u'\\', server + 1);
        if (start == std::u16string::npos) start = prefix.size();
    }
    for (size_t at = prefix.find(u'\\', start); at != std::u16string::npos; at = prefix.find(u'\\', at + 1)) {
        prefix[at] = u'\0';
        CreateDirectoryW(AsWide(prefix.c_str()), nullptr);
        prefix[at] = u'\\';
    }
    CreateDirectoryW(AsWide(prefix.c_str()), nullptr);
}

// This document's cache file; with createFolder its folder is made first.
std::optional<std::u16string> CacheFileOf(const LyricsDocument& document, std::u16string_view folder,
                                          bool createFolder) {
    std::optional<std::u16string> path = document.CachePathIn(folder);
    if (path && createFolder) CreateFolderChain(folder);
    return path;
}

}  // namespace

bool LyricsDocument::CachePath(wchar_t (&buffer)[kCachePathCapacity], bool createFolder,
                               std::u16string_view cacheFolder) const {
    buffer[0] = L'\0';
    const std::optional<std::u16string> path = CacheFileOf(*this, cacheFolder, createFolder);
    if (!path) return false;
    std::memcpy(buffer, path->c_str(), (path->size() + 1) * sizeof(wchar_t));
    return true;
}

HRESULT LyricsDocument::ParseDom(IXMLDOMDocument* dom) {
    if (!dom) return E_POINTER;
    ComPtr<IXMLDOMElement> root;
    HRESULT hr = dom->get_documentElement(root.put());
    if (FAILED(hr)) return hr;
    if (!root) return S_FALSE;

    static const wchar_t* const kNames[] = {L"title",    L"album",      L"artist", L"version",
                                            L"songLock", L"lastUpdate", L"lyric"};
    std::u16string LyricsDocument::*const fields[] = {&LyricsDocument::title,    &LyricsDocument::album,
                                                      &LyricsDocument::artist,   &LyricsDocument::version,
                                                      &LyricsDocument::songLock, &LyricsDocument::lastUpdate};
    ComPtr<IXMLDOMNode> elements[7];
    FindFirstElements(root.get(), kNames, elements);
    for (size_t i = 0; i < 6; ++i) {
        if (!elements[i]) continue;
        UniqueBstr text;
        if (SUCCEEDED(elements[i]->get_text(text.put()))) (this->*fields[i]).assign(ViewOf(text));
    }

    const ComPtr<IXMLDOMNode>& lyric = elements[6];
    if (!lyric) return S_OK;

    // Every child counts, whatever its kind or name.
    ComPtr<IXMLDOMNodeList> children;
    SV_RETURN_IF_FAILED(lyric->get_childNodes(children.put()));
    long childCount = 0;
    if (children) SV_RETURN_IF_FAILED(children->get_length(&childCount));
    if (childCount >= 2) {
        UniqueBstr timingName = MakeBstr(L"timing");
        // Walked by sibling links: indexing the list would cost a walk per line.
        ComPtr<IXMLDOMNode> child;
        hr = lyric->get_firstChild(child.put());
        if (FAILED(hr)) return hr;
        while (child) {
            UniqueBstr text;
            hr = child->get_text(text.put());
            if (FAILED(hr)) return hr;
            UniqueVariant timing;
            ComPtr<IXMLDOMElement> element;
            if (SUCCEEDED(element.QueryFrom(child.get(), kIidXmlDomElement)) && element) {
                // Absent: S_FALSE with VT_NULL, read as no timing.
                element->getAttribute(timingName.get(), timing.put());
            }
            std::u16string_view timingText;
            if (timing->vt == VT_BSTR && timing->bstrVal)
                timingText = AsU16View(timing->bstrVal, SysStringLen(timing->bstrVal));
            AddLine(ViewOf(text), timingText);

            ComPtr<IXMLDOMNode> next;
            hr = child->get_nextSibling(next.put());
            if (FAILED(hr)) return hr;
            child = std::move(next);
        }
    }

    if (LineCount() == 0) {
        status = LyricsStatus::NotFound;
    } else {
        status = LyricsStatus::Untimed;
        for (const LyricLine& line : lines) {
            if (line.time != 0) {
                status = LyricsStatus::Timed;
                break;
            }
        }
    }
    return S_OK;
}

HRESULT LyricsDocument::LoadFromReply(const char* replyUtf8, bool saveToCache, std::u16string_view cacheFolder) {
    ClearLines();
    if (!replyUtf8) return E_INVALIDARG;
    ComPtr<IXMLDOMDocument> dom;
    const HRESULT loaded = LoadReplyXml(replyUtf8, dom);
    if (loaded != S_OK) return loaded;

    const HRESULT parsed = ParseDom(dom.get());
    if (saveToCache) {
        const std::optional<std::u16string> path = CacheFileOf(*this, cacheFolder, true);
        if (path) {
            ComPtr<IStream> file;
            if (SUCCEEDED(OpenCacheStream(*path, true, file))) {
                UniqueVariant destination = VariantOfStream(file);
                dom->save(*destination.get());
            }
        }
    }
    return parsed;
}

HRESULT LyricsDocument::LoadFromCache(std::u16string_view cacheFolder) {
    ClearLines();
    ComPtr<IXMLDOMDocument> dom;
    SV_RETURN_IF_FAILED(CreateReplyDom(dom));
    const std::optional<std::u16string> path = CacheFileOf(*this, cacheFolder, false);
    // No safe name: this document has no cache file.
    if (!path) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    ComPtr<IStream> file;
    SV_RETURN_IF_FAILED(OpenCacheStream(*path, false, file));
    UniqueVariant source = VariantOfStream(file);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT hr = dom->load(*source.get(), &loaded);
    if (FAILED(hr)) return hr;
    if (loaded != VARIANT_TRUE) return hr == S_OK ? S_FALSE : hr;
    // Cache files are replies as saved, and replies never carry a document type.
    if (HasDocumentType(dom.get())) return S_FALSE;
    return ParseDom(dom.get());
}

}  // namespace sv
