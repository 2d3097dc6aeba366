// sonavire-server as a program: its commands, its store across restarts and migrations, the
// control API only with the test flag, its log, a clean stop, and its HTTP reading under attack.
// Each test starts servers of its own (real processes, real sockets), some with small limits.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "standin_client.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
const std::string kVerify = "/sonavire/services/appVerifyUser.php";
const std::string kLanguages = "/sonavire/services/getSupportedLanguages.php";

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A folder of its own for each test, removed at the end.
struct TempDir {
    std::string path;
    TempDir() {
        char name[] = "/tmp/sonavire-server-test.XXXXXX";
        path = mkdtemp(name);
    }
    ~TempDir() { (void)!system(("rm -rf '" + path + "'").c_str()); }
};

// Starts the server binary with arguments; stdin from a text, stdout and stderr into a log.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log, const std::string& input = "",
            const std::vector<std::string>& extraEnv = {}) {
    const std::string inputFile = log + ".in";
    std::ofstream(inputFile) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inputFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> all = {SONAVIRE_SERVER};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> env(extraEnv);
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit code, or -1 when the deadline passed (the process is then killed), or 128+signal.
int WaitExit(pid_t pid, int timeoutMs) {
    const auto start = Clock::now();
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (MsSince(start) > timeoutMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        pollfd none{-1, 0, 0};
        poll(&none, 0, 10);  // waitpid has no time-out of its own: look again shortly
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// One command of the program (import, user ...), to its end.
int Command(const TempDir& dir, std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin() + (args[0] == "user" ? 2 : 1), {"--db", dir.path + "/store.db"});
    return WaitExit(Spawn(args, dir.path + "/commands.log", input), 60000);
}

class Server {
public:
    Server(const TempDir& dir, std::vector<std::string> args, std::vector<std::string> env = {})
        : log_(dir.path + "/server.log") {
        const std::string portFile = dir.path + "/port";
        unlink(portFile.c_str());
        args.insert(args.end(), {"--port", "0", "--port-file", portFile, "--db", dir.path + "/store.db"});
        const bool control = std::find(args.begin(), args.end(), "--test-control") != args.end();
        const std::string tokenFile = dir.path + "/control-token";
        if (control) args.insert(args.end(), {"--test-control-token-file", tokenFile});
        pid_ = Spawn(args, log_, "", env);
        const auto start = Clock::now();
        while (ReadFile(portFile).empty() && MsSince(start) < 20000 && waitpid(pid_, nullptr, WNOHANG) == 0) {
            pollfd none{-1, 0, 0};
            poll(&none, 0, 10);
        }
        port_ = atoi(ReadFile(portFile).c_str());
        EXPECT_GT(port_, 0) << Log();
        if (control) token_ = ReadFile(tokenFile).substr(0, 64);
    }
    ~Server() {
        if (pid_ > 0) Stop();
    }
    int Stop(int timeoutMs = 20000) {
        kill(pid_, SIGTERM);
        const int code = WaitExit(pid_, timeoutMs);
        pid_ = -1;
        return code;
    }
    svtest::StandinClient Client() const { return svtest::StandinClient("127.0.0.1", port_, token_); }
    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    std::string Log() const { return ReadFile(log_); }
    long RssKb() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.compare(0, 6, "VmRSS:") == 0) return atol(line.c_str() + 6);
        }
        return -1;
    }

private:
    std::string log_, token_;
    pid_t pid_ = -1;
    int port_ = 0;
};

std::string Sql(const std::string& db, const std::string& query) {
    sqlite3* handle = nullptr;
    std::string out;
    if (sqlite3_open(db.c_str(), &handle) == SQLITE_OK) {
        sqlite3_exec(
            handle, query.c_str(),
            [](void* text, int n, char** values, char**) {
                for (int i = 0; i < n; ++i)
                    *static_cast<std::string*>(text) += std::string(values[i] ? values[i] : "") + "|";
                return 0;
            },
            &out, nullptr);
    }
    sqlite3_close(handle);
    return out;
}

std::string Verify(Server& server, const std::string& name, const std::string& password) {
    return server.Client().Get(kVerify + "?username=" + name + "&password=" + svtest::PercentEncode(password));
}

