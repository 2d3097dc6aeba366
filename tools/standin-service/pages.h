// The community site's pages: the video theatre, the advert, the lyrics editor and the plain
// pages the plug-in's commands open.
#pragma once
#include <string>

#include "http_server.h"
#include "store.h"
#include "text.h"

namespace standin {

// author: the signed-in member a change is credited to; "" credits the name the form gives.
// signInRequired: the editor asks for a member's name and password with the lyrics.
HttpResponse CommunityPage(Store& store, const HttpRequest& request, const QueryPairs& query,
                           const std::string& author = std::string(), bool signInRequired = false);
HttpResponse ErrorPage(int status);

// Escapes for HTML text and attribute values (&#39; rather than &apos;, which old IE lacks).
std::string HtmlEscape(std::string_view utf8);
// A double-quoted JScript string literal with every non-ASCII character as \uXXXX.
std::string ScriptString(std::string_view utf8);

}  // namespace standin
