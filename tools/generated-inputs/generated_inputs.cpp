// sonavire-generated-inputs: the plug-in's portable code fed generated input, natively (under
// AddressSanitizer and UndefinedBehaviorSanitizer in the sanitizer build). Each target makes
// inputs from a seed and checks what must hold of every answer; batches run in child processes,
// so that a crash or a sanitizer's report is counted and the run goes on.
//   sonavire-generated-inputs [--seconds S | --count N] [--seed S] [--only TARGET]
// Prints one line per target: inputs run, crashes, wrong answers (with the first one's seed and
// number, to run it again); exits 0 only when every count is 0.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <limits>
#include <random>
#include <string>

#include "base/utf.h"
#include "lyrics/lyrics_document.h"
#include "lyrics/lyrics_text.h"
#include "service/language_list.h"
#include "service/query_encoding.h"
#include "service/service_query.h"
#include "service/sign_in_rules.h"
#include "run_in_child.h"

namespace {

class Maker {
public:
    explicit Maker(uint64_t seed) : random_(seed) {}
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(random_() % n); }
    bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }
    size_t Length() { return Chance(3) ? 300 + Below(3000) : Below(40); }

    // UTF-16 from every range that matters: ASCII and the query's special characters, NUL,
    // Hebrew, the BMP's top, lone and paired surrogates.
    std::u16string Text(size_t count) {
        static const char16_t special[] = u"&#%+=? <>\"'[]:.\\/|*\t\r\n";
        std::u16string out;
        for (size_t i = 0; i < count; ++i) {
            switch (Below(10)) {
                case 0:
                    out += special[Below(sizeof special / 2 - 1)];
                    break;
                case 1:
                    out += Chance(20) ? u'\0' : static_cast<char16_t>(0x5D0 + Below(40));
                    break;
                case 2:
                    out += static_cast<char16_t>(0xD800 + Below(0x800));
                    break;
                case 3:
                    out += static_cast<char16_t>(0xD800 + Below(0x400)),
                        out += static_cast<char16_t>(0xDC00 + Below(0x400));
                    break;
                case 4:
                    out += static_cast<char16_t>(0xE000 + Below(0x2000));
                    break;
                default:
                    out += static_cast<char16_t>(0x20 + Below(0x5F));
                    break;
            }
        }
        return out;
    }
    std::string Bytes(size_t count) {
        std::string out;
        for (size_t i = 0; i < count; ++i) out += static_cast<char>(Below(256));
        return out;
    }
    std::string Digits(size_t count) {
        std::string out;
        for (size_t i = 0; i < count; ++i) out += static_cast<char>('0' + Below(10));
        return out;
    }
    double Time() {
        switch (Below(8)) {
            case 0:
                return std::numeric_limits<double>::quiet_NaN();
            case 1:
                return (Chance(50) ? 1 : -1) * std::numeric_limits<double>::infinity();
            case 2:
                return (Chance(50) ? 1 : -1) * std::ldexp(static_cast<double>(random_()), static_cast<int>(Below(80)));
            case 3:
                return -static_cast<double>(Below(100000));
            default:
                return static_cast<double>(Below(1000000000)) + static_cast<double>(Below(1000)) / 1000.0;
        }
    }
    uint64_t Next() { return random_(); }

private:
    std::mt19937_64 random_;
};

// A wrong answer: which input, and what was wrong with it.
struct Outcome {
    long long wrong = 0;
    std::string first;
    void Check(bool holds, const char* what) {
        if (holds) return;
        if (wrong++ == 0) first = what;
    }
};

