#include "request_parser.h"

#include <algorithm>
#include <cctype>

#include "text.h"

namespace standin {
namespace {

bool IsTokenChar(unsigned char c) {
    if (std::isalnum(c)) return true;
    switch (c) {
        case '!':
        case '#':
        case '$':
        case '%':
        case '&':
        case '\'':
        case '*':
        case '+':
        case '-':
        case '.':
        case '^':
        case '_':
        case '`':
        case '|':
        case '~':
            return true;
        default:
            return false;
    }
}

bool IsToken(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return IsTokenChar(static_cast<unsigned char>(c)); });
}

// C0 control characters other than the tab: never part of a target or a header value.
bool HasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 && byte != '\t';
    });
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decimal digits only, at most 19 of them; false otherwise.
bool ParseLength(std::string_view text, unsigned long long& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

constexpr size_t kMaxChunkLineBytes = 1024;

}  // namespace

RequestParser::RequestParser(ParseLimits limits) : limits_(limits) {}

void RequestParser::Fail(int status) {
    state_ = State::Failed;
    errorStatus_ = status;
    buffer_.clear();
    buffer_.shrink_to_fit();
}

void RequestParser::Feed(std::string_view data) {
    if (state_ == State::Done || state_ == State::Failed || data.empty()) return;
    buffer_.append(data.data(), data.size());
    Step();
}

// The next line (without its CR LF or LF) when a whole one has arrived; fails the request when
// more than limit bytes have come without a line end.
bool RequestParser::NextLine(std::string_view& line, size_t limit, int statusWhenTooLong) {
    const size_t end = buffer_.find('\n');
    if (end == std::string::npos || end > limit) {
        if (buffer_.size() > limit) Fail(statusWhenTooLong);
        return false;
    }
    line = std::string_view(buffer_).substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
}

void RequestParser::Step() {
    for (;;) {
        switch (state_) {
            case State::Head: {
                // Empty lines before the request line are skipped (a client may send one after a body).
                size_t skip = 0;
                while (skip < buffer_.size()) {
                    if (buffer_[skip] == '\n')
                        ++skip;
                    else if (buffer_.compare(skip, 2, "\r\n") == 0)
                        skip += 2;
                    else
                        break;
                }
                if (skip > 0) {
                    skipped_ += skip;
                    if (skipped_ > limits_.maxHeadBytes) return Fail(400);
                    buffer_.erase(0, skip);
                    scanned_ = 0;
                }
                if (buffer_.empty() || buffer_ == "\r") return;
                started_ = true;
                // The head ends at the first empty line.
                const size_t from = scanned_ > 2 ? scanned_ - 2 : 0;
                const size_t bare = buffer_.find("\n\n", from), crlf = buffer_.find("\n\r\n", from);
                const size_t end = std::min(bare, crlf);
                if (end == std::string::npos || end + 1 > limits_.maxHeadBytes) {
                    scanned_ = buffer_.size();
                    if (buffer_.size() > limits_.maxHeadBytes) {
                        const size_t firstLine = buffer_.find('\n');
                        return Fail(firstLine == std::string::npos || firstLine > limits_.maxHeadBytes ? 414 : 431);
                    }
                    return;
                }
                const size_t bodyStart = end + (end == bare ? 2 : 3);
                if (!ParseHead(std::string_view(buffer_).substr(0, end + 1))) return;
                buffer_.erase(0, bodyStart);
                if (state_ == State::Body && remaining_ == 0) state_ = State::Done;
                break;
            }
            case State::Body: {
                const size_t take = std::min(remaining_, buffer_.size());
                request_.body.append(buffer_, 0, take);
                buffer_.erase(0, take);
                remaining_ -= take;
                if (remaining_ > 0) return;
                state_ = State::Done;
                break;
            }
            case State::ChunkSize: {
                std::string_view line;
                if (!NextLine(line, kMaxChunkLineBytes, 400)) return;
                size_t digits = 0;
                unsigned long long size = 0;
                const size_t room = limits_.maxBodyBytes - request_.body.size();
                while (digits < line.size() && HexDigit(line[digits]) >= 0) {
                    size = size * 16 + static_cast<unsigned>(HexDigit(line[digits]));
                    if (size > room) return Fail(413);  // checked at each digit: never overflows
                    ++digits;
                }
                const std::string_view rest = TrimBlanks(line.substr(digits));
                if (digits == 0 || (!rest.empty() && rest.front() != ';') || HasControl(rest)) return Fail(400);
                buffer_.erase(0, buffer_.find('\n') + 1);
                remaining_ = static_cast<size_t>(size);
                state_ = size == 0 ? State::Trailers : State::ChunkData;
                break;
            }
            case State::ChunkData: {
                const size_t take = std::min(remaining_, buffer_.size());
                request_.body.append(buffer_, 0, take);
                buffer_.erase(0, take);
                remaining_ -= take;
                if (remaining_ > 0) return;
                state_ = State::ChunkEnd;
                break;
            }
            case State::ChunkEnd: {
                if (buffer_.empty() || buffer_ == "\r") return;
                if (buffer_[0] == '\n')
                    buffer_.erase(0, 1);
                else if (buffer_.compare(0, 2, "\r\n") == 0)
                    buffer_.erase(0, 2);
                else
                    return Fail(400);
                state_ = State::ChunkSize;
                break;
            }
            case State::Trailers: {
                const size_t room = limits_.maxHeadBytes > trailerBytes_ ? limits_.maxHeadBytes - trailerBytes_ : 0;
                std::string_view line;
                if (!NextLine(line, room, 431)) return;
                const size_t used = buffer_.find('\n') + 1;
                if (line.empty()) {
                    buffer_.erase(0, used);
                    state_ = State::Done;
                    break;
                }
                const size_t colon = line.find(':');
                if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)) || HasControl(line)) {
                    return Fail(400);
                }
                trailerBytes_ += used;  // trailers are read and dropped
                buffer_.erase(0, used);
                break;
            }
            case State::Done:  // what is left belongs to the next request
                return;
            case State::Failed:
                buffer_.clear();
                return;
        }
    }
}

