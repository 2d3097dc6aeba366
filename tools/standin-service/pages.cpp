#include "pages.h"

#include <cstdint>
#include <cstdio>

namespace standin {
namespace {

const char kTheatreScript[] =
#include "theatre_script.inc"
    ;

const char kStyle[] =
    "body{font-family:Tahoma,Verdana,sans-serif;font-size:13px;margin:8px;color:#222;background:#fff}"
    "h1{font-size:18px;color:#1d4f91}h2{font-size:14px}table{border-collapse:collapse}"
    "td,th{border:1px solid #ccc;padding:2px 6px;text-align:left}.note{color:#666}"
    "button{margin:2px}#sv-log,#sv-info{background:#f4f4f4;padding:4px;white-space:pre;font-size:11px}";

HttpResponse Html(const std::string& title, const std::string& body, int status = 200) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body =
        "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
        "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\"><title>" +
        HtmlEscape(title) + "</title><style>" + kStyle + "</style></head>\n<body>\n<h1>" + HtmlEscape(title) +
        "</h1>\n" + body + "\n</body></html>\n";
    return response;
}

const char* const kQueryNames[] = {"lang",   "artist", "title",  "album",     "videoId",
                                   "vidSrc", "user",   "device", "resolution"};

std::string QueryTable(const QueryPairs& query) {
    std::string html = "<table id=\"sv-query\">";
    for (const char* name : kQueryNames) {
        bool present = false;
        const std::string value = QueryValue(query, name, &present);
        html += "<tr><th>" + std::string(name) + "</th><td id=\"q-" + name + "\">" +
                (present ? HtmlEscape(value) : std::string("<span class=\"note\">(absent)</span>")) + "</td></tr>";
    }
    return html + "</table>";
}

std::string EditLink(const std::string& artist, const std::string& title) {
    return "/wiki/wmp/editLyrics.php?artist=" + PercentEncodeStrict(artist) +
           "&amp;title=" + PercentEncodeStrict(title);
}

std::string VideoId(const std::string& artist, const std::string& title) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : FoldForMatch(artist) + "\n" + FoldForMatch(title)) hash = (hash ^ c) * 16777619u;
    char text[16];
    snprintf(text, sizeof text, "sv%08x", hash);
    return text;
}

HttpResponse Theatre(Store& store) {
    const auto songs = store.Originals();
    std::string videos = "var theatreVideos = [";
    std::string list = "<table><tr><th>Video</th><th>Length</th><th></th></tr>";
    for (size_t i = 0; i < songs.size(); ++i) {
        const SongSummary& song = songs[i];
        const long long seconds = song.timed ? song.lastTimeMs / 1000 + 15 : 180;
        const std::string id = VideoId(song.artist, song.title);
        videos += std::string(i ? ",\n  " : "\n  ") + "{artist: " + ScriptString(song.artist) +
                  ", title: " + ScriptString(song.title) + ", videoId: " + ScriptString(id) +
                  ", seconds: " + std::to_string(seconds) + "}";
        char length[32];
        snprintf(length, sizeof length, "%lld:%02lld", seconds / 60, seconds % 60);
        list += "<tr><td>" + HtmlEscape(song.artist) + " - " + HtmlEscape(song.title) + "</td><td>" + length +
                "</td><td><button onclick=\"theatrePlayVideo(" + std::to_string(i) + ")\">Play</button></td></tr>";
    }
    videos += "\n];\n";
    list += "</table>";
    std::string languages = "<select id=\"sv-lang\"><option value=\"\">original words</option>";
    for (const auto& [code, name] : store.Languages()) {
        languages += "<option value=\"" + HtmlEscape(code) + "\">" + HtmlEscape(name) + "</option>";
    }
    languages += "</select>";
    const std::string body =
        "<script type=\"text/javascript\">\n" + videos + kTheatreScript +
        "</script>\n"
        "<p id=\"sv-host\" class=\"note\"></p>\n"
        "<div><b>Now showing:</b> <span id=\"sv-track\">no video</span> <span id=\"sv-state\">idle</span></div>\n"
        "<div><button onclick=\"theatrePlay()\">Play</button><button onclick=\"theatrePause()\">Pause</button>"
        "<button onclick=\"theatreStop()\">Stop</button><button onclick=\"theatreEnd()\">End</button>"
        "<button onclick=\"theatreSkip(-10)\">-10 s</button><button onclick=\"theatreSkip(10)\">+10 s</button>"
        "<button onclick=\"theatreShowLyrics(true)\">Show lyrics</button>"
        "<button onclick=\"theatreShowLyrics(false)\">Hide lyrics</button>"
        "<button onclick=\"theatreMediaInfo()\">Media info</button></div>\n"
        "<h2>Videos</h2><p>Lyrics in " +
        languages + "</p>\n" + list +
        "\n"
        "<h2>Media Player</h2><div><span id=\"sv-player\">nothing opened</span> "
        "<span id=\"sv-player-state\"></span></div>\n"
        "<h2>Community sign-in</h2><div><input id=\"sv-user\" size=\"12\"> <input id=\"sv-password\" type=\"password\""
        " size=\"12\"> <button onclick=\"theatreSignIn()\">Use in Sonavire</button></div>\n"
        "<div id=\"sv-info\"></div>\n<h2>Calls from Sonavire</h2><div id=\"sv-log\"></div>\n"
        "<script type=\"text/javascript\">theatreStart();</script>";
    return Html("Sonavire Video Theatre", body);
}

