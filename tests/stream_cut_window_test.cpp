// "Keep Original Streams" in the real main window: the controls it turns
// off, a marked split that copies the streams, refused copies, and the
// stored choice.
#include "tests/support/main_window_fixture.h"

#include "widgets/hl_track_bar.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::MainWindowTest;

class KeepStreamsTest : public MainWindowTest {
protected:
    std::unique_ptr<TForm1> windowWith(const std::string& clip)
    {
        auto form = openWindow();
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
            ->CheckBoxPlayVideoFile()
            ->setChecked(false);
        addFile(*form, clip);
        return form;
    }
    static void markAt(TForm1& form, int positionMs, QPushButton* button)
    {
        Find<ThlTrackBar>(form, "hlTrackBar1")->SetPosition(positionMs);
        button->click();
    }
    static std::vector<QWidget*> formatControls(TForm1& form)
    {
        return {Find<QComboBox>(form, "ComboOutputFormat"),
                Find<QComboBox>(form, "ComboVideoSize"),
                Find<QComboBox>(form, "ComboVideoFramerate"),
                Find<QComboBox>(form, "ComboAudioChannels"),
                Find<QComboBox>(form, "ComboVideoQuality"),
                Find<QComboBox>(form, "ComboAudioQuality"),
                Find<QSlider>(form, "TrackBarVolumeOut")};
    }
};

TEST_F(KeepStreamsTest, TheChoiceTurnsTheFormatControlsOffAndKeepsTheirValues)
{
    auto form = openWindow();
    chooseFormat(*form, QStringLiteral("AVI - DivX Video (*.avi)"));
    Find<QComboBox>(*form, "ComboVideoQuality")->setCurrentIndex(1);
    Find<QSlider>(*form, "TrackBarVolumeOut")->setValue(7);
    QCheckBox* keep =
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxKeepOriginalStreams();
    EXPECT_EQ(keep->text(), QStringLiteral("Keep Original Streams (fast, no re-encoding)"));
    EXPECT_FALSE(keep->isChecked());
    // The exact cut is a choice within the kept streams: on by default, and
    // open to change only while they are kept, keeping its state when not.
    QCheckBox* exact = Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxExactCut();
    for (QCheckBox* box : {keep, exact}) {
        EXPECT_GE(box->width(), box->sizeHint().width()) << "caption cut off";
        EXPECT_LE(box->geometry().right(),
                  Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->width());
    }
    EXPECT_TRUE(exact->isChecked());
    EXPECT_FALSE(exact->isEnabled());
    keep->setChecked(true);
    EXPECT_TRUE(exact->isEnabled());
    exact->setChecked(false);
    for (QWidget* control : formatControls(*form))
        EXPECT_FALSE(control->isEnabled()) << control->metaObject()->className();
    EXPECT_EQ(Find<QComboBox>(*form, "ComboOutputFormat")->currentText(),
              QStringLiteral("AVI - DivX Video (*.avi)"));
    EXPECT_EQ(Find<QComboBox>(*form, "ComboVideoQuality")->currentIndex(), 1);
    EXPECT_EQ(Find<QSlider>(*form, "TrackBarVolumeOut")->value(), 7);
    keep->setChecked(false);
    for (QWidget* control : formatControls(*form))
        EXPECT_TRUE(control->isEnabled()) << control->metaObject()->className();
    EXPECT_FALSE(exact->isEnabled());
    EXPECT_FALSE(exact->isChecked());
}

TEST_F(KeepStreamsTest, AMarkedKeyFrameSplitCopiesTheStreamsFromTheKeyFrame)
{
    testing::TempFolder folder;
    const std::string clip = testing::CachedMedia("window_clip.mp4", testing::shortClip());
    auto form = windowWith(clip);
    chooseFolder(*form, folder.path());
    chooseFormat(*form, QStringLiteral("AVI - DivX Video (*.avi)"));
    Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
        ->CheckBoxKeepOriginalStreams()
        ->setChecked(true);
    Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxExactCut()->setChecked(false);
    // Key frames come every 12 pictures at 25 per second: 0.96 s is the last
    // one before the 1 s mark.
    markAt(*form, 1000, Find<QPushButton>(*form, "ButtonMarkStart"));
    markAt(*form, 1600, Find<QPushButton>(*form, "ButtonMarkEnd"));
    EXPECT_EQ(splitAndWait(*form), QStringLiteral("Splitting Done!"));
    EXPECT_EQ(Find<QLabel>(*form, "StatusTimeLeft")->text(),
              QStringLiteral("Started at the key frame at 0.96 s"));
    EXPECT_EQ(Find<QLabel>(*form, "StatusTimeLeft")->toolTip(),
              Find<QLabel>(*form, "StatusTimeLeft")->text())
        << "a note longer than its panel can be read whole";
    EXPECT_EQ(TForm1Probe(*form).Transcoder1().TaskCount(), 0)
        << "the engine's re-encoding split did not run";
    for (QWidget* control : formatControls(*form))
        EXPECT_FALSE(control->isEnabled()) << "still off after the split";

    const fs::path output = folder.path() / "window_clip.mp4";
    EXPECT_EQ(TForm1Probe(*form).LastOutputFile().toStdString(), output.string());
    const testing::DecodedSummary decoded = testing::DecodeMedia(output.string());
    EXPECT_EQ(decoded.firstFramePattern, 24);
    EXPECT_EQ(decoded.lastFramePattern, 39);
    EXPECT_EQ(decoded.width, 160) << "the source's own picture, not the format's";

    // The next split takes the next free name; the first one's percentage,
    // size and note go as it starts, and with a new file.
    const auto readouts = [&] {
        return QStringList{Find<QLabel>(*form, "PanelPercent")->text(),
                           Find<QLabel>(*form, "StatusPanel1")->text(),
                           Find<QLabel>(*form, "StatusTimeLeft")->text()};
    };
    EXPECT_EQ(readouts()[0], QStringLiteral("100%"));
    EXPECT_FALSE(readouts()[1].isEmpty());
    QStringList atStart;
    const auto started = QObject::connect(Find<QPushButton>(*form, "ButtonSplit"),
                                          &QPushButton::clicked, [&] { atStart = readouts(); });
    EXPECT_EQ(splitAndWait(*form), QStringLiteral("Splitting Done!"));
    QObject::disconnect(started);
    EXPECT_EQ(atStart, (QStringList{QStringLiteral("0%"), QString(), QString()}));
    EXPECT_TRUE(fs::exists(folder.path() / "window_clip-1.mp4"));
    addFile(*form, clip);
    EXPECT_EQ(readouts(), (QStringList{QStringLiteral("0%"), QString(), QString()}));
}

