// The main window driven through its real controls under the offscreen
// platform: adding files, the split request's checks, whole splits with the
// engine, stopping, closing, the stored settings and the folder chooser.
#include "tests/support/main_window_fixture.h"
#include "app/about_box.h"
#include "app/main_window.h"
#include "app/options_dialog.h"
#include "app/user_dialogs.h"
#include "engine/codec_libraries.h"
#include "engine/transcoder_tasks.h"
#include "tests/support/media_generator.h"
#include "tests/support/test_environment.h"
#include "widgets/folder_browse_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <sys/stat.h>

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::MainWindowTest;
using testing::shortClip;

// Turns Handled() true once the window has handled the engine's report of
// the end of all tasks: the engine raises that report after the tasks' own,
// and the window's handler queues its effect before this one queues the mark.
class RunEndHandled {
public:
    explicit RunEndHandled(TForm1& form)
        : engine_(TForm1Probe(form).Transcoder1()), window_(engine_.OnTerminate)
    {
        engine_.OnTerminate = [this, &form](int index, bool finished, bool exception,
                                            const std::string& message) {
            window_(index, finished, exception, message);
            if (index < 0)
                QMetaObject::invokeMethod(
                    &form, [this] { handled_ = true; }, Qt::QueuedConnection);
        };
    }
    ~RunEndHandled() { engine_.OnTerminate = window_; }
    RunEndHandled(const RunEndHandled&) = delete;
    RunEndHandled& operator=(const RunEndHandled&) = delete;

    bool Handled() const { return handled_; }

private:
    TTranscoder& engine_;
    const TTranscoder::TTerminateEvent window_;
    bool handled_ = false;
};

TEST_F(MainWindowTest, ControlsStartWithTheirCaptionsListsAndMenus)
{
    auto form = openWindow();
    EXPECT_EQ(Find<QPushButton>(*form, "ButtonAddFile")->text(), QStringLiteral("Add Video File"));
    EXPECT_EQ(Find<QPushButton>(*form, "ButtonBrowseForFolder")->text(),
              QStringLiteral("Output Folder"));
    EXPECT_EQ(Find<QPushButton>(*form, "ButtonSplit")->text(), QStringLiteral("Start Splitting"));
    EXPECT_EQ(Find<QPushButton>(*form, "ButtonStopSplit")->text(), QStringLiteral("Stop"));
    EXPECT_TRUE(Find<QLineEdit>(*form, "EditVideoFilename")->isReadOnly());
    EXPECT_TRUE(form->EditOutputFolder()->isReadOnly());
    EXPECT_EQ(Find<QLabel>(*form, "PanelPercent")->text(), QStringLiteral("0%"));
    EXPECT_EQ(Find<QLabel>(*form, "StatusPanel0")->text(), QStringLiteral("Ready"));
    EXPECT_EQ(Find<QComboBox>(*form, "ComboOutputFormat")->maxVisibleItems(), 25);
    EXPECT_EQ(Find<QComboBox>(*form, "ComboOutputFormat")->count(),
              form->Profile().ComboOutputFormat.Count());
    EXPECT_EQ(Find<QComboBox>(*form, "ComboVideoQuality")->count(), 5);
    EXPECT_EQ(Find<QComboBox>(*form, "ComboVideoQuality")->currentText(), QStringLiteral("Normal"));
    EXPECT_EQ(Find<QComboBox>(*form, "ComboAudioChannels")->itemText(0), QStringLiteral("Stereo"));
    EXPECT_EQ(Find<QSlider>(*form, "TrackBarVolumeOut")->value(), 5);
    EXPECT_EQ(TForm1Probe(*form).OutputVolume(), 255);
    Find<QSlider>(*form, "TrackBarVolumeOut")->setValue(10);
    EXPECT_EQ(TForm1Probe(*form).OutputVolume(), 600);

    EXPECT_EQ(Find<QAction>(*form, "ActionExit")->text(), QStringLiteral("Exit"));
    EXPECT_EQ(Find<QAction>(*form, "ActionAdditionalSettings")->text(),
              QStringLiteral("Additional Settings"));
    Find<QAction>(*form, "ActionAdditionalSettings")->trigger();
    Find<QAction>(*form, "ActionAbout")->trigger();
    EXPECT_EQ(dialogs.modalRuns, (QStringList{QStringLiteral("Additional Options"),
                                              QStringLiteral("About")}));
    Find<QAction>(*form, "ActionOpenHelp")->trigger();
    ASSERT_EQ(dialogs.openedDocuments.size(), 1);
    EXPECT_EQ(dialogs.openedDocuments[0].toLocalFile(), TForm1Probe(*form).HelpFile());
    EXPECT_EQ(dialogs.openedDocuments[0].fragment(), QStringLiteral("contents"));
    EXPECT_TRUE(QFileInfo::exists(TForm1Probe(*form).HelpFile()))
        << "the build puts the help beside the program";

    // The preview's area on the left stays free.
    for (QWidget* control : {static_cast<QWidget*>(Find<QPushButton>(*form, "ButtonAddFile")),
                             static_cast<QWidget*>(Find<QComboBox>(*form, "ComboOutputFormat")),
                             static_cast<QWidget*>(Find<QProgressBar>(*form, "ProgressBar1"))})
        EXPECT_GE(control->geometry().left(), 405);
}

