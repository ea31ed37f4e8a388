// The test programs' entry point: the frame server serves trim scripts to the
// engine and the probe, as in the programs, and GoogleTest runs the suites.
#include "framesrv/frame_server.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    clipmora::framesrv::InstallFrameServer();
    return RUN_ALL_TESTS();
}
