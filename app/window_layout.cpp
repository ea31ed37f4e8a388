// How the main window follows its size. At its specified size every control
// has the geometry it was built with. Extra width goes to the preview and
// the timeline under it; the right-hand column moves right and keeps its
// controls' sizes. Extra height goes to the preview; what lies under it moves
// down. The preview's picture keeps its aspect (the renderer letter-boxes
// it), and a double click shows it on the whole screen. Once the extra
// height covers the strip of pictures and loudness, the strip takes that
// much of it, under the timeline, and the preview the rest: the marks' row
// and the timeline then follow the preview's bottom, and what lies under the
// timeline moves down by all of the extra height, below the strip.
#include "app/main_window.h"

#include "preview/video_window.h"
#include "widgets/hl_track_bar.h"
#include "widgets/timeline_strip.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>

namespace clipmora {
namespace {

// The preview, the timeline and what lies under them are left of this x;
// the split controls (and the hidden step buttons) right of it.
constexpr int kLeftPartRight = 405;
// The picture's place inside the preview's frame: its border's widths.
constexpr QMargins kPictureMargins(4, 6, 6, 6);

}  // namespace

void TForm1::keepSpecifiedSizeAsMinimum(const QSize& specified)
{
    specifiedSize_ = specified;
    setMinimumSize(specified);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(specified);
    normalSize_ = specified;
    specifiedGeometry_.clear();
    for (QWidget* child : centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        specifiedGeometry_.emplace_back(child, child->geometry());
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    // The size to come back to (and to store) is the last one the window
    // had while it was neither maximised nor on the whole screen.
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        normalSize_ = size();
    placeControls();
}

void TForm1::placeControls()
{
    if (specifiedGeometry_.empty())
        return;
    const int wider = std::max(0, width() - specifiedSize_.width());
    const int taller = std::max(0, height() - specifiedSize_.height());
    const bool strip = timelineStripWanted() && taller >= TTimelineStrip::kHeight;
    const int previewTaller = strip ? taller - TTimelineStrip::kHeight : taller;
    // Between the preview and the timeline lie the marks' read-outs (and
    // the fields they are typed in); they stay right under the preview.
    int timelineTop = 0;
    for (const auto& [control, geometry] : specifiedGeometry_)
        if (control == hlTrackBar1_)
            timelineTop = geometry.top();
    for (const auto& [control, geometry] : specifiedGeometry_) {
        if (control == timelineStrip_) {
            // Hidden, it keeps the place it was built with.
            if (!strip)
                control->setGeometry(geometry);
            continue;
        }
        if (control == panel1_)
            control->setGeometry(geometry.adjusted(0, 0, wider, previewTaller));
        else if (control == hlTrackBar1_)
            control->setGeometry(geometry.translated(0, previewTaller).adjusted(0, 0, wider, 0));
        else if (control == timelineScroll_)
            control->setGeometry(geometry.translated(0, taller).adjusted(0, 0, wider, 0));
        else if (geometry.left() >= kLeftPartRight)
            control->setGeometry(geometry.translated(wider, 0));
        else if (geometry.top() < timelineTop)
            control->setGeometry(geometry.translated(0, previewTaller));
        else
            control->setGeometry(geometry.translated(0, taller));
    }
    timelineStrip_->setVisible(strip);
    if (strip)
        placeTimelineStrip(hlTrackBar1_->geometry().bottom() + 1);
    placePreviewPicture();
}

void TForm1::placePreviewPicture()
{
    // On the whole screen the picture is no child of the frame.
    if (videoWindow1_->parentWidget() == panel1_)
        videoWindow1_->setGeometry(panel1_->rect().marginsRemoved(kPictureMargins));
}

bool TForm1::previewWindowEvent(QObject* watched, QEvent* event)
{
    if (watched != videoWindow1_)
        return false;
    if (event->type() == QEvent::Show) {
        // Back from the whole screen the picture takes its old geometry,
        // which a resize meanwhile has made stale.
        placePreviewPicture();
        return false;
    }
    if (event->type() != QEvent::MouseButtonDblClick)
        return false;
    // Only pictures that play can cover the screen; before, a click would
    // just be stored and take effect at the next play.
    if (videoWindow1_->FullScreen() || videoWindow1_->Connected())
        videoWindow1_->SetFullScreen(!videoWindow1_->FullScreen());
    return true;
}

QSize TForm1::NormalSize() const { return normalSize_; }

void TForm1::RestorePlacement(const QSize& size, bool maximized)
{
    QSize held = size.expandedTo(specifiedSize_);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        held = held.boundedTo(screen->availableGeometry().size()).expandedTo(specifiedSize_);
    resize(held);
    normalSize_ = held;
    setWindowState(maximized ? windowState() | Qt::WindowMaximized
                             : windowState() & ~Qt::WindowMaximized);
}

}  // namespace clipmora
