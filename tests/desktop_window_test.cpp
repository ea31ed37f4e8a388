// The window as a desktop program: files dropped on it or named on the
// command line take the dialog's path, the keyboard (and its gating while a
// split runs), the time left in the status bar, "Open Output Folder", and
// the window growing, shrinking and going full screen.
#include "tests/support/main_window_fixture.h"

#include "app/file_names.h"
#include "preview/filter_graph.h"
#include "preview/video_window.h"
#include "widgets/hl_track_bar.h"
#include "widgets/timeline_strip.h"

#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <vector>

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::MainWindowTest;

// 22 s at 29.97 frames per second: long enough that a split is still running
// when the test looks.
std::string ntscClip()
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.frameRateNum = 30000;
    spec.frameRateDen = 1001;
    spec.seconds = 22.0;
    return testing::CachedMedia("desktop_ntsc.mp4", spec);
}

std::string shortClip() { return testing::CachedMedia("window_clip.mp4", testing::shortClip()); }

// The picture inside the letter-box borders of `shown`: the borders are
// pure black; the clip's pictures have no black row or column in their
// lower half (a gradient), and the renderer centres them.
QSize pictureInsideBorders(const QImage& shown)
{
    const QImage rgb = shown.convertToFormat(QImage::Format_RGB32);
    const auto black = [&](int x, int y) { return (rgb.pixel(x, y) & 0xffffffu) == 0; };
    const auto blackColumn = [&](int x) {
        return black(x, rgb.height() * 5 / 8) && black(x, rgb.height() * 3 / 4) &&
               black(x, rgb.height() * 7 / 8);
    };
    const auto blackRow = [&](int y) {
        return black(rgb.width() / 4, y) && black(rgb.width() / 2, y) &&
               black(rgb.width() * 3 / 4, y);
    };
    int side = 0, below = 0;
    while (side < rgb.width() / 2 && blackColumn(side))
        ++side;
    while (below < rgb.height() / 2 && blackRow(rgb.height() - 1 - below))
        ++below;
    return QSize(rgb.width() - 2 * side, rgb.height() - 2 * below);
}

// What adding a file leaves behind in the window.
struct AddedState {
    QString file;
    QString frameRate;
    int timelineMax = 0;
    QString previewFile;
    double startFrame = 0;
    double endFrame = 0;
    QString startPanel;
    QString endPanel;
    int selEnd = 0;
    bool previewActive = false;
    QStringList messages;

    bool operator==(const AddedState&) const = default;
};

class DesktopWindowTest : public MainWindowTest {
protected:
    std::unique_ptr<TForm1> activeWindow(bool autoPlay = false)
    {
        auto form = openWindow();
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
            ->CheckBoxPlayVideoFile()
            ->setChecked(autoPlay);
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        return form;
    }

    // A window with marks set, so adding a file has something to reset.
    std::unique_ptr<TForm1> markedWindow()
    {
        auto form = activeWindow(true);
        addFile(*form, ntscClip());
        Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(3000);
        Find<QPushButton>(*form, "ButtonMarkStart")->click();
        Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(5000);
        Find<QPushButton>(*form, "ButtonMarkEnd")->click();
        dialogs.messages.clear();
        return form;
    }

    AddedState stateOf(TForm1& form)
    {
        return {Find<QLineEdit>(form, "EditVideoFilename")->text(),
                TForm1Probe(form).SourceFrameRate(),
                TForm1Probe(form).TimelineMax(),
                TForm1Probe(form).PreviewFile(),
                TForm1Probe(form).StartFrame(),
                TForm1Probe(form).EndFrame(),
                Find<QLabel>(form, "PanelStart")->text(),
                Find<QLabel>(form, "PanelEnd")->text(),
                Find<ThlTrackBar>(form, "hlTrackBar1")->SelEnd(),
                TForm1Probe(form).FilterGraph1().Active(),
                dialogs.messages};
    }