TEST_F(MainWindowTest, AboutBoxLinksOpenWithTheDesktop)
{
    TAboutBox box(nullptr);
    box.show();
    for (const char* name : {"LabelHomePage", "LabelSupport"}) {
        auto* link = box.findChild<QLabel*>(QLatin1String(name));
        ASSERT_NE(link, nullptr) << name;
        EXPECT_TRUE(link->isVisible()) << name;
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    }
    EXPECT_EQ(dialogs.openedDocuments,
              (QList<QUrl>{QUrl(QLatin1String(TAboutBox::kHomePage)),
                           QUrl(QLatin1String(TAboutBox::kSupportPage))}));
    for (const QUrl& link : dialogs.openedDocuments)
        EXPECT_EQ(link.scheme(), QStringLiteral("https"));
}

// The patterns of the open-file dialog's entry `description`.
QStringList filterPatterns(const QStringList& filters, const QString& description)
{
    for (const QString& filter : filters)
        if (filter.startsWith(description + QStringLiteral(" ("))) {
            const qsizetype open = filter.lastIndexOf(u'(');
            return filter.mid(open + 1, filter.size() - open - 2).split(u' ');
        }
    return {};
}

// The real open-file dialog (run before a test ends the application's event
// loops): every kind of file the program opens is listed
// by the first entry and has an entry of its own, "All files" comes last,
// and a typed name is taken whole, quotes and all (quoted names typed one
// after the other still pick several files).
TEST_F(MainWindowTest, TheOpenDialogListsEveryTypeAndTakesATypedNameWhole)
{
    const QStringList filters = TForm1::OpenDialogFilter().split(QStringLiteral(";;"));
    EXPECT_EQ(filters.last(), QStringLiteral("All files (*)"));
    const struct {
        const char* name;
        const char* entry;
    } kinds[] = {
        {"a.avi", "AVI Files"},       {"a.mp4", "MPEG-4 Files"},
        {"a.wmv", "Windows Media Files(*.wmv)"}, {"a.mkv", "Matroska Files"},
        {"a.webm", "WebM Files"},     {"a.ts", "MPEG Transport Streams"},
        {"a.m2ts", "MPEG Transport Streams"}, {"a.m4v", "MPEG-4 Video Files"},
        {"a.mp3", "MP3 Audio Files"}, {"a.3gp", "3GPP Files"},
        {"a.ogv", "Ogg Files"},       {"a.dv", "DV Files"},
        {"a.asf", "Advanced Systems Format Files"},
    };
    const QStringList supported = filterPatterns(filters, QStringLiteral("All Supported Files"));
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        EXPECT_TRUE(QDir::match(supported, QLatin1String(kind.name)));
        EXPECT_TRUE(QDir::match(filterPatterns(filters, QLatin1String(kind.entry)),
                                QLatin1String(kind.name)));
    }
    EXPECT_FALSE(QDir::match(supported, QStringLiteral("notes.txt")));

    testing::TempFolder folder;
    std::ofstream(folder.path() / "say \"cut\".mp4") << "x";
    std::ofstream(folder.path() / "a") << "x";
    std::ofstream(folder.path() / "b") << "x";
    const QString where = QString::fromStdString(folder.path().string());
    UserDialogs real;
    const struct {
        QString typed;
        QStringList picked;
    } typedNames[] = {
        {QStringLiteral("say \"cut\".mp4"), {where + QStringLiteral("/say \"cut\".mp4")}},
        {QStringLiteral("\"a\" \"b\""), {where + QStringLiteral("/a"), where + QStringLiteral("/b")}},
    };
    for (const auto& row : typedNames) {
        SCOPED_TRACE(row.typed.toStdString());
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(row.typed);
            // A name the dialog refuses brings a message box over it; closed,
            // the dialog is left to be cancelled.
            QTimer::singleShot(0, [] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                    box->reject();
            });
            // What Open does (its button follows the folder's listing, which
            // comes in the background).
            dialog->accept();
            if (dialog->isVisible())
                dialog->reject();
        });
        EXPECT_EQ(real.OpenVideoFiles(nullptr, TForm1::OpenDialogFilter(), where).join(u'|'),
                  row.picked.join(u'|'));
    }
}

