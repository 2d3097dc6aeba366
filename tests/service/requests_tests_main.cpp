// The request tests under Windows: MSXML needs COM on the test thread (the language list is read
// there, as on the user-interface thread).
#include <gtest/gtest.h>

#include "module/win_handles.h"

int main(int argc, char** argv) {
    sv::ScopedCoInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result())) return 2;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
