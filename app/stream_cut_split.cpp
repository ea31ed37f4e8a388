// The split that keeps the original streams: the controls that do not apply
// to it, starting the copy on its worker thread, and its reports. The reports
// are raised on the worker thread and only posted to the window's thread,
// with the split's number, like the engine's.
#include "app/main_window.h"

#include "app/file_names.h"
#include "app/options_dialog.h"
#include "job/split_job.h"
#include "app/user_dialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QMetaObject>
#include <QSlider>

namespace clipmora {

void TForm1::ApplyKeepStreamsChoice()
{
    const bool keep = optionsForm_ && optionsForm_->KeepOriginalStreams();
    const bool enabled = !keep && !splitBusy_;
    for (QComboBox* combo : {comboOutputFormat_, comboVideoSize_, comboVideoFramerate_,
                             comboAudioChannels_, comboVideoQuality_, comboAudioQuality_})
        combo->setEnabled(enabled);
    trackBarVolumeOut_->setEnabled(!keep);
}

void TForm1::startStreamCut(const SplitRequest& request)
{
    StreamCutJob job = PrepareStreamCutJob(request);
    lastOutputFile_ = NameFromBytes(job.OutputFile);
    if (!job.Cut) {
        UserDialogs::current().Information(this, QString::fromStdString(job.Error));
        resetProgress();
        EnableJobControls();
        return;
    }
    const int serial = splitSerial_.load();
    auto progress = [this, serial](const StreamCutProgress& report) {
        const auto reportedAt = TimeLeftEstimator::Clock::now();
        const int written = static_cast<int>(report.writtenMs);
        const int total = static_cast<int>(report.totalMs);
        const int64_t bytes = report.bytes;
        QMetaObject::invokeMethod(
            this,
            [this, serial, written, bytes, total, reportedAt] {
                ShowProgress(serial, written, bytes, total, reportedAt);
            },
            Qt::QueuedConnection);
    };
    auto end = [this, serial](const StreamCutResult& result) {
        QMetaObject::invokeMethod(
            this, [this, serial, result] { ShowStreamCutEnd(serial, result); },
            Qt::QueuedConnection);
    };
    stagedOutput_ = std::move(job.Staged);
    streamCut_ = std::make_unique<TStreamCutTask>(std::move(job.Cut), stagedOutput_.WriteAddress(),
                                                  request.StartSeconds, request.EndSeconds,
                                                  std::move(progress), std::move(end));
}

void TForm1::ShowStreamCutEnd(int splitSerial, const StreamCutResult& result)
{
    if (splitSerial != splitSerial_.load())
        return;
    // The copy has reported its end; its thread is about to finish.
    streamCut_.reset();
    if (result.end == StreamCutResult::End::Failed)
        scriptBuffer_ << QString::fromStdString(stagedOutput_.NamedAsFinal(result.Error));
    const bool wasShown = terminateShown_;
    ShowTerminate(splitSerial, 0, result.end == StreamCutResult::End::Finished,
                  result.end == StreamCutResult::End::Failed);
    if (!wasShown && result.end == StreamCutResult::End::Finished) {
        // The note can be longer than its panel; the tool tip shows it whole.
        const QString note = QString::fromStdString(StreamCutNote(result));
        statusTimeLeft_->setText(note);
        statusTimeLeft_->setToolTip(note);
    }
}

}  // namespace clipmora
