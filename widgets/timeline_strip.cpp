// The strip of pictures and loudness under the timeline.
#include "widgets/timeline_strip.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace clipmora {
namespace {

// The entry of `held` taken latest at or before `timeMs` (the first when
// none is); end() when empty.
template <typename Map>
typename Map::const_iterator atOrBefore(const Map& held, int64_t timeMs)
{
    auto after = held.upper_bound(timeMs);
    return after == held.begin() ? after : std::prev(after);
}

}  // namespace

TTimelineStrip::TTimelineStrip(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int TTimelineStrip::slotWidth() const { return kPictureHeight * 16 / 9; }

void TTimelineStrip::SetView(int64_t firstMs, int64_t lastMs, int left, int right)
{
    if (firstMs == firstMs_ && lastMs == lastMs_ && left == left_ && right == right_)
        return;
    firstMs_ = firstMs;
    lastMs_ = lastMs;
    left_ = left;
    right_ = right;
    update();
}

int64_t TTimelineStrip::timeAt(int x) const
{
    if (right_ <= left_)
        return firstMs_;
    const double share = static_cast<double>(x - left_) / (right_ - left_);
    return std::clamp<int64_t>(firstMs_ + std::llround(share * static_cast<double>(lastMs_ - firstMs_)),
                               firstMs_, lastMs_);
}

std::vector<TTimelineStrip::Slot> TTimelineStrip::Slots() const
{
    std::vector<Slot> slotList;
    if (lastMs_ <= firstMs_)
        return slotList;
    const int slot = slotWidth();
    for (int x = 0; x < width(); x += slot)
        slotList.push_back(Slot{timeAt(x), timeAt(x + slot), timeAt(x + slot / 2)});
    return slotList;
}

void TTimelineStrip::AddPicture(int64_t timeMs, const QImage& picture)
{
    pictures_[timeMs] = picture;
    update();
}

void TTimelineStrip::AddLoudness(int64_t firstMs, int64_t endMs, float peak, float rms)
{
    levels_[{firstMs, endMs}] = Level{peak, rms};
    update();
}

void TTimelineStrip::Clear()
{
    pictures_.clear();
    levels_.clear();
    update();
}

void TTimelineStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const QRect band(0, kPictureHeight + kGap, width(), kLoudnessHeight);
    painter.fillRect(band, palette().color(QPalette::Base));
    if (lastMs_ <= firstMs_)
        return;
    const int slot = slotWidth();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const std::vector<Slot> slotList = Slots();
    for (size_t index = 0; index < slotList.size(); ++index) {
        const int x = static_cast<int>(index) * slot;
        const auto picture = atOrBefore(pictures_, slotList[index].middleMs);
        if (picture != pictures_.end() && !picture->second.isNull()) {
            // The picture's middle fills the slot; a narrower picture is
            // cut at top and bottom, a wider one at its sides.
            const QImage& image = picture->second;
            const QRect target(x, 0, std::min(slot, width() - x) - 1, kPictureHeight);
            QRectF source(0, 0, image.width(), image.height());
            const double targetAspect = static_cast<double>(slot - 1) / kPictureHeight;
            if (source.width() / source.height() > targetAspect)
                source.setWidth(source.height() * targetAspect);
            else
                source.setHeight(source.width() / targetAspect);
            source.moveCenter(QPointF(image.width() / 2.0, image.height() / 2.0));
            source.setWidth(source.width() * target.width() / (slot - 1));
            painter.drawImage(target, image, source);
        }
    }
    // The loudness: one bar across each slot whose span has its level, the
    // peak light and the RMS dark, both on a decibel scale down to -48 dB.
    const auto barHeight = [](float level) {
        if (level <= 0.0f)
            return 0;
        const double db = 20.0 * std::log10(level);
        return static_cast<int>(std::lround(std::clamp((db + 48.0) / 48.0, 0.0, 1.0) * kLoudnessHeight));
    };
    const QColor peakColor = palette().color(QPalette::Highlight).lighter(150);
    const QColor rmsColor = palette().color(QPalette::Highlight);
    for (size_t index = 0; index < slotList.size(); ++index) {
        const auto level = levels_.find({slotList[index].firstMs, slotList[index].endMs});
        if (level == levels_.end())
            continue;
        const int x = static_cast<int>(index) * slot;
        const int barWidth = std::min(slot, width() - x);
        const int peak = barHeight(level->second.peak), rms = barHeight(level->second.rms);
        painter.fillRect(x, band.bottom() + 1 - peak, barWidth, peak, peakColor);
        painter.fillRect(x, band.bottom() + 1 - rms, barWidth, rms, rmsColor);
    }
}

}  // namespace clipmora
