// The engine's reports during a split. They are raised on the engine's worker
// thread; each handler only posts its effect to the window's thread, where
// queued calls run in the order they were posted.
#include "app/main_window.h"

#include "app/user_dialogs.h"

#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

namespace clipmora {

void TForm1::connectEngineEvents()
{
    transcoder_.OnLog = [this](int, TLogLevel, const std::string& message) {
        const int serial = splitSerial_.load();
        const QString line = QString::fromStdString(message);
        QMetaObject::invokeMethod(
            this, [this, serial, line] { AppendLog(serial, line); }, Qt::QueuedConnection);
    };
    transcoder_.OnProgress = [this](int, int, int, int currentDuration, float, float,
                                    int64_t currentSize, int totalOutputDuration) {
        const int serial = splitSerial_.load();
        const auto reportedAt = TimeLeftEstimator::Clock::now();
        QMetaObject::invokeMethod(
            this,
            [this, serial, currentDuration, currentSize, totalOutputDuration, reportedAt] {
                ShowProgress(serial, currentDuration, currentSize, totalOutputDuration,
                             reportedAt);
            },
            Qt::QueuedConnection);
    };
    transcoder_.OnTerminate = [this](int index, bool finished, bool exception,
                                     const std::string&) {
        const int serial = splitSerial_.load();
        QMetaObject::invokeMethod(
            this,
            [this, serial, index, finished, exception] {
                ShowTerminate(serial, index, finished, exception);
            },
            Qt::QueuedConnection);
    };
}

void TForm1::clearSplitReadouts()
{
    resetProgress();
    panelPercent_->setText(QStringLiteral("0%"));
    statusPanels_[1]->clear();
    statusTimeLeft_->clear();
    statusTimeLeft_->setToolTip(QString());
}

void TForm1::AppendLog(int splitSerial, const QString& line)
{
    if (splitSerial == splitSerial_.load())
        scriptBuffer_ << line;
}

void TForm1::ShowProgress(int splitSerial, int currentDurationMs, int64_t currentSize,
                          int totalOutputDurationMs,
                          TimeLeftEstimator::Clock::time_point reportedAt)
{
    // Reports that were queued before a stop or the end reach the window
    // after it; the split they describe is over.
    if (splitSerial != splitSerial_.load() || stopRequested_ || terminateShown_)
        return;
    const auto kilobytes = std::llround(static_cast<double>(currentSize) / 1000.0);
    statusPanels_[1]->setText(QStringLiteral("File Size : %1 KBytes").arg(kilobytes));
    splitTimeLeft_.Report(reportedAt, currentDurationMs, totalOutputDurationMs);
    statusTimeLeft_->setText(QString::fromStdString(splitTimeLeft_.Summary()));
    // Without a known total there is no percentage; the last one stays.
    if (totalOutputDurationMs <= 0)
        return;
    const int64_t percent = static_cast<int64_t>(currentDurationMs) * 100 / totalOutputDurationMs;
    panelPercent_->setText(QStringLiteral("%1%").arg(std::min<int64_t>(percent, 100)));
    progressBar1_->setValue(static_cast<int>(std::clamp<int64_t>(percent, 0, 100)));
}

void TForm1::ShowTerminate(int splitSerial, int index, bool finished, bool exception)
{
    if (splitSerial != splitSerial_.load() || terminateShown_)
        return;
    // Set first: the message box runs a local event loop in which the end of
    // all tasks arrives.
    terminateShown_ = true;
    statusTimeLeft_->clear();
    // A task's own report says whether it wrote its file to the end; a stop
    // pressed after that end changes nothing. Only the end of all tasks, which
    // does not know, goes by the user's stop.
    const bool stopped = index >= 0 ? !finished : stopRequested_;
    // A finished output is moved onto its name; any other is removed.
    std::optional<std::string> missing;
    if (!exception && !stopped)
        missing = stagedOutput_.Commit();
    stagedOutput_.Discard();
    QString message;
    // The program's established texts, capitals and marks as they are.
    if (exception) {
        message = QStringLiteral("Cannot Split This File");
    } else if (missing) {
        message = QStringLiteral("Cannot Split This File") + QStringLiteral("\n\r") +
                  QString::fromStdString(*missing);
    } else if (stopped) {
        message = QStringLiteral("Splitting Stopped!");
    } else {
        message = QStringLiteral("Splitting Done!");
        // The last report came up to half a second before the end.
        panelPercent_->setText(QStringLiteral("100%"));
        progressBar1_->setValue(100);
    }
    UserDialogs::current().Information(this, message);
    progressBar1_->setValue(0);
    EnableJobControls();
}

}  // namespace clipmora