    // Drops `files` on the window as a file manager would; true when the
    // window took the drag.
    static bool drop(TForm1& form, const QStringList& files)
    {
        QList<QUrl> urls;
        for (const QString& file : files)
            urls << QUrl::fromLocalFile(file);
        return dropUrls(form, urls);
    }
    static bool dropUrls(TForm1& form, const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = form.rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &dropped);
        return dropped.isAccepted();
    }

    // The frame a mark at the timeline's position counts, at the source's rate.
    static long nativeFrame(TForm1& form)
    {
        return std::lround(TForm1Probe(form).SourceFrameRate().toDouble() *
                           TForm1Probe(form).TimelinePosition() / 1000.0);
    }
};

TEST_F(DesktopWindowTest, DropAndCommandLineTakeTheDialogsPath)
{
    const QString clip = QString::fromStdString(ntscClip());
    auto byDialog = markedWindow();
    addFile(*byDialog, clip.toStdString());
    const AddedState expected = stateOf(*byDialog);
    EXPECT_EQ(expected.file, clip);
    EXPECT_EQ(expected.frameRate, QStringLiteral("29.97"));
    EXPECT_EQ(expected.timelineMax, 22000);
    EXPECT_EQ(expected.selEnd, 0) << "the marks are reset";
    EXPECT_EQ(expected.startPanel + expected.endPanel, QString()) << "and so are their panels";
    EXPECT_TRUE(expected.previewActive) << "the preview starts as after a pick";
    byDialog.reset();

    auto byDrop = markedWindow();
    ASSERT_TRUE(drop(*byDrop, {clip}));
    ASSERT_TRUE(waitFor([&] { return TForm1Probe(*byDrop).StartFrame() == 0; }));
    EXPECT_EQ(stateOf(*byDrop), expected);
    byDrop.reset();

    // The command line's names become absolute paths; a file: URL is a path.
    const QString relative = QDir::current().relativeFilePath(clip);
    EXPECT_EQ(VideoFilesFromArguments(
                  {relative, QUrl::fromLocalFile(clip).toString(), {}, QStringLiteral("--help")}),
              (QStringList{clip, clip}));
    auto byArgument = markedWindow();
    byArgument->AddVideoFiles(VideoFilesFromArguments({relative}));
    EXPECT_EQ(stateOf(*byArgument), expected);
}

// A name that is not UTF-8 names its own file, also beside a file whose name
// reads the same: the window shows, plays and splits the file whose bytes it
// was given, dropped or named on the command line.
TEST_F(DesktopWindowTest, ANameThatIsNotUtf8OpensItsOwnFile)
{
    testing::TempFolder folder;
    const std::string real = (folder.path() / "clip\xff.mp4").string();
    fs::copy_file(shortClip(), real);
    fs::copy_file(ntscClip(), folder.path() / "clip\xef\xbf\xbd.mp4");  // 22 s, not 2 s
    const QUrl url =
        QUrl::fromEncoded("file://" + QByteArray::fromStdString(real).toPercentEncoding("/"));
    const struct {
        const char* way;
        std::function<void(TForm1&)> add;
    } ways[] = {
        {"dropped", [&](TForm1& form) { ASSERT_TRUE(dropUrls(form, {url})); }},
        {"named on the command line",
         [&](TForm1& form) { form.AddVideoFiles(VideoFilesFromArguments({NameFromBytes(real)})); }},
        {"as a file: URL on the command line",
         [&](TForm1& form) {
             form.AddVideoFiles(VideoFilesFromArguments({QString::fromLatin1(url.toEncoded())}));
         }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.way);
        const fs::path outputs = folder.path() / way.way;
        fs::create_directory(outputs);
        auto form = activeWindow();
        chooseFolder(*form, outputs);
        way.add(*form);
        ASSERT_TRUE(waitFor([&] { return !TForm1Probe(*form).PreviewFile().isEmpty(); }));
        EXPECT_EQ(NameBytes(TForm1Probe(*form).PreviewFile()), real);
        EXPECT_EQ(TForm1Probe(*form).TimelineMax(), 2000);
        TFilterGraph& graph = TForm1Probe(*form).FilterGraph1();
        Find<QPushButton>(*form, "ButtonPlay")->click();
        ASSERT_TRUE(graph.Active());
        EXPECT_NEAR(graph.Duration(), 2000, 100) << "the preview plays the file named";
        Find<QPushButton>(*form, "ButtonStop")->click();

        EXPECT_EQ(splitAndWait(*form), QStringLiteral("Splitting Done!"));
        const std::string output = NameBytes(TForm1Probe(*form).LastOutputFile());
        EXPECT_EQ(fs::path(output).stem().string(), "clip\xff");
        EXPECT_EQ(testing::DecodeMedia(output).videoFrames, 50) << "2 s at 25 pictures a second";
    }
}

