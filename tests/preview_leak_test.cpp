// Long preview sessions: a file rendered, played, snapshotted and dropped
// again and again, on every path the window takes, leaves no descriptors,
// threads or GStreamer objects behind. GStreamer's leak tracer watches the
// process, so this runs in an executable of its own: the tracer has to be
// chosen before GStreamer starts.
#include "preview/filter_graph.h"
#include "preview/sample_grabber.h"
#include "preview/video_window.h"
#include "preview/wav_player.h"
#include "tests/support/media_generator.h"
#include "tests/support/picture_pattern.h"
#include "tests/support/qt_application.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace clipmora {
namespace {

int entriesIn(const char* folder)
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

struct ProcessCounts {
    int descriptors = 0;
    int threads = 0;
};

ProcessCounts processCounts()
{
    return {entriesIn("/proc/self/fd"), entriesIn("/proc/self/task")};
}

// The kinds of object a file's graph is made of, which the tracer follows:
// none of them may outlive the graph. (Factories, the system clock and the
// like live as long as the process and are not followed.)
constexpr const char* kTracer =
    "leaks(filters=\"GstElement,GstPad,GstBus,GstBufferPool\",stack-traces-flags=none)";

// The playbin's sound chain keeps one reference to the software volume
// element it makes, after the playbin itself has gone (GStreamer 1.22). It
// holds no descriptor or thread; it and its pads are not counted.
bool softwareVolume(GstObject* object)
{
    const auto isVolume = [](GstObject* candidate) {
        return candidate && G_OBJECT_TYPE_NAME(candidate) == std::string("GstVolume");
    };
    return isVolume(object) || (GST_IS_PAD(object) && isVolume(GST_OBJECT_PARENT(object)));
}

// Counts of the graph objects the leak tracer sees alive, by type name.
std::map<std::string, int> liveGraphObjects()
{
    std::map<std::string, int> alive;
    GList* tracers = gst_tracing_get_active_tracers();
    for (GList* item = tracers; item; item = item->next) {
        if (G_OBJECT_TYPE_NAME(item->data) != std::string("GstLeaksTracer"))
            continue;
        GstStructure* report = nullptr;
        g_signal_emit_by_name(item->data, "get-live-objects", &report);
        const GValue* leaks = report ? gst_structure_get_value(report, "live-objects-list")
                                     : nullptr;
        for (guint at = 0; leaks && at < gst_value_list_get_size(leaks); ++at) {
            const GstStructure* leak =
                gst_value_get_structure(gst_value_list_get_value(leaks, at));
            const GValue* object = gst_structure_get_value(leak, "object");
            if (!object || !G_VALUE_HOLDS_OBJECT(object))
                continue;
            // The report lists the objects without references of its own,
            // yet drops one for each when it is freed: one is added here.
            g_object_ref(g_value_get_object(object));
            if (!softwareVolume(GST_OBJECT(g_value_get_object(object))))
                ++alive[G_OBJECT_TYPE_NAME(g_value_get_object(object))];
        }
        if (report)
            gst_structure_free(report);
        alive["(tracer active)"] = 0;
    }
    g_list_free_full(tracers, gst_object_unref);
    return alive;
}

class PreviewLeakTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Before anything starts GStreamer.
        setenv("GST_TRACERS", kTracer, 0);
        testing::EnsureApplication();
    }
};

// One round as the window makes it: a fresh graph, the file rendered and
// played, a snapshot with its shutter sound, and the graph dropped by one
// of the paths that end a preview.
// A preview as the window has it (a graph, its video window, a sample
// grabber) that plays, seeks, snaps and is dropped in one of four ways.
class PreviewRounds {
public:
    PreviewRounds(std::string garbage, QByteArray shutter)
        : garbage_(std::move(garbage)), shutter_(std::move(shutter))
    {
        window_->setObjectName(QStringLiteral("VideoWindow1"));
        window_->SetMode(vmVMR);
        window_->resize(160, 120);
        window_->show();
        window_->SetFilterGraph(&graph_);
        grabber_->SetFilterGraph(&graph_);
    }

    void Round(int number)
    {
        enum Ending { Deactivate, StopThenDeactivate, ResetThenDeactivate, RenderFails };
        const auto ending = static_cast<Ending>(number % 4);
        graph_.SetActive(true);
        if (ending == RenderFails) {
            EXPECT_THROW(graph_.RenderFile(garbage_), EDirectShowException);
            graph_.SetActive(false);
            return;
        }
        ASSERT_EQ(graph_.RenderFile(testing::PreviewPatternClip()), 0);
        const uint64_t painted = window_->Stats().framesPainted;
        graph_.Play();
        ASSERT_TRUE(testing::WaitUntil([&] { return window_->Stats().framesPainted > painted + 2; }));
        graph_.SetPosition(1000);
        graph_.Pause();
        QImage snapshot;
        EXPECT_TRUE(grabber_->CopyFrameToBitmap(&snapshot));
        EXPECT_TRUE(PlayWavSynchronously(shutter_));
        if (ending == StopThenDeactivate)
            graph_.Stop();
        else if (ending == ResetThenDeactivate)
            graph_.ResetGraph();
        graph_.SetActive(false);
    }

private:
    std::string garbage_;
    QByteArray shutter_;
    TFilterGraph graph_;
    std::unique_ptr<TVideoWindow> window_ = std::make_unique<TVideoWindow>();
    std::unique_ptr<TSampleGrabber> grabber_ = std::make_unique<TSampleGrabber>();
};

TEST_F(PreviewLeakTest, RenderingAndDroppingFilesLeavesNothingBehind)
{
    testing::BindLibrariesForTests();
    testing::TempFolder folder;
    const std::string garbage = folder.file("notes.mp4");
    std::ofstream(garbage) << std::string(20000, 'x');
    QFile sound(QStringLiteral(CLIPMORA_SOURCE_DIR "/app/resources/snap.wav"));
    ASSERT_TRUE(sound.open(QIODevice::ReadOnly));
    PreviewRounds preview(garbage, sound.readAll());
    for (int number = 0; number < 4; ++number)
        preview.Round(number);
    const ProcessCounts settled = processCounts();
    for (int number = 4; number < 32; ++number)
        preview.Round(number);
    // Streaming threads wind down a moment after their graph has gone.
    ProcessCounts now;
    EXPECT_TRUE(testing::WaitUntil(
        [&] {
            now = processCounts();
            return now.descriptors <= settled.descriptors && now.threads <= settled.threads;
        }))
        << "descriptors " << settled.descriptors << " -> " << now.descriptors << ", threads "
        << settled.threads << " -> " << now.threads;

    const std::map<std::string, int> alive = liveGraphObjects();
    ASSERT_TRUE(alive.count("(tracer active)")) << "the leak tracer is not running";
    for (const auto& [type, count] : alive)
        EXPECT_EQ(count, 0) << type << " still alive";
}

}  // namespace
}  // namespace clipmora
