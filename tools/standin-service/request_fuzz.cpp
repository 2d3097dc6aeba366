#include "request_fuzz.h"

#include <random>
#include <vector>

#include "request_parser.h"

namespace standin {
namespace {

uint64_t SplitMix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

class Maker {
public:
    explicit Maker(uint64_t seed) : random_(seed) {}

    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(random_() % n); }
    bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }
    template <size_t N>
    const char* Pick(const char* const (&choices)[N]) {
        return choices[Below(N)];
    }

    std::string Bytes(size_t count, const std::string& alphabet) {
        std::string out;
        for (size_t i = 0; i < count; ++i) out += alphabet[Below(alphabet.size())];
        return out;
    }
    // Ordinary characters and, in a hostile input, now and then one that should not be there.
    std::string Text(size_t count) {
        static const std::string ordinary = "abcdefghijklmnopqrstuvwxyz ABC0123456789-_.~%&=+";
        static const char oddBytes[] = "\t\r\n\0\x01\x7f\x80\xc3\xa9\xff:;\"'<>?/\\";
        static const std::string odd(oddBytes, sizeof oddBytes - 1);
        std::string out;
        for (size_t i = 0; i < count; ++i) {
            out += !hostile_ || Chance(97) ? ordinary[Below(ordinary.size())] : odd[Below(odd.size())];
        }
        return out;
    }
    size_t Size() {  // small mostly, sometimes past the limits
        switch (Below(10)) {
            case 0:
                return 2000 + Below(40000);
            case 1:
                return 300 + Below(3000);
            default:
                return Below(60);
        }
    }

    std::string Eol() {
        if (!hostile_ || Chance(85)) return Chance(90) ? "\r\n" : "\n";
        return Chance(50) ? "\r" : "\n\r";
    }
    // The first entry of a list of choices is a good one; a hostile input picks any.
    template <size_t N>
    const char* Choose(const char* const (&choices)[N]) {
        return hostile_ ? Pick(choices) : choices[0];
    }

    std::string Request() {
        hostile_ = Chance(50);
        static const char* const methods[] = {
            "GET",    "POST", "HEAD",    "PUT", "OPTIONS",
            "G\x01T", "",     "GET GET", "get", "AVERYLONGMETHODNAMETHATGOESONANDONANDONFORMORETHANTHIRTYTWO"};
        static const char* const paths[] = {"/sonavire/services/getLyricXML_2?",
                                            "/sonavire/services/setLyrics.php?",
                                            "/sonavire/services/appVerifyUser.php?username=",
                                            "/wiki/wmp/",
                                            "/_control/",
                                            "http://host:80/wiki/",
                                            "HTTP://Host",
                                            "*",
                                            "",
                                            "/%00%zz%",
                                            "relative"};
        static const char* const versions[] = {"HTTP/1.1", "HTTP/1.1", "HTTP/1.0", "HTTP/2.0",  "HTTP/1.1 ",
                                               "HTTP/x.y", "",         "http/1.1", "HTTP/1.10", "HTTP/1"};
        std::string out;
        while (Chance(10)) out += Eol();
        out += hostile_ ? Pick(methods) : methods[Below(4)];
        out += !hostile_ || Chance(95) ? " " : "  ";
        out += std::string(hostile_ ? Pick(paths) : paths[Below(6)]) + Text(Size());
        out += !hostile_ || Chance(95) ? " " : "\t";
        out += hostile_ ? Pick(versions) : versions[Below(3)];
        out += Eol();

        enum class Framing { None, Length, Chunked } framing = Framing::None;
        size_t announced = 0;
        const size_t headers = Below(8);
        for (size_t i = 0; i < headers; ++i) {
            switch (hostile_ ? Below(12) : Below(5) == 0 ? Below(5) : 9) {
                case 0:
                case 1: {
                    announced = Chance(80) ? Below(200) : Size();
                    static const char* const odd[] = {"-1", "99999999999999999999", "12abc", "", " 5 ", "0x10",
                                                      "+4", "18446744073709551616", "1, 1"};
                    out += std::string(Chance(50) ? "Content-Length" : "content-length") + ": " +
                           (!hostile_ || Chance(85) ? std::to_string(announced) : std::string(Pick(odd))) + Eol();
                    framing = Framing::Length;
                    break;
                }
                case 2:
                case 3: {
                    static const char* const codings[] = {"chunked",          "Chunked",  "gzip, chunked",
                                                          "chunked, chunked", "identity", " chunked "};
                    out += std::string("Transfer-Encoding: ") + Choose(codings) + Eol();
                    framing = Framing::Chunked;
                    break;
                }
                case 4:
                    out += "Expect: 100-continue" + Eol();
                    break;
                case 5:
                    out += " folded continuation" + Eol();
                    break;
                case 6:
                    out += "Name : value" + Eol();
                    break;
                case 7:
                    out += "no colon at all" + Eol();
                    break;
                case 8:
                    out += "X-Long: " + Bytes(Size(), "abcdefgh") + Eol();
                    break;
                default:
                    out += "X-" + Bytes(1 + Below(8), "abcxyz-") + ": " + Text(Below(40)) + Eol();
                    break;
            }
        }
        out += Eol();

        if (framing == Framing::Length) {
            const size_t length = !hostile_ || Chance(60) ? announced
                                  : Chance(50)            ? announced / 2
                                                          : announced + 1 + Below(100);
            out += Text(std::min<size_t>(length, 50000));
        } else if (framing == Framing::Chunked) {
            const size_t chunks = Below(6);
            for (size_t i = 0; i < chunks; ++i) {
                const size_t size = Chance(90) ? 1 + Below(300) : Size();
                char hex[32];
                snprintf(hex, sizeof hex, Chance(50) ? "%zx" : "%zX", size);
                static const char* const odd[] = {"FFFFFFFFFFFFFFFFFFFF",
                                                  "10000000000000001",
                                                  "-1",
                                                  "0x10",
                                                  "",
                                                  " ",
                                                  "g",
                                                  "0000000000000000000000000000000000001",
                                                  "7fffffffffffffff"};
                out += !hostile_ || Chance(90) ? std::string(hex) : std::string(Pick(odd));
                if (Chance(10)) out += ";name=value";
                out += Eol();
                const size_t sent = !hostile_ || Chance(90) ? size : Below(size + 20);
                out += Text(std::min<size_t>(sent, 50000)) + (!hostile_ || Chance(95) ? Eol() : "xx");
            }
            out += !hostile_ || Chance(90) ? "0" : "00";
            out += Eol();
            if (Chance(20)) out += "Trailer-Field: " + Text(Below(50)) + Eol();
            if (Chance(5)) out += "X-Long-Trailer: " + Bytes(Size(), "ab") + Eol();
            out += Eol();
        }
        // A few blind changes at random places.
        const size_t mutations = Chance(hostile_ ? 40 : 10) ? 1 + Below(3) : 0;
        static const char specialBytes[] = "\r\n\0 :;\t\xff";
        static const std::string specials(specialBytes, sizeof specialBytes - 1);
        for (size_t m = 0; m < mutations && !out.empty(); ++m) {
            const size_t at = Below(out.size());
            switch (Below(5)) {
                case 0:
                    out[at] = static_cast<char>(Below(256));
                    break;
                case 1:
                    out.insert(at, 1, specials[Below(specials.size())]);
                    break;
                case 2:
                    out.erase(at, Below(16));
                    break;
                case 3:
                    out.insert(at, out.substr(at, Below(64)));
                    break;
                default:
                    out.resize(at);
                    break;
            }
        }
        return out;
    }

private:
    std::mt19937_64 random_;
    bool hostile_ = false;
};

