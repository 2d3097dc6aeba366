// For the native generated-input runs: a batch of inputs in a child process of its own, so that a
// crash, or a sanitizer's report, ends only that batch and is counted.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

namespace tools {

// Runs work in a forked child and gives back the text it returned; nothing when the child did not
// exit normally with status 0 (a signal, a sanitizer's abort) or no pipe could be made.
inline std::optional<std::string> RunInChild(const std::function<std::string()>& work) {
    int channel[2];
    if (pipe(channel) != 0) return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const std::string out = work();
        (void)!write(channel[1], out.data(), out.size());
        _exit(0);
    }
    close(channel[1]);
    std::string reply;
    char buffer[4096];
    ssize_t got;
    while ((got = read(channel[0], buffer, sizeof buffer)) > 0) reply.append(buffer, static_cast<size_t>(got));
    close(channel[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return reply;
}

}  // namespace tools