HttpResponse Advert() {
    return Html("Sonavire",
                "<p><b>Sing along with every song.</b></p>"
                "<p>Lyrics in step with your music, translations, and a community that times them.</p>"
                "<p class=\"note\">Advertisement</p>");
}

// Who the change is from: with sign-in required, a member's name and password sent with the
// lyrics (checked before anything is saved); otherwise the name the plug-in passed along.
std::string SignInFields(const std::string& user, bool signInRequired) {
    if (!signInRequired) return "<input type=\"hidden\" name=\"user\" value=\"" + HtmlEscape(user) + "\">";
    return "<p>Changes are saved for community members. <label>Member <input name=\"user\" id=\"sv-user\" value=\"" +
           HtmlEscape(user) +
           "\" autocomplete=\"username\"></label> <label>Password <input type=\"password\" "
           "name=\"password\" id=\"sv-password\" autocomplete=\"current-password\"></label></p>";
}

HttpResponse EditLyrics(Store& store, const HttpRequest& request, const QueryPairs& query, const std::string& author,
                        bool signInRequired) {
    if (request.method == "POST") {
        const QueryPairs form = ParseQuery(request.body);
        const std::string artist = QueryValue(form, "artist"), title = QueryValue(form, "title");
        const std::string album = QueryValue(form, "album"), lang = QueryValue(form, "lang");
        std::string lrc = "[ar:" + artist + "]\n[ti:" + title + "]\n[al:" + album + "]\n";
        if (!lang.empty()) lrc += "[la:" + lang + "]\n";
        const LrcParse parsed = ParseLrc(lrc + QueryValue(form, "lrc"));
        if (!parsed.ok)
            return Html("Edit Lyrics", "<p id=\"sv-result\">Not saved: " + HtmlEscape(parsed.error) + "</p>", 400);
        if (LargestReplyBytes(parsed.song) > kMaxSongReplyBytes) {
            return Html("Edit Lyrics", "<p id=\"sv-result\">Not saved: " + HtmlEscape(SongTooLarge().what()) + "</p>",
                        413);
        }
        const std::string version = store.Save(parsed.song, Store::NewVersion::Always, "editor",
                                               author.empty() ? QueryValue(form, "user") : author);
        return Html("Edit Lyrics", "<p id=\"sv-result\">Saved version " + HtmlEscape(version) + " of " +
                                       HtmlEscape(parsed.song.artist) + " - " + HtmlEscape(parsed.song.title) +
                                       ".</p><p><a href=\"" + EditLink(artist, title) + "\">Edit again</a></p>");
    }
    const std::string artist = QueryValue(query, "artist"), title = QueryValue(query, "title");
    const std::string lang = QueryValue(query, "lang");
    std::string body = "<p>Lyrics of <b id=\"sv-song\">" + HtmlEscape(artist) + " - " + HtmlEscape(title) + "</b>";
    if (!QueryValue(query, "album").empty()) body += " (" + HtmlEscape(QueryValue(query, "album")) + ")";
    body += "</p>\n" + QueryTable(query) + "\n";
    std::string current;
    const auto song = Trim(artist).empty() || Trim(title).empty() ? std::nullopt : store.FindExact(artist, title, lang);
    if (song) {
        body += "<p>Version <span id=\"sv-version\">" + HtmlEscape(song->version) + "</span>, last changed " +
                HtmlEscape(song->lastUpdate) + ".</p>";
        for (const Line& line : song->song.lines) current += FormatLrcLine(line);
    } else {
        body += "<p id=\"sv-version\">Nobody has added these lyrics yet.</p>";
    }
    body +=
        "<form method=\"post\" action=\"/wiki/wmp/editLyrics.php\">"
        "<input type=\"hidden\" name=\"artist\" value=\"" +
        HtmlEscape(artist) +
        "\">"
        "<input type=\"hidden\" name=\"title\" value=\"" +
        HtmlEscape(title) +
        "\">"
        "<input type=\"hidden\" name=\"album\" value=\"" +
        HtmlEscape(QueryValue(query, "album")) +
        "\">"
        "<input type=\"hidden\" name=\"lang\" value=\"" +
        HtmlEscape(lang) + "\">" + SignInFields(QueryValue(query, "user"), signInRequired) +
        "<p>One line per lyric line; [mm:ss.xx] in front of a line times it.</p>"
        "<textarea name=\"lrc\" rows=\"20\" cols=\"60\">" +
        HtmlEscape(current) +
        "</textarea><br>"
        "<input type=\"submit\" value=\"Save lyrics\"></form>";
    return Html("Edit Lyrics", body);
}

