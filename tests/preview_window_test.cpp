// The preview in the real main window: Play, Pause and Stop with their edge
// cases, playing on "Add Video File", the position timer at the end of the
// file, the volume slider, and the preview letting go before a split.
#include "tests/support/main_window_fixture.h"
#include "tests/support/picture_pattern.h"

#include "preview/sample_grabber.h"
#include "preview/video_window.h"
#include "widgets/hl_track_bar.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::MainWindowTest;

class PreviewWindowTest : public MainWindowTest {
protected:
    // A window with a clip added and the automatic preview switched off.
    std::unique_ptr<TForm1> windowWithClip(bool autoPlay = false)
    {
        auto form = openWindow();
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
            ->CheckBoxPlayVideoFile()
            ->setChecked(autoPlay);
        addFile(*form, testing::CachedMedia("window_clip.mp4", testing::shortClip()));
        return form;
    }
};

TEST_F(PreviewWindowTest, ControlsSitInThePreviewArea)
{
    auto form = openWindow();
    EXPECT_EQ(Find<QFrame>(*form, "Panel1")->geometry(), QRect(8, 4, 393, 295));
    EXPECT_EQ(Find<TVideoWindow>(*form, "VideoWindow1")->geometry(), QRect(4, 6, 383, 283));
    EXPECT_EQ(Find<TVideoWindow>(*form, "VideoWindow1")->parentWidget(),
              Find<QFrame>(*form, "Panel1"));
    EXPECT_EQ(Find<TVideoWindow>(*form, "VideoWindow1")->Mode(), vmVMR);
    EXPECT_EQ(Find<TVideoWindow>(*form, "VideoWindow1")->VMROptions().Streams(), 1u);
    EXPECT_TRUE(Find<TVideoWindow>(*form, "VideoWindow1")->VMROptions().KeepAspectRatio());
    EXPECT_EQ(Find<QPushButton>(*form, "ButtonPlay")->toolTip(), QStringLiteral("Play"));
    EXPECT_EQ(Find<QPushButton>(*form, "ButtonPause")->toolTip(), QStringLiteral("Pause"));
    EXPECT_EQ(Find<QPushButton>(*form, "ButtonStop")->toolTip(), QStringLiteral("Stop"));
    EXPECT_EQ(Find<ThlTrackBar>(*form, "hlTrackBarVolume")->Max(), 20000);
    EXPECT_EQ(Find<ThlTrackBar>(*form, "hlTrackBarVolume")->Position(), 10000);
    EXPECT_EQ(Find<QTimer>(*form, "TimerTrackBarPosition")->interval(), 100);
    EXPECT_FALSE(Find<QTimer>(*form, "TimerTrackBarPosition")->isActive());
    EXPECT_FALSE(TForm1Probe(*form).FilterGraph1().Active());
}

TEST_F(PreviewWindowTest, AddingAFilePlaysItWhenTheSettingIsOn)
{
    auto form = windowWithClip(true);
    EXPECT_TRUE(TForm1Probe(*form).FilterGraph1().Active());
    EXPECT_TRUE(Find<QTimer>(*form, "TimerTrackBarPosition")->isActive());
    ASSERT_TRUE(waitFor(
        [&] { return Find<TVideoWindow>(*form, "VideoWindow1")->Stats().framesPainted > 0; }));
    ASSERT_TRUE(waitFor([&] { return TForm1Probe(*form).TimelinePosition() > 300; }));
    EXPECT_NE(Find<QLabel>(*form, "PanelCurrentPosition")->text(),
              QStringLiteral("Video Position"));

    // Adding another file lets go of the first before anything else.
    Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxPlayVideoFile()->setChecked(false);
    addFile(*form, testing::CachedMedia("window_clip.mp4", testing::shortClip()));
    EXPECT_FALSE(TForm1Probe(*form).FilterGraph1().Active());
    EXPECT_FALSE(TForm1Probe(*form).PreviewPaused());
}

