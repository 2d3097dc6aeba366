// The plug-in's code runs here as in the player: on a single-threaded apartment's thread, with the
// module started (the bitmaps measured into the settings record) as DllGetClassObject starts it.
#include <gtest/gtest.h>

#include "module/application.h"
#include "module/win_handles.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    sv::ScopedCoInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result())) return 3;
    sv::StartApplication();
    return RUN_ALL_TESTS();
}
