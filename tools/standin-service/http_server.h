// A small HTTP/1.1 server: one thread per connection, persistent connections (requests answered
// in the order they arrive, pipelined ones included), bounded in connections in all and per peer,
// in sizes and in time, and answers that can be held back, sent in slow pieces or replaced by a
// closed connection (for the tests' behaviours).
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace standin {

struct HttpRequest {
    std::string method;
    std::string version;   // "HTTP/1.1" or "HTTP/1.0"
    std::string target;    // as received, spaces included
    std::string path;      // percent-decoded, without the query
    std::string rawQuery;  // after the first '?', as received
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // de-chunked when sent chunked
    std::string peer;  // the client's address, without the port (for per-client limits); behind
                       // a trusted proxy, the address it forwards for
    std::string Header(const std::string& name) const;  // case-insensitive; "" when absent
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// How an answer is delivered.
struct Delivery {
    enum class Kind { Normal, Slow, CloseWithoutAnswer } kind = Kind::Normal;
    int delayMs = 0;          // wait this long before the first byte
    int pieceIntervalMs = 0;  // Slow: between body pieces
    size_t pieceBytes = 16;   // Slow: size of each body piece
    // Above 0: the head announces the whole body, then the connection closes after this many of
    // its bytes (a reply cut short).
    size_t cutAfterBytes = 0;
};

struct Answer {
    HttpResponse response;
    Delivery delivery;
};

// What one client may take of the server. Every wait has a deadline, so a slow or silent client
// holds a connection for a bounded time, and the number of connections is bounded too.
struct ServerLimits {
    size_t maxHeadBytes = 32 * 1024;        // request line and headers
    size_t maxBodyBytes = 2 * 1024 * 1024;  // after de-chunking
    int maxConnections = 512;               // beyond this a new connection is answered 503 at once
    int maxPerPeer = 32;                    // connections of one address (IPv6: one /64); beyond, 429
    int idleTimeoutMs = 15000;              // longest silence while a request arrives or an answer leaves
    int keepAliveMs = 5000;                 // longest silence between requests on one connection
    int maxRequestsPerConnection = 1000;    // then the connection is closed after its answer
    int requestTimeoutMs = 30000;           // longest time from the connection (or the previous
                                            // answer) to the whole request
    int stopDeadlineMs = 10000;             // on Stop, how long requests in progress may take to finish
    int lingerMs = 2000;                    // after an answer, how long unread input is drained
    // Fronts (a TLS proxy) whose X-Forwarded-For names the client; from anyone else the header is
    // ignored. Their connections count against the client they forward for, not their own address.
    std::vector<std::string> trustedProxies;
};

// The address in its one written form ("::ffff:10.0.0.1" is "10.0.0.1"); "" when it is none.
std::string CanonicalAddress(const std::string& text);

class HttpServer {
public:
    using Handler = std::function<Answer(const HttpRequest&)>;
    explicit HttpServer(Handler handler, ServerLimits limits = ServerLimits());
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens; port 0 picks a free port. False with a reason on failure.
    bool Listen(const std::string& host, int port, std::string* error);
    int Port() const { return port_; }
    // Accepts connections until Stop; then lets requests in progress finish until the stop
    // deadline, cuts the rest and returns once every connection thread has ended.
    void Run();
    // From any thread (a signal-waiting one): stop accepting, close connections that have not
    // started a request, end held answers at once; Run does the rest.
    void Stop();

private:
    struct Connection {
        int socket = -1;
        std::string peer;
        std::string peerKey;  // what the per-peer cap counts ("" for a trusted proxy's connection
                              // before its first request)
        bool fromProxy = false;
    };
    // Counts the connection against another client (a proxy's connection forwarding for it); false
    // when that client already holds its share.
    bool Charge(Connection& connection, const std::string& key);
    void Serve(Connection connection);
    // Reads one request within the limits, starting with the bytes already received after the
    // previous one (pending, which keeps what comes after this one); false (with errorStatus 0
    // for a silent close, else the status to answer) when there is none to handle.
    bool ReadRequest(int socket, std::atomic<bool>& started, bool reused, std::string& pending, HttpRequest& request,
                     int& errorStatus);
    // Sends the answer (with "Connection: close" unless keepOpen); false when the connection
    // cannot carry another answer. bytes: body bytes sent.
    bool Deliver(int socket, const HttpRequest& request, const Answer& answer, bool keepOpen, size_t& bytes);
    // Waits up to ms while the client stays connected; false when it left or the server stops.
    bool Hold(int socket, int ms);
    void Linger(int socket);
    void RefuseBusy(int socket, const std::string& peer, int status);
    void DrainRefused(bool all);
    void ReapFinished();

    Handler handler_;
    ServerLimits limits_;
    int listener_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::condition_variable wake_;    // Stop, for held answers
    std::condition_variable closed_;  // a connection ended, for Run's stop deadline
    // socket -> whether a request has started on it (owned by the connection's thread, which
    // sets it without the lock: a lookup on a persistent connection takes no lock here)
    std::map<int, std::atomic<bool>*> open_;
    std::map<std::string, int> perPeer_;  // peer key -> open connections
    std::list<std::thread> threads_;
    std::vector<std::thread::id> finished_;
    // Connections answered 503, each closed at its time (only the accepting thread uses this).
    static constexpr size_t kMaxRefused = 256;
    std::vector<std::pair<int, std::chrono::steady_clock::time_point>> refused_;
};

// One line per request on stderr: time (UTC), client, method, path (without the query, which
// may carry a password), status (0: closed without an answer), body bytes sent, milliseconds.
void LogRequest(const std::string& peer, const std::string& method, const std::string& target, int status, size_t bytes,
                long long ms);

// "404 Not Found" and the like.
std::string StatusText(int status);

}  // namespace standin
