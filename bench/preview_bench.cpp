// preview_bench: how quickly the preview shows a file, follows a dragged
// thumb, seeks exactly and steps by pictures, and whether it keeps up with
// playback.
//
//   preview_bench [FILE]
//
// Without FILE it generates (once, kept in the temporary folder) a
// 1920x1080, 30 fps, 40 s H.264/AAC clip with a key frame every 300
// pictures, the long groups of camera and screen recordings. In a 383 x 283
// video window (the main window's preview area) it
//   - opens the file 5 times: time from RenderFile to the first painted
//     picture;
//   - makes 20 drag moves across it while paused: time from the key-frame
//     seek to the next painted picture;
//   - makes 20 exact seeks (the seek on release) into the middle of groups:
//     time until the target's picture is painted;
//   - steps 20 pictures forward and 20 back from the middle of a group, as
//     the window's frame keys do: time until the neighbouring picture is
//     painted; and 20 steps back each right after an exact seek into the
//     middle of a group;
//   - plays 10 s: pictures rendered and dropped by the renderer.
// Prints the medians. Goals: first picture <= 300 ms, drag move <= 100 ms,
// exact seek <= 400 ms, step forward <= 50 ms, step back <= 100 ms, no
// dropped pictures. Runs under any Qt platform (offscreen by default).
#include "engine/codec_libraries.h"
#include "preview/filter_graph.h"
#include "preview/video_window.h"
#include "bench/bench_support.h"
#include "tests/support/media_generator.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

using namespace clipmora;

constexpr int kGroupLength = 300;

std::string generatedClip()
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.keyFrameInterval = kGroupLength;
    return bench::ShapedClip("clip-1920x1080-30fps-40s-gop300.mp4", spec,
                             {.width = 1920, .height = 1080, .frameRate = 30, .seconds = 40.0,
                              .videoBitRate = 6000000});
}

// Spins the event loop until `done`; the elapsed milliseconds, or -1 after
// ten seconds.
double timeUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 10000)
            return -1;
        QApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return timer.nsecsElapsed() / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The duration of one picture in milliseconds, from what reaches the
// renderer (30 fps when the stream does not say).
double pictureMs(TVideoWindow& window)
{
    GstPadRef pad = GstPadRef::adopt(gst_element_get_static_pad(window.ProvideFilter(), "sink"));
    const double rate = PadFrameRate(pad.get());
    return 1000.0 / (rate > 0 ? rate : 30);
}

void report(const char* what, const std::vector<double>& times, int goal)
{
    std::printf("%-32s median %7.1f ms over %2zu (goal <= %d), slowest %.1f ms\n", what,
                median(times), times.size(), goal,
                times.empty() ? 0.0 : *std::max_element(times.begin(), times.end()));
}

// The preview under measurement: a filter graph showing the clip in a
// window of the main window's preview size, and the measurements on it.
class PreviewBench {
public:
    explicit PreviewBench(const std::string& clip) : clip_(clip)
    {
        window_.setObjectName(QStringLiteral("VideoWindow1"));
        window_.SetMode(vmVMR);
        window_.VMROptions().SetStreams(1);
        window_.resize(383, 283);
        window_.show();
        window_.SetFilterGraph(&graph_);
    }
    ~PreviewBench() { graph_.SetActive(false); }

    // Opens the file 5 times: time from RenderFile to the first painted picture.
    std::vector<double> Opens()
    {
        std::vector<double> opens;
        for (int run = 0; run < 5; ++run) {
            graph_.SetActive(false);
            QElapsedTimer timer;
            timer.start();
            graph_.SetActive(true);
            // The first picture may be painted while RenderFile waits for it.
            const uint64_t before = window_.Stats().framesPainted;
            graph_.RenderFile(clip_);
            timeUntil([&] { return window_.Stats().framesPainted > before; });
            opens.push_back(timer.nsecsElapsed() / 1e6);
        }
        duration_ = graph_.Duration();
        frameMs_ = pictureMs(window_);
        return opens;
    }

    // 20 key-frame seeks as a dragged thumb makes them, while paused.
    std::vector<double> Drags()
    {
        std::vector<double> drags;
        for (int index = 0; index < 20; ++index) {
            const int target = (index * 7919 + 1234) % (duration_ - 500);
            const uint64_t before = window_.Stats().framesPainted;
            QElapsedTimer timer;
            timer.start();
            graph_.SeekNearKeyFrame(target);
            timeUntil([&] { return window_.Stats().framesPainted > before; });
            drags.push_back(timer.nsecsElapsed() / 1e6);
        }
        return drags;
    }

