// The module's Windows tests run on one apartment thread, as the player's UI thread would.
#include <gtest/gtest.h>

#include "module/win_handles.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    sv::ScopedCoInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result())) return 2;
    return RUN_ALL_TESTS();
}
