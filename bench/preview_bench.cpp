// preview_bench: how quickly the preview shows a file and follows seeks, and
// whether it keeps up with 720p playback.
//
// Generates a 1280x720, 30 fps, 20 s H.264/AAC clip once (kept in the
// temporary folder) and, in a 383 x 283 video window (the main window's
// preview area):
//   - opens it 5 times: time from RenderFile to the first painted picture;
//   - seeks 20 times across it while paused: time from the seek to the
//     target's picture painted;
//   - plays it for 10 s: pictures rendered and dropped by the renderer.
// Prints the medians. Goals: first picture <= 300 ms, seek <= 150 ms, no
// dropped pictures. Runs under any Qt platform (offscreen by default).
#include "engine/library_binding.h"
#include "preview/filter_graph.h"
#include "preview/video_window.h"
#include "bench/bench_support.h"
#include "tests/support/media_generator.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

using namespace clipmora;
namespace fs = std::filesystem;

constexpr int kFrameMs = 1000 / 30;

std::string inputClip()
{
    return bench::Mp4Clip("clip-1280x720-30fps-20s.mp4",
                          {.width = 1280, .height = 720, .frameRate = 30, .seconds = 20.0,
                           .videoBitRate = 3000000});
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

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::string clip = inputClip();

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
        graph.RenderFile(clip);
        const uint64_t before = window.Stats().framesPainted;
        timeUntil([&] { return window.Stats().framesPainted > before; });
        opens.push_back(timer.nsecsElapsed() / 1e6);
    }

    std::vector<double> seeks;
    const int duration = graph.Duration();
    for (int index = 0; index < 20; ++index) {
        // Spread over the clip, off the key frames.
        const int target = (index * 7919 + 1234) % (duration - 500);
        graph.SetPosition(target);
        seeks.push_back(timeUntil([&] {
            const int64_t shown = window.Stats().lastPaintedTimeMs;
            return shown >= target - kFrameMs && shown <= target + kFrameMs;
        }));
    }

    graph.SetPosition(0);
    timeUntil([&] { return window.Stats().lastPaintedTimeMs == 0; });
    const TVideoWindow::RenderStats start = window.Stats();
    graph.Play();
    timeUntil([] { return false; });  // ten seconds of playback
    const TVideoWindow::RenderStats end = window.Stats();
    graph.SetActive(false);

    std::printf("preview of %s in a 383 x 283 window\n", clip.c_str());
    std::printf("first picture after RenderFile: median %.1f ms over %zu opens (goal <= 300)\n",
                median(opens), opens.size());
    std::printf("seek to picture painted:        median %.1f ms over %zu seeks (goal <= 150), "
                "slowest %.1f ms\n",
                median(seeks), seeks.size(), *std::max_element(seeks.begin(), seeks.end()));
    std::printf("10 s of 720p30 playback:        %llu rendered, %llu dropped (goal 0), "
                "%llu painted\n",
                static_cast<unsigned long long>(end.rendered - start.rendered),
                static_cast<unsigned long long>(end.dropped - start.dropped),
                static_cast<unsigned long long>(end.framesPainted - start.framesPainted));
    return 0;
}