    // 20 exact seeks into the middle of groups, one picture further each time.
    std::vector<double> Seeks()
    {
        std::vector<double> seeks;
        for (int index = 0; index < 20; ++index) {
            const double groupStart =
                std::floor((index * 7919 % (duration_ - 2000)) / groupMs()) * groupMs();
            const double picture = std::round((groupStart + groupMs() / 2) / frameMs_) + index;
            const double start = picture * frameMs_;
            seeks.push_back(timeTo(start, [&] { graph_.SetPosition(int(std::ceil(start))); }));
        }
        return seeks;
    }

    // Steps as the window's frame keys make them, from the middle of a
    // group: to the first millisecond of the neighbouring picture, forward
    // by a step of the graph, back by a seek and the renderer's held picture.
    // Sets `forward` and `back` (20 each) and `backAfterSeek` (20 steps back,
    // each right after an exact seek into the middle of a group).
    void Steps(std::vector<double>& forward, std::vector<double>& back,
               std::vector<double>& backAfterSeek)
    {
        const double middle = std::round(std::min(groupMs() * 1.5, duration_ / 2.0) / frameMs_);
        timeTo(middle * frameMs_, [&] { graph_.SetPosition(startOf(middle)); });
        for (int step = 1; step <= 20; ++step)
            forward.push_back(stepForward(middle + step));
        for (int step = 19; step >= 0; --step)
            back.push_back(stepBack(middle + step));
        const int groups = std::max(1, int(duration_ / groupMs()));
        for (int index = 0; index < 20; ++index) {
            const double picture = std::round(((index % groups) + 0.5) * kGroupLength) + index;
            timeTo(picture * frameMs_, [&] { graph_.SetPosition(startOf(picture)); });
            backAfterSeek.push_back(stepBack(picture - 1));
        }
    }

    // Ten seconds of playback from the start: the renderer's counters over it.
    void Playback()
    {
        graph_.SetPosition(0);
        timeUntil([&] { return window_.Stats().lastPaintedTimeMs == 0; });
        const TVideoWindow::RenderStats start = window_.Stats();
        graph_.Play();
        timeUntil([] { return false; });
        const TVideoWindow::RenderStats end = window_.Stats();
        std::printf("10 s of playback: %llu rendered, %llu dropped (goal 0), %llu painted\n",
                    static_cast<unsigned long long>(end.rendered - start.rendered),
                    static_cast<unsigned long long>(end.dropped - start.dropped),
                    static_cast<unsigned long long>(end.framesPainted - start.framesPainted));
    }

private:
    double groupMs() const { return kGroupLength * frameMs_; }
    int startOf(double picture) const { return int(std::ceil(picture * frameMs_)); }

    // Whether the picture starting at `timeMs` is on screen (an exact seek
    // shows it from the seek's target on).
    bool painted(double timeMs) const
    {
        const int64_t shown = window_.Stats().lastPaintedTimeMs;
        return shown >= std::floor(timeMs) && shown < timeMs + frameMs_;
    }

    // The milliseconds until the picture starting at `timeMs` shows after `seek`.
    double timeTo(double timeMs, const std::function<void()>& seek)
    {
        QElapsedTimer timer;
        timer.start();
        seek();
        timeUntil([&] { return painted(timeMs); });
        return timer.nsecsElapsed() / 1e6;
    }

    double stepForward(double picture)
    {
        return timeTo(picture * frameMs_, [&] {
            if (!graph_.StepForward(startOf(picture)))
                graph_.SetPosition(startOf(picture));
        });
    }

    double stepBack(double picture)
    {
        return timeTo(picture * frameMs_, [&] {
            graph_.SetPosition(startOf(picture));
            window_.ShowHeldPicture(startOf(picture));
        });
    }

    std::string clip_;
    TFilterGraph graph_;
    TVideoWindow window_;
    int duration_ = 0;
    double frameMs_ = 1000.0 / 30;
};

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::string clip = argc > 1 ? std::string(argv[1]) : generatedClip();

    PreviewBench bench(clip);
    const std::vector<double> opens = bench.Opens();
    const std::vector<double> drags = bench.Drags();
    const std::vector<double> seeks = bench.Seeks();
    std::vector<double> forward, back, backAfterSeek;
    bench.Steps(forward, back, backAfterSeek);
    std::printf("preview of %s in a 383 x 283 window\n", clip.c_str());
    report("first picture after RenderFile:", opens, 300);
    report("picture after a drag move:", drags, 100);
    report("exact picture after release:", seeks, 400);
    report("one step forward:", forward, 50);
    report("one step back:", back, 100);
    report("one step back after a seek:", backAfterSeek, 100);
    bench.Playback();
    return 0;
}