TEST_F(MainWindowTest, AddingFilesProbesEachAndStopsAtTheFirstBadOne)
{
    auto form = openWindow();
    const std::string clip = testing::CachedMedia("window_clip.mp4", shortClip());
    addFile(*form, clip);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(Find<QLineEdit>(*form, "EditVideoFilename")->text().toStdString(), clip);
    EXPECT_EQ(TForm1Probe(*form).SourceFrameRate(), QStringLiteral("25"));
    EXPECT_NEAR(TForm1Probe(*form).TimelineMax(), 2000, 100);

    // The second of three cannot be opened: the field is cleared and the
    // third is never taken.
    testing::TempFolder folder;
    const std::string notMedia = folder.file("notes.avi");
    std::ofstream(notMedia) << "not a video";
    dialogs.filesToPick = {QString::fromStdString(clip), QString::fromStdString(notMedia),
                           QString::fromStdString(clip)};
    Find<QPushButton>(*form, "ButtonAddFile")->click();
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Cannot Split this File.")});
    EXPECT_TRUE(Find<QLineEdit>(*form, "EditVideoFilename")->text().isEmpty());

    // A FIFO is refused before anything opens it, which would wait for a writer.
    const std::string fifo = folder.file("pipe.mp4");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    dialogs.messages.clear();
    addFile(*form, fifo);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("Cannot Split this File.")));
    EXPECT_TRUE(dialogs.messages[0].contains(QString::fromStdString(fifo)));
    EXPECT_TRUE(Find<QLineEdit>(*form, "EditVideoFilename")->text().isEmpty());

    // Below one second the length reads "00:00:00".
    testing::MediaSpec brief = shortClip();
    brief.seconds = 0.5;
    dialogs.messages.clear();
    addFile(*form, testing::CachedMedia("window_brief.mp4", brief));
    EXPECT_EQ(dialogs.messages,
              QStringList{QStringLiteral("Cannot Split this File. The file duration cannot be read")});
    EXPECT_TRUE(Find<QLineEdit>(*form, "EditVideoFilename")->text().isEmpty());

    // Cancelling the dialog changes nothing.
    addFile(*form, clip);
    dialogs.filesToPick.clear();
    Find<QPushButton>(*form, "ButtonAddFile")->click();
    EXPECT_EQ(Find<QLineEdit>(*form, "EditVideoFilename")->text().toStdString(), clip);
}

TEST_F(MainWindowTest, SplitRequestChecksInOrderWithTheirMessages)
{
    auto form = openWindow();
    Find<QPushButton>(*form, "ButtonSplit")->click();
    EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Please Add A File To Convert!"));
    EXPECT_EQ(dialogs.folderChooserRuns, 0);

    addFile(*form, testing::CachedMedia("window_clip.mp4", shortClip()));
    form->EditOutputFolder()->clear();
    Find<QPushButton>(*form, "ButtonSplit")->click();
    EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Please select an output folder!"));
    EXPECT_EQ(dialogs.folderChooserRuns, 1) << "the folder chooser follows the message";

    testing::TempFolder folder;
    const QString gone = QString::fromStdString((folder.path() / "gone").string());
    form->EditOutputFolder()->setText(gone);
    Find<QPushButton>(*form, "ButtonSplit")->click();
    EXPECT_EQ(dialogs.messages.last(),
              QStringLiteral("The output folder \"") + gone +
                  QStringLiteral("\"\n\rdoes not exist or has been deleted!\n\r"
                                 "Please choose a new output folder."));
    EXPECT_EQ(dialogs.folderChooserRuns, 2);

    chooseFolder(*form, folder.path());
    EXPECT_EQ(form->EditOutputFolder()->text().toStdString(), folder.path().string());
    TForm1Probe(*form).StartFrame() = 50;
    TForm1Probe(*form).EndFrame() = 10;
    Find<QPushButton>(*form, "ButtonSplit")->click();
    EXPECT_EQ(dialogs.messages.last(),
              QStringLiteral("The End Time time of the video has not been marked! "));
    EXPECT_EQ(dialogs.messages.size(), 4);
    EXPECT_FALSE(TForm1Probe(*form).SplitBusy());
    EXPECT_EQ(TForm1Probe(*form).Transcoder1().TaskCount(), 0);

    // A source that vanished after it was added: the task cannot be made.
    const fs::path copy = folder.path() / "vanished.mp4";
    fs::copy_file(testing::CachedMedia("window_clip.mp4", shortClip()), copy);
    addFile(*form, copy.string());
    fs::remove(copy);
    TForm1Probe(*form).StartFrame() = 0;
    TForm1Probe(*form).EndFrame() = 0;
    Find<QPushButton>(*form, "ButtonSplit")->click();
    EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Cannot Split or Convert this file!"));
    EXPECT_FALSE(TForm1Probe(*form).SplitBusy());
    EXPECT_TRUE(Find<QComboBox>(*form, "ComboOutputFormat")->isEnabled());
    EXPECT_TRUE(Find<QMenu>(*form, "MenuSettings")->menuAction()->isEnabled());
}

