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

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::string clip = argc > 1 ? std::string(argv[1]) : generatedClip();

    TFilterGraph graph;
    TVideoWindow window;
    window.setObjectName(QStringLiteral("VideoWindow1"));
    window.SetMode(vmVMR);
    window.VMROptions().SetStreams(1);
    window.resize(383, 283);
    window.show();
    window.SetFilterGraph(&graph);

    std::vector<double> opens;
    for (int run = 0; run < 5; ++run) {
        graph.SetActive(false);
        QElapsedTimer timer;
        timer.start();
        graph.SetActive(true);
        // The first picture may be painted while RenderFile waits for it.
        const uint64_t before = window.Stats().framesPainted;
        graph.RenderFile(clip);
        timeUntil([&] { return window.Stats().framesPainted > before; });
        opens.push_back(timer.nsecsElapsed() / 1e6);
    }
    const int duration = graph.Duration();
    const double frameMs = pictureMs(window);
    const double groupMs = kGroupLength * frameMs;
    // Whether the picture starting at `timeMs` is on screen (an exact seek
    // shows it from the seek's target on).
    const auto painted = [&](double timeMs) {
        const int64_t shown = window.Stats().lastPaintedTimeMs;
        return shown >= std::floor(timeMs) && shown < timeMs + frameMs;
    };
    // Waits for the picture starting at `timeMs` after `seek`.
    const auto timeTo = [&](double timeMs, const std::function<void()>& seek) {
        QElapsedTimer timer;
        timer.start();
        seek();
        timeUntil([&] { return painted(timeMs); });
        return timer.nsecsElapsed() / 1e6;
    };

    std::vector<double> drags;
    for (int index = 0; index < 20; ++index) {
        const int target = (index * 7919 + 1234) % (duration - 500);
        const uint64_t before = window.Stats().framesPainted;
        QElapsedTimer timer;
        timer.start();
        graph.SeekNearKeyFrame(target);
        timeUntil([&] { return window.Stats().framesPainted > before; });
        drags.push_back(timer.nsecsElapsed() / 1e6);
    }

    std::vector<double> seeks;
    for (int index = 0; index < 20; ++index) {
        // The middle of a group, one picture further each time.
        const double groupStart = std::floor((index * 7919 % (duration - 2000)) / groupMs) * groupMs;
        const double picture = std::round((groupStart + groupMs / 2) / frameMs) + index;
        const double start = picture * frameMs;
        seeks.push_back(timeTo(start, [&] { graph.SetPosition(int(std::ceil(start))); }));
    }

    // Steps as the window's frame keys make them, from the middle of a
    // group: to the first millisecond of the neighbouring picture, forward
    // by a step of the graph, back by a seek and the renderer's held picture.
    const auto startOf = [&](double picture) { return int(std::ceil(picture * frameMs)); };
    const auto stepForward = [&](double picture) {
        return timeTo(picture * frameMs, [&] {
            if (!graph.StepForward(startOf(picture)))
                graph.SetPosition(startOf(picture));
        });
    };
    const auto stepBack = [&](double picture) {
        return timeTo(picture * frameMs, [&] {
            graph.SetPosition(startOf(picture));
            window.ShowHeldPicture(startOf(picture));
        });
    };
    const double middle = std::round(std::min(groupMs * 1.5, duration / 2.0) / frameMs);
    timeTo(middle * frameMs, [&] { graph.SetPosition(startOf(middle)); });
    std::vector<double> forward;
    std::vector<double> back;
    for (int step = 1; step <= 20; ++step)
        forward.push_back(stepForward(middle + step));
    for (int step = 19; step >= 0; --step)
        back.push_back(stepBack(middle + step));
    // A step back right after an exact seek into the middle of a group.
    std::vector<double> backAfterSeek;
    const int groups = std::max(1, int(duration / groupMs));
    for (int index = 0; index < 20; ++index) {
        const double picture = std::round(((index % groups) + 0.5) * kGroupLength) + index;
        timeTo(picture * frameMs, [&] { graph.SetPosition(startOf(picture)); });
        backAfterSeek.push_back(stepBack(picture - 1));
    }

    graph.SetPosition(0);
    timeUntil([&] { return window.Stats().lastPaintedTimeMs == 0; });
    const TVideoWindow::RenderStats start = window.Stats();
    graph.Play();
    timeUntil([] { return false; });  // ten seconds of playback
    const TVideoWindow::RenderStats end = window.Stats();
    graph.SetActive(false);

    std::printf("preview of %s in a 383 x 283 window\n", clip.c_str());
    report("first picture after RenderFile:", opens, 300);
    report("picture after a drag move:", drags, 100);
    report("exact picture after release:", seeks, 400);
    report("one step forward:", forward, 50);
    report("one step back:", back, 100);
    report("one step back after a seek:", backAfterSeek, 100);
    std::printf("10 s of playback: %llu rendered, %llu dropped (goal 0), %llu painted\n",
                static_cast<unsigned long long>(end.rendered - start.rendered),
                static_cast<unsigned long long>(end.dropped - start.dropped),
                static_cast<unsigned long long>(end.framesPainted - start.framesPainted));
    return 0;
}
