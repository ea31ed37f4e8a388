// The preview graph and its video window on generated clips, under the
// offscreen platform: what the window shows, the transport, seeking, the end
// of the file, the volume mapping and files that cannot be played.
#include "preview/filter_graph.h"
#include "preview/graph_lists.h"
#include "preview/video_window.h"
#include "tests/support/media_generator.h"
#include "tests/support/picture_pattern.h"
#include "tests/support/test_environment.h"

#include <gtest/gtest.h>

#include "tests/support/qt_application.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

namespace clipmora {
namespace {

bool waitFor(const std::function<bool()>& done, int milliseconds = testing::kEventWaitMs)
{
    return testing::WaitUntil(done, milliseconds);
}

void settle(int milliseconds)
{
    waitFor([] { return false; }, milliseconds);
}

// The frame number that a picture of the window shows (the picture must
// fill the window, unscaled).
int shownFrame(const QImage& picture) { return testing::PicturePattern(picture); }

// Records what the graph tells its listeners and owners.
class Recorder : public IEventListener, public IFilterOwner {
public:
    void HandleGraphEvent(int code, intptr_t, intptr_t) override { graphEvents.push_back(code); }
    void HandleControlEvent(int event, int param) override
    {
        controlEvents.push_back(event * 10 + param);
    }
    GstElement* ProvideFilter() override { return element.get(); }
    std::string GetFilterName() const override { return "Recorder"; }
    TFilterRole FilterRole() const override { return TFilterRole::VideoFilter; }
    void NotifyFilterStage(int operation) override
    {
        stages.push_back(operation);
        if (operation == fsBeforeAdd)
            element = MakeElement("identity");
        else if (operation == fsRemoved)
            element.reset();
    }

    std::vector<int> graphEvents;
    std::vector<int> controlEvents;  // event * 10 + param
    std::vector<int> stages;
    GstElementRef element;
};

class PreviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        testing::EnsureApplication();
    }
    void SetUp() override
    {
        testing::BindLibrariesForTests();
        window = std::make_unique<TVideoWindow>();
        window->setObjectName(QStringLiteral("VideoWindow1"));
        window->SetMode(vmVMR);
        window->VMROptions().SetStreams(1);
        window->SetFilterGraph(&graph);
    }
    void TearDown() override
    {
        graph.SetActive(false);
        window.reset();
    }

    static std::string patternClip() { return testing::PreviewPatternClip(); }

    // A 16:9 clip: in the window's 383 x 283 area it gets bars above and
    // below.
    static std::string wideClip()
    {
        testing::MediaSpec spec = testing::Mp4H264Aac();
        spec.width = 320;
        spec.height = 180;
        spec.seconds = 1.0;
        return testing::CachedMedia("preview_wide.mp4", spec);
    }

    // Shows the window at `size` and renders `file` into an active graph.
    void render(const std::string& file, QSize size)
    {
        window->resize(size);
        window->show();
        graph.SetActive(true);
        ASSERT_EQ(graph.RenderFile(file), 0);
    }

    bool waitForFrame(int timeMs)
    {
        return waitFor([&] {
            return window->Stats().lastPaintedTimeMs == timeMs &&
                   shownFrame(window->grab().toImage()) >= 0;
        });
    }

    TFilterGraph graph;
    std::unique_ptr<TVideoWindow> window;
};

TEST(VolumeMapping, LogarithmicAttenuationAndClamps)
{
    const std::pair<int, int> table[] = {{0, -10000}, {1, -9247},   {100, -4989}, {1000, -2499},
                                         {5000, -752}, {9000, -114}, {10000, 0}};
    for (const auto& [volume, attenuation] : table)
        EXPECT_EQ(VolumeToAttenuation(volume, true), attenuation) << volume;
    EXPECT_EQ(VolumeToAttenuation(2500, false), -7500);
    EXPECT_EQ(VolumeToAttenuation(20000, true), 0);
    EXPECT_EQ(VolumeToAttenuation(-5, true), -10000);
    EXPECT_DOUBLE_EQ(AttenuationToFactor(0), 1.0);
    EXPECT_NEAR(AttenuationToFactor(-2000), 0.1, 1e-12);
}