TEST_F(MainWindowTest, SplitWritesTheWholeFileKeepingTheUsersChoices)
{
    auto form = openWindow();
    testing::TempFolder folder;
    // The file as added has a blank at the end of its name; the file named
    // without it lies beside it and is no video.
    const fs::path sources = folder.path() / "in";
    fs::create_directory(sources);
    const std::string clip = (sources / "window_clip.mp4 ").string();
    fs::copy_file(testing::CachedMedia("window_clip.mp4", shortClip()), clip);
    std::ofstream((sources / "window_clip.mp4").string()) << "not a video";
    addFile(*form, clip);
    chooseFolder(*form, folder.path());
    chooseFormat(*form, QStringLiteral("AVI - DivX Video (*.avi)"));
    Find<QComboBox>(*form, "ComboVideoSize")->setCurrentText(QStringLiteral("320 x 240 (VGA)"));
    Find<QComboBox>(*form, "ComboAudioChannels")->setCurrentText(QStringLiteral("Mono"));
    Find<QComboBox>(*form, "ComboVideoFramerate")->setCurrentText(QStringLiteral("15.0 fps"));

    Find<QPushButton>(*form, "ButtonSplit")->click();
    EXPECT_TRUE(TForm1Probe(*form).SplitBusy());
    EXPECT_FALSE(Find<QComboBox>(*form, "ComboOutputFormat")->isEnabled());
    EXPECT_FALSE(Find<QMenu>(*form, "MenuFile")->menuAction()->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(*form, "ButtonStopSplit")->isEnabled());
    ASSERT_TRUE(waitFor([&] { return !dialogs.messages.isEmpty(); }));
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Splitting Done!")});
    EXPECT_FALSE(TForm1Probe(*form).SplitBusy());
    EXPECT_TRUE(Find<QComboBox>(*form, "ComboOutputFormat")->isEnabled());
    EXPECT_TRUE(Find<QMenu>(*form, "MenuFile")->menuAction()->isEnabled());
    EXPECT_EQ(Find<QProgressBar>(*form, "ProgressBar1")->value(), 0);
    EXPECT_FALSE(TForm1Probe(*form).ScriptBuffer().isEmpty()) << "the engine's log lines are kept";
    // No marks: the engine reads the added file itself.
    ASSERT_NE(TForm1Probe(*form).Transcoder1().Task(0), nullptr);
    EXPECT_EQ(TForm1Probe(*form).Transcoder1().Task(0)->InputOptions().FileName, clip);

    const fs::path output = folder.path() / "window_clip.avi";
    EXPECT_EQ(TForm1Probe(*form).LastOutputFile().toStdString(), output.string());
    ASSERT_TRUE(fs::exists(output));
    const testing::DecodedSummary summary = testing::DecodeMedia(output.string());
    EXPECT_EQ(summary.width, 320);
    EXPECT_EQ(summary.height, 240);
    EXPECT_EQ(summary.channels, 1);
    EXPECT_NEAR(summary.videoFrames, 30, 3) << "two seconds at 15 frames per second";
    EXPECT_EQ(Find<QComboBox>(*form, "ComboVideoSize")->currentText(),
              QStringLiteral("320 x 240 (VGA)"));

    // Without overwriting the next split takes the next free name; with it
    // (changed without a restart) the first name again.
    EXPECT_EQ(splitAndWait(*form), QStringLiteral("Splitting Done!"));
    EXPECT_TRUE(fs::exists(folder.path() / "window_clip-1.avi"));
    Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxOverwrite()->setChecked(true);
    EXPECT_EQ(splitAndWait(*form), QStringLiteral("Splitting Done!"));
    EXPECT_EQ(TForm1Probe(*form).LastOutputFile().toStdString(), output.string());
    EXPECT_FALSE(fs::exists(folder.path() / "window_clip-2.avi"));
}

TEST_F(MainWindowTest, StopEndsTheSplitAtOnceAndItsEndIsAnnouncedOnce)
{
    auto form = openWindow();
    testing::TempFolder folder;
    testing::MediaSpec longer = shortClip();
    longer.seconds = 40.0;
    longer.width = 640;
    longer.height = 480;
    addFile(*form, testing::CachedMedia("window_long.mp4", longer));
    chooseFolder(*form, folder.path());
    chooseFormat(*form, QStringLiteral("AVI - DivX Video (*.avi)"));
    const RunEndHandled runEnd(*form);
    Find<QPushButton>(*form, "ButtonSplit")->click();
    ASSERT_TRUE(TForm1Probe(*form).SplitBusy());

    // Closing is refused silently while the split runs.
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(dialogs.messages.isEmpty());

    waitFor(
        [&] {
            return Find<QLabel>(*form, "StatusPanel1")
                ->text()
                .startsWith(QStringLiteral("File Size"));
        },
        10);
    Find<QPushButton>(*form, "ButtonStopSplit")->click();
    EXPECT_FALSE(TForm1Probe(*form).SplitBusy());
    EXPECT_EQ(Find<QProgressBar>(*form, "ProgressBar1")->value(), 0);
    ASSERT_TRUE(waitFor([&] { return !dialogs.messages.isEmpty(); }));
    // The end-of-all-tasks report has been handled too.
    ASSERT_TRUE(waitFor([&] { return runEnd.Handled(); }));
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Splitting Stopped!")});

    // Once idle the window closes and stores its settings.
    EXPECT_TRUE(form->close());
    EXPECT_EQ(store().value(QStringLiteral("Output Folder")).toString().toStdString(),
              folder.path().string());
}

TEST_F(MainWindowTest, StopPressedAfterTheTaskFinishedStillReportsItDone)
{
    auto form = openWindow();
    testing::TempFolder folder;
    addFile(*form, testing::CachedMedia("window_clip.mp4", shortClip()));
    chooseFolder(*form, folder.path());
    chooseFormat(*form, QStringLiteral("AVI - DivX Video (*.avi)"));
    const RunEndHandled runEnd(*form);
    Find<QPushButton>(*form, "ButtonSplit")->click();
    ASSERT_TRUE(TForm1Probe(*form).SplitBusy());

    // The task ends on its own thread; its report waits in the window's
    // queue while the user presses "Stop".
    QDeadlineTimer deadline(60000);
    const TFFmpeg* task = TForm1Probe(*form).Transcoder1().Task(0);
    ASSERT_NE(task, nullptr);
    while (!task->Terminated() && !deadline.hasExpired())
        QThread::msleep(10);
    ASSERT_TRUE(task->Terminated());
    ASSERT_TRUE(task->Finished());
    Find<QPushButton>(*form, "ButtonStopSplit")->click();
    EXPECT_FALSE(TForm1Probe(*form).SplitBusy());

    // The stop set the progress back; the file is complete all the same,
    // and while the message says so the progress reads 100 %.
    QString progressAtMessage;
    dialogs.onInformation = [&](const QString&) {
        progressAtMessage = Find<QLabel>(*form, "PanelPercent")->text() + QLatin1Char(' ') +
                            QString::number(Find<QProgressBar>(*form, "ProgressBar1")->value());
    };
    ASSERT_TRUE(waitFor([&] { return !dialogs.messages.isEmpty(); }));
    ASSERT_TRUE(waitFor([&] { return runEnd.Handled(); }));
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Splitting Done!")});
    EXPECT_EQ(progressAtMessage.toStdString(), "100% 100");
    EXPECT_TRUE(fs::exists(folder.path() / "window_clip.avi"));
}

