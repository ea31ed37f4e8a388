// Reading the generated clips' frame numbers back from pictures the preview
// shows or saves.
#pragma once

#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"

#include <QImage>

namespace clipmora::testing {

// The frame number in `picture`'s pattern band (the picture must be the
// whole source picture, at any size); -1 when none can be read.
inline int PicturePattern(const QImage& picture)
{
    if (picture.isNull())
        return -1;
    const QImage gray = picture.convertToFormat(QImage::Format_Grayscale8);
    return FramePatternValue(gray.constBits(), static_cast<int>(gray.bytesPerLine()), gray.width(),
                             gray.height());
}

// A 320x240, 25 fps, 3 s H.264/AAC clip whose pictures carry their numbers,
// made once per test process.
inline std::string PreviewPatternClip()
{
    MediaSpec spec = Mp4H264Aac();
    spec.width = 320;
    spec.height = 240;
    spec.seconds = 3.0;
    return CachedMedia("preview_pattern.mp4", spec);
}

}  // namespace clipmora::testing
