// The timeline of the main window: the bar that follows the preview and
// seeks it after a drag or a key, the segment marks with their read-outs, and
// the hidden step buttons.
#include "app/main_window.h"

#include "job/segment_marks.h"
#include "app/file_names.h"
#include "app/timeline_drawing.h"
#include "app/user_dialogs.h"
#include "widgets/hl_track_bar.h"

#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace clipmora {
namespace {

constexpr int kTimelineThumbLength = 25;
constexpr int kStepMs = 5;
// The shortest time between two seeks that follow a dragged thumb.
constexpr qint64 kScrubIntervalMs = 50;

QPushButton* addMarkButton(QWidget* parent, const char* name, const QString& caption, int x,
                           int width, bool bold)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(x, 360, width, 35);
    QFont font = button->font();
    font.setBold(bold);
    button->setFont(font);
    return button;
}

}  // namespace

void TForm1::buildTimeline(QWidget* client)
{
    hlTrackBar1_ = new ThlTrackBar(client);
    hlTrackBar1_->setObjectName(QStringLiteral("hlTrackBar1"));
    hlTrackBar1_->setGeometry(8, 325, 393, 24);
    hlTrackBar1_->SetMin(0);
    hlTrackBar1_->SetMax(1000);
    hlTrackBar1_->SetThumbLength(kTimelineThumbLength);
    hlTrackBar1_->SetTickStyle(tsNone);
    hlTrackBar1_->SetShowSelRange(true);
    hlTrackBar1_->SetZoomable(true);
    hlTrackBar1_->OnCustomDraw = [](ThlTrackBar& bar, ThlTrackBarItem item, QRect& rect,
                                    TCustomDrawState, bool& defaultDraw) {
        DrawTimelineItem(bar, item, rect, defaultDraw);
    };
    // While the thumb is held it no longer follows the video, and the video
    // follows the thumb from key frame to key frame; once it is let go (or a
    // key moved it) the preview shows exactly the picture where it settled.
    timerScrub_ = new QTimer(this);
    timerScrub_->setSingleShot(true);
    connect(timerScrub_, &QTimer::timeout, this, &TForm1::scrubToThumb);
    hlTrackBar1_->OnMouseDown = [this](ThlTrackBar&, Qt::MouseButton button,
                                       Qt::KeyboardModifiers, int, int) {
        timerTrackBarPosition_->stop();
        thumbHeld_ = thumbHeld_ || button == Qt::LeftButton;
    };
    hlTrackBar1_->OnChange = [this](ThlTrackBar&) { timelineScrub(); };
    hlTrackBar1_->OnMouseUp = [this](ThlTrackBar&, Qt::MouseButton button, Qt::KeyboardModifiers,
                                     int, int) {
        if (button == Qt::LeftButton) {
            thumbHeld_ = false;
            timerScrub_->stop();
        }
        postTimelineSeek();
        timerTrackBarPosition_->start();
    };
    hlTrackBar1_->OnKeyUp = [this](ThlTrackBar&, int&, Qt::KeyboardModifiers) {
        postTimelineSeek();
    };

    buildTimelineScroll(client);
    buildTimelineStrip(client);
    buildMarkButtons(client);
}

void TForm1::buildTimelineScroll(QWidget* client)
{
    // Zoomed in, the timeline shows part of the file; the bar under it
    // pans, and shows only then.
    timelineScroll_ = new QScrollBar(Qt::Horizontal, client);
    timelineScroll_->setObjectName(QStringLiteral("TimelineScroll"));
    timelineScroll_->setGeometry(8, 349, 393, 10);
    timelineScroll_->hide();
    timelineScroll_->setFocusPolicy(Qt::NoFocus);
    hlTrackBar1_->OnViewChange = [this](ThlTrackBar& bar) {
        const QSignalBlocker quiet(timelineScroll_);
        const int span = bar.ViewMax() - bar.ViewMin();
        timelineScroll_->setRange(bar.Min(), bar.Max() - span);
        timelineScroll_->setPageStep(span);
        timelineScroll_->setSingleStep(std::max(1, span / 20));
        timelineScroll_->setValue(bar.ViewMin());
        timelineScroll_->setVisible(bar.Zoomed());
        followTimelineView();
    };
    connect(timelineScroll_, &QScrollBar::valueChanged, this, [this](int first) {
        const int span = hlTrackBar1_->ViewMax() - hlTrackBar1_->ViewMin();
        hlTrackBar1_->SetView(first, first + span);
    });
}