HttpResponse LyricsSearch(Store& store, const QueryPairs& query) {
    const std::string artist = FoldForMatch(QueryValue(query, "artist"));
    const std::string title = FoldForMatch(QueryValue(query, "title"));
    std::string rows;
    for (const SongSummary& song : store.Originals()) {
        const bool artistMatches = !artist.empty() && FoldForMatch(song.artist).find(artist) != std::string::npos;
        const bool titleMatches = !title.empty() && FoldForMatch(song.title).find(title) != std::string::npos;
        if (!artistMatches && !titleMatches) continue;
        rows += "<tr><td>" + HtmlEscape(song.artist) + "</td><td>" + HtmlEscape(song.title) + "</td><td><a href=\"" +
                EditLink(song.artist, song.title) + "\">Edit</a></td></tr>";
    }
    std::string body = "<p>Searching for the playing track:</p>" + QueryTable(query);
    body += rows.empty()
                ? "<p id=\"sv-results\">No lyrics match.</p>"
                : "<table id=\"sv-results\"><tr><th>Artist</th><th>Title</th><th></th></tr>" + rows + "</table>";
    return Html("Lyrics Search", body);
}

HttpResponse TopFifty(Store& store, const QueryPairs& query) {
    std::string rows;
    int rank = 0;
    for (const SongSummary& song : store.Originals()) {
        if (++rank > 50) break;
        std::string translations;
        for (const std::string& code : song.translations) translations += (translations.empty() ? "" : ", ") + code;
        rows += "<tr><td>" + std::to_string(rank) + "</td><td>" + HtmlEscape(song.artist) + "</td><td>" +
                HtmlEscape(song.title) + "</td><td>" + std::to_string(song.lineCount) +
                (song.timed ? " timed" : " untimed") + "</td><td>" + HtmlEscape(translations) + "</td></tr>";
    }
    return Html("Top 50",
                "<table id=\"sv-top\"><tr><th>#</th><th>Artist</th><th>Title</th><th>Lines</th>"
                "<th>Translations</th></tr>" +
                    rows + "</table><h2>Your track</h2>" + QueryTable(query));
}

HttpResponse Plain(const std::string& title, const std::string& text) {
    return Html(title, "<p>" + text + "</p><p><a href=\"/\">Sonavire home</a></p>");
}

