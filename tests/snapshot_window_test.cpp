// Snapshots in the real main window: names in the output folder, the picture
// on screen at the source's size, the folder checks, a folder that cannot be
// written, and the preview's state afterwards.
#include "tests/support/main_window_fixture.h"
#include "tests/support/picture_pattern.h"

#include "preview/video_window.h"
#include "widgets/hl_track_bar.h"

#include <QCheckBox>
#include <QImageReader>
#include <QLineEdit>

#include <fstream>

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::MainWindowTest;

int patternOf(const QImage& picture) { return testing::PicturePattern(picture); }

class SnapshotTest : public MainWindowTest {
protected:
    // clip.avi (320 x 240, 25 fps, 3 s) in a folder of its own, added to a
    // window whose preview plays it, and an output folder.
    std::unique_ptr<TForm1> windowPlayingClip()
    {
        testing::MediaSpec spec = testing::AviMpeg4Mp3();
        spec.width = 320;
        spec.height = 240;
        spec.seconds = 3.0;
        const fs::path clip = source.path() / "clip.avi";
        fs::copy_file(testing::CachedMedia("snapshot_clip.avi", spec), clip);
        auto form = openWindow();
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
            ->CheckBoxPlayVideoFile()
            ->setChecked(true);
        addFile(*form, clip.string());
        chooseFolder(*form, output.path());
        return form;
    }
    static QImage saved(const fs::path& file)
    {
        QImageReader reader(QString::fromStdString(file.string()));
        EXPECT_EQ(reader.format(), QByteArray("bmp"));
        return reader.read();
    }

    testing::TempFolder source;
    testing::TempFolder output;
};

TEST_F(SnapshotTest, ThreeSnapshotsGetThreeNames)
{
    auto form = windowPlayingClip();
    EXPECT_EQ(Find<QPushButton>(*form, "ButtonSnapshot")->text(), QStringLiteral("Snapshot"));
    EXPECT_EQ(Find<QPushButton>(*form, "ButtonSnapshot")->geometry(), QRect(211, 420, 86, 35));
    for (int shot = 0; shot < 3; ++shot)
        Find<QPushButton>(*form, "ButtonSnapshot")->click();
    for (const char* name : {"clip.bmp", "clip-1.bmp", "clip-2.bmp"})
        EXPECT_TRUE(fs::exists(output.path() / name)) << name;
    EXPECT_FALSE(fs::exists(output.path() / "clip-3.bmp"));
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(dialogs.exceptions.isEmpty());
}

TEST_F(SnapshotTest, AFreeNameIsTakenFirst)
{
    std::ofstream(output.path() / "clip-1.bmp") << "taken";
    auto form = windowPlayingClip();
    Find<QPushButton>(*form, "ButtonSnapshot")->click();
    Find<QPushButton>(*form, "ButtonSnapshot")->click();
    EXPECT_TRUE(fs::exists(output.path() / "clip.bmp"));
    EXPECT_TRUE(fs::exists(output.path() / "clip-2.bmp"));
    std::ifstream untouched(output.path() / "clip-1.bmp");
    std::string text;
    untouched >> text;
    EXPECT_EQ(text, "taken");
}

TEST_F(SnapshotTest, TheBitmapHoldsThePausedPictureAtTheSourcesSize)
{
    auto form = windowPlayingClip();
    Find<QPushButton>(*form, "ButtonPause")->click();
    TForm1Probe(*form).FilterGraph1().SetPosition(1840);
    ASSERT_TRUE(waitFor(
        [&] {
            return Find<TVideoWindow>(*form, "VideoWindow1")->Stats().lastPaintedTimeMs == 1840;
        },
        20));
    // What the window shows, read in its letter-boxed 377 x 283 picture.
    const int onScreen =
        patternOf(Find<TVideoWindow>(*form, "VideoWindow1")->CurrentPicture().copy(3, 0, 377, 283));
    EXPECT_NEAR(onScreen, 46, 1);
    Find<QPushButton>(*form, "ButtonSnapshot")->click();
    const QImage picture = saved(output.path() / "clip.bmp");
    EXPECT_EQ(picture.size(), QSize(320, 240)) << "the source's size, not the window's";
    EXPECT_EQ(patternOf(picture), onScreen);
    EXPECT_EQ(picture, TForm1Probe(*form).Image1().convertToFormat(picture.format()));
    // A paused preview stays paused as far as the buttons know, but plays on.
    EXPECT_TRUE(TForm1Probe(*form).PreviewPaused());
    GstState state = GST_STATE_NULL;
    gst_element_get_state(TForm1Probe(*form).FilterGraph1().Pipeline(), &state, nullptr,
                          5 * GST_SECOND);
    EXPECT_EQ(state, GST_STATE_PLAYING);
    // The next Play is a resume of the open file.
    GstElement* opened = TForm1Probe(*form).FilterGraph1().Pipeline();
    Find<QPushButton>(*form, "ButtonPlay")->click();
    EXPECT_EQ(TForm1Probe(*form).FilterGraph1().Pipeline(), opened);
    EXPECT_FALSE(TForm1Probe(*form).PreviewPaused());
}

