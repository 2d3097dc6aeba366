// sonavire-server: the Sonavire lyrics service and community site, for a household or a small
// community, and the server the tests and the demo run the plug-in against (with --test-control).
#include <arpa/inet.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sodium.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "http_server.h"
#include "service.h"
#include "store.h"

namespace {

const char kUsage[] =
    "usage: sonavire-server [serve] [options]      run the lyrics service and community site\n"
    "       sonavire-server import [--db F] DIR...  import the *.lrc files of folders\n"
    "       sonavire-server export [--db F] DIR     write every song and translation to DIR as LRC\n"
    "                                               files that import reads back (DIR must exist)\n"
    "       sonavire-server user add [--db F] NAME  add a community user, or change the password;\n"
    "                                               the password is read from the terminal or\n"
    "                                               from the first line of standard input\n"
    "       sonavire-server user remove [--db F] NAME\n"
    "       sonavire-server user list [--db F]\n"
    "\n"
    "  --db F                 the SQLite store, created and brought up to date when opened\n"
    "                         (default sonavire.db; :memory: keeps nothing)\n"
    "serve options:\n"
    "  --listen ADDR          address to listen on (default 127.0.0.1; 0.0.0.0 or :: for every\n"
    "                         interface); --host is the same\n"
    "  --port N               port (default 8080; 0 picks a free one)\n"
    "  --port-file F          write the port there once listening\n"
    "  --library DIR          import the *.lrc files of DIR at start (unchanged songs stay as they are)\n"
    "  --max-connections N    connections served at once; more are answered 503 (default 512)\n"
    "  --max-per-peer N       connections of one address (IPv6: one /64); more are answered 429\n"
    "                         (default 32)\n"
    "  --trusted-proxy ADDR   a front (a TLS proxy) whose X-Forwarded-For names the client: limits\n"
    "                         per client then count the address it forwards for; repeatable;\n"
    "                         from every other address the header is ignored (default: none)\n"
    "  --max-head-bytes N     request line and headers (default 32768)\n"
    "  --max-body-bytes N     request body (default 2097152)\n"
    "  --idle-timeout-ms N    longest silence of a client (default 15000)\n"
    "  --keep-alive-ms N      longest silence between requests on one connection (default 5000)\n"
    "  --request-timeout-ms N longest time to receive a whole request (default 30000)\n"
    "  --stop-deadline-ms N   on SIGTERM or SIGINT, time left to requests in progress (default 10000)\n"
    "  --require-sign-in      uploads and edits need a member's name and password (HTTP Basic\n"
    "                         authorization, or the editor form's user and password); off by default,\n"
    "                         as the plug-in's uploads carry only a user name\n"
    "  --write-limit N        uploads and edits per client address and minute (default 20; 0: none)\n"
    "  --sign-in-limit N      password checks per client address and minute (default 10; 0: none)\n"
    "  --max-versions N       versions kept of each song, older ones removed (default 20)\n"
    "  --test-control         for tests only: record requests and offer the control API under\n"
    "                         /_control/ (behaviours, record, songs, users) to requests that carry\n"
    "                         the control token in the header X-Sonavire-Control-Token; only on a\n"
    "                         loopback address, and only with --test-control-token-file\n"
    "  --test-control-token-file F  write a fresh random control token there (readable by the\n"
    "                         owner only) before the port file\n";

struct Options {
    std::string command = "serve", subcommand;
    std::vector<std::string> arguments;
    std::string host = "127.0.0.1", portFile, dbPath = "sonavire.db", library, tokenFile;
    int port = 8080;
    bool testControl = false;
    int maxVersions = 20;
    standin::ServiceOptions service;
    standin::ServerLimits limits;
};

[[noreturn]] void Fail(const std::string& message) {
    fprintf(stderr, "sonavire-server: %s\n", message.c_str());
    exit(2);
}

long long Number(const std::string& option, const std::string& text, long long low, long long high) {
    char* end = nullptr;
    errno = 0;
    const long long value = strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
        Fail(option + " wants a number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return value;
}

bool IsLoopback(const std::string& host) {
    unsigned char address[16];
    if (host == "localhost") return true;
    if (inet_pton(AF_INET, host.c_str(), address) == 1) return address[0] == 127;
    if (inet_pton(AF_INET6, host.c_str(), address) == 1) {
        static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        return memcmp(address, loopback, 16) == 0 || (memcmp(address, mapped, 12) == 0 && address[12] == 127);
    }
    return false;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    int i = 1;
    if (i < argc && argv[i][0] != '-') {
        options.command = argv[i++];
        if (options.command == "user" && i < argc && argv[i][0] != '-') options.subcommand = argv[i++];
    }
    const bool serving = options.command == "serve";
    for (; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            fputs(kUsage, stdout);
            exit(0);
        }
        if (option.compare(0, 2, "--") != 0) {
            options.arguments.push_back(option);
            continue;
        }
        if (option == "--test-control" && serving) {
            options.testControl = true;
            continue;
        }
        if (option == "--require-sign-in" && serving) {
            options.service.requireSignIn = true;
            continue;
        }
        if (i + 1 >= argc) Fail(option + " needs a value (see --help)");
        const std::string value = argv[++i];
        constexpr long long kHour = 3600 * 1000;
        if (option == "--db")
            options.dbPath = value;
        else if (!serving)
            Fail("unknown option for " + options.command + ": " + option);
        else if (option == "--listen" || option == "--host")
            options.host = value;
        else if (option == "--port")
            options.port = static_cast<int>(Number(option, value, 0, 65535));
        else if (option == "--port-file")
            options.portFile = value;
        else if (option == "--test-control-token-file")
            options.tokenFile = value;
        else if (option == "--library")
            options.library = value;
        else if (option == "--trusted-proxy") {
            const std::string address = standin::CanonicalAddress(value);
            if (address.empty()) Fail("--trusted-proxy wants an IPv4 or IPv6 address, not " + value);
            options.limits.trustedProxies.push_back(address);
        } else if (option == "--write-limit")
            options.service.writesPerMinute = static_cast<int>(Number(option, value, 0, 1000000));
        else if (option == "--sign-in-limit")
            options.service.signInsPerMinute = static_cast<int>(Number(option, value, 0, 1000000));
        else if (option == "--max-versions")
            options.maxVersions = static_cast<int>(Number(option, value, 1, 100000));
        else if (option == "--max-connections")
            options.limits.maxConnections = static_cast<int>(Number(option, value, 1, 10000));
        else if (option == "--max-head-bytes")
            options.limits.maxHeadBytes = static_cast<size_t>(Number(option, value, 1024, 1 << 24));
        else if (option == "--max-body-bytes")
            options.limits.maxBodyBytes = static_cast<size_t>(Number(option, value, 0, 1LL << 30));
        else if (option == "--max-per-peer")
            options.limits.maxPerPeer = static_cast<int>(Number(option, value, 1, 10000));
        else if (option == "--keep-alive-ms")
            options.limits.keepAliveMs = static_cast<int>(Number(option, value, 1, kHour));
        else if (option == "--idle-timeout-ms")
            options.limits.idleTimeoutMs = static_cast<int>(Number(option, value, 1, kHour));
        else if (option == "--request-timeout-ms")
            options.limits.requestTimeoutMs = static_cast<int>(Number(option, value, 1, kHour));
        else if (option == "--stop-deadline-ms")
            options.limits.stopDeadlineMs = static_cast<int>(Number(option, value, 0, kHour));
        else
            Fail("unknown option " + option + " (see --help)");
    }
    if (options.testControl) {
        // The control API sets passwords and shapes answers: never offered beyond this machine,
        // and only to whoever can read the token file.
        if (!IsLoopback(options.host)) Fail("--test-control listens only on a loopback address (127.0.0.1 or ::1)");
        if (options.tokenFile.empty()) Fail("--test-control needs --test-control-token-file");
    } else if (!options.tokenFile.empty()) {
        Fail("--test-control-token-file goes with --test-control");
    }
    return options;
}

// Written to a temporary name first, so that whoever waits for the file never reads half of it.
bool WriteFileWhole(const std::string& path, const std::string& text, mode_t mode) {
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) return false;
    const bool written =
        fchmod(fd, mode) == 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) != 0 || !written) {
        unlink(temporary.c_str());
        return false;
    }
    return rename(temporary.c_str(), path.c_str()) == 0;
}

