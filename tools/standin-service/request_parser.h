// Reads one HTTP/1.x request from bytes as they arrive, with no socket in sight: the server feeds
// it what it receives, and the generated-input run feeds it whatever it makes up.
//
// What it accepts: a request line "METHOD TARGET HTTP/1.x" (the target may hold unescaped spaces,
// as some clients send them; the method is a token), header lines "Name: value", lines ended by
// CRLF or a bare LF, then a body framed by Content-Length or by chunked transfer coding. Empty
// lines before the request line are skipped. Everything else is refused with a 4xx (or 501 for a
// transfer coding other than chunked), never guessed at: no line folding, no whitespace before a
// colon, no control characters, no two different lengths, not both a length and chunks. The
// limits bound what it keeps: the head (request line, headers and chunk trailers) and the body.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "http_server.h"

namespace standin {

struct ParseLimits {
    size_t maxHeadBytes = 32 * 1024;
    size_t maxBodyBytes = 2 * 1024 * 1024;
};

class RequestParser {
public:
    enum class State { Head, Body, ChunkSize, ChunkData, ChunkEnd, Trailers, Done, Failed };

    explicit RequestParser(ParseLimits limits = ParseLimits());

    // Takes the next bytes of the stream. Bytes after a complete request are not looked at: they
    // are kept for TakeRest (the start of the next request on a persistent connection).
    void Feed(std::string_view data);
    // Once Done: the bytes of the fed data that came after the request, handed over once.
    std::string TakeRest() { return Done() ? std::move(buffer_) : std::string(); }

    State GetState() const { return state_; }
    bool Done() const { return state_ == State::Done; }
    bool Failed() const { return state_ == State::Failed; }
    // True once a byte of the request has arrived (empty lines before it do not count).
    bool Started() const { return started_; }
    // The status to answer a refused request with (400, 413, 414, 431, 501).
    int ErrorStatus() const { return errorStatus_; }
    // The head is complete, asks for "100 Continue" and a body is still to come.
    bool ExpectsContinue() const { return expectsContinue_ && (state_ == State::Body || state_ == State::ChunkSize); }
    // Filled in as far as it has been read; complete when Done.
    const HttpRequest& Request() const { return request_; }

private:
    void Fail(int status);
    void Step();
    bool ParseHead(std::string_view head);
    bool NextLine(std::string_view& line, size_t limit, int statusWhenTooLong);

    ParseLimits limits_;
    State state_ = State::Head;
    bool started_ = false;
    bool expectsContinue_ = false;
    int errorStatus_ = 0;
    std::string buffer_;    // received and not yet consumed
    size_t scanned_ = 0;    // bytes of buffer_ already searched for the end of the head
    size_t remaining_ = 0;  // Body: bytes still to come; ChunkData: bytes of this chunk
    size_t trailerBytes_ = 0;
    size_t skipped_ = 0;  // empty lines before the request line
    HttpRequest request_;
};

}  // namespace standin