void TForm1::buildMarkButtons(QWidget* client)
{
    buttonMarkStart_ =
        addMarkButton(client, "ButtonMarkStart", QStringLiteral("Mark Start"), 107, 94, true);
    buttonMarkEnd_ =
        addMarkButton(client, "ButtonMarkEnd", QStringLiteral("Mark End"), 207, 94, true);
    buttonMarkEnd_->setLayoutDirection(Qt::RightToLeft);  // its glyph right of the caption
    buttonMarkEnd_->setIcon(style()->standardIcon(QStyle::SP_MediaSeekForward));
    buttonClearMarks_ =
        addMarkButton(client, "ButtonClearMarks", QStringLiteral("Clear Marks"), 307, 90, false);
    connect(buttonMarkStart_, &QPushButton::clicked, this, &TForm1::MarkStartClick);
    connect(buttonMarkEnd_, &QPushButton::clicked, this, &TForm1::MarkEndClick);
    connect(buttonClearMarks_, &QPushButton::clicked, this, &TForm1::ClearMarksClick);

    // The step buttons lie outside the visible client area.
    buttonIncrementBack_ = new QPushButton(client);
    buttonIncrementBack_->setObjectName(QStringLiteral("ButtonIncrementBack"));
    buttonIncrementBack_->setGeometry(800, 380, 28, 28);
    buttonIncrementForward_ = new QPushButton(client);
    buttonIncrementForward_->setObjectName(QStringLiteral("ButtonIncrementForward"));
    buttonIncrementForward_->setGeometry(838, 380, 28, 28);
    for (QPushButton* step : {buttonIncrementBack_, buttonIncrementForward_}) {
        step->setFlat(true);
        step->setToolTip(QStringLiteral("Play"));
    }
    connect(buttonIncrementBack_, &QPushButton::clicked, this, [this] { IncrementClick(-kStepMs); });
    connect(buttonIncrementForward_, &QPushButton::clicked, this,
            [this] { IncrementClick(kStepMs); });
}

void TForm1::postTimelineSeek()
{
    QMetaObject::invokeMethod(this, &TForm1::timelineSeek, Qt::QueuedConnection);
}

void TForm1::timelineSeek()
{
    filterGraph1_.SetPosition(previewSeekTarget(hlTrackBar1_->Position()));
}

void TForm1::timelineScrub()
{
    // A running position timer moves the thumb itself: it is not held (a
    // release that went elsewhere never told the bar).
    if (!thumbHeld_ || timerTrackBarPosition_->isActive() || timerScrub_->isActive())
        return;
    const qint64 waited = sinceScrub_.isValid() ? sinceScrub_.elapsed() : kScrubIntervalMs;
    if (waited >= kScrubIntervalMs)
        scrubToThumb();
    else
        timerScrub_->start(static_cast<int>(kScrubIntervalMs - waited));
}

void TForm1::scrubToThumb()
{
    if (!thumbHeld_ || timerTrackBarPosition_->isActive())
        return;
    sinceScrub_.start();
    filterGraph1_.SeekNearKeyFrame(hlTrackBar1_->Position());
    panelCurrentPosition_->setText(SecondsText(hlTrackBar1_->Position()));
}

void TForm1::resetMarks()
{
    // The split reads the panels to tell a marked segment from none, so
    // they go with the numbers.
    StartFrame = 0.0;
    EndFrame = 0.0;
    panelStart_->clear();
    panelEnd_->clear();
    hlTrackBar1_->SetSelStart(0);
    hlTrackBar1_->SetSelEnd(0);
}

void TForm1::MarkStartClick()
{
    if (splitBusy_)
        return;
    panelEnd_->clear();
    StartFrame = 0.0;
    EndFrame = 0.0;
    placeStartMark(hlTrackBar1_->Position());
    // The range from the start to the end of the file is highlighted.
    hlTrackBar1_->SetSelEnd(hlTrackBar1_->Max());
}

void TForm1::placeStartMark(int position)
{
    hlTrackBar1_->SetSelStart(position);
    StartFrame = MarkFrameNumber(position, sourceFrameRate_.toStdString(),
                                 NameBytes(editVideoFilename_->text()));
    panelStart_->setText(SecondsText(position));
}

void TForm1::MarkEndClick()
{
    if (splitBusy_)
        return;
    if (panelStart_->text().trimmed().isEmpty()) {
        UserDialogs::current().Information(this, QStringLiteral("Please choose a START position"));
        return;
    }
    // An end before the start is refused by the split request.
    const int position = hlTrackBar1_->Position();
    hlTrackBar1_->SetSelEnd(position);
    EndFrame = MarkFrameNumber(position, sourceFrameRate_.toStdString(),
                               NameBytes(editVideoFilename_->text()));
    panelEnd_->setText(SecondsText(position));
}

void TForm1::ClearMarksClick()
{
    if (splitBusy_)
        return;
    // The frame numbers stay; with both panels empty the next split takes
    // the whole file.
    hlTrackBar1_->SetSelEnd(0);
    hlTrackBar1_->SetSelStart(0);
    panelStart_->clear();
    panelEnd_->clear();
    panelCurrentPosition_->clear();
}

void TForm1::IncrementClick(int deltaMs)
{
    if (filterGraph1_.Active())
        filterGraph1_.SetPosition(filterGraph1_.Position() + deltaMs);
    hlTrackBar1_->SetPosition(hlTrackBar1_->Position() + deltaMs);
}

}  // namespace clipmora
