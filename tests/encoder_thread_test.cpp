// The video encoder's own thread: every picture sent comes back encoded, in
// order, up to the end of the stream; a failing encoder is reported, not
// waited for; stopping with pictures still queued loses nothing but them.
#include "engine/encoder_thread.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace clipmora {
namespace {

constexpr int kWidth = 64, kHeight = 48;

class EncoderThreadTest : public ::testing::Test {
protected:
    void SetUp() override { testing::BindLibrariesForTests(); }

    // An open MPEG-4 encoder with B-frames, so packets come out in an order
    // other than the pictures went in.
    CodecContextPtr openEncoder()
    {
        const AVCodec* codec = lib.avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        CodecContextPtr encoder(lib.avcodec_alloc_context3(codec));
        encoder->width = kWidth;
        encoder->height = kHeight;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->time_base = AVRational{1, 25};
        encoder->max_b_frames = 2;
        encoder->thread_count = 0;
        EXPECT_GE(lib.avcodec_open2(encoder.get(), codec, nullptr), 0);
        return encoder;
    }

    // Picture `n`: a grey level of its own, so each one codes differently.
    FramePtr picture(int n)
    {
        FramePtr frame(lib.av_frame_alloc());
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = kWidth;
        frame->height = kHeight;
        EXPECT_GE(lib.av_frame_get_buffer(frame.get(), 0), 0);
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? kHeight : kHeight / 2;
            for (int y = 0; y < rows; ++y)
                std::fill_n(frame->data[plane] + y * frame->linesize[plane],
                            plane == 0 ? kWidth : kWidth / 2, static_cast<uint8_t>(n * 7));
        }
        frame->pts = n;
        return frame;
    }
};

TEST_F(EncoderThreadTest, EveryPictureComesBackOnceUpToTheEnd)
{
    const CodecContextPtr encoder = openEncoder();
    std::vector<int64_t> pts;
    {
        EncoderThread thread(encoder.get(), 2);
        constexpr int kPictures = 40;
        for (int n = 0; n < kPictures; ++n) {
            // The sender may reuse its picture at once: the thread holds its
            // own reference.
            FramePtr frame = picture(n);
            ASSERT_TRUE(thread.Send(frame.get()));
            frame.reset();
            while (PacketPtr packet = thread.Receive(false))
                pts.push_back(packet->pts);
        }
        ASSERT_TRUE(thread.Send(nullptr));
        while (PacketPtr packet = thread.Receive(true))
            pts.push_back(packet->pts);
        EXPECT_FALSE(thread.Failed());
        EXPECT_EQ(thread.Receive(true), nullptr);  // the end stays the end
        ASSERT_EQ(pts.size(), static_cast<std::size_t>(kPictures));
    }
    std::sort(pts.begin(), pts.end());
    for (int n = 0; n < static_cast<int>(pts.size()); ++n)
        EXPECT_EQ(pts[n], n);
}

TEST_F(EncoderThreadTest, AFailingEncoderIsReportedWithoutWaiting)
{
    // A context that was never opened refuses every picture.
    CodecContextPtr unopened(lib.avcodec_alloc_context3(nullptr));
    EncoderThread thread(unopened.get(), 1);
    const FramePtr frame = picture(0);
    bool refused = false;
    // The first picture may be queued before the failure is known; the
    // failure then shows on the next send, and a waiting receive ends.
    for (int n = 0; n < 3 && !refused; ++n)
        refused = !thread.Send(frame.get());
    EXPECT_TRUE(refused);
    EXPECT_EQ(thread.Receive(true), nullptr);
    EXPECT_TRUE(thread.Failed());
    EXPECT_FALSE(thread.Send(frame.get()));
    EXPECT_FALSE(thread.Send(nullptr));
}

TEST_F(EncoderThreadTest, StoppingWithPicturesQueuedReleasesThem)
{
    for (int round = 0; round < 5; ++round) {
        const CodecContextPtr encoder = openEncoder();
        EncoderThread thread(encoder.get(), 8);
        for (int n = 0; n < 8; ++n)
            ASSERT_TRUE(thread.Send(picture(n).get()));
        // Destroyed here without an end: the thread stops and joins, and the
        // queued references are freed (the sanitizer build checks for leaks).
    }
}

}  // namespace
}  // namespace clipmora
