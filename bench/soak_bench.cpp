// soak_bench: what a long sitting costs the window.
//
// The main window adds 100 files in turn (copies of one tiny generated clip,
// each previewed as by default), plays each a moment, steps forward, takes a
// snapshot, and splits every tenth. Every 10 files it prints the process's
// open descriptors, threads and resident memory. Goal: flat after the first
// few files (descriptors +4 at most, memory +24 MiB at most between file 8
// and file 100). Runs under any Qt platform (offscreen by default); dialogs
// are answered by the bench, settings go to a private folder.
#include "app/main_window.h"
#include "app/user_dialogs.h"
#include "bench/bench_support.h"
#include "bench/window_bench.h"
#include "framesrv/frame_server.h"
#include "preview/video_window.h"
#include "tests/support/main_window_probe.h"
#include "widgets/folder_browse_dialog.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QSettings>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

namespace {

using namespace clipmora;
namespace fs = std::filesystem;

constexpr int kFiles = 100;

using bench::BenchDialogs;

void waitUntil(const char* what, const std::function<bool()>& done)
{
    const QDeadlineTimer deadline(60000);
    while (!done()) {
        if (deadline.hasExpired())
            throw std::runtime_error(std::string("timed out waiting for ") + what);
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

int entriesIn(const char* folder)
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
        ++count;
    return count;
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

struct Usage {
    int descriptors;
    int threads;
    long residentKiB;
};

Usage usage()
{
    return {entriesIn("/proc/self/fd"), entriesIn("/proc/self/task"), residentKiB()};
}

// Adds the file the dialogs offer next, waits for a few pictures, steps one
// picture forward and takes a snapshot.
void previewFile(TForm1& form, TVideoWindow& video)
{
    const uint64_t painted = video.Stats().framesPainted;
    Find<QPushButton>(form, "ButtonAddFile")->click();
    waitUntil("pictures", [&] { return video.Stats().framesPainted >= painted + 5; });
    Find<QPushButton>(form, "ButtonIncrementForward")->click();
    Find<QPushButton>(form, "ButtonSnapshot")->click();
}

// Splits the file on show and waits for the split's message.
void split(TForm1& form, BenchDialogs& dialogs, int number)
{
    const int before = dialogs.messages;
    Find<QPushButton>(form, "ButtonSplit")->click();
    waitUntil("the split",
              [&] { return dialogs.messages > before && !TForm1Probe(form).SplitBusy(); });
    if (dialogs.lastMessage != QStringLiteral("Splitting Done!"))
        std::fprintf(stderr, "split of file %d: %s\n", number,
                     dialogs.lastMessage.toUtf8().constData());
}

int run(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const std::string clip = bench::Mp4Clip(
        "clip-160x120-25fps-2s.mp4", {.width = 160, .height = 120, .frameRate = 25, .seconds = 2.0});

    bench::WindowBenchSession session("soak");
    const fs::path& work = session.Work();
    fs::create_directories(work / "output");
    BenchDialogs& dialogs = session.dialogs;
    dialogs.outputFolder = QString::fromStdString((work / "output").string());

    TForm1 form(QString::fromStdString(bench::ProgramFolder().string()));
    if (form.StartupFailed())
        throw std::runtime_error("the window did not start");
    form.show();
    Find<QPushButton>(form, "ButtonBrowseForFolder")->click();
    auto* video = form.findChild<TVideoWindow*>(QStringLiteral("VideoWindow1"));
    if (!video)
        throw std::runtime_error("no video window");

    std::printf("%6s %12s %8s %12s\n", "files", "descriptors", "threads", "RSS MiB");
    Usage atEight{};
    Usage atLast{};
    for (int number = 1; number <= kFiles; ++number) {
        const fs::path file = work / ("recording-" + std::to_string(number) + ".mp4");
        fs::copy_file(clip, file);
        dialogs.nextFile = QString::fromStdString(file.string());
        previewFile(form, *video);
        // Measured while the file is previewed, before a split stops it.
        const Usage now = usage();
        atLast = now;
        if (number == 8)
            atEight = now;
        if (number % 10 == 0 || number == 8)
            std::printf("%6d %12d %8d %12.1f\n", number, now.descriptors, now.threads,
                        now.residentKiB / 1024.0);
        std::fflush(stdout);
        if (number % 10 == 0)
            split(form, dialogs, number);
        fs::remove(file);
    }
    const Usage end = usage();
    std::printf("after the last split (preview stopped): descriptors %d, threads %d, %.1f MiB\n",
                end.descriptors, end.threads, end.residentKiB / 1024.0);
    std::printf("file 8 -> %d: descriptors %+d, threads %+d, memory %+.1f MiB\n", kFiles,
                atLast.descriptors - atEight.descriptors, atLast.threads - atEight.threads,
                (atLast.residentKiB - atEight.residentKiB) / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    clipmora::framesrv::InstallFrameServer();
    return bench::RunBench("soak_bench", [&] { return run(argc, argv); });
}
