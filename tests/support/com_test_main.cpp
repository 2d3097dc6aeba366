// The main of the Windows test executables: the tests run on a single-threaded apartment's thread,
// as the plug-in does on the player's user-interface thread (MSXML, the browser and the page
// script need COM there too).
#include <gtest/gtest.h>

#include "base/win_handles.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    sv::ScopedCoInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result())) return 3;
    return RUN_ALL_TESTS();
}