// Splits the copy cannot make are refused with the reason before anything
// is written: equal marks.
TEST_F(KeepStreamsTest, RefusedCopiesSayWhyAndWriteNothing)
{
    testing::TempFolder folder;
    const std::string clip = testing::CachedMedia("window_clip.mp4", testing::shortClip());
    const struct {
        std::string source;
        int startMs, endMs;  // -1: not marked
        std::string message;
    } cases[] = {
        {clip, 1000, 1000, "The start and end marks are the same: there is nothing between them to copy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const fs::path outputs = folder.path() / ("out" + std::to_string(c.startMs));
        fs::create_directory(outputs);
        auto form = windowWith(c.source);
        chooseFolder(*form, outputs);
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
            ->CheckBoxKeepOriginalStreams()
            ->setChecked(true);
        if (c.startMs >= 0) {
            markAt(*form, c.startMs, Find<QPushButton>(*form, "ButtonMarkStart"));
            markAt(*form, c.endMs, Find<QPushButton>(*form, "ButtonMarkEnd"));
        }
        Find<QPushButton>(*form, "ButtonSplit")->click();
        ASSERT_FALSE(dialogs.messages.isEmpty());
        EXPECT_EQ(dialogs.messages.last(), QString::fromStdString(c.message));
        EXPECT_FALSE(TForm1Probe(*form).SplitBusy());
        EXPECT_TRUE(fs::is_empty(outputs));
    }
}

// Each choice is stored; a store written before it existed holds the
// choice's default (streams re-encoded, an exact cut), and the other values
// are read as they are, not replaced by the defaults.
TEST_F(KeepStreamsTest, TheChoicesAreStoredAndOldStoresMeanTheirDefaults)
{
    const struct {
        const char* name;
        QCheckBox* (TForm2OptionsForm::*box)() const;
        bool absentMeans;
    } values[] = {{"KeepOriginalStreams", &TForm2OptionsForm::CheckBoxKeepOriginalStreams, false},
                  {"ExactToTheFrame", &TForm2OptionsForm::CheckBoxExactCut, true}};
    // The exact cut's box follows the kept streams however they were loaded,
    // and the format controls are off while they are kept.
    const auto expectConsistent = [](TForm1& form) {
        const bool keep = Find<TForm2OptionsForm>(form, "Form2OptionsForm")->KeepOriginalStreams();
        EXPECT_EQ(
            Find<TForm2OptionsForm>(form, "Form2OptionsForm")->CheckBoxExactCut()->isEnabled(),
            keep);
        EXPECT_EQ(Find<QComboBox>(form, "ComboOutputFormat")->isEnabled(), !keep);
    };
    for (const auto& value : values) {
        SCOPED_TRACE(value.name);
        const QString name = QLatin1String(value.name);
        {
            auto form = openWindow();
            Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
                ->CheckBoxKeepOriginalStreams()
                ->setChecked(true);
            (Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->*value.box)()->setChecked(
                !value.absentMeans);
            Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
                ->CheckBoxOverwrite()
                ->setChecked(true);
            EXPECT_TRUE(form->close());
        }
        EXPECT_EQ(store().value(name).toInt(), value.absentMeans ? 0 : 1);
        {
            auto form = openWindow();
            EXPECT_EQ(
                (Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->*value.box)()->isChecked(),
                !value.absentMeans);
            expectConsistent(*form);
        }
        store().remove(name);
        {
            auto form = openWindow();
            EXPECT_EQ(
                (Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->*value.box)()->isChecked(),
                value.absentMeans);
            EXPECT_TRUE(Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
                            ->CheckBoxOverwrite()
                            ->isChecked());
            expectConsistent(*form);
        }
        EXPECT_FALSE(store().contains(name)) << "loading alone stores nothing";
    }
}

}  // namespace
}  // namespace clipmora