std::string RandomToken() {
    if (sodium_init() < 0) Fail("libsodium cannot start");
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[2 * sizeof bytes + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

// From the terminal without echo (asked twice), else the first line of standard input.
std::string ReadPassword() {
    std::string password;
    if (!isatty(STDIN_FILENO)) {
        std::getline(std::cin, password);
        if (!password.empty() && password.back() == '\r') password.pop_back();
        return password;
    }
    termios saved{};
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    const auto ask = [&](const char* prompt) {
        std::string text;
        fputs(prompt, stderr);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::getline(std::cin, text);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        fputs("\n", stderr);
        return text;
    };
    password = ask("Password: ");
    if (ask("Again: ") != password) Fail("the two passwords differ");
    return password;
}

int Users(const Options& options) {
    const std::string& what = options.subcommand;
    if (what != "add" && what != "remove" && what != "list") Fail("user wants add, remove or list (see --help)");
    standin::Store store(options.dbPath);
    if (options.subcommand == "list" && options.arguments.empty()) {
        for (const std::string& name : store.UserNames()) printf("%s\n", name.c_str());
        return 0;
    }
    if (options.arguments.size() != 1 || options.arguments[0].empty())
        Fail("user add|remove wants one NAME (see --help)");
    const std::string& name = options.arguments[0];
    if (options.subcommand == "add") {
        const std::string password = ReadPassword();
        if (password.empty()) Fail("an empty password is not allowed");
        store.SetUser(name, password);
        fprintf(stderr, "sonavire-server: user %s saved\n", name.c_str());
        return 0;
    }
    if (options.subcommand == "remove") {
        if (!store.RemoveUser(name)) {
            fprintf(stderr, "sonavire-server: there is no user %s\n", name.c_str());
            return 1;
        }
        fprintf(stderr, "sonavire-server: user %s removed\n", name.c_str());
        return 0;
    }
    Fail("user list takes no NAME");
}

int Import(const Options& options) {
    if (options.arguments.empty()) Fail("import wants at least one folder (see --help)");
    standin::Store store(options.dbPath);
    standin::Service service(store, standin::ServiceOptions{});
    for (const std::string& folder : options.arguments) {
        const int imported = service.ImportLibrary(folder);
        fprintf(stderr, "sonavire-server: %d songs from %s\n", imported, folder.c_str());
        if (imported == 0) return 1;
    }
    return 0;
}

int Export(const Options& options) {
    if (options.arguments.size() != 1) Fail("export wants one folder (see --help)");
    standin::Store store(options.dbPath);
    const int written = standin::ExportLibrary(store, options.arguments[0]);
    if (written >= 0) fprintf(stderr, "sonavire-server: %d songs to %s\n", written, options.arguments[0].c_str());
    return written >= 0 ? 0 : 1;
}

int Serve(const Options& options) {
    if (!options.arguments.empty()) Fail("unexpected argument " + options.arguments[0] + " (see --help)");
    // Stop signals are taken by one thread with sigwait; every other thread blocks them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    standin::Store store(options.dbPath);
    store.SetMaxVersions(options.maxVersions);
    standin::ServiceOptions serviceOptions = options.service;
    if (options.testControl) {
        serviceOptions.controlToken = RandomToken();
        if (!WriteFileWhole(options.tokenFile, serviceOptions.controlToken + "\n", 0600)) {
            fprintf(stderr, "sonavire-server: cannot write %s\n", options.tokenFile.c_str());
            return 1;
        }
    }
    standin::Service service(store, serviceOptions);
    if (!options.library.empty()) {
        const int imported = service.ImportLibrary(options.library);
        fprintf(stderr, "sonavire-server: %d songs from %s\n", imported, options.library.c_str());
    }
    standin::HttpServer server([&service](const standin::HttpRequest& request) { return service.Handle(request); },
                               options.limits);
    std::string error;
    if (!server.Listen(options.host, options.port, &error)) {
        fprintf(stderr, "sonavire-server: %s\n", error.c_str());
        return 1;
    }
    if (!options.portFile.empty() && !WriteFileWhole(options.portFile, std::to_string(server.Port()) + "\n", 0644)) {
        fprintf(stderr, "sonavire-server: cannot write %s\n", options.portFile.c_str());
        return 1;
    }
    fprintf(stderr, "sonavire-server: listening on %s port %d, store %s%s\n", options.host.c_str(), server.Port(),
            options.dbPath.c_str(), options.testControl ? ", with the test control API" : "");

    std::atomic<bool> signalled{false};
    std::thread signalWaiter([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        signalled = true;
        fprintf(stderr, "sonavire-server: %s, stopping\n", strsignal(received));
        service.Shutdown();
        server.Stop();
    });
    server.Run();
    if (!signalled) pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    fprintf(stderr, "sonavire-server: stopped\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    try {
        if (options.command == "serve") return Serve(options);
        if (options.command == "import") return Import(options);
        if (options.command == "export") return Export(options);
        if (options.command == "user") return Users(options);
        Fail("unknown command " + options.command + " (see --help)");
    } catch (const std::exception& e) {
        fprintf(stderr, "sonavire-server: %s\n", e.what());
        return 1;
    }
}