TEST_F(PreviewTest, InactiveGraphDoesNothing)
{
    Recorder recorder;
    graph.AddEventListener(&recorder);
    EXPECT_FALSE(graph.Play());
    EXPECT_FALSE(graph.Pause());
    EXPECT_FALSE(graph.Stop());
    EXPECT_EQ(graph.RenderFile(patternClip()), 1);
    EXPECT_EQ(graph.Position(), 0);
    EXPECT_EQ(graph.Duration(), 0);
    graph.SetPosition(1000);
    graph.SetActive(false);
    EXPECT_TRUE(recorder.controlEvents.empty());

    graph.SetVolume(20000);
    EXPECT_EQ(graph.Volume(), 10000);
    graph.SetVolume(-5);
    EXPECT_EQ(graph.Volume(), 0);
    graph.SetBalance(-30000);
    EXPECT_EQ(graph.Balance(), -10000);
    graph.RemoveEventListener(&recorder);
}

TEST_F(PreviewTest, OwnersAndListenersHearEveryStepInOrder)
{
    Recorder recorder;
    graph.AddEventListener(&recorder);
    graph.AddFilterOwner(&recorder);
    graph.SetActive(true);
    graph.SetActive(true);  // no second announcement
    EXPECT_EQ(recorder.stages, (std::vector<int>{fsBeforeAdd, fsAdded}));
    ASSERT_EQ(graph.RenderFile(patternClip()), 0);
    EXPECT_TRUE(graph.Play());
    graph.Pause();
    graph.Stop();
    graph.SetActive(false);
    EXPECT_EQ(recorder.controlEvents,
              (std::vector<int>{71, 30, 40, 0, 10, 20, 70}));
    EXPECT_EQ(recorder.stages, (std::vector<int>{fsBeforeAdd, fsAdded, fsBeforeRemove, fsRemoved}));
    graph.RemoveFilterOwner(&recorder);
    graph.RemoveEventListener(&recorder);
}

TEST_F(PreviewTest, ShowsTheFirstPictureLetterBoxedInBlack)
{
    render(wideClip(), QSize(383, 283));
    ASSERT_TRUE(waitFor([&] { return window->Stats().framesPainted > 0; }));
    const QImage shown = window->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(383, 283));
    // 383 x 215 picture, 34 rows of black above and below.
    for (const int y : {2, 30, 253, 280})
        EXPECT_EQ(shown.pixelColor(191, y), QColor(Qt::black)) << y;
    // The moving gradient below the pattern band is coloured, not black.
    const QColor inside = shown.pixelColor(20, 200);
    EXPECT_GT(inside.red() + inside.green() + inside.blue(), 150);
    // The band's blocks are grey levels: black or white.
    const QColor block = shown.pixelColor(191, 40);
    EXPECT_NEAR(block.red(), block.blue(), 12);
}

TEST_F(PreviewTest, StretchesWithoutAspectRatio)
{
    window->VMROptions().SetKeepAspectRatio(false);
    render(wideClip(), QSize(383, 283));
    ASSERT_TRUE(waitFor([&] { return window->Stats().framesPainted > 0; }));
    const QColor top = window->grab().toImage().pixelColor(20, 280);
    EXPECT_GT(top.red() + top.green() + top.blue(), 150);
}

