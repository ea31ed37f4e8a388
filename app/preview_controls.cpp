// The preview side of the main window: the video area, the Play, Pause and
// Stop buttons, the preview volume and the position timer that follows the
// playing file.
#include "app/main_window.h"

#include "app/file_names.h"
#include "app/user_dialogs.h"
#include "preview/sample_grabber.h"
#include "preview/video_window.h"
#include "widgets/hl_track_bar.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

namespace clipmora {
namespace {

constexpr int kPositionIntervalMs = 100;
constexpr int kVolumeBarMax = 20000;
constexpr int kVolumeBarStart = 10000;

QPushButton* addTransportButton(QWidget* parent, const char* name,
                                QStyle::StandardPixmap glyph, const QString& hint, int x)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(parent->style()->standardIcon(glyph));
    button->setToolTip(hint);
    button->setFlat(true);
    button->setGeometry(x, 360, 28, 28);
    return button;
}

}  // namespace

// Milliseconds as the panels show them: seconds in the shortest form of the
// user's locale (12345 -> 12.345, 7500 -> 7.5, 0 -> 0).
QString SecondsText(int milliseconds)
{
    return QLocale().toString(milliseconds / 1000.0, 'g', QLocale::FloatingPointShortest);
}

void TForm1::buildPreviewControls(QWidget* client)
{
    panel1_ = new QFrame(client);
    panel1_->setObjectName(QStringLiteral("Panel1"));
    panel1_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel1_->setGeometry(8, 4, 393, 295);

    videoWindow1_ = new TVideoWindow(panel1_);
    videoWindow1_->setObjectName(QStringLiteral("VideoWindow1"));
    videoWindow1_->setGeometry(4, 6, 383, 283);
    videoWindow1_->VMROptions().SetMode(vmrWindowed);
    videoWindow1_->VMROptions().SetStreams(1);
    videoWindow1_->SetColor(Qt::black);
    videoWindow1_->SetFilterGraph(&filterGraph1_);
    videoWindow1_->installEventFilter(this);

    buildTransport(client);

    groupVolume_ = new QGroupBox(QStringLiteral(" Volume "), client);
    groupVolume_->setGeometry(8, 408, 187, 54);
    hlTrackBarVolume_ = new ThlTrackBar(groupVolume_);
    hlTrackBarVolume_->setObjectName(QStringLiteral("hlTrackBarVolume"));
    hlTrackBarVolume_->setGeometry(8, 20, 169, 23);
    hlTrackBarVolume_->SetMax(kVolumeBarMax);
    hlTrackBarVolume_->SetPosition(kVolumeBarStart);
    hlTrackBarVolume_->SetShowSelRange(false);
    hlTrackBarVolume_->SetTickStyle(tsNone);
    hlTrackBarVolume_->SetPageSize(kVolumeBarMax / 10);
    hlTrackBarVolume_->SetLineSize(kVolumeBarMax / 100);
    // From the middle to the right end the preview plays at full volume; the
    // left half attenuates.
    hlTrackBarVolume_->OnChange = [this](ThlTrackBar& bar) {
        filterGraph1_.SetVolume(bar.Position());
    };

    buildTimeline(client);

    timerTrackBarPosition_ = new QTimer(this);
    timerTrackBarPosition_->setObjectName(QStringLiteral("TimerTrackBarPosition"));
    timerTrackBarPosition_->setInterval(kPositionIntervalMs);
    connect(timerTrackBarPosition_, &QTimer::timeout, this, &TForm1::TimerTrackBarPositionTick);

    // A handler that throws while graph events are delivered ends up here.
    filterGraph1_.OnHandlerException = [this](const std::exception& error) {
        UserDialogs::current().ReportException(this, QString::fromUtf8(error.what()));
    };
}

void TForm1::startPreviewFramework()
{
    if (sampleGrabber1_)
        return;
    videoWindow1_->SetMode(vmVMR);
    // The grabber sits in front of the renderer and holds the picture on
    // screen for snapshots.
    sampleGrabber1_ = new TSampleGrabber(this);
    sampleGrabber1_->setObjectName(QStringLiteral("SampleGrabber1"));
    sampleGrabber1_->SetFilterGraph(&filterGraph1_);
}

