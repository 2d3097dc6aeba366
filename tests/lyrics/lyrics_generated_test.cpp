// Thousands of generated timing texts, keys, times and positions from fixed seeds, checked against
// straightforward restatements of the format (built the slow way, with reversals and printf).
#include "lyrics/line_follower.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

namespace sv {
namespace {

// The timing format read literally: reverse, take, reverse again, then strtoll clamped to int.
double ReferenceDecode(const std::u16string& s) {
    const size_t n = s.size();
    if (n <= 1 || s[0] < u'1' || s[0] > u'9') return 0;
    const size_t k = s[0] - u'0';
    if (n < 2 * k + 1) return 0;
    std::u16string r(s.begin() + 1, s.end());
    std::reverse(r.begin(), r.end());
    std::u16string tail = r.substr(2 * k);
    std::reverse(tail.begin(), tail.end());
    std::u16string b = r.substr(0, k) + tail;
    std::string narrow;
    for (char16_t c : b) narrow += (c == 0) ? '\x01' : (c < 0x80 ? static_cast<char>(c) : 'x');
    long long v = std::strtoll(narrow.c_str(), nullptr, 10);
    v = std::clamp<long long>(v, INT_MIN, INT_MAX);
    return static_cast<double>(v / static_cast<long long>(k));
}

std::string Printable(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else
            out += "\\u" + std::to_string(static_cast<int>(c));
    }
    return out;
}

std::u16string RandomTiming(std::mt19937& rng) {
    static const char16_t alphabet[] = u"0123456789012345678901234567890123456789 \t+-xyz_\u05e9\uFFFD";
    std::uniform_int_distribution<size_t> pick(0, sizeof(alphabet) / sizeof(alphabet[0]) - 2);
    std::uniform_int_distribution<int> lengthOf(0, 30);
    std::uniform_int_distribution<int> percent(0, 99);
    std::u16string s;
    int length = lengthOf(rng);
    if (percent(rng) == 0) length = 5000;
    for (int i = 0; i < length; ++i) {
        int roll = percent(rng);
        if (roll < 2)
            s += u'\0';
        else if (roll < 4)
            s += u"\U0001F3B5";
        else
            s += alphabet[pick(rng)];
    }
    if (!s.empty() && percent(rng) < 70) s[0] = static_cast<char16_t>(u'1' + rng() % 9);
    return s;
}

TEST(Generated, DecodeTimingMatchesTheFormatReadLiterally) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 20000; ++i) {
        std::u16string s = RandomTiming(rng);
        ASSERT_EQ(DecodeTiming(s), ReferenceDecode(s)) << "case " << i << ": " << Printable(s);
    }
}

TEST(Generated, EncodedTimesDecodeToThemselves) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> keyOf(1, 9);
    std::uniform_int_distribution<long long> timeOf(0, 20000000);
    int checked = 0;
    for (int i = 0; i < 20000; ++i) {
        const int k = keyOf(rng);
        const long long time = timeOf(rng);
        const std::string n = std::to_string(time * k);
        if (n.size() < static_cast<size_t>(k)) continue;
        std::u16string s(1, static_cast<char16_t>(u'0' + k));
        for (size_t j = k; j < n.size(); ++j) s += static_cast<char16_t>(n[j]);
        for (int j = 0; j < k; ++j) s += static_cast<char16_t>(u'a' + rng() % 26);
        for (int j = k - 1; j >= 0; --j) s += static_cast<char16_t>(n[j]);
        ASSERT_EQ(DecodeTiming(s), static_cast<double>(time)) << "k " << k << " time " << time;
        ++checked;
    }
    EXPECT_GT(checked, 15000);
}

TEST(Generated, TimedTextMatchesPrintf) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> timeOf(0, 10000000);
    for (int round = 0; round < 300; ++round) {
        auto doc = std::make_unique<LyricsDocument>();
        std::string expected;
        const int lines = 1 + static_cast<int>(rng() % 20);
        for (int i = 0; i < lines; ++i) {
            std::string text;
            for (int j = static_cast<int>(rng() % 12); j > 0; --j) text += static_cast<char>('a' + rng() % 26);
            double t = timeOf(rng);
            if (rng() % 3 == 0) t += (rng() % 1000) / 1000.0;  // stamped times are whole, decoded ones too; be wider
            doc->AddLine(std::u16string(text.begin(), text.end()), u"");
            doc->LineAt(i)->time = t;
            const int s = static_cast<int>(t / 1000.0);
            char entry[64];
            std::snprintf(entry, sizeof entry, "[%02d:%02d.%02d] ", s / 60, s % 60,
                          static_cast<int>((t / 1000.0 - s) * 100.0));
            expected += entry + text;
        }
        std::optional<std::u16string> text = doc->ToTimedText();
        ASSERT_TRUE(text);
        ASSERT_EQ(*text, std::u16string(expected.begin(), expected.end())) << "round " << round;
    }
}