TEST_F(MainWindowTest, ProgressShowsSizeAndPercentAndKeepsItWithoutATotal)
{
    auto form = openWindow();
    const int serial = TForm1Probe(*form).SplitSerial();
    form->ShowProgress(serial, 500, 123456, 2000);
    EXPECT_EQ(Find<QLabel>(*form, "StatusPanel1")->text(),
              QStringLiteral("File Size : 123 KBytes"));
    EXPECT_EQ(Find<QLabel>(*form, "PanelPercent")->text(), QStringLiteral("25%"));
    EXPECT_EQ(Find<QProgressBar>(*form, "ProgressBar1")->value(), 25);

    form->ShowProgress(serial, 2500, 1500, 2000);
    EXPECT_EQ(Find<QLabel>(*form, "PanelPercent")->text(), QStringLiteral("100%"));
    EXPECT_EQ(Find<QProgressBar>(*form, "ProgressBar1")->value(), 100);

    form->ShowProgress(serial, 700, 9600, 0);
    EXPECT_EQ(Find<QLabel>(*form, "StatusPanel1")->text(), QStringLiteral("File Size : 10 KBytes"));
    EXPECT_EQ(Find<QLabel>(*form, "PanelPercent")->text(), QStringLiteral("100%"));

    // A report of an earlier split changes nothing.
    form->ShowProgress(serial - 1, 100, 1000, 2000);
    EXPECT_EQ(Find<QLabel>(*form, "StatusPanel1")->text(), QStringLiteral("File Size : 10 KBytes"));
    form->ShowTerminate(serial - 1, 0, true, false);
    EXPECT_TRUE(dialogs.messages.isEmpty());

    // Only the first end report of a split shows a message; a report queued
    // before the end shows nothing after it.
    form->ShowTerminate(serial, 0, false, true);
    form->ShowTerminate(serial, -1, true, false);
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Cannot Split This File")});
    form->ShowProgress(serial, 1840, 5000, 2000);
    EXPECT_EQ(Find<QProgressBar>(*form, "ProgressBar1")->value(), 0);
    EXPECT_EQ(Find<QLabel>(*form, "PanelPercent")->text(), QStringLiteral("100%"));
    EXPECT_EQ(Find<QLabel>(*form, "StatusPanel1")->text(), QStringLiteral("File Size : 10 KBytes"));
}

