// The split request: its checks in order, the job controls, building and
// starting the one engine task, and stopping it.
#include "app/main_window.h"

#include "app/file_names.h"
#include "app/options_dialog.h"
#include "job/segment_marks.h"
#include "job/split_job.h"
#include "app/user_dialogs.h"
#include "widgets/folder_browse_dialog.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaObject>
#include <QProgressBar>

#include <exception>

namespace clipmora {

void TForm1::BrowseForFolderClick()
{
    if (splitBusy_)
        return;
    runFolderChooser();
}

void TForm1::runFolderChooser()
{
    // The chooser opens at the output folder shown, else at its last choice.
    const QString shown = editOutputFolder_->text().trimmed();
    if (!shown.isEmpty())
        browseForFolderDialog_->FolderName = QDir::fromNativeSeparators(shown);
    try {
        if (browseForFolderDialog_->Execute())
            editOutputFolder_->setText(QDir::toNativeSeparators(browseForFolderDialog_->FolderName));
    } catch (const std::exception& e) {
        UserDialogs::current().Information(this, QString::fromStdString(e.what()));
    }
}

bool TForm1::checkOutputFolder()
{
    if (editOutputFolder_->text().isEmpty()) {
        UserDialogs::current().Information(this,
                                           QStringLiteral("Please select an output folder!"));
        runFolderChooser();
        return false;
    }
    const QString folder = editOutputFolder_->text().trimmed();
    if (folder.isEmpty() || !QDir(folder).exists()) {
        const QString lineBreak = QStringLiteral("\n\r");
        UserDialogs::current().Information(
            this, QStringLiteral("The output folder \"") + editOutputFolder_->text() +
                      QStringLiteral("\"") + lineBreak +
                      QStringLiteral("does not exist or has been deleted!") + lineBreak +
                      QStringLiteral("Please choose a new output folder."));
        runFolderChooser();
        return false;
    }
    return true;
}

void TForm1::SplitClick()
{
    if (splitBusy_ || !startupFinished())
        return;
    terminateShown_ = false;
    if (editVideoFilename_->text().trimmed().isEmpty()) {
        UserDialogs::current().Information(this, QStringLiteral("Please Add A File To Convert!"));
        return;
    }
    if (!checkOutputFolder())
        return;
    if (EndFrame < StartFrame) {
        UserDialogs::current().Information(
            this, QStringLiteral("The End Time time of the video has not been marked! "));
        return;
    }

    // Bring the lists up to date for the chosen format, keeping the size,
    // frame rate and channel choices the user made after picking it.
    const std::string size = profile_.ComboVideoSize.SelectedText();
    const std::string frameRate = profile_.ComboVideoFramerate.SelectedText();
    const std::string channels = profile_.ComboAudioChannels.SelectedText();
    FormatChangeStep(profile_);
    restoreUserChoices(size, frameRate, channels);

    DisableJobControls();
    holdPreviewForSplit();
    ApplyQualityLevels(profile_);
    RefreshProfileCombos();
    transcoder_.ClearTaskList();
    splitBusy_ = true;
    BuildSplitJob();
}

void TForm1::setJobControlsEnabled(bool enabled)
{
    splitBusy_ = !enabled;
    // The format controls follow both the split and the kept-streams choice.
    ApplyKeepStreamsChoice();
    for (QAction* menu : menuBar()->actions())
        menu->setEnabled(enabled);
}

void TForm1::DisableJobControls() { setJobControlsEnabled(false); }

void TForm1::EnableJobControls()
{
    setJobControlsEnabled(true);
    statusTimeLeft_->clear();
    // From the event queue: the preview's opening waits for its first
    // picture, and the end of the split is told first.
    QMetaObject::invokeMethod(this, &TForm1::restorePreviewAfterSplit, Qt::QueuedConnection);
}

void TForm1::resetProgress() { progressBar1_->setValue(0); }

void TForm1::clearEarlierSplit()
{
    // Every report of an earlier split has been raised once its tasks are
    // gone; from here on reports carry the new split's number.
    transcoder_.StopTasks();
    transcoder_.ClearTaskList();
    streamCut_.reset();
    stagedOutput_.Discard();
    splitSerial_.fetch_add(1);
    stopRequested_ = false;
    scriptBuffer_.clear();
    splitTimeLeft_.Reset();
    clearSplitReadouts();
}

void TForm1::BuildSplitJob()
{
    clearEarlierSplit();
    SplitRequest request;
    // The file exactly as added, the one the preview shows: a blank at the
    // end of its name belongs to it.
    request.SourceFile = NameBytes(previewFile_);
    request.OutputFolder = NameBytes(editOutputFolder_->text().trimmed());
    request.Overwrite = optionsForm_ && optionsForm_->Overwrite();
    request.Marked = !panelStart_->text().isEmpty() || !panelEnd_->text().isEmpty();
    request.StartFrame = StartFrame;
    request.EndFrame = EndFrame;
    request.OutputVolume = outputVolume_;
    request.ProgramFolder = programFolder_.toStdString();
    if (optionsForm_ && optionsForm_->KeepOriginalStreams()) {
        request.KeepOriginalStreams = true;
        request.ExactCut = optionsForm_->ExactCut();
        const std::string rate = sourceFrameRate_.toStdString();
        if (request.Marked) {
            request.StartSeconds = MarkSeconds(StartFrame, rate, request.SourceFile);
            request.EndSeconds = MarkSeconds(EndFrame, rate, request.SourceFile);
        }
        startStreamCut(request);
        return;
    }

    SplitOutcome outcome = StartSplitJob(transcoder_, request, profile_);
    lastOutputFile_ = NameFromBytes(outcome.Job.OutputFile);
    stagedOutput_ = std::move(outcome.Job.Staged);
    // The program's established texts, "!" for a job the engine refused and
    // "!!" for one that could not be built: two messages, not a typo.
    switch (outcome.Result) {
    case SplitStart::Started:
        return;
    case SplitStart::NotAppended:
    case SplitStart::NotAttached:
        UserDialogs::current().Information(this,
                                           QStringLiteral("Cannot Split or Convert this file!"));
        break;
    case SplitStart::Failed:
        UserDialogs::current().Information(
            this, QStringLiteral("Cannot Split or Convert this file!!") +
                      (outcome.ErrorForUser
                           ? QStringLiteral("\n\r") + QString::fromStdString(outcome.Error)
                           : QString()));
        break;
    }
    resetProgress();
    EnableJobControls();
}

void TForm1::StopSplitClick()
{
    stopRequested_ = true;
    transcoder_.StopTasks();
    if (streamCut_)
        streamCut_->RequestStop();
    resetProgress();
    EnableJobControls();
}

}  // namespace clipmora