TEST_F(DesktopWindowTest, ACancelledPickLeavesMarksAndPreviewAlone)
{
    auto form = markedWindow();
    TFilterGraph& graph = TForm1Probe(*form).FilterGraph1();
    ASSERT_TRUE(waitFor([&] { return graph.Position() > 500; }));
    const AddedState before = stateOf(*form);
    GstElement* playing = graph.Pipeline();
    const int position = graph.Position();
    dialogs.filesToPick.clear();
    Find<QPushButton>(*form, "ButtonAddFile")->click();
    EXPECT_EQ(stateOf(*form), before);
    EXPECT_EQ(graph.Pipeline(), playing);
    EXPECT_GE(graph.Position(), position) << "the preview was not started again";
}

TEST_F(DesktopWindowTest, ADroppedFileThatCannotBeReadSaysSoAsThePickWould)
{
    testing::TempFolder folder;
    const fs::path notVideo = folder.path() / "notes.mp4";
    std::ofstream(notVideo) << "not a video";
    auto form = activeWindow();
    addFile(*form, shortClip());
    ASSERT_TRUE(drop(*form, {QString::fromStdString(shortClip()),
                             QString::fromStdString(notVideo.string())}));
    ASSERT_TRUE(waitFor([&] { return !dialogs.messages.isEmpty(); }));
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Cannot Split this File.")});
    EXPECT_TRUE(Find<QLineEdit>(*form, "EditVideoFilename")->text().isEmpty());

    // Only local files are taken.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.org/clip.mp4"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(DesktopWindowTest, TheKeysStepSeekAndMark)
{
    auto form = activeWindow();
    addFile(*form, ntscClip());
    ThlTrackBar& bar = *Find<ThlTrackBar>(*form, "hlTrackBar1");

    // Each arrow moves the frame a mark would take by exactly one.
    for (int step = 1; step <= 31; ++step) {
        QTest::keyClick(form.get(), Qt::Key_Right);
        ASSERT_EQ(nativeFrame(*form), step);
    }
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 1035) << "the first millisecond of frame 31";
    EXPECT_EQ(Find<QLabel>(*form, "PanelCurrentPosition")->text(), QStringLiteral("1.035"));
    QTest::keyClick(form.get(), Qt::Key_Left);
    EXPECT_EQ(nativeFrame(*form), 30);
    QTest::keyClick(form.get(), Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 1002 + 1000);
    QTest::keyClick(form.get(), Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(form.get(), Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 2)
        << "one second back from 1.002 s stops at the start";
    QTest::keyClick(form.get(), Qt::Key_End);
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 22000);
    QTest::keyClick(form.get(), Qt::Key_Right);
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 22000);
    QTest::keyClick(form.get(), Qt::Key_Home);
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 0);

    // With the focus on the timeline its own arrow handling does not add a
    // second step.
    bar.SetLineSize(500);
    bar.setFocus();
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(nativeFrame(*form), 1);

    // I and O mark as the buttons do.
    Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(10000);
    QTest::keyClick(form.get(), Qt::Key_O);
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Please choose a START position")});
    QTest::keyClick(form.get(), Qt::Key_I);
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), 250);
    EXPECT_EQ(Find<QLabel>(*form, "PanelStart")->text(), QStringLiteral("10"));
    Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(12345);
    QTest::keyClick(form.get(), Qt::Key_O);
    EXPECT_EQ(TForm1Probe(*form).EndFrame(), 309);
}