TEST_F(MainWindowTest, TheFormatListsKeysAndWheelPassOverSeparators)
{
    auto form = openWindow();
    QComboBox* formats = Find<QComboBox>(*form, "ComboOutputFormat");
    const struct {
        int from;
        Qt::Key key;     // or the wheel when none
        int wheelSteps;  // one notch each, up when positive
        int to;
    } moves[] = {
        {10, Qt::Key_Down, 0, 12}, {12, Qt::Key_Up, 0, 10},   {15, Qt::Key_Down, 0, 17},
        {24, Qt::Key_unknown, -1, 26}, {26, Qt::Key_unknown, 1, 24},
    };
    for (const auto& move : moves) {
        SCOPED_TRACE(move.from);
        formats->setCurrentIndex(move.from);
        formats->setFocus();
        if (move.key != Qt::Key_unknown) {
            QTest::keyClick(formats, move.key);
        } else {
            const QPointF at = formats->rect().center();
            QWheelEvent wheel(at, formats->mapToGlobal(at), {}, {0, 120 * move.wheelSteps},
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(formats, &wheel);
        }
        EXPECT_EQ(formats->currentIndex(), move.to);
        EXPECT_EQ(form->Profile().ComboOutputFormat.Selected(), move.to);
        EXPECT_EQ(form->Profile().LastFormatIndex, move.to) << "the format's lists are loaded";
    }
}

TEST_F(MainWindowTest, FirstRunStoresTheDefaults)
{
    auto form = openWindow();
    QSettings settings = store();
    EXPECT_EQ(settings.value(QStringLiteral("Output Folder")).toString(), QString());
    EXPECT_EQ(settings.value(QStringLiteral("ComboOutputFormat")).toInt(), 0);
    EXPECT_EQ(settings.value(QStringLiteral("Overwrite")).toInt(), 0);
    EXPECT_EQ(settings.value(QStringLiteral("PlayVideoFile")).toInt(), 1);
    EXPECT_EQ(settings.value(QStringLiteral("LetterBox")).toInt(), 0);
    EXPECT_EQ(settings.value(QStringLiteral("VideoQuality")).toInt(), 2);
    EXPECT_EQ(settings.value(QStringLiteral("AudioQuality")).toInt(), 2);
    EXPECT_TRUE(
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxPlayVideoFile()->isChecked());
    EXPECT_FALSE(
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxOverwrite()->isChecked());
}

// Sets a value other than the default in every stored control but the folder.
void ChooseNonDefaults(TForm1& form)
{
    Find<QComboBox>(form, "ComboOutputFormat")
        ->setCurrentIndex(Find<QComboBox>(form, "ComboOutputFormat")
                              ->findText(QStringLiteral("MP4 - MPEG4 Video (*.mp4)")));
    Find<QComboBox>(form, "ComboVideoQuality")->setCurrentIndex(0);
    Find<QComboBox>(form, "ComboAudioQuality")->setCurrentIndex(4);
    auto* options = Find<TForm2OptionsForm>(form, "Form2OptionsForm");
    options->CheckBoxOverwrite()->setChecked(true);
    options->CheckBoxPlayVideoFile()->setChecked(false);
    form.Profile().ComboLetterBox.Select(1);
}

void ExpectNonDefaults(TForm1& form, const fs::path& folder)
{
    EXPECT_EQ(form.EditOutputFolder()->text(), QString::fromStdString(folder.string()));
    EXPECT_EQ(Find<QComboBox>(form, "ComboOutputFormat")->currentText(),
              QStringLiteral("MP4 - MPEG4 Video (*.mp4)"));
    EXPECT_EQ(Find<QComboBox>(form, "ComboVideoQuality")->currentIndex(), 0);
    EXPECT_EQ(Find<QComboBox>(form, "ComboAudioQuality")->currentIndex(), 4);
    auto* options = Find<TForm2OptionsForm>(form, "Form2OptionsForm");
    EXPECT_TRUE(options->CheckBoxOverwrite()->isChecked());
    EXPECT_FALSE(options->CheckBoxPlayVideoFile()->isChecked());
    EXPECT_EQ(form.Profile().ComboLetterBox.Selected(), 1);
    EXPECT_EQ(form.Profile().OutputExtension, "MP4");
}

TEST_F(MainWindowTest, SettingsSurviveARestartButNotExit)
{
    testing::TempFolder folder;
    storeFrom([&](TForm1& form) {
        chooseFolder(form, folder.path());
        ChooseNonDefaults(form);
    });
    {
        auto form = openWindow();
        ExpectNonDefaults(*form, folder.path());
        // "Exit" does not store anything.
        Find<QComboBox>(*form, "ComboVideoQuality")->setCurrentIndex(3);
        Find<QAction>(*form, "ActionExit")->trigger();
    }
    EXPECT_EQ(store().value(QStringLiteral("VideoQuality")).toInt(), 0);
}

// A store with lines the settings library cannot parse (a section header
// left open, a name without a value) is read as far as it goes and written
// back whole: saving it reports success, and the next start reads it cleanly.
TEST_F(MainWindowTest, ADamagedStoreIsReadAsFarAsItGoesAndWrittenBackWhole)
{
    const QString path = store().fileName();
    QFile file(path);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly));
    file.write("[General]\nComboOutputFormat=3\nOverwrite=1\nPlayVideoFile=1\nLetterBox=1\n"
               "VideoQuality=0\nAudioQuality=2\n[Window\nLetterBox\nWindowWidth=9\n");
    file.close();
    {
        auto form = openWindow();
        auto* options = Find<TForm2OptionsForm>(*form, "Form2OptionsForm");
        EXPECT_TRUE(options->CheckBoxOverwrite()->isChecked());
        EXPECT_TRUE(options->SaveSettings());
    }
    EXPECT_EQ(store().status(), QSettings::NoError);
    EXPECT_EQ(store().value(QStringLiteral("Overwrite")).toInt(), 1);
    EXPECT_EQ(store().value(QStringLiteral("VideoQuality")).toInt(), 0);
}