TEST(Generated, CacheNamesAreWholeDistinctAndHoldNoForbiddenCharacter) {
    std::mt19937 rng(4242);
    static const char16_t alphabet[] = u"ab\"*/:<>?\\|[]. \u05e9\u00e9#%_\x01";
    auto key = [&] {
        std::u16string s;
        size_t length = rng() % 8 == 0 ? rng() % 400 : rng() % 20;
        for (size_t i = 0; i < length; ++i) {
            if (rng() % 200 == 0)
                s += u'\0';
            else
                s += alphabet[rng() % (sizeof(alphabet) / sizeof(alphabet[0]) - 1)];
        }
        return s;
    };
    const std::u16string folder = u"C:\\Program Files\\Sonavire";
    int named = 0, refused = 0;
    std::map<std::u16string, std::u16string> songOfName;
    for (int i = 0; i < 5000; ++i) {
        const std::u16string artist = key(), title = key(), videoId = key(), language = key();
        std::optional<std::u16string> path = ComposeCachePath(folder, artist, title, videoId, language);
        const std::u16string keys[] = {EscapeCacheKey(artist), EscapeCacheKey(title), EscapeCacheKey(videoId),
                                       EscapeCacheKey(language)};
        const size_t length =
            folder.size() + 1 + 8 + 4 + keys[0].size() + keys[1].size() + keys[2].size() + keys[3].size();
        const bool hasNul = (artist + title + videoId + language).find(u'\0') != std::u16string::npos;
        if (length >= kCachePathCapacity || hasNul) {
            ASSERT_FALSE(path);
            ++refused;
            continue;
        }
        ASSERT_TRUE(path);
        ++named;
        ASSERT_EQ(path->size(), length);
        const std::u16string name = path->substr(folder.size() + 1);
        ASSERT_EQ(name.find_first_of(u"\"*/:<>?\\|"), std::u16string::npos);
        ASSERT_EQ(name.substr(name.size() - 4), u".xml");
        ASSERT_EQ(name, u"[" + keys[0] + u"][" + keys[1] + u"][" + keys[2] + u"][" + keys[3] + u"].xml");
        // One file per song: a name is never reached from two different sets of keys.
        const auto [at, added] = songOfName.emplace(name, artist + u'\0' + title + u'\0' + videoId + u'\0' + language);
        ASSERT_TRUE(added || at->second == artist + u'\0' + title + u'\0' + videoId + u'\0' + language)
            << "shared name";
    }
    EXPECT_GT(named, 1000);
    EXPECT_GT(refused, 100);
}

TEST(Generated, DocumentTypesAreFoundBehindAnyProlog) {
    std::mt19937 rng(2718);
    const std::u16string pieces[] = {
        u" ",      u"\r\n", u"\t", u"<?xml version=\"1.0\"?>", u"<?pi <!DOCTYPE x> ?>", u"<!-- <!DOCTYPE x> -->",
        u"<!---->"};
    for (int i = 0; i < 5000; ++i) {
        std::u16string text = rng() % 4 == 0 ? u"\uFEFF" : u"";
        for (int n = static_cast<int>(rng() % 6); n > 0; --n) text += pieces[rng() % 7];
        const bool declares = rng() % 2 == 0;
        text += declares ? (rng() % 2 ? u"<!DOCTYPE r [<!ENTITY e \"x\">]>" : u"<!doctype r>") : u"<r>";
        text += u"<!DOCTYPE late><r/>";
        ASSERT_EQ(DeclaresDocumentType(text), declares) << i;
        // Cut or damaged texts are answered without reading past their end.
        std::u16string damaged = text.substr(0, rng() % (text.size() + 1));
        if (!damaged.empty() && rng() % 2) damaged[rng() % damaged.size()] = static_cast<char16_t>(rng());
        DeclaresDocumentType(damaged);
    }
}

TEST(Generated, CurrentLineIsTheLastLinePassedForRisingTimes) {
    std::mt19937 rng(31337);
    for (int round = 0; round < 500; ++round) {
        auto doc = std::make_unique<LyricsDocument>();
        double t = 0;
        const int lines = static_cast<int>(rng() % 30);
        for (int i = 0; i < lines; ++i) {
            doc->AddLine(u"x", u"");
            t += rng() % 4 == 0 ? 0 : rng() % 5000;  // equal neighbours happen
            doc->LineAt(i)->time = t;
        }
        doc->status = LyricsStatus::Timed;
        uint32_t now = 0;
        LineFollower follower([&] { return now; });
        follower.SetDocument(doc.get());
        follower.OnPlay(0);
        for (int probe = 0; probe < 50; ++probe) {
            now = static_cast<uint32_t>(rng() % static_cast<uint32_t>(t + 2000));
            PaneActions actions = follower.CurrentLineFor(now, false);
            const int32_t current = follower.currentLine();
            int32_t passed = -1;
            for (int i = 0; i < lines; ++i)
                if (doc->LineAt(i)->time < now) passed = i;
            ASSERT_EQ(current, std::max(passed, 0)) << "round " << round << " position " << now;
            const LyricLine* next = doc->LineAt(current + 1);
            ASSERT_EQ(actions.armLineTimer, next != nullptr);
            if (next) {
                ASSERT_EQ(actions.lineTimerMs, static_cast<uint32_t>(next->time - now) + kLineTimerMarginMs);
            }
        }
    }
}

}  // namespace
}  // namespace sv