TEST_F(DesktopWindowTest, TheArrowsStepWithoutARateAndFromMidPicture)
{
    auto form = activeWindow();

    // A source without a rate steps 40 ms.
    testing::MediaSpec silent = testing::Mp4H264Aac();
    silent.videoCodec.clear();
    addFile(*form, testing::CachedMedia("desktop_sound_only.mp4", silent));
    ASSERT_EQ(TForm1Probe(*form).SourceFrameRate(), QStringLiteral("0"));
    QTest::keyClick(form.get(), Qt::Key_Home);
    QTest::keyClick(form.get(), Qt::Key_Right);
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 40);

    // From the second half of a picture (1030 ms at 25 per second shows
    // picture 25, where a mark would take 26) a step lands on the first
    // millisecond of the picture after or before the one on screen.
    addFile(*form, shortClip());
    for (const auto& [key, picture] : {std::pair{Qt::Key_Right, 26}, std::pair{Qt::Key_Left, 24}}) {
        Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(1030);
        QTest::keyClick(form.get(), key);
        EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), picture * 40) << picture;
    }
}

TEST_F(DesktopWindowTest, SpaceTogglesThePreviewAndArrowsSeekIt)
{
    auto form = activeWindow();
    addFile(*form, ntscClip());
    TFilterGraph& graph = TForm1Probe(*form).FilterGraph1();
    ASSERT_FALSE(graph.Active());
    QTest::keyClick(form.get(), Qt::Key_Space);
    EXPECT_TRUE(graph.Active()) << "a fresh start";
    EXPECT_FALSE(TForm1Probe(*form).PreviewPaused());
    QTest::keyClick(form.get(), Qt::Key_Space);
    EXPECT_TRUE(TForm1Probe(*form).PreviewPaused());
    QTest::keyClick(form.get(), Qt::Key_End);
    QTest::keyClick(form.get(), Qt::Key_Left, Qt::ShiftModifier);
    ASSERT_TRUE(waitFor([&] { return std::abs(graph.Position() - 21000) < 50; }));
    QTest::keyClick(form.get(), Qt::Key_Space);
    EXPECT_FALSE(TForm1Probe(*form).PreviewPaused()) << "resumed";
    EXPECT_TRUE(graph.Active());
}

