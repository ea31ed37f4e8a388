// The test programs' entry point: the frame server serves trim scripts to the
// engine and the probe, as in the programs, and GoogleTest runs the suites;
// the program ends once its other threads have ended (in the sanitizer
// build it fails when one is left, rather than leave the leak checker to
// race it).
#include "framesrv/frame_server.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    clipmora::framesrv::InstallFrameServer();
    const int result = RUN_ALL_TESTS();
    [[maybe_unused]] const bool alone = clipmora::testing::EndOtherThreads();
#if defined(__SANITIZE_ADDRESS__)
    // The leak check that follows would race the threads still there.
    if (!alone)
        return 1;
#endif
    return result;
}
