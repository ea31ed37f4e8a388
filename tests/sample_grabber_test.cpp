// Media types and their stored form, and the frame grabber in a preview
// graph: the picture it hands out is the one on screen, at the source's size.
#include "preview/filter_graph.h"
#include "preview/media_type.h"
#include "preview/sample_grabber.h"
#include "preview/video_window.h"
#include "preview/wav_player.h"
#include "tests/support/media_generator.h"
#include "tests/support/picture_pattern.h"
#include "tests/support/qt_application.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>

#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>
#include <functional>
#include <thread>

namespace clipmora {
namespace {

bool waitFor(const std::function<bool()>& done, int milliseconds = testing::kEventWaitMs)
{
    return testing::WaitUntil(done, milliseconds);
}

int patternOf(const QImage& picture) { return testing::PicturePattern(picture); }

TEST(MediaTypeTest, NewTypesAndTheGrabbersStoredForm)
{
    const TMediaType fresh;
    const std::vector<uint8_t> data = fresh.Data();
    ASSERT_EQ(data.size(), 72u);
    for (size_t at = 0; at < 72; ++at) {
        const bool fixedSizeSamples = at >= 32 && at < 36;
        const uint8_t expected = fixedSizeSamples ? 0xFF : at == 40 ? 1 : 0;
        EXPECT_EQ(data[at], expected) << at;
    }

    // 24-bit RGB video with the video-info format type and no format block.
    TMediaType grabber;
    grabber.majortype = kMediaTypeVideo;
    grabber.subtype = kMediaSubtypeRgb24;
    grabber.formattype = kFormatVideoInfo;
    const std::vector<uint8_t> stored = grabber.Data();
    const uint8_t videoGuid[16] = {0x76, 0x69, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00,
                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    EXPECT_TRUE(std::equal(videoGuid, videoGuid + 16, stored.begin()));
    EXPECT_EQ(stored[16], 0x7D);  // E436EB7D, little-endian
    EXPECT_EQ(stored[19], 0xE4);
    EXPECT_EQ(stored[44], 0x80);  // 05589F80
    EXPECT_EQ(TSampleGrabber().MediaType(), grabber);

    const std::optional<TMediaType> back = TMediaType::FromData(stored);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, grabber);
    EXPECT_TRUE(back->bFixedSizeSamples);
    EXPECT_FALSE(TMediaType::FromData(std::vector<uint8_t>(71, 0)));
    std::vector<uint8_t> truncated = TMediaType::Rgb24Video(4, 4).Data();
    truncated.pop_back();
    EXPECT_FALSE(TMediaType::FromData(truncated)) << "a format block cut short";
}

TEST(MediaTypeTest, EqualityAndPictureHeaders)
{
    TMediaType a = TMediaType::Rgb24Video(320, 240);
    TMediaType b = a;
    b.lSampleSize = 7;  // not part of equality
    EXPECT_EQ(a, b);
    b.format[60] ^= 1;
    EXPECT_FALSE(a == b);

    const std::optional<TBitmapHeader> header = a.BitmapHeader();
    ASSERT_TRUE(header);
    EXPECT_EQ(header->width, 320);
    EXPECT_EQ(header->height, 240);
    EXPECT_EQ(header->bitCount, 24);
    EXPECT_EQ(header->PictureSize(), 320 * 3 * 240);

    TMediaType second = a;
    second.formattype = kFormatVideoInfo2;
    EXPECT_FALSE(second.BitmapHeader()) << "a second-generation block is 112 bytes";
    second.format.insert(second.format.begin() + 48, 24, 0);
    ASSERT_TRUE(second.BitmapHeader());
    EXPECT_EQ(second.BitmapHeader()->width, 320);
    TMediaType odd = a;
    odd.format.push_back(0);
    EXPECT_FALSE(odd.BitmapHeader());

    TBitmapHeader fifteen;
    fifteen.width = 3;
    fifteen.height = -2;
    fifteen.bitCount = 15;
    EXPECT_EQ(fifteen.Stride(), 8) << "15 bits count as 16, rows padded to four bytes";
    EXPECT_EQ(fifteen.PictureSize(), 16);
}

TEST(WavPlayerTest, PlaysTheShutterSoundToItsEndAndRefusesGarbage)
{
    QFile sound(QStringLiteral(CLIPMORA_SOURCE_DIR "/app/resources/snap.wav"));
    ASSERT_TRUE(sound.open(QIODevice::ReadOnly));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(PlayWavSynchronously(sound.readAll()));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150))
        << "it returns only when the sound has been played";
    EXPECT_FALSE(PlayWavSynchronously(QByteArray("RIFF not a sound at all")));
    EXPECT_FALSE(PlayWavSynchronously(QByteArray()));
}

class GrabberTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing::EnsureApplication(); }
    void SetUp() override
    {
        testing::BindLibrariesForTests();
        window.setObjectName(QStringLiteral("VideoWindow1"));
        window.SetMode(vmVMR);
        window.resize(383, 283);  // letter-boxes a 4:3 picture a little
        window.show();
        window.SetFilterGraph(&graph);
        grabber.setObjectName(QStringLiteral("SampleGrabber1"));
        grabber.SetFilterGraph(&graph);
    }
    void TearDown() override { graph.SetActive(false); }

    static std::string patternClip() { return testing::PreviewPatternClip(); }

    void render()
    {
        graph.SetActive(true);
        ASSERT_EQ(graph.RenderFile(patternClip()), 0);
    }

    TFilterGraph graph;
    TVideoWindow window;
    TSampleGrabber grabber;
};

TEST_F(GrabberTest, HandsOutThePictureOnScreenAtTheSourcesSize)
{
    QImage bitmap;
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap)) << "nothing rendered yet";
    render();
    EXPECT_FALSE(grabber.CopyFrameToBitmap(nullptr));
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_EQ(bitmap.size(), QSize(320, 240));
    EXPECT_EQ(patternOf(bitmap), 0);
    ASSERT_TRUE(grabber.ConnectedMediaType());
    EXPECT_EQ(*grabber.ConnectedMediaType(), TMediaType::Rgb24Video(320, 240));

    graph.SetPosition(1520);
    ASSERT_TRUE(waitFor([&] { return window.Stats().lastPaintedTimeMs == 1520; }));
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    EXPECT_EQ(patternOf(bitmap), 38);

    // Played and paused: the grabber's picture is the one the window shows.
    // Once the pause has completed no picture arrives any more; the window
    // is painted with the one it holds.
    bool paused = false;
    graph.OnGraphPaused = [&](int) { paused = true; };
    graph.Play();
    ASSERT_TRUE(waitFor([&] { return graph.Position() > 2000; }));
    paused = false;
    graph.Pause();
    ASSERT_TRUE(waitFor([&] { return paused; }));
    window.repaint();
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap));
    const int shownAt = static_cast<int>(window.Stats().lastPaintedTimeMs);
    EXPECT_EQ(patternOf(bitmap), shownAt / 40);
    // The colours of the band: black and white blocks.
    const QColor block = bitmap.pixelColor(10, 10);
    EXPECT_TRUE(block.lightness() < 30 || block.lightness() > 225) << block.lightness();

    // Another type than 24-bit RGB is not handed out.
    TMediaType other = grabber.MediaType();
    other.subtype = kFormatVideoInfo;
    grabber.SetMediaType(other);
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap));
}

TEST_F(GrabberTest, CopiesACallersBitmapRows)
{
    render();
    QImage bitmap;
    const uint8_t one = 0;
    EXPECT_FALSE(grabber.CopyFrameToBitmap(&bitmap, &one, 0));
    // A 320 x 240 bitmap, bottom-up: its first row is the picture's last.
    std::vector<uint8_t> rows(320 * 3 * 240, 0);
    for (int x = 0; x < 320; ++x) {
        rows[x * 3 + 2] = 255;  // red in the bottom row
        rows[(239 * 320 + x) * 3] = 255;  // blue in the top row
    }
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap, rows.data(), static_cast<int>(rows.size())));
    EXPECT_EQ(bitmap.size(), QSize(320, 240));
    EXPECT_EQ(bitmap.pixelColor(5, 239), QColor(Qt::red));
    EXPECT_EQ(bitmap.pixelColor(5, 0), QColor(Qt::blue));
    // A short buffer fills what it has; the rest stays black.
    ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap, rows.data(), 320 * 3));
    EXPECT_EQ(bitmap.pixelColor(5, 239), QColor(Qt::red));
    EXPECT_EQ(bitmap.pixelColor(5, 0), QColor(Qt::black));
}

TEST_F(GrabberTest, OnBufferRunsOnTheStreamingThreadOneAtATime)
{
    std::atomic<int> calls{0};
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> onGuiThread{false};
    std::atomic<int> length{0};
    std::mutex lastLock;
    std::vector<uint8_t> lastRows;  // guarded by lastLock
    double lastTime = -1;           // guarded by lastLock
    const std::thread::id gui = std::this_thread::get_id();
    grabber.OnBuffer = [&](TSampleGrabber&, double sampleTime, const uint8_t* buffer,
                           int bufferLength) {
        overlapped = overlapped || inside.fetch_add(1) > 0;
        onGuiThread = onGuiThread || std::this_thread::get_id() == gui;
        length = bufferLength;
        {
            std::lock_guard guard(lastLock);
            lastRows.assign(buffer, buffer + bufferLength);
            lastTime = sampleTime;
        }
        ++calls;
        inside.fetch_sub(1);
    };
    render();
    graph.Play();
    ASSERT_TRUE(waitFor([&] { return calls > 10; }));
    graph.Pause();
    // The rows are a bitmap's, bottom-up: they read back as the picture.
    {
        std::lock_guard guard(lastLock);
        QImage bitmap;
        ASSERT_TRUE(grabber.CopyFrameToBitmap(&bitmap, lastRows.data(),
                                              static_cast<int>(lastRows.size())));
        EXPECT_EQ(patternOf(bitmap), std::lround(lastTime * 25));
    }
    graph.SetActive(false);
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(onGuiThread);
    EXPECT_EQ(length, 320 * 3 * 240);
}

}  // namespace
}  // namespace clipmora