TEST_F(DesktopWindowTest, AFocusedControlKeepsTheKeysItWorksWith)
{
    auto form = activeWindow();
    EXPECT_EQ(QApplication::focusWidget(), Find<ThlTrackBar>(*form, "hlTrackBar1"))
        << "the keyboard starts where the window's keys act";
    addFile(*form, ntscClip());
    // Whether the window took the key: the timeline moved or a mark was set.
    const auto windowActed = [&] {
        return TForm1Probe(*form).TimelinePosition() != 1000 ||
               !Find<QLabel>(*form, "PanelStart")->text().isEmpty();
    };
    const struct {
        const char* focus;
        QWidget* control;
        Qt::Key key;
        bool windowActs;
    } rows[] = {
        {"volume slider", Find<ThlTrackBar>(*form, "hlTrackBarVolume"), Qt::Key_Right, false},
        {"output volume", Find<QSlider>(*form, "TrackBarVolumeOut"), Qt::Key_Left, false},
        {"timeline", Find<ThlTrackBar>(*form, "hlTrackBar1"), Qt::Key_Right, true},
        {"preview", Find<TVideoWindow>(*form, "VideoWindow1"), Qt::Key_Left, true},
        {"button, arrow", Find<QPushButton>(*form, "ButtonMarkStart"), Qt::Key_Right, true},
        {"format list, arrow it does not use", Find<QComboBox>(*form, "ComboOutputFormat"),
         Qt::Key_Left, true},
        {"format list, a letter of its search", Find<QComboBox>(*form, "ComboOutputFormat"),
         Qt::Key_I, false},
        {"button, a letter", Find<QPushButton>(*form, "ButtonAddFile"), Qt::Key_I, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.focus);
        Find<QPushButton>(*form, "ButtonClearMarks")->click();
        Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(1000);
        row.control->setFocus();
        QTest::keyClick(row.control, row.key);
        EXPECT_EQ(windowActed(), row.windowActs);
    }

    // Space plays or pauses wherever the focus is, but in a text field: the
    // button clicked last (it keeps the focus) is not pressed again, so the
    // open-file dialog does not reopen and the marks stay.
    ThlTrackBar& timeline = *Find<ThlTrackBar>(*form, "hlTrackBar1");
    timeline.setFocus();
    timeline.SetPosition(3000);
    QTest::keyClick(&timeline, Qt::Key_I);
    timeline.SetPosition(5000);
    QTest::keyClick(&timeline, Qt::Key_O);
    const double marks[] = {TForm1Probe(*form).StartFrame(), TForm1Probe(*form).EndFrame()};
    Find<QPushButton>(*form, "ButtonPlay")->click();
    ASSERT_TRUE(TForm1Probe(*form).FilterGraph1().Active());
    const qsizetype dialogRuns = dialogs.openDialogFolders.size();
    for (const char* focus : {"hlTrackBar1", "ButtonAddFile", "ButtonMarkStart", "ButtonStop",
                              "ButtonSplit", "ButtonPause"}) {
        SCOPED_TRACE(focus);
        const bool paused = TForm1Probe(*form).PreviewPaused();
        QWidget* control = Find<QWidget>(*form, focus);
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Space);
        EXPECT_NE(TForm1Probe(*form).PreviewPaused(), paused);
        EXPECT_TRUE(TForm1Probe(*form).FilterGraph1().Active());
    }
    // Space straight to a button, as it comes while the window is not yet
    // active again after a dialog (the window's shortcut does not see it).
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent space(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(Find<QPushButton>(*form, "ButtonAddFile"), &space);
    }
    EXPECT_TRUE(TForm1Probe(*form).PreviewPaused()) << "paused again";
    EXPECT_EQ(dialogs.openDialogFolders.size(), dialogRuns);
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), marks[0]);
    EXPECT_EQ(TForm1Probe(*form).EndFrame(), marks[1]);
    EXPECT_EQ(Find<QLabel>(*form, "PanelEnd")->text(), QStringLiteral("5"));
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(u'|').toStdString();
}