HttpResponse Home() {
    const char* const pages[][2] = {
        {"/wiki/wmp/", "Video Theatre"},
        {"/wiki/wmp/lyricsAd.php", "Advertisement"},
        {"/wiki/community-winmo/community-lyricSearch.php?", "Lyrics Search"},
        {"/wiki/community-winmo/community-top50.php?", "Top 50"},
        {"/wiki/community-help-iphone.php", "Help"},
        {"/wiki/index.php/Special:Preferences", "Options"},
        {"/wiki/index.php/Help:WmpAbout", "About"},
        {"/wiki/community-winmo/community-map?", "Music near you"},
        {"/wiki/wmp/wmp-map.php", "Music Map"},
        {"/wiki/wmp/theatre.php", "Video Theater"},
    };
    std::string list = "<ul>";
    for (const auto& page : pages) {
        list += "<li><a href=\"" + HtmlEscape(page[0]) + "\">" + HtmlEscape(page[1]) + "</a></li>";
    }
    return Html("Sonavire community", "<p>Lyrics for every song, timed by the community.</p>" + list + "</ul>");
}

}  // namespace

std::string HtmlEscape(std::string_view utf8) {
    std::string out = XmlEscape(utf8);
    std::string result;
    result.reserve(out.size());
    for (size_t i = 0; i < out.size(); ++i) {
        if (out.compare(i, 6, "&apos;") == 0) {
            result += "&#39;";
            i += 5;
        } else {
            result += out[i];
        }
    }
    return result;
}

std::string ScriptString(std::string_view utf8) {
    const std::string clean = SanitizeUtf8(utf8);
    std::string out = "\"";
    for (size_t i = 0; i < clean.size();) {
        const unsigned char c = static_cast<unsigned char>(clean[i]);
        uint32_t cp;
        int length;
        if (c < 0x80) {
            cp = c;
            length = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            length = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            length = 3;
        } else {
            cp = c & 0x07;
            length = 4;
        }
        for (int k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(clean[i + k]) & 0x3F);
        i += length;
        char escape[16];
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp >= 0x20 && cp < 0x7F && cp != '<' && cp != '>' && cp != '&') {
            out += static_cast<char>(cp);
        } else if (cp < 0x10000) {
            snprintf(escape, sizeof escape, "\\u%04X", cp);
            out += escape;
        } else {
            cp -= 0x10000;
            snprintf(escape, sizeof escape, "\\u%04X\\u%04X", 0xD800 + (cp >> 10), 0xDC00 + (cp & 0x3FF));
            out += escape;
        }
    }
    return out + "\"";
}

HttpResponse ErrorPage(int status) {
    const std::string text = std::to_string(status) + " " + StatusText(status);
    return Html(text, "<p>The server could not answer this request.</p>", status);
}

HttpResponse CommunityPage(Store& store, const HttpRequest& request, const QueryPairs& query, const std::string& author,
                           bool signInRequired) {
    const std::string& path = request.path;
    if (path == "/" || path == "/wiki/" || path == "/wiki") return Home();
    if (path == "/wiki/wmp/" || path == "/wiki/wmp" || path == "/wiki/wmp/theatre.php") return Theatre(store);
    if (path == "/wiki/wmp/lyricsAd.php") return Advert();
    if (path == "/wiki/wmp/editLyrics.php") return EditLyrics(store, request, query, author, signInRequired);
    if (path == "/wiki/community-winmo/community-lyricSearch.php") return LyricsSearch(store, query);
    if (path == "/wiki/community-winmo/community-top50.php") return TopFifty(store, query);
    if (path == "/wiki/community-winmo/community-map") {
        return Html("Music near you", "<p>Listeners near you are playing:</p>" + QueryTable(query));
    }
    if (path == "/wiki/community-help-iphone.php") {
        return Plain("Help",
                     "Play a song and its lyrics appear beside the player. Click Re-sync song and click the "
                     "lyrics along with the music to time them.");
    }
    if (path == "/wiki/index.php/Special:Preferences") return Plain("Options", "Your community preferences.");
    if (path == "/wiki/index.php/Help:WmpAbout") return Plain("About", "Sonavire for Windows Media Player.");
    if (path == "/wiki/wmp/wmp-map.php") return Plain("Music Map", "Where the community listens.");
    return ErrorPage(404);
}

}  // namespace standin