TEST_F(PreviewWindowTest, PauseResumesWithoutReopeningAndStopStartsAfresh)
{
    auto form = windowWithClip();
    EXPECT_FALSE(TForm1Probe(*form).FilterGraph1().Active());
    Find<QPushButton>(*form, "ButtonPlay")->click();
    ASSERT_TRUE(TForm1Probe(*form).FilterGraph1().Active());
    GstElement* opened = TForm1Probe(*form).FilterGraph1().Pipeline();
    ASSERT_TRUE(waitFor([&] { return TForm1Probe(*form).FilterGraph1().Position() > 400; }));

    Find<QPushButton>(*form, "ButtonPause")->click();
    EXPECT_TRUE(TForm1Probe(*form).PreviewPaused());
    Find<QPushButton>(*form, "ButtonPlay")->click();
    EXPECT_FALSE(TForm1Probe(*form).PreviewPaused());
    EXPECT_EQ(TForm1Probe(*form).FilterGraph1().Pipeline(), opened)
        << "a resume keeps the open file";
    EXPECT_GT(TForm1Probe(*form).FilterGraph1().Position(), 300);

    Find<QPushButton>(*form, "ButtonStop")->click();
    EXPECT_FALSE(TForm1Probe(*form).FilterGraph1().Active());
    EXPECT_FALSE(Find<QTimer>(*form, "TimerTrackBarPosition")->isActive());
    Find<QPushButton>(*form, "ButtonPlay")->click();
    ASSERT_TRUE(TForm1Probe(*form).FilterGraph1().Active());
    EXPECT_LT(TForm1Probe(*form).FilterGraph1().Position(), 300)
        << "Stop then Play starts from the beginning";
    EXPECT_TRUE(dialogs.exceptions.isEmpty());
}

TEST_F(PreviewWindowTest, PauseWithNothingPlayingOnlyArmsTheResume)
{
    auto form = windowWithClip();
    Find<QPushButton>(*form, "ButtonPause")->click();
    EXPECT_TRUE(TForm1Probe(*form).PreviewPaused());
    Find<QPushButton>(*form, "ButtonPlay")->click();  // resume of nothing: only clears the flag
    EXPECT_FALSE(TForm1Probe(*form).PreviewPaused());
    EXPECT_FALSE(TForm1Probe(*form).FilterGraph1().Active());
    Find<QPushButton>(*form, "ButtonPlay")->click();
    EXPECT_TRUE(TForm1Probe(*form).FilterGraph1().Active());
}

TEST_F(PreviewWindowTest, PlayNeedsAFileAndAnIdleWindow)
{
    auto form = openWindow();
    Find<QPushButton>(*form, "ButtonPlay")->click();
    EXPECT_FALSE(TForm1Probe(*form).FilterGraph1().Active());
    EXPECT_FALSE(Find<QTimer>(*form, "TimerTrackBarPosition")->isActive());
}

TEST_F(PreviewWindowTest, AFileThatCannotBePlayedSaysWhyInTheStatusBar)
{
    testing::TempFolder folder;
    const fs::path clip = folder.path() / "clip.mp4";
    fs::copy_file(testing::CachedMedia("window_clip.mp4", testing::shortClip()), clip);
    auto form = openWindow();
    Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxPlayVideoFile()->setChecked(false);
    addFile(*form, clip.string());
    QLabel* status = Find<QLabel>(*form, "StatusPlayback");
    EXPECT_FALSE(status->isVisibleTo(form.get()));

    // The file is no video any more by the time it is played.
    fs::resize_file(clip, 0);
    std::ofstream(clip.string()) << std::string(20000, 'x');
    Find<QPushButton>(*form, "ButtonPlay")->click();
    EXPECT_EQ(dialogs.exceptions, QStringList{QStringLiteral("No Video Codec To Play This File!")});
    const std::string why = TForm1Probe(*form).FilterGraph1().LastErrorText();
    ASSERT_FALSE(why.empty());
    EXPECT_TRUE(status->isVisibleTo(form.get()));
    EXPECT_EQ(status->text(), QStringLiteral("Cannot play: ") + QString::fromStdString(why));

    // A file that plays takes the reason away.
    addFile(*form, testing::CachedMedia("window_clip.mp4", testing::shortClip()));
    Find<QPushButton>(*form, "ButtonPlay")->click();
    EXPECT_EQ(dialogs.exceptions.size(), 1);
    EXPECT_FALSE(status->isVisibleTo(form.get()));
}

