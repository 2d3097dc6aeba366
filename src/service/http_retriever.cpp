#include "service/http_retriever.h"

#include "base/worker_pool.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace sv {
namespace {

constexpr char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded";
static_assert(sizeof(kFormContentType) - 1 == 47, "content-type header length");

constexpr DWORD kReadChunkBytes = 8191;  // one less than the staging buffer, for the NUL

// What RetrieveWithTimeout and its pool job share. The waiting caller may give up and leave; then
// the job alone finishes, and its late reply goes with the record when the job lets go of it.
struct RetrievalHandoff {
    explicit RetrievalHandoff(const char* text) : url(text) {}
    std::string url;
    std::optional<std::string> reply;
    UniqueKernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

class RetrievalJob final : public PoolJob {
public:
    explicit RetrievalJob(std::shared_ptr<RetrievalHandoff> handoff) : handoff_(std::move(handoff)) {}

    void Run() override {
        HttpRetriever retriever;
        HttpRequest request;
        request.url = handoff_->url.c_str();
        const char* reply = retriever.Run(request);
        if (reply && !request.replyCut) handoff_->reply.emplace(reply);
        SetEvent(handoff_->done.get());
    }

private:
    std::shared_ptr<RetrievalHandoff> handoff_;
};

// Closes the handles of a reply cut short, on a pool thread: WinINet under Wine reads the rest of
// the reply before it lets go of the connection (seconds for the rest of 50 MB), and the reader
// has its answer already.
class CloseHandlesJob final : public PoolJob {
public:
    CloseHandlesJob(UniqueHinternet internet, UniqueHinternet connection, UniqueHinternet request)
        : internet_(std::move(internet)), connection_(std::move(connection)), request_(std::move(request)) {}
    void Run() override {}  // the members close, child first, when the job ends

private:
    UniqueHinternet internet_;
    UniqueHinternet connection_;
    UniqueHinternet request_;
};

HINTERNET OpenInternet() { return InternetOpenW(L"HTTP Retriever", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0); }

}  // namespace

HttpRetriever::HttpRetriever(const HttpTimeouts& timeouts) : internet_(OpenInternet()), timeouts_(timeouts) {}

void HttpRetriever::LetGoOfCutReply() {
    std::unique_ptr<PoolJob> job(
        new (std::nothrow) CloseHandlesJob(std::move(internet_), std::move(connection_), std::move(request_)));
    if (job) SubmitToPool(job);  // when it cannot be queued, it closes them here
    internet_.reset(OpenInternet());
}

bool HttpRetriever::Failed() {
    lastError_ = GetLastError();
    return false;
}

bool HttpRetriever::Send(const char* verb, const char* url, const char* headers, DWORD headersLength, const char* body,
                         DWORD bodyLength) {
    URL_COMPONENTSA parts;
    std::memset(&parts, 0, sizeof(parts));
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 1;  // ask for pointers into the URL
    parts.dwUrlPathLength = 1;   // no extra-info part asked for: the path keeps its query
    if (!InternetCrackUrlA(url, static_cast<DWORD>(std::strlen(url)), 0, &parts) || !parts.lpszHostName)
        return Failed();
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return Failed();
    }
    // "https://": TLS with WinINet's own certificate checks, which nothing here ever turns off.
    const DWORD requestFlags = kRequestFlags | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    const std::string host(parts.lpszHostName, parts.dwHostNameLength);
    const std::string path = parts.lpszUrlPath ? std::string(parts.lpszUrlPath, parts.dwUrlPathLength) : std::string();