TEST_F(MainWindowTest, AFailedReadRewritesTheSettings)
{
    testing::TempFolder folder;
    storeFrom([&](TForm1& form) {
        chooseFolder(form, folder.path());
        ChooseNonDefaults(form);
    });
    const int mp4 = store().value(QStringLiteral("ComboOutputFormat")).toInt();

    // Without "VideoQuality" the load stops there and rewrites every value:
    // what was restored so far, and the defaults for the rest.
    store().remove(QStringLiteral("VideoQuality"));
    {
        auto form = openWindow();
        EXPECT_EQ(form->EditOutputFolder()->text(), QString::fromStdString(folder.path().string()));
        EXPECT_EQ(form->Profile().ComboLetterBox.Selected(), 1);
        EXPECT_EQ(Find<QComboBox>(*form, "ComboAudioQuality")->currentIndex(), 2);
    }
    QSettings settings = store();
    EXPECT_EQ(settings.value(QStringLiteral("VideoQuality")).toInt(), 2);
    EXPECT_EQ(settings.value(QStringLiteral("AudioQuality")).toInt(), 2);
    EXPECT_EQ(settings.value(QStringLiteral("ComboOutputFormat")).toInt(), mp4);
    EXPECT_EQ(settings.value(QStringLiteral("Overwrite")).toInt(), 1);
    EXPECT_EQ(settings.value(QStringLiteral("PlayVideoFile")).toInt(), 0);
    EXPECT_EQ(settings.value(QStringLiteral("LetterBox")).toInt(), 1);

    // A stored format of -1 keeps the first format; text that is no number
    // is a failed read.
    settings.setValue(QStringLiteral("ComboOutputFormat"), -1);
    settings.setValue(QStringLiteral("Overwrite"), QStringLiteral("yes"));
    settings.sync();
    {
        auto form = openWindow();
        EXPECT_EQ(Find<QComboBox>(*form, "ComboOutputFormat")->currentIndex(), 0);
        EXPECT_FALSE(
            Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxOverwrite()->isChecked())
            << "the check box keeps its start state";
    }
    EXPECT_EQ(store().value(QStringLiteral("Overwrite")).toInt(), 0)
        << "the failed read rewrote the dialog's start state";

    // An index beyond the list reads as the first format and is stored so.
    settings.setValue(QStringLiteral("ComboOutputFormat"), 999);
    settings.sync();
    {
        auto form = openWindow();
        EXPECT_EQ(Find<QComboBox>(*form, "ComboOutputFormat")->currentIndex(), 0);
        EXPECT_EQ(form->Profile().OutputExtension, "3GP");
        EXPECT_TRUE(form->close());
    }
    EXPECT_EQ(store().value(QStringLiteral("ComboOutputFormat")).toInt(), 0);
}

TEST_F(MainWindowTest, TheDialogsOpenWhereTheUserLastWas)
{
    testing::TempFolder videos;
    testing::TempFolder outputs;
    const fs::path clip = videos.path() / "clip.mp4";
    fs::copy_file(testing::CachedMedia("window_clip.mp4", shortClip()), clip);
    const std::string videoFolder = videos.path().string();
    const std::string outputFolder = outputs.path().string();
    // What the open-file dialog and the folder chooser are asked to open at.
    const auto opensAt = [&](TForm1& form) {
        dialogs.filesToPick.clear();
        dialogs.folderToChoose.clear();
        Find<QPushButton>(form, "ButtonAddFile")->click();
        Find<QPushButton>(form, "ButtonBrowseForFolder")->click();
        return dialogs.openDialogFolders.last().toStdString() + " | " +
               dialogs.lastFolderRequest.FolderName.toStdString();
    };
    {
        auto form = openWindow();
        EXPECT_EQ(opensAt(*form), " | ") << "the toolkit's choice";
        addFile(*form, clip.string());
        form->EditOutputFolder()->setText(QString::fromStdString(outputFolder));
        EXPECT_EQ(opensAt(*form), videoFolder + " | " + outputFolder);
        EXPECT_TRUE(form->close());
    }
    {
        auto form = openWindow();
        EXPECT_EQ(opensAt(*form), videoFolder + " | " + outputFolder) << "stored";
    }

    // A store written before the folder was kept: the dialog opens where the
    // toolkit chooses, and the other values load without a rewrite.
    {
        QSettings old = store();
        old.clear();
        const std::pair<const char*, QVariant> values[] = {
            {"Output Folder", QString::fromStdString(outputFolder)},
            {"ComboOutputFormat", 0},
            {"Overwrite", 1},
            {"PlayVideoFile", 0},
            {"LetterBox", 0},
            {"VideoQuality", 1},
            {"AudioQuality", 3},
        };
        for (const auto& [name, value] : values)
            old.setValue(QLatin1String(name), value);
    }
    auto form = openWindow();
    EXPECT_EQ(opensAt(*form), " | " + outputFolder);
    EXPECT_TRUE(
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxOverwrite()->isChecked());
    EXPECT_EQ(Find<QComboBox>(*form, "ComboAudioQuality")->currentIndex(), 3);
    EXPECT_FALSE(store().contains(QStringLiteral("Last Video Folder")));
}