// A client on a raw socket, for what no well-behaved client sends.
class Raw {
public:
    // from: the client's own loopback address (127.0.0.2 is another peer to the server).
    explicit Raw(int port, const char* from = nullptr) : socket_(socket(AF_INET, SOCK_STREAM, 0)) {
        if (from) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            inet_pton(AF_INET, from, &source.sin_addr);
            bind(socket_, reinterpret_cast<sockaddr*>(&source), sizeof source);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Raw() { close(socket_); }
    bool Connected() const { return connected_; }
    void Send(const std::string& bytes) { send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // One byte every dripMs, until the server answers or closes.
    void Drip(const std::string& bytes, int dripMs) {
        pollfd waiting{socket_, POLLIN, 0};
        for (size_t i = 0; i < bytes.size() && poll(&waiting, 1, dripMs) == 0; ++i) Send(bytes.substr(i, 1));
    }
    // Everything until the server closes (at most timeoutMs of silence).
    std::string ReadAll(int timeoutMs = 20000) {
        std::string answer;
        char buffer[4096];
        pollfd waiting{socket_, POLLIN, 0};
        ssize_t got;
        while (poll(&waiting, 1, timeoutMs) > 0 && (got = recv(socket_, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<size_t>(got));
        }
        return answer;
    }
    // One answer with a Content-Length body, leaving the connection open.
    std::string ReadOne(int timeoutMs = 5000) {
        std::string answer;
        char byte;
        pollfd waiting{socket_, POLLIN, 0};
        size_t end;
        while ((end = answer.find("\r\n\r\n")) == std::string::npos) {
            if (poll(&waiting, 1, timeoutMs) <= 0 || recv(socket_, &byte, 1, 0) != 1) return answer;
            answer += byte;
        }
        const size_t at = answer.find("Content-Length: ");
        size_t left = at == std::string::npos ? 0 : strtoul(answer.c_str() + at + 16, nullptr, 10);
        for (; left > 0 && poll(&waiting, 1, timeoutMs) > 0 && recv(socket_, &byte, 1, 0) == 1; --left) answer += byte;
        return answer;
    }

private:
    int socket_;
    bool connected_ = false;
};

int StatusOf(const std::string& answer) {
    return answer.compare(0, 9, "HTTP/1.1 ") == 0 ? atoi(answer.c_str() + 9) : 0;
}

TEST(SonavireServer, ControlApiExistsOnlyWithTheTestFlag) {
    TempDir dir;
    {
        Server server(dir, {});
        svtest::StandinClient client = server.Client();
        EXPECT_EQ(client.Send("GET", "/_control/requests").status, 404);
        EXPECT_EQ(client.Send("POST", "/_control/user?name=eve&password=x").status, 404);
        EXPECT_EQ(client.Send("POST", "/_control/behaviour?path=" + kLanguages + "&mode=status&code=500").status, 404);
        EXPECT_EQ(client.Send("GET", kLanguages).status, 200);
        EXPECT_EQ(Verify(server, "eve", "x"), "false");
    }
    // Never beyond loopback, never without a token file.
    EXPECT_EQ(
        Command(dir, {"serve", "--test-control", "--listen", "0.0.0.0", "--test-control-token-file", dir.path + "/t"}),
        2);
    EXPECT_EQ(Command(dir, {"serve", "--test-control", "--listen", "::"}), 2);
    EXPECT_EQ(Command(dir, {"serve", "--test-control"}), 2);

    Server server(dir, {"--test-control"});
    svtest::StandinClient client = server.Client();
    struct stat token {};
    ASSERT_EQ(stat((dir.path + "/control-token").c_str(), &token), 0);
    EXPECT_EQ(token.st_mode & 0777, 0600u);
    // Without the token, or with a wrong one, or as a page's form post: refused, nothing changed.
    svtest::StandinClient stranger("127.0.0.1", server.Port()),
        guesser("127.0.0.1", server.Port(), std::string(64, '0'));
    EXPECT_EQ(stranger.Send("POST", "/_control/user?name=eve&password=x").status, 403);
    EXPECT_EQ(guesser.Send("POST", "/_control/user?name=eve&password=x").status, 403);
    EXPECT_EQ(stranger.Send("GET", "/_control/requests").status, 403);
    EXPECT_EQ(Verify(server, "eve", "x"), "false");
    client.AddUser("eve", "x y");
    EXPECT_EQ(Verify(server, "eve", "x y"), "true");
    // The record has marks in place of passwords, in the query, the target and a form body.
    client.Send("POST", "/wiki/sign-in?password=x+y", "user=eve&password=x%20y");
    const auto record = client.Requests();
    ASSERT_EQ(record.size(), 3u);
    EXPECT_EQ(record[1].Query("password"), client.PasswordMark("x y"));
    EXPECT_EQ(record[1].rawTarget, kVerify + "?username=eve&password=" + client.PasswordMark("x%20y"));
    EXPECT_EQ(record[2].rawTarget, "/wiki/sign-in?password=" + client.PasswordMark("x+y"));
    for (const auto& r : record) EXPECT_EQ((r.rawTarget + r.body).find("x%20y"), std::string::npos) << r.rawTarget;
}

TEST(SonavireServer, KeepsSongsAndHashedUsersAcrossRestarts) {
    TempDir dir;
    const std::string db = dir.path + "/store.db";
    std::ofstream(dir.path + "/night-train.es.lrc") << "[ar:Blue Harbour]\n[ti:Night Train]\n[00:01.00]Tren nocturno\n";
    EXPECT_EQ(Command(dir, {"import", SONAVIRE_LIBRARY, dir.path}), 0);
    EXPECT_EQ(Command(dir, {"user", "add", "kestrel"}, "s3cret & more\n"), 0);
    EXPECT_EQ(Command(dir, {"user", "add", "wren"}, "first\n"), 0);
    EXPECT_EQ(Command(dir, {"user", "add", "wren"}, "second\n"), 0);  // a new password
    EXPECT_NE(Command(dir, {"user", "add", "nobody"}, ""), 0);        // no empty passwords
    EXPECT_NE(Command(dir, {"import", dir.path + "/missing"}), 0);

    // Only salted hashes are stored: two users' hashes never reveal or repeat a password.
    const std::string stored = Sql(db, "SELECT name, password_hash FROM users ORDER BY name");
    EXPECT_EQ(stored.find("s3cret"), std::string::npos);
    EXPECT_EQ(stored.find("second"), std::string::npos);
    EXPECT_NE(stored.find("kestrel|$argon2id$"), std::string::npos) << stored;
    EXPECT_EQ(Sql(db, "PRAGMA user_version"), "2|");

    for (int run = 0; run < 2; ++run) {
        Server server(dir, {});
        EXPECT_EQ(Verify(server, "kestrel", "s3cret & more"), "true");
        EXPECT_EQ(Verify(server, "kestrel", "s3cret"), "false");
        EXPECT_EQ(Verify(server, "wren", "first"), "false");
        EXPECT_EQ(Verify(server, "wren", "second"), run == 0 ? "true" : "false");
        const std::string spanish =
            server.Client().Get("/sonavire/services/getLyricXML_2?lang=es&artist=Blue Harbour&title=Night Train");
        EXPECT_NE(spanish.find("Tren nocturno"), std::string::npos);
        EXPECT_NE(server.Client().Get(kLanguages).find("code=\"es\""), std::string::npos);
        EXPECT_EQ(server.Stop(), 0);
        EXPECT_NE(server.Log().find("sonavire-server: stopped"), std::string::npos);
        if (run == 0) {
            EXPECT_EQ(Command(dir, {"user", "remove", "wren"}), 0);
        }
    }
    EXPECT_NE(Command(dir, {"user", "remove", "wren"}), 0);
}

TEST(SonavireServer, OlderStoresAreMigratedWithTheirDataAndNewerOnesRefused) {
    TempDir dir;
    const std::string db = dir.path + "/store.db";
    // A store as the first servers wrote it: no schema version, passwords in plain text.
    Sql(db,
        "CREATE TABLE songs (id INTEGER PRIMARY KEY, artist TEXT NOT NULL, title TEXT NOT NULL,"
        " album TEXT NOT NULL DEFAULT '', language TEXT NOT NULL DEFAULT '', language_name TEXT NOT NULL DEFAULT '',"
        " artist_key TEXT NOT NULL, title_key TEXT NOT NULL, UNIQUE (artist_key, title_key, language));"
        "CREATE TABLE versions (id INTEGER PRIMARY KEY, song_id INTEGER NOT NULL REFERENCES songs(id),"
        " number INTEGER NOT NULL, version TEXT NOT NULL, last_update TEXT NOT NULL, song_lock TEXT NOT NULL"
        " DEFAULT '0', source TEXT NOT NULL, author TEXT NOT NULL DEFAULT '', UNIQUE (song_id, number));"
        "CREATE TABLE lines (version_id INTEGER NOT NULL REFERENCES versions(id), position INTEGER NOT NULL,"
        " time_ms INTEGER, text TEXT NOT NULL, PRIMARY KEY (version_id, position));"
        "CREATE TABLE users (name TEXT PRIMARY KEY, password TEXT NOT NULL);"
        "INSERT INTO songs VALUES (1, 'Old Band', 'Old Song', '', '', '', 'old band', 'old song');"
        "INSERT INTO versions VALUES (1, 1, 1, '1.kept', '2020-01-01 00:00:00', '0', 'library', '');"
        "INSERT INTO lines VALUES (1, 0, 1000, 'still here');"
        "INSERT INTO users VALUES ('anna', 'secret');");
    {
        Server server(dir, {});
        EXPECT_EQ(Verify(server, "anna", "secret"), "true");
        EXPECT_NE(
            server.Client().Get("/sonavire/services/getLyricXML_2?artist=Old Band&title=Old Song").find("still here"),
            std::string::npos);
    }
    EXPECT_EQ(Sql(db, "PRAGMA user_version"), "2|");
    EXPECT_EQ(Sql(db, "SELECT password_hash FROM users").compare(0, 10, "$argon2id$"), 0);

    Sql(db, "PRAGMA user_version = 99");
    EXPECT_EQ(Command(dir, {"user", "list"}), 1);
    EXPECT_NE(ReadFile(dir.path + "/commands.log").find("newer than this program"), std::string::npos);
}

TEST(SonavireServer, LogsOneLinePerRequestWithoutItsQuery) {
    TempDir dir;
    Server server(dir, {});
    Verify(server, "kestrel", "hunter2");
    server.Client().Get(kLanguages);
    Raw broken(server.Port());
    broken.Send("BROKEN\r\n\r\n");
    EXPECT_EQ(StatusOf(broken.ReadAll()), 400);
    EXPECT_EQ(server.Stop(), 0);
    const std::string log = server.Log();
    EXPECT_NE(log.find("127.0.0.1 \"GET /sonavire/services/appVerifyUser.php\" 200 5 "), std::string::npos) << log;
    EXPECT_NE(log.find("\"GET /sonavire/services/getSupportedLanguages.php\" 200 "), std::string::npos);
    EXPECT_NE(log.find("\"- -\" 400 0 "), std::string::npos);
    EXPECT_EQ(log.find("hunter2"), std::string::npos);
}

TEST(SonavireServer, StopFinishesRequestsInProgressAndCutsTheRestAtTheDeadline) {
    TempDir dir;
    Server server(dir, {"--stop-deadline-ms", "1500"});
    const std::string head = "POST " + kLanguages + " HTTP/1.1\r\nContent-Length: 4\r\n\r\nab";
    Raw finishing(server.Port()), stalled(server.Port()), idle(server.Port());
    finishing.Send(head);
    stalled.Send(head);
    EXPECT_EQ(server.Client().Send("GET", kLanguages).status, 200);  // the three have been accepted
    kill(server.Pid(), SIGTERM);
    const auto start = Clock::now();
    while (Raw(server.Port()).Connected() && MsSince(start) < 10000) {  // until it stops accepting
        pollfd none{-1, 0, 0};
        poll(&none, 0, 10);
    }
    EXPECT_EQ(idle.ReadAll(), "");  // nothing asked yet: closed at once
    finishing.Send("cd");           // the rest of a request that had started
    EXPECT_EQ(StatusOf(finishing.ReadAll()), 200);
    EXPECT_EQ(stalled.ReadAll(), "");  // cut at the deadline
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_LT(MsSince(start), 1500 + 5000);
}

// Small limits, so that every case ends quickly.
const std::vector<std::string> kTightLimits = {"--max-head-bytes",  "4096", "--max-body-bytes",     "65536",
                                               "--idle-timeout-ms", "1000", "--request-timeout-ms", "2000",
                                               "--max-connections", "8",    "--test-control"};
constexpr int kRequestTimeoutMs = 2000;

struct AttackCase {
    const char* what;
    std::string bytes;
    int dripMs;   // 0: sent at once
    int status;   // the answer expected; 0: closed without one
    int answers;  // how many status lines come back
};

const std::string kPost = "POST " + kLanguages + " HTTP/1.1\r\nHost: x\r\n";
const std::vector<AttackCase> kAttacks = {
    {"request line without a version", "GET /\r\n\r\n", 0, 400, 1},
    {"request line that is not HTTP", "\x16\x03\x01\x02\xa5\x01\x7f\xa1\x03\x03\r\n\r\n", 0, 400, 1},
    {"control character in the target", "GET /a\x01b HTTP/1.1\r\n\r\n", 0, 400, 1},
    {"method that is not a token", "G(T / HTTP/1.1\r\n\r\n", 0, 400, 1},
    {"folded header", "GET / HTTP/1.1\r\nHost: x\r\n folded\r\n\r\n", 0, 400, 1},
    {"space before the colon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", 0, 400, 1},
    {"oversized header", "GET / HTTP/1.1\r\nX-Big: " + std::string(5000, 'a') + "\r\n\r\n", 0, 431, 1},
    {"oversized request line", "GET /" + std::string(5000, 'a') + " HTTP/1.1\r\n\r\n", 0, 414, 1},
    {"body longer than its length, with a request hidden after it on a connection to be closed",
     kPost + "Connection: close\r\nContent-Length: 3\r\n\r\nabcGET /hidden HTTP/1.1\r\n\r\n", 0, 200, 1},
    {"request over HTTP/1.0, with a request after it",
     "GET " + kLanguages + " HTTP/1.0\r\n\r\nGET /hidden HTTP/1.1\r\n\r\n", 0, 200, 1},
    {"length over the body limit", kPost + "Content-Length: 1000000000\r\n\r\n", 0, 413, 1},
    {"negative length", kPost + "Content-Length: -1\r\n\r\n", 0, 400, 1},
    {"two different lengths", kPost + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab", 0, 400, 1},
    {"length and chunks", kPost + "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 0, 400, 1},
    {"chunk size that overflows 64 bits", kPost + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFFFF\r\nab", 0,
     413, 1},
    {"chunk size just past 2^64", kPost + "Transfer-Encoding: chunked\r\n\r\n10000000000000001\r\nab", 0, 413, 1},
    {"chunk size that is not hex", kPost + "Transfer-Encoding: chunked\r\n\r\n-1\r\nab", 0, 400, 1},
    {"chunks over the body limit",
     kPost + "Transfer-Encoding: chunked\r\n\r\n" + "8000\r\n" + std::string(0x8000, 'a') + "\r\n8001\r\n", 0, 413, 1},
    {"client that never finishes its request", "GET / HTTP/1.1\r\nHost: x\r\n", 0, 408, 1},
    {"client that sends a byte now and then", "GET / HTTP/1.1\r\nHost: x\r\nX: " + std::string(100, 'a'), 150, 408, 1},
    {"client that says nothing", "", 0, 0, 0},
};

size_t CountStatusLines(const std::string& answer) {
    size_t count = 0;
    for (size_t at = answer.find("HTTP/1.1 "); at != std::string::npos; at = answer.find("HTTP/1.1 ", at + 1)) ++count;
    return count;
}

// check false: again, without looking at the answers, and without the cases that wait for time-outs.
void RunAttacks(Server& server, bool check) {
    for (const AttackCase& attack : kAttacks) {
        if (!check && (attack.status == 408 || attack.status == 0)) continue;
        const auto start = Clock::now();
        Raw client(server.Port());
        if (attack.dripMs)
            client.Drip(attack.bytes, attack.dripMs);
        else
            client.Send(attack.bytes);
        const std::string answer = client.ReadAll();
        if (!check) continue;
        EXPECT_EQ(StatusOf(answer), attack.status) << attack.what << "\n" << answer.substr(0, 200);
        EXPECT_EQ(CountStatusLines(answer), static_cast<size_t>(attack.answers)) << attack.what;
        EXPECT_LT(MsSince(start), kRequestTimeoutMs + 3000) << attack.what;  // within the request time-out
        EXPECT_EQ(server.Client().Send("GET", kLanguages).status, 200) << "after " << attack.what;
    }
}

TEST(SonavireServer, HostileRequestsGetAnErrorOrAClosedConnectionAndOthersAreStillServed) {
    TempDir dir;
    Server server(dir, kTightLimits, {"ASAN_OPTIONS=quarantine_size_mb=0"});
    RunAttacks(server, true);
    EXPECT_TRUE(server.Client().Requests("/hidden").empty());  // the hidden request was never read

    // Round after round of the same attacks, the server's memory stays where it was, and when it
    // stops nothing has leaked (LeakSanitizer ends the process with an error otherwise).
    for (int round = 0; round < 5; ++round) RunAttacks(server, false);
    const long before = server.RssKb();
    for (int round = 0; round < 30; ++round) RunAttacks(server, false);
    const long after = server.RssKb();
    printf("server RSS: %ld kB after 5 rounds of attacks, %ld kB after 30 more\n", before, after);
    EXPECT_LT(after - before, 4096) << before << " kB, then " << after << " kB";
    EXPECT_EQ(server.Stop(), 0) << server.Log().substr(server.Log().size() > 4000 ? server.Log().size() - 4000 : 0);
}

// A connection that has sent half a request and been taken (not answered 503 at once).
std::unique_ptr<Raw> Hang(int port) {
    const auto start = Clock::now();
    for (;;) {
        auto client = std::make_unique<Raw>(port);
        client->Send("GET / HTTP/1.1\r\n");
        if (MsSince(start) > 5000) return client;
        if (!client->ReadAll(100).empty()) continue;  // refused: a slot is still being freed
        return client;
    }
}

TEST(SonavireServer, ClientsHoldingEveryConnectionButOneLeaveOthersServedAndNewcomersAreToldAtOnce) {
    TempDir dir;
    Server server(dir, {"--max-connections", "8", "--idle-timeout-ms", "3000", "--request-timeout-ms", "3000"});
    std::vector<std::unique_ptr<Raw>> hanging;
    for (int i = 0; i < 7; ++i) hanging.push_back(Hang(server.Port()));
    EXPECT_EQ(server.Client().Send("GET", kLanguages).status, 200);
    hanging.push_back(Hang(server.Port()));
    const auto start = Clock::now();
    EXPECT_EQ(server.Client().Send("GET", kLanguages).status, 503);
    EXPECT_LT(MsSince(start), 500);
    for (auto& client : hanging) EXPECT_EQ(StatusOf(client->ReadAll()), 408);
    hanging.clear();
    int status = 0;
    while (status != 200 && MsSince(start) < 10000) status = server.Client().Send("GET", kLanguages).status;
    EXPECT_EQ(status, 200);
}

TEST(SonavireServer, PersistentConnectionsServeRequestsInTurnAndCloseWhenIdleOrAsked) {
    TempDir dir;
    Server server(dir, {"--keep-alive-ms", "300"});
    const std::string get = "GET " + kLanguages + " HTTP/1.1\r\nHost: x\r\n\r\n";
    Raw client(server.Port());
    for (int i = 0; i < 3; ++i) {
        client.Send(get);
        const std::string answer = client.ReadOne();
        EXPECT_EQ(StatusOf(answer), 200) << i;
        EXPECT_EQ(answer.find("Connection: close"), std::string::npos);
    }
    const auto start = Clock::now();
    EXPECT_EQ(client.ReadAll(), "");  // silent past the keep-alive time: closed
    EXPECT_LT(MsSince(start), 2000);

    // Pipelined: answered in order, the last one asked to close the connection.
    Raw pipelined(server.Port());
    pipelined.Send(get + "GET /missing HTTP/1.1\r\n\r\n" + "GET " + kLanguages +
                   " HTTP/1.1\r\nConnection: close\r\n\r\n" + get);
    const std::string answers = pipelined.ReadAll();
    EXPECT_EQ(CountStatusLines(answers), 3u) << answers;
    const size_t missing = answers.find("HTTP/1.1 404");
    EXPECT_TRUE(missing != std::string::npos && missing > 0 &&
                answers.find("HTTP/1.1 200", missing) != std::string::npos);
    EXPECT_NE(answers.find("Connection: close"), std::string::npos);
}

TEST(SonavireServer, OnePeerHoldsAtMostItsShareOfConnections) {
    TempDir dir;
    Server server(dir, {"--max-per-peer", "3", "--idle-timeout-ms", "3000", "--request-timeout-ms", "3000"});
    std::vector<std::unique_ptr<Raw>> hanging;
    for (int i = 0; i < 3; ++i) hanging.push_back(Hang(server.Port()));
    Raw over(server.Port());
    over.Send("GET " + kLanguages + " HTTP/1.1\r\n\r\n");
    const std::string refused = over.ReadAll(2000);
    EXPECT_EQ(StatusOf(refused), 429);
    EXPECT_NE(refused.find("Retry-After: "), std::string::npos);
    Raw other(server.Port(), "127.0.0.2");  // another address is still served
    other.Send("GET " + kLanguages + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(other.ReadAll()), 200);
}

}  // namespace

namespace {

TEST(SonavireServer, LookupsSeeWhatAnImportWritesWhileTheServerRuns) {
    TempDir dir;
    const std::string folder = dir.path + "/lyrics";
    mkdir(folder.c_str(), 0755);
    std::ofstream(folder + "/a.lrc") << "[ar:Kestrel]\n[ti:Dawn]\n[00:01.00]first words\n";
    EXPECT_EQ(Command(dir, {"import", folder}), 0);
    Server server(dir, {});
    const std::string dawn = "/sonavire/services/getLyricXML_2?artist=Kestrel&title=Dawn";
    const std::string dusk = "/sonavire/services/getLyricXML_2?artist=Kestrel&title=Dusk";
    for (int i = 0; i < 2; ++i) EXPECT_NE(server.Client().Get(dawn).find("first words"), std::string::npos);
    EXPECT_EQ(server.Client().Get(dusk).find("evening"), std::string::npos);
    std::ofstream(folder + "/a.lrc") << "[ar:Kestrel]\n[ti:Dawn]\n[00:01.00]second words\n";
    std::ofstream(folder + "/b.lrc") << "[ar:Kestrel]\n[ti:Dusk]\n[00:01.00]evening\n";
    EXPECT_EQ(Command(dir, {"import", folder}), 0);
    EXPECT_NE(server.Client().Get(dawn).find("second words"), std::string::npos);
    EXPECT_NE(server.Client().Get(dusk).find("evening"), std::string::npos);
}

}  // namespace

// LRC as editors write it, each behaviour in a small file of its own, read by import and written
// back by export; files that are no regular files are refused without being read.
TEST(SonavireServer, ImportReadsLrcAsPeopleWriteItAndExportWritesItBack) {
    TempDir dir;
    const std::string in = dir.path + "/in", out = dir.path + "/out";
    ASSERT_EQ(mkdir(in.c_str(), 0700) | mkdir(out.c_str(), 0700), 0);
    std::ofstream(in + "/offset.lrc") << "[ar:A]\n[ti:Offset]\n[offset:+500]\n[00:01.00]one\n[00:00.20]two\n";
    std::ofstream(in + "/words.lrc") << "[ar:A]\n[ti:Words]\n[00:02.00]<00:02.00>Hello <00:02.50>world\n";
    std::ofstream(in + "/range.lrc") << "[ar:A]\n[ti:Range]\n[75:00.00]later\n[00:61.00]late\n";
    std::ofstream(in + "/stray.lrc") << "[ar:A]\n[ti:Stray]\n[00:01.00]kept\nno stamp here\n[00:1x.00]bad\n";
    ASSERT_EQ(symlink((in + "/offset.lrc").c_str(), (in + "/link.lrc").c_str()), 0);
    ASSERT_EQ(mkfifo((in + "/fifo.lrc").c_str(), 0600), 0);
    ASSERT_EQ(truncate((std::ofstream(in + "/huge.lrc"), in + "/huge.lrc").c_str(), 5 << 20), 0);

    EXPECT_EQ(Command(dir, {"import", in}), 0);  // a FIFO would hang it
    const std::string log = ReadFile(dir.path + "/commands.log");
    for (const char* said : {"link.lrc skipped: a symbolic link", "fifo.lrc skipped: not a regular file",
                             "huge.lrc skipped: larger than 4 MiB", "stray.lrc: line 4: no time stamp",
                             "stray.lrc: line 5: a time stamp it cannot read", "sonavire-server: 4 songs"}) {
        EXPECT_NE(log.find(said), std::string::npos) << said << "\n" << log;
    }
    EXPECT_EQ(Command(dir, {"export", out}), 0);
    const auto lines = [&](const std::string& title) {
        const std::string text = ReadFile(out + "/A - " + title + ".lrc");
        return text.substr(text.find("]\n[ti:") + 8 + title.size());
    };
    EXPECT_EQ(lines("Offset"), "[00:00.00]two\n[00:00.50]one\n");  // earlier by 500 ms, not below 0
    EXPECT_EQ(lines("Words"), "[00:02.00]Hello world\n");
    EXPECT_EQ(lines("Range"), "[01:01.00]late\n[75:00.00]later\n");
    EXPECT_EQ(lines("Stray"), "[00:01.00]kept\n");
    EXPECT_NE(Command(dir, {"export", out}), 0);  // never over files already there
}

// What one client may do in a minute, versions kept and the size of a song, in any mode; a
// re-timed song comes back from export with its stamps.
TEST(SonavireServer, LimitsWritesAndPasswordChecksPerClientAndKeepsSongsServable) {
    TempDir dir;
    Server server(dir, {"--write-limit", "4", "--sign-in-limit", "2", "--max-versions", "2"});
    svtest::StandinClient client = server.Client();
    EXPECT_EQ(Verify(server, "nobody", "a"), "false");
    EXPECT_EQ(Verify(server, "nobody", "b"), "false");
    const svtest::HttpReply guess = client.Send("GET", kVerify + "?username=nobody&password=c");
    EXPECT_EQ(guess.status, 429);
    EXPECT_GT(atoi(guess.Header("Retry-After").c_str()), 0);

    const std::string upload =
        "/sonavire/services/setLyrics.php?lang=&artist=Blue%20Harbour&title=Night%20Train&user=x";
    // Escaped, this would pass the plug-in's 2 MiB reply limit: refused, the song stays servable.
    EXPECT_EQ(client.Send("POST", upload, "[00:01.00] " + std::string(600000, '<')).status, 413);
    for (const char* body : {"[00:01.00] a", "[00:02.00] b", "[00:01.23] re[01:02.34] timed"}) {
        EXPECT_EQ(client.Send("POST", upload, body).status, 200) << body;
    }
    EXPECT_EQ(client.Send("POST", upload, "[00:03.00] c").status, 429);
    EXPECT_EQ(Sql(dir.path + "/store.db",
                  "SELECT COUNT(*) FROM versions v JOIN songs s ON s.id = v.song_id"
                  " WHERE s.title = 'Night Train' AND s.language = ''"),
              "2|");
    EXPECT_EQ(client.Send("GET", kLanguages).status, 200);  // reading is not limited

    ASSERT_EQ(Command(dir, {"export", dir.path}), 0);
    EXPECT_NE(ReadFile(dir.path + "/Blue Harbour - Night Train.lrc").find("\n[00:01.23]re\n[01:02.34]timed\n"),
              std::string::npos);
}

TEST(SonavireServer, RequireSignInCreditsTheMemberAndAFloodOfSignInsIsToldBusyAtOnce) {
    TempDir dir;
    ASSERT_EQ(Command(dir, {"user", "add", "anna"}, "pw\n"), 0);
    Server server(dir, {"--require-sign-in", "--sign-in-limit", "0"});
    const auto post = [&](const std::string& credentials) {
        Raw raw(server.Port());
        const std::string body = "[00:01.00] signed";
        raw.Send("POST /sonavire/services/setLyrics.php?artist=A&title=T&user=mallory HTTP/1.1\r\nHost: x\r\n" +
                 (credentials.empty() ? "" : "Authorization: Basic " + credentials + "\r\n") +
                 "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        return raw.ReadAll();
    };
    const std::string anonymous = post("");
    EXPECT_EQ(StatusOf(anonymous), 401);
    EXPECT_NE(anonymous.find("WWW-Authenticate: Basic"), std::string::npos);
    EXPECT_EQ(StatusOf(post("YW5uYTp3cm9uZw==")), 401);  // anna:wrong
    EXPECT_EQ(StatusOf(post("YW5uYTpwdw==")), 200);      // anna:pw
    EXPECT_EQ(Sql(dir.path + "/store.db", "SELECT author FROM versions"), "anna|");
    // The editor page asks for the member's password and sends it with the lyrics.
    const std::string editor = server.Client().Get("/wiki/wmp/editLyrics.php?artist=A&title=T&user=anna");
    EXPECT_NE(editor.find("type=\"password\" name=\"password\""), std::string::npos) << editor;
    const std::string form = "artist=A&title=T&lrc=%5B00%3A02.00%5D+edited&user=anna&password=";
    EXPECT_EQ(server.Client().Send("POST", "/wiki/wmp/editLyrics.php", form + "wrong").status, 401);
    EXPECT_EQ(server.Client().Send("POST", "/wiki/wmp/editLyrics.php", form + "pw").status, 200);

    // More sign-ins at once than the hash queue holds: the rest hear 503 at once, not in turn. Every
    // connection is open before any request goes, so the requests meet at the queue however slowly
    // the machine starts threads; a round on a machine too slow to fill it is tried again.
    int busy = 0;
    for (int round = 0; round < 5 && busy == 0; ++round) {
        std::vector<std::unique_ptr<Raw>> flood;
        for (int i = 0; i < 24; ++i) flood.push_back(std::make_unique<Raw>(server.Port()));
        const auto start = Clock::now();
        for (auto& raw : flood) {
            raw->Send("GET " + kVerify + "?username=anna&password=x HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        }
        std::vector<std::future<std::pair<int, long long>>> answers;
        for (auto& raw : flood) {
            answers.push_back(std::async(std::launch::async, [&raw, start] {
                const int status = StatusOf(raw->ReadAll());
                return std::make_pair(status, MsSince(start));
            }));
        }
        for (auto& answer : answers) {
            const auto [status, ms] = answer.get();
            if (status == 503) {
                ++busy;
                EXPECT_LT(ms, 1000);
            }
        }
    }
    EXPECT_GT(busy, 0);
}

// Behind a trusted front, the connection cap and the write limit count the address it forwards
// for (the right-most one not itself a proxy); from anyone else the header changes nothing.
TEST(SonavireServer, BehindATrustedProxyLimitsCountTheForwardedClientOnly) {
    TempDir dir;
    Server server(dir, {"--trusted-proxy", "127.0.0.2", "--max-per-peer", "2", "--write-limit", "1"});
    const auto ask = [&](Raw& raw, const std::string& forwarded, bool write = false) {
        const std::string target = write ? "/sonavire/services/setLyrics.php?artist=A&title=T" : kLanguages;
        const std::string body = write ? "[00:01.00] a" : "";
        raw.Send((write ? "POST " : "GET ") + target + " HTTP/1.1\r\nX-Forwarded-For: " + forwarded +
                 "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        return StatusOf(raw.ReadOne());
    };
    std::vector<std::unique_ptr<Raw>> held;
    for (int i = 0; i < 4; ++i) held.push_back(std::make_unique<Raw>(server.Port(), "127.0.0.2"));
    EXPECT_EQ(ask(*held[0], "9.9.9.9"), 200);
    EXPECT_EQ(ask(*held[1], "9.9.9.9"), 200);
    EXPECT_EQ(ask(*held[2], "9.9.9.9"), 429);
    EXPECT_EQ(ask(*held[3], "8.8.8.8"), 200);  // the proxy itself is not capped as one peer

    Raw proxy1(server.Port(), "127.0.0.2"), proxy2(server.Port(), "127.0.0.2"), proxy3(server.Port(), "127.0.0.2");
    EXPECT_EQ(ask(proxy1, "7.7.7.7", true), 200);
    EXPECT_EQ(ask(proxy2, "7.7.7.7", true), 429);
    EXPECT_EQ(ask(proxy3, "7.7.7.7, 6.6.6.6, 127.0.0.2", true), 200);  // 7.7.7.7 is the client's own word
    Raw direct1(server.Port()), direct2(server.Port());
    EXPECT_EQ(ask(direct1, "4.4.4.4", true), 200);
    EXPECT_EQ(ask(direct2, "3.3.3.3", true), 429);  // not a proxy: both are 127.0.0.1
}
