// Prints how long the lyrics model takes for a 2,000-line timed song: parsing the reply, parsing
// it and writing the cache file, reading the cache file, finding the current line, and building
// the timed text. Run under Wine with scripts/wine-run.sh; the cache goes to a temporary folder.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "lyrics/line_follower.h"
#include "lyrics/lyrics_document.h"
#include "base/utf.h"
#include "base/win_handles.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLines = 2000;

std::string TimedReply() {
    std::string reply =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<lyrics><title>Bench</title><artist>Sonavire</artist>"
        "<album>Figures</album><version>1</version><songLock>0</songLock><lastUpdate>2009-01-01</lastUpdate><lyric>";
    for (int i = 0; i < kLines; ++i) {
        // Key 1: the digits after the first, one filler character, then the first digit.
        const std::string digits = std::to_string(1000 + i * 1500);
        reply += "<line timing=\"1" + digits.substr(1) + "x" + digits[0] + "\">Line " + std::to_string(i) +
                 " of the benchmark song, with some words to draw</line>";
    }
    reply += "</lyric></lyrics>";
    return reply;
}

struct Figures {
    double mean;
    double best;
};

// Microseconds per call of body, timed in batches; the best batch shows the cost on a quiet machine.
template <class Body>
Figures MicrosecondsPerRun(int runs, Body body) {
    constexpr int kBatches = 5;
    const int perBatch = runs / kBatches > 0 ? runs / kBatches : 1;
    Figures figures{0, 1e300};
    for (int b = 0; b < kBatches; ++b) {
        const auto start = Clock::now();
        for (int i = 0; i < perBatch; ++i) body();
        const double each = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / perBatch;
        figures.mean += each / kBatches;
        if (each < figures.best) figures.best = each;
    }
    return figures;
}

void Print(const char* what, Figures figures, const char* unit, int runs) {
    std::printf("%-34s mean %10.3f us, best batch %10.3f us per %s (%d runs)\n", what, figures.mean, figures.best, unit,
                runs);
}

}  // namespace

int main() {
    sv::ScopedCoInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result())) return 1;

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"sonavire-lyrics-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::u16string cacheFolder(sv::AsU16(folder.c_str()));

    const std::string reply = TimedReply();
    sv::LyricsDocument request;
    request.SetTitle(u"Bench");
    request.SetArtist(u"Sonavire");
    request.sourceKind = sv::MediaSource::Player;

    bool ok = true;
    auto load = [&](bool save) {
        sv::LyricsDocument doc(request);
        ok = ok && doc.LoadFromReply(reply.c_str(), save, cacheFolder) == S_OK && doc.LineCount() == kLines &&
             doc.status == sv::LyricsStatus::Timed;
    };
    load(false);  // warm-up: loads MSXML
    const int loadRuns = 25;
    std::printf("reply: %d timed lines, %zu bytes of UTF-8\n", kLines, reply.size());
    Print("LoadFromReply", MicrosecondsPerRun(loadRuns, [&] { load(false); }), "reply", loadRuns);
    Print("LoadFromReply with cache write", MicrosecondsPerRun(loadRuns, [&] { load(true); }), "reply", loadRuns);
    Print("LoadFromCache",
          MicrosecondsPerRun(loadRuns,
                             [&] {
                                 sv::LyricsDocument doc(request);
                                 ok = ok && doc.LoadFromCache(cacheFolder) == S_OK && doc.LineCount() == kLines;
                             }),
          "file", loadRuns);

    auto doc = std::make_unique<sv::LyricsDocument>(request);
    ok = ok && doc->LoadFromReply(reply.c_str(), false) == S_OK;
    uint32_t now = 0;
    sv::LineFollower follower([&] { return now; });
    follower.SetDocument(doc.get());
    follower.OnPlay(0);
    const uint32_t songLength = 1000 + kLines * 1500;
    const int lineRuns = 20000;
    int checksum = 0;
    // Positions spread over the whole song: on average the scan walks half the lines.
    Print("CurrentLineFor, spread positions",
          MicrosecondsPerRun(lineRuns,
                             [&] {
                                 now = (now + 7919 * 13) % songLength;
                                 follower.CurrentLineFor(now, true);
                                 checksum += follower.currentLine();
                             }),
          "call", lineRuns);
    now = songLength;  // the worst case: every line scanned
    Print("CurrentLineFor, past the last line",
          MicrosecondsPerRun(lineRuns,
                             [&] {
                                 follower.CurrentLineFor(now, true);
                                 checksum += follower.currentLine();
                             }),
          "call", lineRuns);

    size_t length = 0;
    const int textRuns = 200;
    Print("ToTimedText",
          MicrosecondsPerRun(textRuns,
                             [&] {
                                 std::optional<std::u16string> text = doc->ToTimedText();
                                 length = text ? text->size() : 0;
                             }),
          "text", textRuns);
    std::printf("timed text: %zu UTF-16 units\n", length);

    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.xml").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
    if (!ok || checksum < 0) {
        std::printf("FAILED: a load did not give the expected document\n");
        return 1;
    }
    return 0;
}