bool RequestParser::ParseHead(std::string_view head) {
    // Request line: the method up to the first space, the version after the last one and the
    // target, spaces and all, in between.
    size_t lineEnd = head.find('\n');
    std::string_view requestLine = head.substr(0, lineEnd);
    if (!requestLine.empty() && requestLine.back() == '\r') requestLine.remove_suffix(1);
    const size_t firstSpace = requestLine.find(' ');
    const size_t lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string_view::npos || lastSpace == firstSpace) {
        Fail(400);
        return false;
    }
    const std::string_view method = requestLine.substr(0, firstSpace);
    const std::string_view version = requestLine.substr(lastSpace + 1);
    const std::string_view target = TrimBlanks(requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1));
    if (!IsToken(method) || method.size() > 32 || target.empty() || HasControl(target)) {
        Fail(400);
        return false;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        const bool wellFormed = version.size() == 8 && version.compare(0, 5, "HTTP/") == 0 &&
                                std::isdigit(static_cast<unsigned char>(version[5])) && version[6] == '.' &&
                                std::isdigit(static_cast<unsigned char>(version[7]));
        Fail(wellFormed ? 505 : 400);
        return false;
    }
    std::string path(target);
    if (Lower(path.substr(0, 7)) == "http://") {  // absolute form, as sent to a proxy
        const size_t slash = path.find('/', 7);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    } else if (path[0] != '/') {
        Fail(400);
        return false;
    }
    request_.method = std::string(method);
    request_.version = std::string(version);
    request_.target = std::string(target);
    const size_t question = path.find('?');
    request_.path = PercentDecode(path.substr(0, question), false);
    request_.rawQuery = question == std::string::npos ? std::string() : path.substr(question + 1);

    std::string transferEncoding;
    bool hasLength = false, hasCoding = false;
    unsigned long long length = 0;
    while (lineEnd != std::string_view::npos && lineEnd + 1 < head.size()) {
        const size_t start = lineEnd + 1;
        lineEnd = head.find('\n', start);
        std::string_view line =
            head.substr(start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const size_t colon = line.find(':');
        // No colon, a name that is not a token (a space before the colon, a folded line): refused.
        if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)) || HasControl(line)) {
            Fail(400);
            return false;
        }
        const std::string name(line.substr(0, colon));
        const std::string value(TrimBlanks(line.substr(colon + 1)));
        const std::string lowerName = Lower(name);
        if (lowerName == "content-length") {
            unsigned long long parsed = 0;
            if (!ParseLength(value, parsed) || (hasLength && parsed != length)) {
                Fail(400);
                return false;
            }
            hasLength = true;
            length = parsed;
        } else if (lowerName == "transfer-encoding") {
            transferEncoding += (hasCoding ? "," : "") + Lower(value);
            hasCoding = true;
        } else if (lowerName == "expect") {
            expectsContinue_ = Lower(value) == "100-continue";
        }
        request_.headers.emplace_back(name, value);
    }
    if (hasCoding) {
        if (hasLength) {  // two framings: whichever a proxy before us chose, one of us is wrong
            Fail(400);
            return false;
        }
        if (transferEncoding != "chunked") {
            Fail(501);
            return false;
        }
        state_ = State::ChunkSize;
        return true;
    }
    if (length > limits_.maxBodyBytes) {
        Fail(413);
        return false;
    }
    remaining_ = static_cast<size_t>(length);
    state_ = State::Body;
    return true;
}

}  // namespace standin