TEST_F(PreviewTest, PlaysToTheEndSeeksAndPauses)
{
    int completions = 0;
    graph.OnGraphComplete = [&](int, intptr_t) { ++completions; };
    render(patternClip(), QSize(320, 240));
    EXPECT_EQ(graph.Duration(), 3000);
    EXPECT_EQ(graph.Position(), 0);
    ASSERT_TRUE(waitForFrame(0));
    EXPECT_EQ(shownFrame(window->grab().toImage()), 0);

    // A seek while paused shows the picture at the target.
    graph.SetPosition(2000);
    ASSERT_TRUE(waitForFrame(2000));
    EXPECT_EQ(shownFrame(window->grab().toImage()), 50);
    graph.SetPosition(440);
    ASSERT_TRUE(waitForFrame(440));
    EXPECT_EQ(shownFrame(window->grab().toImage()), 11);
    // Read at once during a burst of seeks, the position never falls back to
    // the file's start (a timer reading it would move the timeline there).
    for (int target = 1000; target <= 1400; target += 40) {
        graph.SetPosition(target);
        EXPECT_GE(graph.Position(), 440) << target;
    }
    ASSERT_TRUE(waitForFrame(1400));

    // Playing moves the position; a pause keeps the picture and the time.
    ASSERT_TRUE(graph.Play());
    ASSERT_TRUE(waitFor([&] { return graph.Position() > 900; }));
    graph.Pause();
    const int pausedAt = graph.Position();
    // The paused picture is the one at the paused time; on a loaded machine
    // it is painted a while after the pause.
    const int pausedFrame = pausedAt / 40;
    ASSERT_TRUE(waitFor([&] {
        return std::abs(shownFrame(window->grab().toImage()) - pausedFrame) <= 1;
    }));
    settle(400);
    EXPECT_EQ(graph.Position(), pausedAt);
    EXPECT_GT(pausedFrame, 11);

    // The end: the complete event arrives and the position is the duration.
    graph.Play();
    ASSERT_TRUE(waitFor([&] { return completions == 1; }));
    EXPECT_EQ(graph.Position(), graph.Duration());
    // One of the last pictures is on screen (a loaded machine may drop the
    // very last ones as late).
    EXPECT_GE(shownFrame(window->grab().toImage()), 60);
    // A seek back leaves the end.
    graph.SetPosition(1000);
    ASSERT_TRUE(waitForFrame(1000));
    EXPECT_LT(graph.Position(), graph.Duration());
}

TEST_F(PreviewTest, VolumeSetBeforeRenderingHolds)
{
    graph.SetActive(true);
    graph.SetVolume(100);
    ASSERT_EQ(graph.RenderFile(patternClip()), 0);
    double factor = 0;
    g_object_get(graph.Pipeline(), "volume", &factor, nullptr);
    EXPECT_NEAR(factor, AttenuationToFactor(-4989), 1e-9);
    graph.SetVolume(10000);
    g_object_get(graph.Pipeline(), "volume", &factor, nullptr);
    EXPECT_NEAR(factor, 1.0, 1e-9);
}

TEST_F(PreviewTest, UnplayableFilesRaiseTheCodecMessage)
{
    testing::TempFolder folder;
    const std::string garbage = folder.file("notes.mp4");
    std::ofstream(garbage) << std::string(20000, 'x');
    int errors = 0;
    graph.OnGraphErrorAbort = [&](int) { ++errors; };
    graph.SetActive(true);
    const QDeadlineTimer limit(10000);
    try {
        graph.RenderFile(garbage);
        FAIL() << "a text file rendered";
    } catch (const EDirectShowException& error) {
        EXPECT_STREQ(error.what(), "No Video Codec To Play This File!");
    }
    EXPECT_FALSE(limit.hasExpired());
    EXPECT_TRUE(graph.Active());
    EXPECT_FALSE(graph.LastErrorText().empty());
    EXPECT_FALSE(graph.Play() && graph.Position() != 0);
    EXPECT_THROW(graph.RenderFile(folder.file("missing.mp4")), EDirectShowException);

    // The graph still renders a good file afterwards.
    EXPECT_EQ(graph.RenderFile(patternClip()), 0);
    EXPECT_EQ(graph.Duration(), 3000);
}

// Whether the element factory `kind` is described as `klass` (in part).
bool factoryIs(const std::string& kind, const char* klass)
{
    GstElementFactory* factory = gst_element_factory_find(kind.c_str());
    if (!factory)
        return false;
    const bool is = std::string(gst_element_factory_get_metadata(
                                    factory, GST_ELEMENT_METADATA_KLASS))
                        .find(klass) != std::string::npos;
    gst_object_unref(factory);
    return is;
}

