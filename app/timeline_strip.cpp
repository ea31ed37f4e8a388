// The strip of small pictures and loudness under the timeline. A worker
// thread builds it for the added file (engine/key_frame_strip.h) and its
// pictures are drawn as they arrive. It follows the timeline: its slots are
// the timeline's view cut into picture-wide pieces, so a wider window or a
// zoom builds it anew once the view has settled. A new file, a hidden strip
// and the window's end cancel a build.
#include "app/main_window.h"

#include "app/file_names.h"
#include "app/options_dialog.h"
#include "engine/key_frame_strip.h"
#include "widgets/hl_track_bar.h"
#include "widgets/timeline_strip.h"

#include <QMetaObject>
#include <QTimer>

namespace clipmora {
namespace {

// How long a view or width must stay put before the strip is built for it.
constexpr int kSettleMs = 150;

// The slots of the strip's current view, as the builder takes them.
std::vector<StripSlot> slotsOf(const TTimelineStrip& strip)
{
    std::vector<StripSlot> slotList;
    for (const TTimelineStrip::Slot& slot : strip.Slots())
        slotList.push_back(StripSlot{slot.firstMs, slot.endMs, slot.middleMs});
    return slotList;
}

}  // namespace

void TForm1::buildTimelineStrip(QWidget* client)
{
    timelineStrip_ = new TTimelineStrip(client);
    timelineStrip_->setObjectName(QStringLiteral("TimelineStrip"));
    timelineStrip_->setGeometry(8, 349, 393, TTimelineStrip::kHeight);
    timelineStrip_->hide();
    timerStripBuild_ = new QTimer(this);
    timerStripBuild_->setSingleShot(true);
    timerStripBuild_->setInterval(kSettleMs);
    connect(timerStripBuild_, &QTimer::timeout, this, &TForm1::startStripBuild);
}

bool TForm1::timelineStripWanted() const { return !optionsForm_ || optionsForm_->TimelineStrip(); }

void TForm1::ApplyTimelineStripChoice()
{
    placeControls();
    if (!timelineStripWanted())
        stopStripBuild(false);
}

void TForm1::placeTimelineStrip(int top)
{
    const QRect timeline = hlTrackBar1_->geometry();
    timelineStrip_->setGeometry(timeline.left(), top, timeline.width(), TTimelineStrip::kHeight);
    followTimelineView();
}

void TForm1::followTimelineView()
{
    if (!timelineStrip_->isVisibleTo(this)) {
        stopStripBuild(false);
        return;
    }
    // The strip lies under the timeline with the same left edge, so the
    // thumb's travel gives its x coordinates directly.
    timelineStrip_->SetView(hlTrackBar1_->ViewMin(), hlTrackBar1_->ViewMax(),
                            hlTrackBar1_->PixelOf(hlTrackBar1_->ViewMin()),
                            hlTrackBar1_->PixelOf(hlTrackBar1_->ViewMax()));
    if (!stripFile_.isEmpty() && slotsOf(*timelineStrip_) != stripSlots_)
        scheduleStripBuild();
}

void TForm1::scheduleStripBuild() { timerStripBuild_->start(); }

void TForm1::startStripBuild()
{
    if (stripFile_.isEmpty() || !timelineStrip_->isVisibleTo(this) || !librariesBound_)
        return;
    stopStripBuild(false);
    stripSlots_ = slotsOf(*timelineStrip_);
    if (stripSlots_.empty())
        return;
    if (!stripBuilder_)
        stripBuilder_ = std::make_unique<TKeyFrameStrip>();
    const int serial = ++stripSerial_;
    // The builder reports on its thread; the strip takes the reports on the
    // GUI thread, unless a later build has begun meanwhile.
    stripBuilder_->OnPicture = [this, serial](const StripPicture& picture) {
        QImage image(picture.rgb.data(), picture.width, picture.height, picture.width * 3,
                     QImage::Format_RGB888);
        QMetaObject::invokeMethod(
            this,
            [this, serial, timeMs = picture.keyTimeMs, image = image.copy()] {
                if (serial == stripSerial_)
                    timelineStrip_->AddPicture(timeMs, image);
            },
            Qt::QueuedConnection);
    };
    stripBuilder_->OnLoudness = [this, serial](const StripLoudness& loudness) {
        QMetaObject::invokeMethod(
            this,
            [this, serial, loudness] {
                if (serial == stripSerial_)
                    timelineStrip_->AddLoudness(loudness.firstMs, loudness.endMs,
                                                loudness.peak, loudness.rms);
            },
            Qt::QueuedConnection);
    };
    stripBuilder_->OnFinished = [this, serial](bool completed) {
        QMetaObject::invokeMethod(
            this,
            [this, serial, completed] {
                if (serial == stripSerial_)
                    emit TimelineStripBuilt(completed);
            },
            Qt::QueuedConnection);
    };
    stripBuilder_->Start(
        StripRequest{NameBytes(stripFile_), stripSlots_, TTimelineStrip::kPictureHeight});
}

void TForm1::stopStripBuild(bool forget)
{
    // A start-up that failed before the controls were built has no strip.
    if (!timelineStrip_)
        return;
    timerStripBuild_->stop();
    ++stripSerial_;
    if (stripBuilder_)
        stripBuilder_->Cancel();
    // A build cut short leaves slots without pictures: the next placement
    // builds again.
    stripSlots_.clear();
    if (forget) {
        stripFile_.clear();
        timelineStrip_->Clear();
    }
}

}  // namespace clipmora
