// Generated-input run of the request parser: requests built from a grammar of the good, the odd
// and the hostile (huge lengths, overflowing chunk sizes, control characters, folded and
// oversized headers, bodies longer or shorter than announced), then mutated byte by byte. Each
// input is fed twice, whole and in random pieces; the two readings must agree, and what is read
// must respect the limits. Inputs come from a seed, so a run is repeated exactly.
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace standin {

struct FuzzReport {
    long long inputs = 0;
    long long requests = 0;            // read to the end
    long long incomplete = 0;          // still waiting for bytes when the input ended
    std::map<int, long long> refused;  // by status
    long long disagreements = 0;       // whole and piecewise feeding differ, or a limit was passed
    std::string firstProblem;          // the first disagreement, with its input escaped
};

// One generated input of the run seeded with seed, number index.
std::string GenerateRequest(uint64_t seed, long long index);
// Runs count inputs of the seed in this process and adds to report.
void FuzzRequestParser(uint64_t seed, long long count, FuzzReport& report);

}  // namespace standin
