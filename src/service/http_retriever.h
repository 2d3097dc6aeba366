// The plug-in's only HTTP client: one synchronous GET or POST through WinINet on the calling thread
// (a connection and a request of its own, bounded by time limits), reply collected as a
// NUL-terminated narrow text. The HTTP status is never examined: an error page
// is a reply like any other.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/win_handles.h"
#include "lyrics/lyrics_document.h"

namespace sv {

// Why a request failed; the numbers are those a failed fetch leaves as its document's status.
enum class NetworkError : int32_t {
    None = 0,
    ConnectionError = 500,    // no reply and no code (set by callers)
    LoginFailed = 501,        // ERROR_INTERNET_LOGIN_FAILURE
    ServerUnreachable = 504,  // not found, cannot connect, aborted
    RequestFailed = 505,      // anything else
};

// The document status a failed request leaves: its error, or ConnectionError when it has none.
LyricsStatus StatusOfFailure(NetworkError error);

// No cache writes, no cookies, a no-cache pragma on every request.
inline constexpr DWORD kRequestFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kRequestFlags == 0x04080100, "request flags");

inline constexpr DWORD kRetrieveTimeoutMs = 3000;

// WinINet's own limits on a request, in milliseconds. Its defaults let a service that accepts the
// connection and never answers hold a request for as long as the system allows: the status line
// would say "Loading" and the sign-in check (on the user-interface thread) would freeze the player
// meanwhile. A service that answers at all answers within a second; these leave room for a slow
// network and still end a dead request while the user waits.
struct HttpTimeouts {
    DWORD connectMs;  // to establish the connection
    DWORD sendMs;     // to send the request
    DWORD receiveMs;  // between two pieces of the answer, not for the whole answer
};
inline constexpr HttpTimeouts kHttpTimeouts = {5000, 5000, 8000};

struct HttpRequest {
    const char* url = nullptr;                    // full, already escaped; must stay valid during Run
    uint8_t post = 0;                             // 0 = GET, anything else = POST
    const char* body = nullptr;                   // POST only; sent byte for byte, not form-encoded
    int32_t bodyLength = -1;                      // -1: up to the body's first NUL byte
    NetworkError errorCode = NetworkError::None;  // out: why the request failed
    // 0: the whole reply, up to kLargestReplyBytes. Otherwise reading stops once the reply holds
    // more than this many bytes (a caller that needs only a short answer is not held up by a huge one).
    size_t maxReplyBytes = 0;
    bool replyCut = false;  // out: reading stopped at one of those limits; the reply is not whole
};

// No reply of the service is read past this size. A song's lyrics take a few kilobytes and even
// 10,000 lines stay under a megabyte; a larger reply comes from a broken or hostile server, and
// read whole it would hold the player's memory (tens of megabytes, more once parsed) and a worker
// for seconds.
inline constexpr size_t kLargestReplyBytes = 2u * 1024 * 1024;

class HttpRetriever {
public:
    explicit HttpRetriever(const HttpTimeouts& timeouts = kHttpTimeouts);
    ~HttpRetriever() = default;
    HttpRetriever(const HttpRetriever&) = delete;
    HttpRetriever& operator=(const HttpRetriever&) = delete;

    // The reply text, valid until the next Run or the retriever's end; null when there is no URL
    // (errorCode untouched) or the request failed (errorCode set). An empty body is "", not null.
    // Each chunk read is appended up to its first NUL byte; a read error part-way keeps what came.
    const char* Run(HttpRequest& request);

private:
    bool Get(const char* url);
    bool Post(const char* url, const char* body, int32_t bodyLength);
    // Connects to the URL's host with the time limits and sends one request.
    bool Send(const char* verb, const char* url, const char* headers, DWORD headersLength, const char* body,
              DWORD bodyLength);
    bool Failed();
    // Hands the handles of a reply cut short to a pool job that closes them.
    void LetGoOfCutReply();

    // Declared parent first, so they close child first.
    UniqueHinternet internet_;
    UniqueHinternet connection_;  // of the last request
    UniqueHinternet request_;
    HttpTimeouts timeouts_;
    std::string reply_;
    DWORD lastError_ = 0;  // of the last failed WinINet call, for Run's error code
};

// LoginFailed, ServerUnreachable or RequestFailed for the calling thread's last Win32 error (call
// it right after the failure).
NetworkError MapConnectionError();
NetworkError MapConnectionError(DWORD win32Error);

// GETs url on the thread pool and waits at most timeoutMs. Gives the reply (possibly empty), or
// nothing when the request failed, took too long or was cut at kLargestReplyBytes; a worker left
// behind finishes on its own and drops its late reply. The URL is copied: the caller may free it
// as soon as this returns.
std::optional<std::string> RetrieveWithTimeout(const char* url, DWORD timeoutMs = kRetrieveTimeoutMs);

}  // namespace sv