// A builder callback that refuses an element keeps it out of the graph; the
// decoder bin takes the next candidate, or leaves the stream out.
TEST_F(PreviewTest, RefusedElementsStayOutOfTheGraph)
{
    const struct {
        const char* refusedKlass;  // what the callback refuses; empty: nothing
        const char* refusedKind;
        bool whenCreated;  // by OnCreatedFilter, else by OnSelectedFilter
        bool picturesShown;
    } rows[] = {
        {"", "", false, true},
        {"Parser", "h264parse", false, true},
        {"Parser", "h264parse", true, true},
        {"Decoder/Video", "", false, false},  // sound only
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.refusedKlass) + (row.whenCreated ? " created" : " selected"));
        const auto refuses = [&row](const std::string& kind) {
            return *row.refusedKlass && factoryIs(kind, row.refusedKlass) &&
                   (!*row.refusedKind || kind == row.refusedKind);
        };
        graph.SetActive(false);  // the callbacks are read while a file is rendered
        std::atomic<int> refusals{0};
        std::atomic<int> unrendered{0};
        graph.OnSelectedFilter = [&](const std::string&, const std::string&, const std::string& kind) {
            const bool refuse = !row.whenCreated && refuses(kind);
            refusals += refuse;
            return !refuse;
        };
        graph.OnCreatedFilter = [&](GstElement*, const std::string& kind) {
            const bool refuse = row.whenCreated && refuses(kind);
            refusals += refuse;
            return !refuse;
        };
        graph.OnUnableToRender = [&](GstPad*) { return ++unrendered, false; };
        render(patternClip(), QSize(320, 240));
        EXPECT_EQ(refusals > 0, *row.refusedKlass != 0);
        EXPECT_EQ(unrendered > 0, !row.picturesShown);
        if (row.picturesShown) {
            ASSERT_TRUE(waitForFrame(0));
            EXPECT_EQ(shownFrame(window->grab().toImage()), 0);
        }
        const TFilterList filters(graph);
        int linkedParsers = 0;
        for (size_t index = 0; index < filters.Count(); ++index) {
            const std::string kind = FactoryName(filters.Items(index));
            EXPECT_FALSE(refuses(kind)) << kind;
            const TPinList pins(filters.Items(index));
            linkedParsers += kind == "h264parse" && pins.Count() == 2 && pins.Connected(0) &&
                             pins.Connected(1);
        }
        // Unrefused, the parser sits linked between demuxer and decoder.
        EXPECT_EQ(linkedParsers, std::string(row.refusedKind) == "h264parse" ? 0 : 1);
    }
    graph.SetActive(false);
}

TEST_F(PreviewTest, NamesWithBlanksQuotesAndLettersBeyondAsciiPlay)
{
    testing::TempFolder folder;
    const std::filesystem::path odd =
        folder.path() / "my clips, 'take 2'" / "Übung \"#1\" ?%20 ünd.mp4";
    std::filesystem::create_directories(odd.parent_path());
    std::filesystem::copy_file(patternClip(), odd);
    render(odd.string(), QSize(320, 240));
    EXPECT_EQ(graph.Duration(), 3000);
    ASSERT_TRUE(waitForFrame(0));
}

TEST_F(PreviewTest, RendererOptions)
{
    TVMROptions& options = window->VMROptions();
    options.SetStreams(0);
    EXPECT_EQ(options.Streams(), 1u);
    options.SetStreams(17);
    EXPECT_EQ(options.Streams(), 1u);
    options.SetStreams(16);
    EXPECT_EQ(options.Streams(), 16u);

    options.SetMode(vmrRenderless);
    EXPECT_THROW(graph.SetActive(true), EPreviewException);
    EXPECT_FALSE(graph.Active());
    options.SetMode(vmrWindowed);
    graph.SetActive(true);
    EXPECT_TRUE(graph.Active());
}

TEST_F(PreviewTest, FullScreenWaitsForPicturesAndEscapeLeavesIt)
{
    QWidget host;
    host.resize(400, 300);
    window->setParent(&host);
    // The window goes back to the test's ownership however the test ends.
    struct GiveBack {
        TVideoWindow* window;
        ~GiveBack() { window->setParent(nullptr); }
    } giveBack{window.get()};
    window->setGeometry(4, 6, 320, 240);
    host.show();
    window->SetFullScreen(true);  // nothing plays yet: only stored
    EXPECT_TRUE(window->FullScreen());
    EXPECT_EQ(window->parentWidget(), &host);

    graph.SetActive(true);
    ASSERT_EQ(graph.RenderFile(patternClip()), 0);
    graph.Play();
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isFullScreen());

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &escape);
    EXPECT_FALSE(window->FullScreen());
    EXPECT_EQ(window->parentWidget(), &host);
    EXPECT_EQ(window->geometry(), QRect(4, 6, 320, 240));
    graph.SetActive(false);
}

}  // namespace
}  // namespace clipmora
