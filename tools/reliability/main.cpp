// sonavire-reliability: Sonavire.dll in the stand-in player against the stand-in service while the
// service, the network or the player misbehave; prints figures ("figure<TAB>name<TAB>value"), one
// run a process, so that a crash ends only its own row. scripts/reliability.sh runs every row for
// each width and prints the table.
//
//   sonavire-reliability faults KIND [ROUNDS]   one kind of broken service, ROUNDS lookups (200)
//   sonavire-reliability unload [ROUNDS]        the plug-in released and the DLL freed with
//                                               requests in flight (100)
//   sonavire-reliability storm [SECONDS] [RATE] track changes at RATE a second (30, 50)
//   sonavire-reliability teardown WHAT [ROUNDS] the main window destroyed in the middle of a
//                                               fetch, save, sign-in or page call (10)
//
// Needs SONAVIRE_STANDIN (scripts/with-standin.sh) and the DLL registered in the prefix.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "scenarios.h"
#include "standin_client.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: sonavire-reliability faults KIND [ROUNDS] | unload [ROUNDS] | storm [SECONDS] "
                     "[RATE] | teardown WHAT [ROUNDS]\n");
        return 2;
    }
    const std::string scenario = argv[1];
    const auto number = [&](int index, int fallback) { return argc > index ? std::atoi(argv[index]) : fallback; };
    if (FAILED(OleInitialize(nullptr))) return 1;
    int status = 2;
    try {
        svtest::StandinClient service = svtest::StandinClient::FromEnvironment();
        reliability::Context context{service};
        if (scenario == "faults" && argc >= 3) {
            status = reliability::RunFault(context, argv[2], number(3, 200));
        } else if (scenario == "unload") {
            status = reliability::RunUnloadRounds(context, number(2, 100));
        } else if (scenario == "storm") {
            status = reliability::RunStorm(context, number(2, 30), number(3, 50));
        } else if (scenario == "teardown" && argc >= 3) {
            status = reliability::RunTeardown(context, argv[2], number(3, 10));
        } else {
            std::fprintf(stderr, "sonavire-reliability: unknown run %s\n", scenario.c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sonavire-reliability: %s\n", e.what());
        status = 1;
    }
    if (status == 0) std::printf("figure\tcompleted\tyes\n");
    std::fflush(stdout);
    OleUninitialize();
    return status;
}
