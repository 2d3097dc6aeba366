// The plug-in runs in a single-threaded apartment, as on the player's user-interface thread.
#include <gtest/gtest.h>

#include "module/win_handles.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    sv::ScopedCoInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result())) return 3;
    return RUN_ALL_TESTS();
}