TEST_F(SnapshotTest, NothingWithoutAPreviewAndTheFolderChecksOtherwise)
{
    auto form = windowPlayingClip();
    Find<QPushButton>(*form, "ButtonStop")->click();
    Find<QPushButton>(*form, "ButtonSnapshot")->click();
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(fs::is_empty(output.path()));

    Find<QPushButton>(*form, "ButtonPlay")->click();
    form->EditOutputFolder()->clear();
    dialogs.folderToChoose.clear();
    Find<QPushButton>(*form, "ButtonSnapshot")->click();
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Please select an output folder!")});
    EXPECT_EQ(dialogs.folderChooserRuns, 2);

    const QString gone = QString::fromStdString((output.path() / "gone").string());
    form->EditOutputFolder()->setText(gone);
    Find<QPushButton>(*form, "ButtonSnapshot")->click();
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(dialogs.messages[1], QStringLiteral("The output folder \"") + gone +
                                       QStringLiteral("\"\n\rdoes not exist or has been deleted!"
                                                      "\n\rPlease choose a new output folder."));
    EXPECT_EQ(dialogs.folderChooserRuns, 3);
    EXPECT_TRUE(fs::is_empty(output.path()));
}

TEST_F(SnapshotTest, WithoutAPictureThePreviewIsLeftAsItWas)
{
    auto form = openWindow();
    Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxPlayVideoFile()->setChecked(true);
    addFile(*form, testing::CachedMedia("audio_only.m4a", testing::AudioOnly()));
    chooseFolder(*form, output.path());
    TFilterGraph& graph = TForm1Probe(*form).FilterGraph1();
    ASSERT_TRUE(waitFor([&] { return graph.Position() > 200; }));
    GstElement* opened = graph.Pipeline();
    for (const bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        if (paused)
            Find<QPushButton>(*form, "ButtonPause")->click();
        Find<QPushButton>(*form, "ButtonSnapshot")->click();
        GstState state = GST_STATE_NULL;
        gst_element_get_state(graph.Pipeline(), &state, nullptr, 5 * GST_SECOND);
        EXPECT_EQ(state, paused ? GST_STATE_PAUSED : GST_STATE_PLAYING);
        EXPECT_EQ(TForm1Probe(*form).PreviewPaused(), paused);
    }
    EXPECT_EQ(dialogs.exceptions.size(), 2);
    EXPECT_TRUE(fs::is_empty(output.path()));
    // The next Play resumes the open file where it was.
    const int position = graph.Position();
    Find<QPushButton>(*form, "ButtonPlay")->click();
    EXPECT_EQ(graph.Pipeline(), opened);
    EXPECT_GE(graph.Position(), position);
}

TEST_F(SnapshotTest, AFolderThatCannotBeWrittenIsReported)
{
    auto form = windowPlayingClip();
    // Even the superuser cannot create files in /proc.
    form->EditOutputFolder()->setText(QStringLiteral("/proc"));
    Find<QPushButton>(*form, "ButtonSnapshot")->click();
    ASSERT_EQ(dialogs.exceptions.size(), 1);
    EXPECT_TRUE(dialogs.exceptions[0].startsWith(QStringLiteral("Cannot save the snapshot \"/proc/clip.bmp\"")))
        << dialogs.exceptions[0].toStdString();
    // The preview stays paused on the picture that could not be saved.
    GstState state = GST_STATE_NULL;
    gst_element_get_state(TForm1Probe(*form).FilterGraph1().Pipeline(), &state, nullptr,
                          5 * GST_SECOND);
    EXPECT_EQ(state, GST_STATE_PAUSED);
    EXPECT_FALSE(TForm1Probe(*form).Image1().isNull());
}

TEST_F(SnapshotTest, WaitsWhileASplitRuns)
{
    auto form = windowPlayingClip();
    Find<QPushButton>(*form, "ButtonSplit")->click();
    ASSERT_TRUE(TForm1Probe(*form).SplitBusy());
    Find<QPushButton>(*form, "ButtonSnapshot")->click();
    waitFor([&] { return !TForm1Probe(*form).SplitBusy(); });
    EXPECT_FALSE(fs::exists(output.path() / "clip.bmp"));
}

}  // namespace
}  // namespace clipmora