struct Reading {
    RequestParser::State state;
    int status;
    HttpRequest request;
};

Reading Read(const std::string& input, const ParseLimits& limits, Maker* pieces) {
    RequestParser parser(limits);
    if (!pieces) {
        parser.Feed(input);
    } else {
        for (size_t at = 0; at < input.size();) {
            const size_t size = pieces->Chance(30) ? 1 : 1 + pieces->Below(pieces->Chance(50) ? 8 : 2000);
            parser.Feed(std::string_view(input).substr(at, size));
            at += size;
        }
    }
    return Reading{parser.GetState(), parser.ErrorStatus(), parser.Request()};
}

bool Same(const Reading& a, const Reading& b) {
    return a.state == b.state && a.status == b.status && a.request.method == b.request.method &&
           a.request.target == b.request.target && a.request.path == b.request.path &&
           a.request.rawQuery == b.request.rawQuery && a.request.headers == b.request.headers &&
           a.request.body == b.request.body;
}

std::string Escaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes.substr(0, 600)) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

std::string GenerateRequest(uint64_t seed, long long index) {
    Maker maker(SplitMix(seed * 0x100000001B3ull ^ static_cast<uint64_t>(index)));
    return maker.Request();
}

void FuzzRequestParser(uint64_t seed, long long count, FuzzReport& report) {
    for (long long i = 0; i < count; ++i) {
        const std::string input = GenerateRequest(seed, i);
        Maker pieces(SplitMix(seed ^ 0xA5A5A5A5ull) + static_cast<uint64_t>(i));
        // Small limits half of the time, so that their edges are reached often.
        ParseLimits limits;
        if (i % 2 == 0) {
            limits.maxHeadBytes = 1024 + pieces.Below(4096);
            limits.maxBodyBytes = pieces.Below(8192);
        }
        const Reading whole = Read(input, limits, nullptr);
        const Reading piecewise = Read(input, limits, &pieces);
        ++report.inputs;
        std::string problem;
        if (!Same(whole, piecewise)) problem = "whole and piecewise feeding differ";
        if (whole.state == RequestParser::State::Done) {
            ++report.requests;
            if (whole.request.body.size() > limits.maxBodyBytes) problem = "a body over the limit was accepted";
            if (whole.request.method.empty() || whole.request.target.empty())
                problem = "a request without a method or target";
        } else if (whole.state == RequestParser::State::Failed) {
            ++report.refused[whole.status];
            if (whole.status < 400 || whole.status > 505)
                problem = "refused with status " + std::to_string(whole.status);
        } else {
            ++report.incomplete;
        }
        if (!problem.empty()) {
            ++report.disagreements;
            if (report.firstProblem.empty()) {
                report.firstProblem = problem + " (seed " + std::to_string(seed) + ", input " + std::to_string(i) +
                                      "): " + Escaped(input);
            }
        }
    }
}

}  // namespace standin