    request_.reset();  // the old request before the connection it belongs to
    connection_.reset();
    connection_.reset(
        InternetConnectA(internet_.get(), host.c_str(), parts.nPort, "", "", INTERNET_SERVICE_HTTP, kRequestFlags, 0));
    if (!connection_) return Failed();
    // On the connection, which its request inherits them from: WinINet under Wine takes the send
    // and receive limits only there (and none at all through InternetOpenUrl, which is why GETs
    // go this way too).
    const std::pair<DWORD, DWORD> limits[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, timeouts_.connectMs},
                                              {INTERNET_OPTION_SEND_TIMEOUT, timeouts_.sendMs},
                                              {INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts_.receiveMs}};
    for (auto [option, milliseconds] : limits) {
        InternetSetOptionW(connection_.get(), option, &milliseconds, sizeof(milliseconds));
    }
    const char* acceptTypes[] = {"*/*", nullptr};
    request_.reset(
        HttpOpenRequestA(connection_.get(), verb, path.c_str(), nullptr, nullptr, acceptTypes, requestFlags, 0));
    if (!request_) return Failed();
    if (!HttpSendRequestA(request_.get(), headers, headersLength, const_cast<char*>(body), bodyLength)) return Failed();
    return true;
}

bool HttpRetriever::Get(const char* url) { return Send("GET", url, nullptr, 0, nullptr, 0); }

bool HttpRetriever::Post(const char* url, const char* body, int32_t bodyLength) {
    if (!body)
        bodyLength = 0;
    else if (bodyLength < 0)
        bodyLength = static_cast<int32_t>(std::strlen(body));
    return Send("POST", url, kFormContentType, sizeof(kFormContentType) - 1, body, static_cast<DWORD>(bodyLength));
}

const char* HttpRetriever::Run(HttpRequest& request) {
    if (!request.url) return nullptr;
    const bool sent = request.post ? Post(request.url, request.body, request.bodyLength) : Get(request.url);
    if (!sent) {
        request.errorCode = MapConnectionError(lastError_);
        return nullptr;
    }
    reply_.clear();
    request.replyCut = false;
    const size_t limit =
        request.maxReplyBytes != 0 ? std::min(request.maxReplyBytes, kLargestReplyBytes) : kLargestReplyBytes;
    char staging[kReadChunkBytes + 1];
    DWORD read = 0;
    for (;;) {
        if (!InternetReadFile(request_.get(), staging, kReadChunkBytes, &read)) {
            Failed();  // what came so far is the reply
            break;
        }
        if (read == 0) break;
        reply_.append(staging, strnlen(staging, read));
        if (reply_.size() > limit) {
            request.replyCut = true;
            LetGoOfCutReply();
            break;
        }
    }
    return reply_.c_str();
}

LyricsStatus StatusOfFailure(NetworkError error) {
    switch (error) {
        case NetworkError::LoginFailed:
            return LyricsStatus::LoginFailed;
        case NetworkError::ServerUnreachable:
            return LyricsStatus::ServerUnreachable;
        case NetworkError::RequestFailed:
            return LyricsStatus::RequestFailed;
        case NetworkError::None:
        case NetworkError::ConnectionError:
            break;
    }
    return LyricsStatus::ConnectionError;
}

NetworkError MapConnectionError() { return MapConnectionError(GetLastError()); }

NetworkError MapConnectionError(DWORD win32Error) {
    if (win32Error == ERROR_INTERNET_LOGIN_FAILURE) return NetworkError::LoginFailed;
    if (win32Error >= ERROR_INTERNET_ITEM_NOT_FOUND && win32Error <= ERROR_INTERNET_CONNECTION_ABORTED)
        return NetworkError::ServerUnreachable;
    return NetworkError::RequestFailed;
}

std::optional<std::string> RetrieveWithTimeout(const char* url, DWORD timeoutMs) {
    if (!url) return std::nullopt;
    const auto handoff = std::make_shared<RetrievalHandoff>(url);
    if (!handoff->done) return std::nullopt;  // to the caller, like any failed request
    std::unique_ptr<PoolJob> job(new (std::nothrow) RetrievalJob(handoff));
    if (!job || !SubmitToPool(job)) return std::nullopt;
    std::optional<std::string> reply;
    if (WaitForSingleObject(handoff->done.get(), timeoutMs) == WAIT_OBJECT_0) reply = std::move(handoff->reply);
    return reply;
}

}  // namespace sv