std::u16string U16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// The reply's pieces that need no parser: text conversion, the document-type test, the sign-in
// reply and the language list.
void ReplyPieces(Maker& make, Outcome& outcome) {
    const std::string bytes = make.Bytes(make.Length());
    const std::u16string once = sv::Utf16FromUtf8(bytes);
    outcome.Check(sv::Utf16FromUtf8(sv::Utf8FromUtf16(once)) == once, "UTF-8 read twice differs from once");
    std::u16string paired;
    for (char16_t c : make.Text(make.Length())) {
        if (c < 0xD800 || c > 0xDFFF) paired += c;
    }
    outcome.Check(sv::Utf16FromUtf8(sv::Utf8FromUtf16(paired)) == paired,
                  "UTF-16 without surrogates does not go round");

    // A prolog made of the parts the test must step over, then a document type or the root.
    std::u16string prolog = make.Chance(30) ? u"\uFEFF" : u"";
    const size_t parts = make.Below(6);
    for (size_t i = 0; i < parts; ++i) {
        switch (make.Below(3)) {
            case 0:
                prolog += u" \t\r\n";
                break;
            case 1:
                prolog += u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
                break;
            default:
                prolog += u"<!-- <!DOCTYPE x> -- " + U16(std::to_string(i)) + u"-->";
                break;
        }
    }
    const bool declares = make.Chance(50);
    prolog += declares ? u"<!DOCTYPE lyrics [<!ENTITY a \"b\">]>" : u"<lyrics/>";
    outcome.Check(sv::DeclaresDocumentType(prolog) == declares, "document type test wrong on a built prolog");
    (void)sv::DeclaresDocumentType(make.Text(make.Length()));

    std::string reply = make.Chance(50) ? std::string("tRuE").substr(0, make.Below(5)) : make.Bytes(make.Below(6));
    bool accepted = reply.size() == 4;
    for (size_t i = 0; i < reply.size() && accepted; ++i) accepted = (reply[i] | 0x20) == "true"[i];
    outcome.Check(sv::IsSignInAccepted(reply) == accepted, "sign-in reply test wrong");

    sv::LanguageList list;
    const size_t count = make.Below(12);
    for (size_t i = 0; i < count; ++i) {
        const std::u16string name = make.Text(make.Chance(10) ? 250 + make.Below(20) : make.Below(20));
        const std::u16string code = make.Text(make.Below(10));
        const size_t before = list.entries().size();
        const bool added = list.AddLanguage(name, code);
        outcome.Check(added == (!code.empty() && code.size() <= sv::kLanguageCodeMaxLength),
                      "language refused wrongly");
        if (!added) continue;
        const sv::LanguageEntry& entry = list.entries().back();
        outcome.Check(entry.index == static_cast<int32_t>(before + 1), "language index is not its position");
        outcome.Check(entry.name.size() <= sv::kLanguageNameMaxLength, "language name too long");
        if (name.empty()) {
            outcome.Check(entry.name == code, "a language without a name does not show its code");
        } else {
            const size_t kept = entry.name.size();
            const bool splitsPair = kept < name.size() && kept > 0 && name[kept - 1] >= 0xD800 &&
                                    name[kept - 1] <= 0xDBFF && name[kept] >= 0xDC00 && name[kept] <= 0xDFFF;
            outcome.Check(entry.name == name.substr(0, kept) && !splitsPair, "language name cut inside a pair");
        }
    }
    list.ApplyCode(make.Text(make.Below(8)));
    outcome.Check(list.SelectedLanguageCode().has_value(), "the selection left the list");
}

// The timing decoder: any text decodes to a whole number of milliseconds; a code built by the
// rules decodes to its time.
void Timing(Maker& make, Outcome& outcome) {
    const double any = sv::DecodeTiming(make.Text(make.Length()));
    outcome.Check(std::isfinite(any) && any == std::floor(any), "decoded time is not a whole number");

    const int key = 1 + static_cast<int>(make.Below(9));
    const long long time =
        static_cast<long long>(make.Below(static_cast<size_t>(std::numeric_limits<int>::max() / key)));
    const std::string digits = std::to_string(time * key);
    if (digits.size() < static_cast<size_t>(key)) return;
    std::string leading = digits.substr(0, static_cast<size_t>(key));
    std::string code = std::to_string(key) + digits.substr(static_cast<size_t>(key)) +
                       make.Digits(static_cast<size_t>(key)) + std::string(leading.rbegin(), leading.rend());
    outcome.Check(sv::DecodeTiming(U16(code)) == static_cast<double>(time), "a built code decodes to another time");
}

