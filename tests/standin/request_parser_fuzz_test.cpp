// The fast form of the generated-input run of the request parser (request-parser-fuzz runs the
// long one): every input read whole and in pieces alike, within the limits, and the run reaching
// every kind of ending.
#include <gtest/gtest.h>

#include "request_fuzz.h"

TEST(RequestParserFuzz, GeneratedInputsReadAlikeWholeAndInPiecesWithinTheLimits) {
    standin::FuzzReport report;
    standin::FuzzRequestParser(7, 3000, report);
    EXPECT_EQ(report.disagreements, 0) << report.firstProblem;
    EXPECT_EQ(report.inputs, 3000);
    EXPECT_GT(report.requests, 600);
    EXPECT_GT(report.incomplete, 0);
    for (int status : {400, 413, 414, 431, 501, 505}) EXPECT_GT(report.refused[status], 0) << status;
}

TEST(RequestParserFuzz, InputsDependOnlyOnSeedAndNumber) {
    EXPECT_EQ(standin::GenerateRequest(3, 41), standin::GenerateRequest(3, 41));
    EXPECT_NE(standin::GenerateRequest(3, 41), standin::GenerateRequest(3, 42));
    EXPECT_NE(standin::GenerateRequest(3, 41), standin::GenerateRequest(4, 41));
}
