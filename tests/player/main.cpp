// The player tests run in a single-threaded apartment, as the player's user-interface thread does.
#include <gtest/gtest.h>

#include "module/win_handles.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    sv::ScopedCoInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result())) return 3;
    return RUN_ALL_TESTS();
}