TEST_F(PreviewWindowTest, TheTimerStopsAtTheEndAndKeepsTheGraph)
{
    // The second clip's last picture ends before its sound.
    testing::MediaSpec picturesEndFirst = testing::MatroskaClip();
    picturesEndFirst.frameRateNum = 30000;
    picturesEndFirst.frameRateDen = 1001;
    const std::string clips[] = {
        testing::CachedMedia("window_clip.mp4", testing::shortClip()),
        testing::CachedMedia("window_ntsc_sound.mkv", picturesEndFirst)};
    auto form = openWindow();
    Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxPlayVideoFile()->setChecked(false);
    for (const std::string& clip : clips) {
        SCOPED_TRACE(clip);
        addFile(*form, clip);
        Find<QPushButton>(*form, "ButtonPlay")->click();
        TFilterGraph& graph = TForm1Probe(*form).FilterGraph1();
        ASSERT_TRUE(waitFor(
            [&] { return graph.Duration() > 0 && graph.Position() == graph.Duration(); }));
        // Two more ticks of the position timer: the first finds the end and
        // stops the preview, the second comes after that stop.
        auto* timer = Find<QTimer>(*form, "TimerTrackBarPosition");
        int ticks = 0;
        const QMetaObject::Connection counting =
            QObject::connect(timer, &QTimer::timeout, [&] { ++ticks; });
        ASSERT_TRUE(waitFor([&] { return ticks >= 2; }));
        QObject::disconnect(counting);
        EXPECT_TRUE(graph.Active());
        EXPECT_TRUE(timer->isActive());
        EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), TForm1Probe(*form).TimelineMax());
        GstState state = GST_STATE_NULL;
        gst_element_get_state(graph.Pipeline(), &state, nullptr, GST_SECOND);
        EXPECT_EQ(state, GST_STATE_PAUSED) << "stopped at the end";
        // The next Play starts the file again.
        Find<QPushButton>(*form, "ButtonPlay")->click();
        EXPECT_LT(graph.Position(), graph.Duration());
    }
}

TEST_F(PreviewWindowTest, VolumeSliderDrivesTheGraph)
{
    auto form = windowWithClip();
    Find<ThlTrackBar>(*form, "hlTrackBarVolume")->SetPosition(15000);
    EXPECT_EQ(TForm1Probe(*form).FilterGraph1().Volume(), 10000);
    Find<ThlTrackBar>(*form, "hlTrackBarVolume")->SetPosition(100);
    EXPECT_EQ(TForm1Probe(*form).FilterGraph1().Volume(), 100);
    Find<QPushButton>(*form, "ButtonPlay")->click();  // a fresh start takes the slider's level
    double factor = 1.0;
    g_object_get(TForm1Probe(*form).FilterGraph1().Pipeline(), "volume", &factor, nullptr);
    EXPECT_NEAR(factor, AttenuationToFactor(-4989), 1e-9);
    Find<ThlTrackBar>(*form, "hlTrackBarVolume")->SetPosition(0);
    gboolean muted = FALSE;
    g_object_get(TForm1Probe(*form).FilterGraph1().Pipeline(), "mute", &muted, nullptr);
    EXPECT_TRUE(muted);
}