// The window's size and maximised state are stored; a store from before
// they were (or one that cannot be read) opens the window at its size.
TEST_F(MainWindowTest, TheWindowsSizeAndStateAreStoredAndAStoreWithoutThemOpensAsBefore)
{
    const QSize specified = openWindow()->size();
    const QSize screen =
        QGuiApplication::primaryScreen()->availableGeometry().size().expandedTo(specified);
    const struct {
        const char* name;
        QVariant width, height, maximized;  // stored before the start; invalid: absent
        QSize opensAt;                      // empty: the specified size
        QSize resizedTo;                    // then; empty: left alone
        bool maximize;
    } cases[] = {
        {"old store", {}, {}, {}, {}, {780, 560}, false},
        {"grown", 780, 560, 0, {780, 560}, {760, 540}, true},
        {"maximised", 760, 540, 1, {760, 540}, {}, false},
        {"larger than the screen", 9000, 7000, 0, screen, {}, false},
        {"unreadable", 100, QStringLiteral("tall"), QStringLiteral("yes"), {}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QSettings settings = store();
        const std::pair<const char*, QVariant> values[] = {
            {"WindowWidth", c.width}, {"WindowHeight", c.height}, {"WindowMaximized", c.maximized}};
        for (const auto& [name, value] : values) {
            if (value.isValid())
                settings.setValue(QLatin1String(name), value);
            else
                settings.remove(QLatin1String(name));
        }
        settings.setValue(QStringLiteral("Overwrite"), 1);
        settings.sync();

        auto form = openWindow();
        EXPECT_TRUE(
            Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxOverwrite()->isChecked())
            << "the other values load";
        EXPECT_TRUE(waitFor([&] { return form->isMaximized() == (c.maximized.toInt() == 1); }));
        EXPECT_EQ(form->NormalSize(), c.opensAt.isValid() ? c.opensAt : specified);
        form->showNormal();
        if (c.resizedTo.isValid())
            form->resize(c.resizedTo);
        if (c.maximize)
            form->showMaximized();
        ASSERT_TRUE(waitFor([&] { return form->isMaximized() == c.maximize; }));
        EXPECT_TRUE(form->close());
        EXPECT_EQ(store().value(QStringLiteral("WindowMaximized")).toInt(), c.maximize ? 1 : 0);
        const QSize stored(store().value(QStringLiteral("WindowWidth")).toInt(),
                           store().value(QStringLiteral("WindowHeight")).toInt());
        EXPECT_EQ(stored, c.resizedTo.isValid() ? c.resizedTo : form->NormalSize());
    }
}

TEST_F(MainWindowTest, FolderChooserOptionsRootsAndLastChoice)
{
    TFolderBrowseDialog dialog;
    EXPECT_EQ(dialog.Options(), TFolderBrowseDlgOptions(boContextHelp | boDirsOnly));
    dialog.SetOptions(boNewDlgStyle | boShowHelp);
    EXPECT_EQ(dialog.Options(), TFolderBrowseDlgOptions(boNewDlgStyle));
    dialog.SetOptions(boNewDlgStyle | boStatusText);
    EXPECT_EQ(dialog.Options(), TFolderBrowseDlgOptions(boStatusText));

    EXPECT_EQ(SpecialFolderCount(), 58);
    EXPECT_THROW(dialog.SetRootFolderID(0x0029), EFolderBrowseError);
    EXPECT_EQ(dialog.RootFolderID(), 0);
    dialog.SetRootFolderID(0x0004);  // printers: no folder here
    try {
        dialog.Execute();
        ADD_FAILURE() << "expected EFolderBrowseError";
    } catch (const EFolderBrowseError& error) {
        EXPECT_STREQ(error.what(), "Root folder not supported on this system");
    }

    testing::TempFolder folder;
    const QString chosen = QString::fromStdString(folder.path().string());
    dialog.SetRootFolderID(0);
    dialog.SetChooser([&](QWidget*, const TFolderBrowseRequest& request, QString& out) {
        EXPECT_TRUE(request.Options & boStatusText);
        out = chosen;
        return true;
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FolderName, chosen);
    EXPECT_EQ(dialog.DisplayName().toStdString(), folder.path().filename().string());

    // Cancelling keeps the last choice, and the next run opens there.
    dialog.SetChooser([&](QWidget*, const TFolderBrowseRequest& request, QString&) {
        EXPECT_EQ(request.FolderName, chosen);
        return false;
    });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.FolderName, chosen);
}

// "Splitting Done!" is said only for a file that is there, and a split that
// does not succeed leaves nothing: neither one whose output folder is moved
// away while it writes (the message names the file) nor a stopped one.
TEST_F(MainWindowTest, OnlyASucceededSplitLeavesItsFile)
{
    auto form = openWindow();
    testing::TempFolder folder;
    const fs::path out = folder.path() / "out";
    const fs::path moved = folder.path() / "moved";
    fs::create_directory(out);
    addFile(*form, testing::CachedMedia("window_clip.mp4", shortClip()));
    chooseFolder(*form, out);
    chooseFormat(*form, QStringLiteral("AVI - DivX Video (*.avi)"));
    Find<QPushButton>(*form, "ButtonSplit")->click();
    ASSERT_TRUE(TForm1Probe(*form).SplitBusy());
    // The output is open for writing by now; its folder goes elsewhere.
    fs::rename(out, moved);
    ASSERT_TRUE(waitFor([&] { return !TForm1Probe(*form).SplitBusy(); }));
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join(u'|').toStdString();
    EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("Cannot Split This File")));
    EXPECT_TRUE(dialogs.messages[0].contains(
        QString::fromStdString((out / "window_clip.avi").string())))
        << dialogs.messages[0].toStdString();
    EXPECT_TRUE(fs::is_empty(moved));

    // Stopped once it has written for a while.
    dialogs.messages.clear();
    testing::MediaSpec longer = shortClip();
    longer.seconds = 40.0;
    longer.width = 640;
    longer.height = 480;
    addFile(*form, testing::CachedMedia("window_long.mp4", longer));
    chooseFolder(*form, moved);
    Find<QPushButton>(*form, "ButtonSplit")->click();
    const auto written = [&] {
        for (const fs::directory_entry& entry : fs::directory_iterator(moved))
            if (entry.file_size() > 0)
                return true;
        return false;
    };
    ASSERT_TRUE(waitFor(written));
    Find<QPushButton>(*form, "ButtonStopSplit")->click();
    ASSERT_TRUE(waitFor([&] { return !dialogs.messages.isEmpty(); }));
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Splitting Stopped!")});
    EXPECT_TRUE(fs::is_empty(moved));
}

}  // namespace
}  // namespace clipmora