TEST_F(DesktopWindowTest, KeysWaitWhileASplitRunsAsTheirButtonsDo)
{
    testing::TempFolder folder;
    auto form = activeWindow();
    addFile(*form, ntscClip());
    chooseFolder(*form, folder.path());
    Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(1000);
    QTest::keyClick(form.get(), Qt::Key_I);
    Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(20000);
    QTest::keyClick(form.get(), Qt::Key_O);

    QTest::keyClick(form.get(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(TForm1Probe(*form).SplitBusy()) << "Ctrl+Return starts the split";
    const int serial = TForm1Probe(*form).SplitSerial();
    const QString file = Find<QLineEdit>(*form, "EditVideoFilename")->text();

    QTest::keyClick(form.get(), Qt::Key_Space);
    EXPECT_FALSE(TForm1Probe(*form).FilterGraph1().Active());
    QTest::keyClick(form.get(), Qt::Key_I);
    QTest::keyClick(form.get(), Qt::Key_O);
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), 25);
    EXPECT_EQ(Find<QLabel>(*form, "PanelEnd")->text(), QStringLiteral("20"));
    dialogs.filesToPick = {QString::fromStdString(shortClip())};
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(Find<QLineEdit>(*form, "EditVideoFilename")->text(), file);
    QTest::keyClick(form.get(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(TForm1Probe(*form).SplitSerial(), serial);
    // Stepping and seeking are not gated, as the step buttons are not.
    Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(0);
    QTest::keyClick(form.get(), Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 1000);

    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_FALSE(TForm1Probe(*form).SplitBusy());
    EXPECT_TRUE(waitFor([&] { return !dialogs.messages.isEmpty(); }));

    // Idle, Ctrl+O is "Add Video File".
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(Find<QLineEdit>(*form, "EditVideoFilename")->text(),
              QString::fromStdString(shortClip()));
}

TEST_F(DesktopWindowTest, EveryKeyIsShownInAMenu)
{
    auto form = activeWindow();
    QStringList shown;
    for (QMenu* menu : {Find<QMenu>(*form, "MenuFile"), Find<QMenu>(*form, "MenuPlayback")})
        for (QAction* action : menu->actions())
            if (!action->shortcut().isEmpty())
                shown << action->shortcut().toString();
    EXPECT_EQ(shown, (QStringList{"Ctrl+O", "Ctrl+Return", "Esc", "Space", "I", "O", "Left",
                                  "Right", "Shift+Left", "Shift+Right", "Home", "End"}));
    EXPECT_EQ(Find<QAction>(*form, "ActionExit")->text(), QStringLiteral("Exit"));
    EXPECT_EQ(Find<QMenu>(*form, "MenuFile")->actions().last(), Find<QAction>(*form, "ActionExit"));
}

// Feeds a steady run at real time through the window's progress display.
void reportSteadily(TForm1& form, int untilMs)
{
    const TimeLeftEstimator::Clock::time_point start{};
    for (int wall = 0; wall <= untilMs; wall += 500) {
        form.ShowProgress(TForm1Probe(form).SplitSerial(), wall, 1000 * wall, 60000,
                          start + std::chrono::milliseconds(wall));
        if (wall < 3000) {
            EXPECT_TRUE(Find<QLabel>(form, "StatusTimeLeft")->text().isEmpty()) << "not yet steady";
        }
    }
}

TEST_F(DesktopWindowTest, TheStatusBarShowsTheTimeLeftBesideItsPanels)
{
    auto form = activeWindow();
    reportSteadily(*form, 4000);
    EXPECT_EQ(Find<QLabel>(*form, "StatusTimeLeft")->text(),
              QStringLiteral("about 56 s left, 1.0x real time"));
    EXPECT_EQ(Find<QLabel>(*form, "StatusPanel0")->text(), QStringLiteral("Ready"));
    EXPECT_EQ(Find<QLabel>(*form, "StatusPanel1")->text(),
              QStringLiteral("File Size : 4000 KBytes"));
    EXPECT_EQ(Find<QLabel>(*form, "PanelPercent")->text(), QStringLiteral("6%"));

    // A stop clears it; reports that trail the stop bring nothing back.
    Find<QPushButton>(*form, "ButtonStopSplit")->click();
    EXPECT_TRUE(Find<QLabel>(*form, "StatusTimeLeft")->text().isEmpty());
    form->ShowProgress(TForm1Probe(*form).SplitSerial(), 55200, 1000, 60000,
                       TimeLeftEstimator::Clock::time_point{} + std::chrono::milliseconds(4500));
    EXPECT_TRUE(Find<QLabel>(*form, "StatusTimeLeft")->text().isEmpty());
    EXPECT_EQ(Find<QProgressBar>(*form, "ProgressBar1")->value(), 0);
    EXPECT_EQ(Find<QLabel>(*form, "StatusPanel1")->text(),
              QStringLiteral("File Size : 4000 KBytes"));
}

TEST_F(DesktopWindowTest, TheEndMessageNoLongerShowsATimeLeft)
{
    // Reads the panel while the end message is up.
    struct PanelAtMessage : testing::ScriptedDialogs {
        void Information(QWidget* parent, const QString& text) override
        {
            ScriptedDialogs::Information(parent, text);
            shown << Find<QLabel>(*static_cast<TForm1*>(parent), "StatusTimeLeft")->text();
        }
        QStringList shown;
    } atMessage;
    UserDialogs::install(&atMessage);
    auto form = activeWindow();
    reportSteadily(*form, 4000);
    ASSERT_FALSE(Find<QLabel>(*form, "StatusTimeLeft")->text().isEmpty());
    form->ShowTerminate(TForm1Probe(*form).SplitSerial(), 0, true, false);
    EXPECT_EQ(atMessage.messages, QStringList{QStringLiteral("Splitting Done!")});
    EXPECT_EQ(atMessage.shown, QStringList{QString()});
}

TEST_F(DesktopWindowTest, OpenOutputFolderShowsTheFolderInTheFileManager)
{
    auto form = activeWindow();
    Find<QAction>(*form, "ActionOpenOutputFolder")->trigger();
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Please select an output folder!")});
    EXPECT_EQ(dialogs.folderChooserRuns, 1);
    EXPECT_TRUE(dialogs.openedDocuments.isEmpty());

    testing::TempFolder folder;
    chooseFolder(*form, folder.path());
    Find<QAction>(*form, "ActionOpenOutputFolder")->trigger();
    ASSERT_EQ(dialogs.openedDocuments.size(), 1);
    EXPECT_EQ(dialogs.openedDocuments[0],
              QUrl::fromLocalFile(QString::fromStdString(folder.path().string())));

    // A folder that has gone is reported as the split reports it.
    const fs::path gone = folder.path() / "gone";
    fs::create_directory(gone);
    chooseFolder(*form, gone);
    fs::remove(gone);
    dialogs.messages.clear();
    dialogs.folderToChoose.clear();
    Find<QAction>(*form, "ActionOpenOutputFolder")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("The output folder \"")));
    EXPECT_EQ(dialogs.openedDocuments.size(), 1);
}