TEST_F(PreviewWindowTest, ASplitStopsThePreviewAndGatesTheTransport)
{
    testing::TempFolder folder;
    auto form = windowWithClip();
    chooseFolder(*form, folder.path());
    Find<QPushButton>(*form, "ButtonPlay")->click();
    ASSERT_TRUE(TForm1Probe(*form).FilterGraph1().Active());
    Find<QPushButton>(*form, "ButtonSplit")->click();
    EXPECT_TRUE(TForm1Probe(*form).SplitBusy());
    EXPECT_FALSE(TForm1Probe(*form).FilterGraph1().Active());
    // While the split runs the transport does nothing.
    Find<QPushButton>(*form, "ButtonPlay")->click();
    EXPECT_FALSE(TForm1Probe(*form).FilterGraph1().Active());
    Find<QPushButton>(*form, "ButtonPause")->click();
    EXPECT_FALSE(TForm1Probe(*form).PreviewPaused());
    ASSERT_TRUE(waitFor([&] { return !TForm1Probe(*form).SplitBusy(); }));
    Find<QPushButton>(*form, "ButtonPlay")->click();
    EXPECT_TRUE(TForm1Probe(*form).FilterGraph1().Active());
}

// After a split the preview is back where it stood, paused on its picture,
// and the thumb stays where the user puts it: a mark takes that position.
TEST_F(PreviewWindowTest, AfterASplitThePreviewIsBackWhereItWas)
{
    testing::TempFolder folder;
    auto form = openWindow();
    Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxPlayVideoFile()->setChecked(false);
    addFile(*form, testing::PreviewPatternClip());
    chooseFolder(*form, folder.path());
    TFilterGraph& graph = TForm1Probe(*form).FilterGraph1();
    const auto shown = [&] {
        QImage picture;
        return Find<TSampleGrabber>(*form, "SampleGrabber1")->CopyFrameToBitmap(&picture)
                   ? testing::PicturePattern(picture)
                   : -1;
    };
    ThlTrackBar& bar = *Find<ThlTrackBar>(*form, "hlTrackBar1");
    Find<QPushButton>(*form, "ButtonPlay")->click();
    Find<QPushButton>(*form, "ButtonPause")->click();
    form->SeekTimeline(1200);
    ASSERT_TRUE(waitFor([&] { return shown() == 30; }));

    EXPECT_EQ(splitAndWait(*form), QStringLiteral("Splitting Done!"));
    ASSERT_TRUE(waitFor([&] { return graph.Active() && TForm1Probe(*form).PreviewPaused(); }));
    EXPECT_EQ(bar.Position(), 1200);
    ASSERT_TRUE(waitFor([&] { return shown() == 30; })) << shown();

    // A click on the timeline moves the thumb there, and the position timer
    // (two of its ticks) leaves it there.
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(bar.PixelOf(2000), bar.height() / 2));
    int ticks = 0;
    QObject::connect(Find<QTimer>(*form, "TimerTrackBarPosition"), &QTimer::timeout,
                     [&] { ++ticks; });
    ASSERT_TRUE(waitFor([&] { return ticks >= 2; }));
    const int clicked = bar.Position();
    EXPECT_GT(clicked, 1500);
    Find<QPushButton>(*form, "ButtonMarkStart")->click();
    EXPECT_EQ(bar.SelStart(), clicked);
    EXPECT_EQ(Find<QLabel>(*form, "PanelStart")->text(), SecondsText(clicked));

    // A preview that was not open stays closed.
    Find<QPushButton>(*form, "ButtonStop")->click();
    dialogs.messages.clear();
    Find<QPushButton>(*form, "ButtonClearMarks")->click();
    splitAndWait(*form);
    // A call queued now runs after anything the split's end queued.
    bool queueRan = false;
    QMetaObject::invokeMethod(form.get(), [&] { queueRan = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(waitFor([&] { return queueRan; }));
    EXPECT_FALSE(graph.Active());
}

}  // namespace
}  // namespace clipmora
