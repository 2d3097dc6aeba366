// sonavire-standin: the stand-in lyrics service and community site that the tests and the demo
// run the plug-in against.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "http_server.h"
#include "service.h"
#include "store.h"

namespace {

void Usage() {
    fprintf(stderr,
            "usage: sonavire-standin [--host ADDR] [--port N] [--port-file F] [--db F] [--library DIR]\n"
            "                        [--user NAME:PASSWORD]...\n"
            "  --host       address to listen on (default 127.0.0.1)\n"
            "  --port       port, 0 picks a free one (default 0)\n"
            "  --port-file  write the port there once listening\n"
            "  --db         SQLite store, created when missing (default: in memory)\n"
            "  --library    import every *.lrc file of this folder at start\n"
            "  --user       a community user for appVerifyUser (repeatable)\n");
}

// Written to a temporary name first, so that whoever waits for the file never reads half of it.
bool WritePortFile(const std::string& path, int port) {
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << port << "\n";
        if (!file.flush()) return false;
    }
    return rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1", portFile, dbPath = ":memory:", library;
    int port = 0;
    std::vector<std::pair<std::string, std::string>> users;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            Usage();
            return 0;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "sonavire-standin: %s needs a value\n", option.c_str());
            Usage();
            return 2;
        }
        const std::string value = argv[++i];
        if (option == "--host") host = value;
        else if (option == "--port") port = atoi(value.c_str());
        else if (option == "--port-file") portFile = value;
        else if (option == "--db") dbPath = value;
        else if (option == "--library") library = value;
        else if (option == "--user") {
            const size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0) {
                fprintf(stderr, "sonavire-standin: --user wants NAME:PASSWORD\n");
                return 2;
            }
            users.emplace_back(value.substr(0, colon), value.substr(colon + 1));
        } else {
            fprintf(stderr, "sonavire-standin: unknown option %s\n", option.c_str());
            Usage();
            return 2;
        }
    }

    // Stop signals are taken by one thread with sigwait; every other thread blocks them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        standin::Store store(dbPath);
        for (const auto& [name, password] : users) store.SetUser(name, password);
        standin::Service service(store);
        if (!library.empty()) {
            const int imported = service.ImportLibrary(library);
            fprintf(stderr, "sonavire-standin: %d songs from %s\n", imported, library.c_str());
        }
        standin::HttpServer server([&service](const standin::HttpRequest& request) { return service.Handle(request); });
        std::string error;
        if (!server.Listen(host, port, &error)) {
            fprintf(stderr, "sonavire-standin: %s\n", error.c_str());
            return 1;
        }
        if (!portFile.empty() && !WritePortFile(portFile, server.Port())) {
            fprintf(stderr, "sonavire-standin: cannot write %s\n", portFile.c_str());
            return 1;
        }
        fprintf(stderr, "sonavire-standin: listening on %s:%d\n", host.c_str(), server.Port());

        std::atomic<bool> signalled{false};
        std::thread signalWaiter([&] {
            int received = 0;
            sigwait(&stopSignals, &received);
            signalled = true;
            service.Shutdown();
            server.Stop();
        });
        server.Run();
        if (!signalled) pthread_kill(signalWaiter.native_handle(), SIGTERM);
        signalWaiter.join();
        fprintf(stderr, "sonavire-standin: stopped\n");
    } catch (const std::exception& e) {
        fprintf(stderr, "sonavire-standin: %s\n", e.what());
        return 1;
    }
    return 0;
}