// Where the desktop takes neither the help nor the output folder, a message
// names the file and the reason.
TEST_F(DesktopWindowTest, WhatTheDesktopCannotOpenIsReportedWithTheReason)
{
    testing::TempFolder folder;
    auto form = activeWindow();
    chooseFolder(*form, folder.path());
    dialogs.desktopOpens = false;
    const QByteArray path = qgetenv("PATH");
    const QString help = TForm1Probe(*form).HelpFile();
    const QString output = QString::fromStdString(folder.path().string());
    const QString noOpener = QStringLiteral(
        "xdg-open, which hands files to the desktop, is not installed (it comes with the "
        "xdg-utils package)");
    const QString noProgram = QStringLiteral("the desktop has no program that opens it");
    const struct {
        const char* action;
        QByteArray path;
        QString message;
    } rows[] = {
        {"ActionOpenHelp", QByteArray::fromStdString(folder.path().string()),
         QStringLiteral("Cannot open \"%1\": %2.").arg(help, noOpener)},
        {"ActionOpenHelp", path, QStringLiteral("Cannot open \"%1\": %2.").arg(help, noProgram)},
        {"ActionOpenOutputFolder", QByteArray::fromStdString(folder.path().string()),
         QStringLiteral("Cannot open \"%1\": %2.").arg(output, noOpener)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message.toStdString());
        qputenv("PATH", row.path);
        dialogs.messages.clear();
        Find<QAction>(*form, row.action)->trigger();
        EXPECT_EQ(dialogs.messages, QStringList{row.message});
    }
    qputenv("PATH", path);
}

// The controls of the client area a user can see: shown and inside it (the
// hidden step buttons lie outside), each with its geometry.
std::vector<std::pair<const QWidget*, QRect>> shownControls(TForm1& form)
{
    std::vector<std::pair<const QWidget*, QRect>> shown;
    const QRect client = form.centralWidget()->rect();
    for (const QWidget* control :
         form.centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (control->isVisible() && client.intersects(control->geometry()))
            shown.emplace_back(control, control->geometry());
    return shown;
}

// At any size no two visible controls cover each other, and every control
// the window shows at its specified size is there, whole, inside it.
void ExpectEveryControlInSight(TForm1& form, const std::vector<const QWidget*>& specified)
{
    const auto shown = shownControls(form);
    const QRect client = form.centralWidget()->rect();
    for (const QWidget* control : specified) {
        const bool there = std::any_of(shown.begin(), shown.end(),
                                       [&](const auto& item) { return item.first == control; });
        EXPECT_TRUE(there && client.contains(control->geometry()))
            << control->objectName().toStdString() << " / "
            << control->metaObject()->className();
    }
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i].second.intersects(shown[j].second))
                << shown[i].first->objectName().toStdString() << " ("
                << shown[i].first->metaObject()->className() << ") and "
                << shown[j].first->objectName().toStdString() << " ("
                << shown[j].first->metaObject()->className() << ") overlap";
}

