// The preview in the real main window: Play, Pause and Stop with their edge
// cases, playing on "Add Video File", the position timer at the end of the
// file, the volume slider, and the preview letting go before a split.
#include "tests/support/main_window_fixture.h"

#include "preview/video_window.h"
#include "widgets/hl_track_bar.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QTimer>

namespace clipmora {
namespace {

using testing::MainWindowTest;

class PreviewWindowTest : public MainWindowTest {
protected:
    // A window with a clip added and the automatic preview switched off.
    std::unique_ptr<TForm1> windowWithClip(bool autoPlay = false)
    {
        auto form = openWindow();
        form->OptionsForm()->CheckBoxPlayVideoFile()->setChecked(autoPlay);
        addFile(*form, testing::CachedMedia("window_clip.mp4", testing::shortClip()));
        return form;
    }
};

TEST_F(PreviewWindowTest, ControlsSitInThePreviewArea)
{
    auto form = openWindow();
    EXPECT_EQ(form->Panel1()->geometry(), QRect(8, 4, 393, 295));
    EXPECT_EQ(form->VideoWindow1()->geometry(), QRect(4, 6, 383, 283));
    EXPECT_EQ(form->VideoWindow1()->parentWidget(), form->Panel1());
    EXPECT_EQ(form->VideoWindow1()->Mode(), vmVMR);
    EXPECT_EQ(form->VideoWindow1()->VMROptions().Streams(), 1u);
    EXPECT_TRUE(form->VideoWindow1()->VMROptions().KeepAspectRatio());
    EXPECT_EQ(form->ButtonPlay()->toolTip(), QStringLiteral("Play"));
    EXPECT_EQ(form->ButtonPause()->toolTip(), QStringLiteral("Pause"));
    EXPECT_EQ(form->ButtonStop()->toolTip(), QStringLiteral("Stop"));
    EXPECT_EQ(form->TrackBarVolume()->Max(), 20000);
    EXPECT_EQ(form->TrackBarVolume()->Position(), 10000);
    EXPECT_EQ(form->TimerTrackBarPosition()->interval(), 100);
    EXPECT_FALSE(form->TimerTrackBarPosition()->isActive());
    EXPECT_FALSE(form->FilterGraph1().Active());
}

TEST_F(PreviewWindowTest, AddingAFilePlaysItWhenTheSettingIsOn)
{
    auto form = windowWithClip(true);
    EXPECT_TRUE(form->FilterGraph1().Active());
    EXPECT_TRUE(form->TimerTrackBarPosition()->isActive());
    ASSERT_TRUE(waitFor([&] { return form->VideoWindow1()->Stats().framesPainted > 0; }, 20));
    ASSERT_TRUE(waitFor([&] { return form->TimelinePosition() > 300; }, 20));
    EXPECT_NE(form->PanelCurrentPosition()->text(), QStringLiteral("Video Position"));

    // Adding another file lets go of the first before anything else.
    form->OptionsForm()->CheckBoxPlayVideoFile()->setChecked(false);
    addFile(*form, testing::CachedMedia("window_clip.mp4", testing::shortClip()));
    EXPECT_FALSE(form->FilterGraph1().Active());
    EXPECT_FALSE(form->PreviewPaused());
}

TEST_F(PreviewWindowTest, PauseResumesWithoutReopeningAndStopStartsAfresh)
{
    auto form = windowWithClip();
    EXPECT_FALSE(form->FilterGraph1().Active());
    form->ButtonPlay()->click();
    ASSERT_TRUE(form->FilterGraph1().Active());
    GstElement* opened = form->FilterGraph1().Pipeline();
    ASSERT_TRUE(waitFor([&] { return form->FilterGraph1().Position() > 400; }, 20));

    form->ButtonPause()->click();
    EXPECT_TRUE(form->PreviewPaused());
    form->ButtonPlay()->click();
    EXPECT_FALSE(form->PreviewPaused());
    EXPECT_EQ(form->FilterGraph1().Pipeline(), opened) << "a resume keeps the open file";
    EXPECT_GT(form->FilterGraph1().Position(), 300);

    form->ButtonStop()->click();
    EXPECT_FALSE(form->FilterGraph1().Active());
    EXPECT_FALSE(form->TimerTrackBarPosition()->isActive());
    form->ButtonPlay()->click();
    ASSERT_TRUE(form->FilterGraph1().Active());
    EXPECT_LT(form->FilterGraph1().Position(), 300) << "Stop then Play starts from the beginning";
    EXPECT_TRUE(dialogs.exceptions.isEmpty());
}

TEST_F(PreviewWindowTest, PauseWithNothingPlayingOnlyArmsTheResume)
{
    auto form = windowWithClip();
    form->ButtonPause()->click();
    EXPECT_TRUE(form->PreviewPaused());
    form->ButtonPlay()->click();  // resume of nothing: only clears the flag
    EXPECT_FALSE(form->PreviewPaused());
    EXPECT_FALSE(form->FilterGraph1().Active());
    form->ButtonPlay()->click();
    EXPECT_TRUE(form->FilterGraph1().Active());
}

TEST_F(PreviewWindowTest, PlayNeedsAFileAndAnIdleWindow)
{
    auto form = openWindow();
    form->ButtonPlay()->click();
    EXPECT_FALSE(form->FilterGraph1().Active());
    EXPECT_FALSE(form->TimerTrackBarPosition()->isActive());
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
    form->OptionsForm()->CheckBoxPlayVideoFile()->setChecked(false);
    for (const std::string& clip : clips) {
        SCOPED_TRACE(clip);
        addFile(*form, clip);
        form->ButtonPlay()->click();
        TFilterGraph& graph = form->FilterGraph1();
        ASSERT_TRUE(waitFor(
            [&] { return graph.Duration() > 0 && graph.Position() == graph.Duration(); }, 20));
        waitFor([] { return false; }, 1);
        EXPECT_TRUE(graph.Active());
        EXPECT_TRUE(form->TimerTrackBarPosition()->isActive());
        EXPECT_EQ(form->TimelinePosition(), form->TimelineMax());
        GstState state = GST_STATE_NULL;
        gst_element_get_state(graph.Pipeline(), &state, nullptr, GST_SECOND);
        EXPECT_EQ(state, GST_STATE_PAUSED) << "stopped at the end";
        // The next Play starts the file again.
        form->ButtonPlay()->click();
        EXPECT_LT(graph.Position(), graph.Duration());
    }
}

TEST_F(PreviewWindowTest, VolumeSliderDrivesTheGraph)
{
    auto form = windowWithClip();
    form->TrackBarVolume()->SetPosition(15000);
    EXPECT_EQ(form->FilterGraph1().Volume(), 10000);
    form->TrackBarVolume()->SetPosition(100);
    EXPECT_EQ(form->FilterGraph1().Volume(), 100);
    form->ButtonPlay()->click();  // a fresh start takes the slider's level
    double factor = 1.0;
    g_object_get(form->FilterGraph1().Pipeline(), "volume", &factor, nullptr);
    EXPECT_NEAR(factor, AttenuationToFactor(-4989), 1e-9);
    form->TrackBarVolume()->SetPosition(0);
    gboolean muted = FALSE;
    g_object_get(form->FilterGraph1().Pipeline(), "mute", &muted, nullptr);
    EXPECT_TRUE(muted);
}

TEST_F(PreviewWindowTest, ASplitStopsThePreviewAndGatesTheTransport)
{
    testing::TempFolder folder;
    auto form = windowWithClip();
    chooseFolder(*form, folder.path());
    form->ButtonPlay()->click();
    ASSERT_TRUE(form->FilterGraph1().Active());
    form->ButtonSplit()->click();
    EXPECT_TRUE(form->SplitBusy());
    EXPECT_FALSE(form->FilterGraph1().Active());
    // While the split runs the transport does nothing.
    form->ButtonPlay()->click();
    EXPECT_FALSE(form->FilterGraph1().Active());
    form->ButtonPause()->click();
    EXPECT_FALSE(form->PreviewPaused());
    ASSERT_TRUE(waitFor([&] { return !form->SplitBusy(); }));
    form->ButtonPlay()->click();
    EXPECT_TRUE(form->FilterGraph1().Active());
}

}  // namespace
}  // namespace clipmora
