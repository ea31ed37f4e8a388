// Assertions on what a file decodes to (DecodedSummary), for the suites that
// check which source pictures an output holds.
#pragma once

#include "tests/support/media_generator.h"

#include <gtest/gtest.h>

namespace clipmora::testing {

// Whether `summary` holds the source's pictures `first` to `last`, each once
// and in order at both ends.
inline ::testing::AssertionResult HoldsPictures(const DecodedSummary& summary, int first,
                                                int last)
{
    if (summary.videoFrames == last - first + 1 && summary.firstFramePattern == first &&
        summary.lastFramePattern == last)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << summary.videoFrames << " pictures from " << summary.firstFramePattern << " to "
           << summary.lastFramePattern << ", expected " << last - first + 1 << " from " << first
           << " to " << last;
}

}  // namespace clipmora::testing
