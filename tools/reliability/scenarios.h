// The reliability runs. Each returns 0 when it ran to its end (its figures say how the plug-in
// did), else non-zero (the run itself could not be set up).
#pragma once
#include <string>

#include "standin_client.h"

namespace reliability {

struct Context {
    svtest::StandinClient& service;
};

int RunFault(Context& context, const std::string& kind, int rounds);
int RunUnloadRounds(Context& context, int rounds);
int RunStorm(Context& context, int seconds, int rate);
int RunTeardown(Context& context, const std::string& what, int rounds);

}  // namespace reliability