void TForm1::buildTransport(QWidget* client)
{
    buttonSnapshot_ = new QPushButton(QStringLiteral("Snapshot"), client);
    buttonSnapshot_->setObjectName(QStringLiteral("ButtonSnapshot"));
    buttonSnapshot_->setGeometry(211, 420, 86, 35);
    connect(buttonSnapshot_, &QPushButton::clicked, this, &TForm1::SnapshotClick);

    buttonPlay_ = addTransportButton(client, "ButtonPlay", QStyle::SP_MediaPlay,
                                     QStringLiteral("Play"), 8);
    buttonPause_ = addTransportButton(client, "ButtonPause", QStyle::SP_MediaPause,
                                      QStringLiteral("Pause"), 38);
    buttonStop_ = addTransportButton(client, "ButtonStop", QStyle::SP_MediaStop,
                                     QStringLiteral("Stop"), 68);
    connect(buttonPlay_, &QPushButton::clicked, this, &TForm1::PlayClick);
    connect(buttonPause_, &QPushButton::clicked, this, &TForm1::PauseClick);
    connect(buttonStop_, &QPushButton::clicked, this, &TForm1::StopClick);
}

void TForm1::guardPreview(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const std::exception& error) {
        UserDialogs::current().ReportException(this, QString::fromUtf8(error.what()));
    }
}

void TForm1::showPlaybackProblem(const QString& why)
{
    statusPlayback_->setText(why);
    statusPlayback_->setToolTip(why);
    statusPlayback_->setVisible(!why.isEmpty());
}

void TForm1::PlayClick()
{
    if (splitBusy_ || editVideoFilename_->text().trimmed().isEmpty())
        return;
    if (previewPaused_) {
        guardPreview([this] { filterGraph1_.Play(); });
        previewPaused_ = false;
        return;
    }
    // A fresh start: a new graph opens the file from its beginning.
    timerTrackBarPosition_->start();
    previewPaused_ = false;
    openPreview([this] { filterGraph1_.Play(); });
}

void TForm1::openPreview(const std::function<void()>& then)
{
    showPlaybackProblem(QString());
    try {
        filterGraph1_.Stop();
        if (filterGraph1_.Active())
            filterGraph1_.SetActive(false);
        filterGraph1_.SetActive(true);
        filterGraph1_.SetVolume(hlTrackBarVolume_->Position());
        filterGraph1_.RenderFile(NameBytes(previewFile_));
        then();
    } catch (const std::exception& error) {
        // The status bar says why, in the framework's words, and keeps
        // saying it after the message has gone.
        if (!filterGraph1_.LastErrorText().empty())
            showPlaybackProblem(QStringLiteral("Cannot play: ") +
                                QString::fromStdString(filterGraph1_.LastErrorText()));
        UserDialogs::current().ReportException(this, QString::fromUtf8(error.what()));
    }
}

void TForm1::PauseClick()
{
    if (splitBusy_)
        return;
    guardPreview([this] { filterGraph1_.Pause(); });
    previewPaused_ = true;
}

void TForm1::StopClick()
{
    if (splitBusy_)
        return;
    stopPreviewGraph();
    timerTrackBarPosition_->stop();
}

void TForm1::holdPreviewForSplit()
{
    // The thumb stays where it is while the preview is gone: no position
    // comes from a graph that is not there.
    previewBeforeSplit_.reset();
    if (filterGraph1_.Active())
        previewBeforeSplit_ = hlTrackBar1_->Position();
    timerTrackBarPosition_->stop();
    stopPreviewGraph();
}

void TForm1::restorePreviewAfterSplit()
{
    const std::optional<int> position = std::exchange(previewBeforeSplit_, std::nullopt);
    if (!position || previewFile_.isEmpty() || splitBusy_)
        return;
    // Back where it was, paused on its picture: a mark set now takes the
    // position the thumb shows.
    openPreview([this, at = *position] {
        filterGraph1_.Pause();
        previewPaused_ = true;
        SeekTimeline(at);
        timerTrackBarPosition_->start();
    });
}

void TForm1::stopPreviewGraph()
{
    guardPreview([this] {
        filterGraph1_.Stop();
        filterGraph1_.SetActive(false);
    });
    // The next "Play" opens the file afresh.
    previewPaused_ = false;
}

void TForm1::TimerTrackBarPositionTick()
{
    // At the end of the file the preview stops; the graph stays ready for
    // a seek back into the file.
    if (filterGraph1_.Position() == filterGraph1_.Duration())
        guardPreview([this] { filterGraph1_.Stop(); });
    hlTrackBar1_->SetPosition(filterGraph1_.Position());
    panelCurrentPosition_->setText(SecondsText(hlTrackBar1_->Position()));
}

}  // namespace clipmora
