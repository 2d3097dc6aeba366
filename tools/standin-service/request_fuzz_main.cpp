// request-parser-fuzz: the generated-input run of the server's request parser, for the
// reliability figures. Runs the inputs in batches, each in a child process, so that a crash (or
// a sanitizer's report, in the native sanitizer build) is counted and the run goes on; prints the
// number of inputs, the crashes and the disagreements, and exits 0 only when both are 0.
//   request-parser-fuzz [--count N] [--seed S] [--batch N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "request_fuzz.h"
#include "run_in_child.h"

int main(int argc, char** argv) {
    long long count = 100000, batch = 5000;
    unsigned long long seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--count")
            count = atoll(argv[i + 1]);
        else if (option == "--seed")
            seed = strtoull(argv[i + 1], nullptr, 10);
        else if (option == "--batch")
            batch = atoll(argv[i + 1]);
        else {
            fprintf(stderr, "usage: request-parser-fuzz [--count N] [--seed S] [--batch N]\n");
            return 2;
        }
    }
    if (count < 0 || batch <= 0) return 2;
    standin::FuzzReport total;
    long long crashes = 0;
    // Batch b runs seed + b, so that every batch, and every input in it, can be run again alone.
    for (long long done = 0, b = 0; done < count; done += batch, ++b) {
        const long long size = std::min(batch, count - done);
        const std::optional<std::string> answer = tools::RunInChild([&] {
            standin::FuzzReport report;
            standin::FuzzRequestParser(seed + static_cast<unsigned long long>(b), size, report);
            std::string out = std::to_string(report.requests) + " " + std::to_string(report.incomplete) + " " +
                              std::to_string(report.disagreements);
            for (const auto& [status, n] : report.refused)
                out += " " + std::to_string(status) + ":" + std::to_string(n);
            return out + "\n" + report.firstProblem;
        });
        total.inputs += size;
        if (!answer) {
            ++crashes;
            fprintf(stderr, "request-parser-fuzz: batch with seed %llu crashed\n",
                    seed + static_cast<unsigned long long>(b));
            continue;
        }
        long long requests = 0, incomplete = 0, disagreements = 0;
        int used = 0;
        const char* text = answer->c_str();
        if (sscanf(text, "%lld %lld %lld%n", &requests, &incomplete, &disagreements, &used) != 3) {
            ++crashes;
            continue;
        }
        total.requests += requests;
        total.incomplete += incomplete;
        total.disagreements += disagreements;
        text += used;
        int statusCode = 0;
        long long n = 0;
        while (sscanf(text, " %d:%lld%n", &statusCode, &n, &used) == 2) {
            total.refused[statusCode] += n;
            text += used;
        }
        const char* problem = strchr(text, '\n');
        if (problem && problem[1] && total.firstProblem.empty()) total.firstProblem = problem + 1;
    }
    std::string refused;
    long long refusedCount = 0;
    for (const auto& [code, n] : total.refused) {
        refused += (refused.empty() ? "" : ", ") + std::to_string(code) + ": " + std::to_string(n);
        refusedCount += n;
    }
    printf("request parser: %lld generated inputs (seeds %llu..%llu), %lld crashes, %lld disagreements\n", total.inputs,
           seed, seed + static_cast<unsigned long long>((count + batch - 1) / batch) - (count > 0 ? 1 : 0), crashes,
           total.disagreements);
    printf("  read %lld requests, refused %lld (%s), %lld incomplete at the end of their input\n", total.requests,
           refusedCount, refused.c_str(), total.incomplete);
    if (!total.firstProblem.empty()) printf("  first disagreement: %s\n", total.firstProblem.c_str());
    return crashes == 0 && total.disagreements == 0 ? 0 : 1;
}
