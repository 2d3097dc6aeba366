// A small HTTP/1.1 server for the stand-in: one thread per connection, one request per
// connection (every answer says "Connection: close"), and answers that can be held back, sent
// in slow pieces or replaced by a closed connection.
#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace standin {

struct HttpRequest {
    std::string method;
    std::string target;    // as received, spaces included
    std::string path;      // percent-decoded, without the query
    std::string rawQuery;  // after the first '?', as received
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;      // de-chunked when sent chunked
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
    int delayMs = 0;           // wait this long before the first byte
    int pieceIntervalMs = 0;   // Slow: between body pieces
    size_t pieceBytes = 16;    // Slow: size of each body piece
    // Above 0: the head announces the whole body, then the connection closes after this many of
    // its bytes (a reply cut short).
    size_t cutAfterBytes = 0;
};

struct Answer {
    HttpResponse response;
    Delivery delivery;
};

class HttpServer {
public:
    using Handler = std::function<Answer(const HttpRequest&)>;
    explicit HttpServer(Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens; port 0 picks a free port. False with a reason on failure.
    bool Listen(const std::string& host, int port, std::string* error);
    int Port() const { return port_; }
    // Accepts connections until Stop; returns after every connection thread has ended.
    void Run();
    // From any thread: ends Run, wakes held answers and cuts open connections.
    void Stop();
    // Waits up to ms; false when the server is stopping.
    bool Pause(int ms);

private:
    void Serve(int socket);
    bool ReadRequest(int socket, HttpRequest& request, int& errorStatus);
    void Deliver(int socket, const HttpRequest& request, const Answer& answer);
    void ReapFinished();

    Handler handler_;
    int listener_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::condition_variable wake_;
    std::set<int> openSockets_;
    std::list<std::thread> threads_;
    std::vector<std::thread::id> finished_;
};

// "404 Not Found" and the like.
std::string StatusText(int status);

}  // namespace standin