// Growing, the preview takes the room (its picture keeping its aspect) and
// the strip under the timeline what it needs; at every size, with the strip
// on or off, every control stays in sight and none covers another. Back at
// the specified size every control is where it always was. A double click
// shows the preview on the whole screen; Esc brings it back to the place of
// the window's size then.
TEST_F(DesktopWindowTest, TheWindowGrowsWithEveryControlInSightAndComesBackAsItWas)
{
    auto form = activeWindow(true);
    addFile(*form, ntscClip());  // 160 x 120: a 4:3 picture
    auto* picture = Find<TVideoWindow>(*form, "VideoWindow1");
    ASSERT_TRUE(waitFor([&] { return picture->Connected(); }));
    Find<QPushButton>(*form, "ButtonPause")->click();
    const QSize specified = form->size();
    EXPECT_EQ(form->minimumSize(), specified);
    EXPECT_GT(form->maximumWidth(), specified.width());

    const auto allGeometry = [&] {
        QList<QRect> all;
        for (const QWidget* child : form->centralWidget()->findChildren<QWidget*>())
            all << child->geometry();
        return all;
    };
    const QList<QRect> atSpecifiedSize = allGeometry();
    std::vector<const QWidget*> specifiedControls;
    for (const auto& [control, geometry] : shownControls(*form))
        specifiedControls.push_back(control);
    ExpectEveryControlInSight(*form, specifiedControls);

    auto* stripSetting =
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxTimelineStrip();
    const struct {
        QSize size;  // the client area; empty: maximised
        bool strip;
    } sizes[] = {{{1130, 500}, true}, {{730, 750}, true},  {{1000, 700}, true},
                 {{1000, 700}, false}, {{1600, 1000}, true}, {{1600, 1000}, false},
                 {{}, true},          {{}, false}};
    const QSize menu(0, specified.height() - 500);
    for (const auto& row : sizes) {
        SCOPED_TRACE(row.size.isEmpty() ? std::string("maximised")
                                        : std::to_string(row.size.width()) + " x " +
                                              std::to_string(row.size.height()));
        SCOPED_TRACE(row.strip ? "strip on" : "strip off");
        stripSetting->setChecked(row.strip);
        const bool maximized = row.size.isEmpty();
        if (maximized)
            form->showMaximized();
        else
            form->resize(row.size + menu);
        ASSERT_TRUE(waitFor([&] {
            return form->isMaximized() == maximized && form->size() != specified;
        }));
        const bool stripRoom = form->height() - specified.height() >= TTimelineStrip::kHeight;
        EXPECT_EQ(Find<QWidget>(*form, "TimelineStrip")->isVisible(), row.strip && stripRoom);
        ExpectEveryControlInSight(*form, specifiedControls);
        // A seek of the paused preview brings a picture at the new size
        // (a playing one on a loaded machine may drop every late picture).
        TForm1Probe(*form).FilterGraph1().SetPosition(1000);
        ASSERT_TRUE(waitFor([&] { return picture->CurrentPicture().size() == picture->size(); }));
        const QSize inside = pictureInsideBorders(picture->CurrentPicture());
        EXPECT_NEAR(double(inside.width()) / inside.height(), 4.0 / 3.0, 0.03)
            << inside.width() << " x " << inside.height();

        form->showNormal();
        form->resize(specified);
        ASSERT_TRUE(waitFor([&] { return !form->isMaximized() && form->size() == specified; }));
        EXPECT_EQ(allGeometry(), atSpecifiedSize);
    }
    stripSetting->setChecked(true);

    QTest::mouseDClick(picture, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return picture->isFullScreen(); }));
    form->resize(specified + QSize(200, 100));
    QTest::keyClick(picture, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !picture->FullScreen() && picture->isVisible(); }));
    EXPECT_EQ(picture->geometry(), QRect(4, 6, 383 + 200, 283 + 100 - TTimelineStrip::kHeight));
}

}  // namespace
}  // namespace clipmora