// The timed-text writer: "[mm:ss.hh] text", the time written down to its hundredth, the text up to
// its first NUL; a document's timed text is its entries in order.
void TimedText(Maker& make, Outcome& outcome) {
    const double time = make.Time();
    const std::u16string text = make.Text(make.Length());
    std::u16string entry;
    sv::AppendTimedEntry(entry, time, text);
    const size_t close = entry.find(u"] ");
    outcome.Check(!entry.empty() && entry[0] == u'[' && close != std::u16string::npos, "entry is not [time] text");
    if (close == std::u16string::npos) return;
    const std::u16string upToNul = text.substr(0, text.find(u'\0'));
    outcome.Check(entry.substr(close + 2) == upToNul, "entry text is not the text up to its NUL");
    if (std::isfinite(time) && time >= 0 && time < 1e12) {
        const std::string stamp(entry.begin() + 1, entry.begin() + static_cast<std::ptrdiff_t>(close));
        long long minutes = -1, seconds = -1, hundredths = -1;
        int used = 0;
        const bool read = sscanf(stamp.c_str(), "%lld:%2lld.%2lld%n", &minutes, &seconds, &hundredths, &used) == 3 &&
                          used == static_cast<int>(stamp.size());
        const double written = static_cast<double>(minutes) * 60000.0 + static_cast<double>(seconds) * 1000.0 +
                               static_cast<double>(hundredths) * 10.0;
        outcome.Check(
            read && seconds < 60 && written <= time + 1e-9 * (time + 1) && time - written < 10.0 + 1e-9 * (time + 1),
            "entry time is not the time down to its hundredth");
    }

    sv::LyricsDocument document;
    const size_t lines = make.Below(6);
    std::u16string expected;
    for (size_t i = 0; i < lines; ++i) {
        const std::u16string line = make.Text(make.Below(20));
        document.AddLine(line, make.Chance(50) ? make.Text(make.Below(14)) : U16(std::to_string(make.Below(10))));
        sv::AppendTimedEntry(expected, document.LineAt(static_cast<int>(i))->time, line);
    }
    const auto timed = document.ToTimedText();
    outcome.Check(lines == 0 ? !timed : timed && *timed == expected, "timed text is not the entries in order");
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// Undoes the escaping; false when the text holds what escaping never leaves (anything outside the
// unreserved set but an escape).
bool Unescape(const std::string& escaped, std::string& out) {
    for (size_t i = 0; i < escaped.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(escaped[i]);
        if (c != '%' && !IsUnreserved(c)) return false;
        if (c != '%') {
            out += static_cast<char>(c);
            continue;
        }
        if (i + 2 >= escaped.size() || !IsUpperHex(escaped[i + 1]) || !IsUpperHex(escaped[i + 2])) return false;
        out += static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

// The query encoder: every value escaped so that it decodes back to its UTF-8; a song's query is
// nine parameters whatever its tags hold.
void Query(Maker& make, Outcome& outcome) {
    const std::u16string value = make.Text(make.Length());
    std::string decoded;
    outcome.Check(Unescape(sv::EncodeQueryValue(value), decoded) && decoded == sv::Utf8FromUtf16(value),
                  "an escaped value does not decode to its UTF-8");

    sv::LyricsDocument document;
    document.SetTitle(make.Text(make.Below(30)));
    document.SetArtist(make.Text(make.Below(30)));
    document.SetAlbum(make.Text(make.Below(30)));
    document.SetLanguage(make.Text(make.Below(5)));
    document.SetVideoId(make.Text(make.Below(12)));
    document.sourceKind = static_cast<sv::MediaSource>(make.Below(3));
    sv::ServiceQuerySettings settings;
    settings.userName = make.Text(make.Below(10));
    settings.deviceText = make.Text(make.Below(10));
    settings.screenWidth = static_cast<int32_t>(make.Next());
    settings.screenHeight = static_cast<int32_t>(make.Next());
    const std::string query = sv::BuildServiceQuery(make.Chance(90) ? &document : nullptr, settings);
    size_t parameters = 1;
    for (char c : query) parameters += c == '&';
    outcome.Check(parameters == 9 && query.find('#') == std::string::npos, "a song's query is not nine parameters");
    const std::u16string community = sv::BuildCommunityQuery(&document, settings);
    std::string communityText(community.begin(), community.end()), communityValues;
    size_t at = 0;
    bool escapedWhole = community.size() <= sv::kCommunityQueryMaxLength;
    // Each value of the (possibly cut) community query still decodes.
    while (escapedWhole && at < communityText.size()) {
        const size_t end = std::min(communityText.find('&', at), communityText.size());
        const size_t equals = communityText.find('=', at);
        // Only the last parameter may have lost its "=" to the cut.
        escapedWhole = equals < end ? Unescape(communityText.substr(equals + 1, end - equals - 1), communityValues)
                                    : end == communityText.size();
        at = end + 1;
    }
    outcome.Check(escapedWhole, "a community query is not escaped values within its limit");
    const std::string path = sv::BuildSignInPath(make.Text(make.Below(20)), make.Text(make.Below(20)));
    outcome.Check(std::count(path.begin(), path.end(), '&') == 1, "sign-in path is not two parameters");
}

struct Target {
    const char* name;
    void (*run)(Maker&, Outcome&);
};
const Target kTargets[] = {{"reply pieces", ReplyPieces},
                           {"timing decoder", Timing},
                           {"timed-text writer", TimedText},
                           {"query encoder", Query}};

uint64_t InputSeed(uint64_t seed, const char* target, long long number) {
    uint64_t x = seed * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(number);
    for (const char* c = target; *c; ++c) x = (x ^ static_cast<unsigned char>(*c)) * 0x100000001B3ull;
    return x;
}

// One batch in a child process; its answer on a pipe: "wrong number first-what".
bool RunBatch(const Target& target, uint64_t seed, long long first, long long count, Outcome& total) {
    const std::optional<std::string> answer = tools::RunInChild([&] {
        Outcome outcome;
        long long firstWrong = -1;
        for (long long n = first; n < first + count; ++n) {
            Maker make(InputSeed(seed, target.name, n));
            const long long before = outcome.wrong;
            target.run(make, outcome);
            if (firstWrong < 0 && outcome.wrong > before) firstWrong = n;
        }
        return std::to_string(outcome.wrong) + " " + std::to_string(firstWrong) + " " + outcome.first;
    });
    if (!answer) {
        fprintf(stderr, "%s: the batch of inputs %lld..%lld (seed %llu) crashed\n", target.name, first,
                first + count - 1, static_cast<unsigned long long>(seed));
        return false;
    }
    const std::string& reply = *answer;
    long long wrong = 0, firstWrong = -1;
    int used = 0;
    if (sscanf(reply.c_str(), "%lld %lld %n", &wrong, &firstWrong, &used) < 2) return false;
    if (wrong > 0 && total.wrong == 0)
        total.first = reply.substr(static_cast<size_t>(used)) + " (input " + std::to_string(firstWrong) + ")";
    total.wrong += wrong;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 0;
    long long count = 20000;
    uint64_t seed = 1;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds")
            seconds = atof(argv[i + 1]);
        else if (option == "--count")
            count = atoll(argv[i + 1]);
        else if (option == "--seed")
            seed = strtoull(argv[i + 1], nullptr, 10);
        else if (option == "--only")
            only = argv[i + 1];
        else {
            fprintf(stderr, "usage: sonavire-generated-inputs [--seconds S | --count N] [--seed S] [--only TARGET]\n");
            return 2;
        }
    }
    constexpr long long kBatch = 2000;
    bool clean = true;
    for (const Target& target : kTargets) {
        if (!only.empty() && only != target.name) continue;
        const auto start = std::chrono::steady_clock::now();
        auto more = [&](long long done) {
            if (seconds > 0)
                return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds;
            return done < count;
        };
        long long done = 0, crashes = 0;
        Outcome outcome;
        while (more(done)) {
            const long long size = seconds > 0 ? kBatch : std::min(kBatch, count - done);
            if (!RunBatch(target, seed, done, size, outcome)) ++crashes;
            done += size;
        }
        printf("%s: %lld generated inputs (seed %llu), %lld crashes, %lld wrong answers%s%s\n", target.name, done,
               static_cast<unsigned long long>(seed), crashes, outcome.wrong, outcome.wrong ? "; first: " : "",
               outcome.first.c_str());
        fflush(stdout);
        clean = clean && crashes == 0 && outcome.wrong == 0;
    }
    return clean ? 0 : 1;
}
