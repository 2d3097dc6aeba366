// Client of the stand-in lyrics service and community site, for tests on both sides (natively
// and under Wine). It reads the server's address from SONAVIRE_STANDIN (host:port) and its control
// token from SONAVIRE_STANDIN_TOKEN, which scripts/with-standin.sh sets for tests declared with
// STANDIN; the token goes with every request under /_control/.
//
// Every call opens one connection and sends one HTTP/1.1 request with "Connection: close".
// Failures (no server, a refused control request) throw std::runtime_error, which GoogleTest
// reports as a failure of the running test.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace svtest {

struct RecordedRequest {
    int seq = 0;
    std::string method, path, rawTarget, body;
    std::vector<std::pair<std::string, std::string>> query;  // decoded as PHP decodes, in order

    // The value PHP would see (the last of that name); "" when absent.
    std::string Query(const std::string& name) const;
    bool HasQuery(const std::string& name) const;
    std::vector<std::string> QueryNames() const;
};

// One answer as it came off the wire.
struct HttpReply {
    bool answered = false;  // false: the server closed the connection without any answer
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string Header(const std::string& name) const;  // case-insensitive; "" when absent
};

class StandinClient {
public:
    // From SONAVIRE_STANDIN; throws when it is missing or malformed.
    static StandinClient FromEnvironment();
    StandinClient(std::string host, int port, std::string controlToken = std::string());

    std::string HostPort() const;  // "127.0.0.1:PORT"
    std::string BaseUrl() const;   // "http://127.0.0.1:PORT"

    // The record, oldest first; path "" means every path.
    std::vector<RecordedRequest> Requests(const std::string& path = "");
    // Waits until at least count requests on path (every path when "") are recorded or the
    // time is up, then returns the record as Requests does.
    std::vector<RecordedRequest> WaitForRequests(const std::string& path, int count, int timeoutMs = 10000);
    void ClearRequests();
    // Changes how every later request on path is answered (the request is still recorded):
    //   delay     the normal answer after ms;
    //   slow      the normal head at once, then the body in pieces of bytes (16 when 0), ms apart;
    //   close     the connection is closed without any answer (nothing is stored);
    //   status    an HTML error page with HTTP status code (500 when 0 or not 200-599);
    //   malformed broken XML; large a well-formed reply of about bytes (1 MiB when 0);
    //   truncate  the normal head, then only bytes of the body (half when 0) and a closed connection;
    //   bomb      a document-type bomb; nul, bad-utf8: the normal reply with NUL bytes or
    //             sequences that are no UTF-8 inside the lines;
    //   none      back to normal.
    void SetBehaviour(const std::string& path, const std::string& mode, int ms = 0, int code = 0, long bytes = 0);
    void ResetBehaviours();
    void AddUser(const std::string& name, const std::string& password);
    // Imports an LRC text as a song or translation; returns the new version.
    std::string AddSongLrc(const std::string& lrcUtf8);
    // What the record shows in place of a password ("" stays "").
    std::string PasswordMark(const std::string& password) const;

    // GET of a path and query sent exactly as given (spaces too); the body whatever the status.
    // Throws when the connection closes without an answer.
    std::string Get(const std::string& pathAndQuery);
    // Any request, target sent as given. readTimeoutMs bounds each wait for data.
    HttpReply Send(const std::string& method, const std::string& target, const std::string& body = std::string(),
                   int readTimeoutMs = 60000);

private:
    std::string Control(const std::string& method, const std::string& target, const std::string& body = std::string());

    std::string host_;
    int port_ = 0;
    std::string token_;
};

// Strict percent-encoding: every byte except A-Z a-z 0-9 - _ . ~ becomes %XX.
std::string PercentEncode(const std::string& bytes);
std::string PercentDecode(const std::string& text);

}  // namespace svtest
