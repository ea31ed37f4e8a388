// ThlTrackBar: layout, painting through the owner's drawing handler, and the
// mouse, wheel and key handling of a standard track bar.
#include "widgets/hl_track_bar.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>

namespace clipmora {
namespace {

// Stores a setting of the bar's look and repaints it.
template <typename T>
void assignAndRepaint(QWidget& bar, T& field, T value)
{
    field = value;
    bar.update();
}

constexpr int kSideMargin = 2;    // between the widget's edge and the channel or thumb
constexpr int kChannelInset = 5;  // channel edge to the ends of the thumb's travel
constexpr int kTickGap = 1;       // between the thumb and its ticks
constexpr int kTickLength = 3;
constexpr int kTickBand = kTickGap + kTickLength;
constexpr int kWheelNotch = 120;  // eighths of a degree per wheel step
constexpr double kZoomPerNotch = 1.5;

int clampToInt(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

void Frame3D(QPainter& painter, QRect& rect, const QColor& topLeft, const QColor& bottomRight,
             int width)
{
    for (; width > 0; --width) {
        if (rect.width() > 0 && rect.height() > 0) {
            const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
            painter.fillRect(QRect(QPoint(l, t), QPoint(r - 1, t)), topLeft);
            painter.fillRect(QRect(QPoint(l, t), QPoint(l, b - 1)), topLeft);
            painter.fillRect(QRect(QPoint(r, t), QPoint(r, b)), bottomRight);
            painter.fillRect(QRect(QPoint(l, b), QPoint(r, b)), bottomRight);
        }
        rect.adjust(1, 1, -1, -1);
    }
}

ThlTrackBar::ThlTrackBar(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);  // for the thumb's hot state
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ThlTrackBar::SetMin(int value)
{
    min_ = value;
    max_ = std::max(max_, value);
    showWholeRange();
    SetPosition(position_);
}

void ThlTrackBar::SetMax(int value)
{
    max_ = value;
    min_ = std::min(min_, value);
    showWholeRange();
    SetPosition(position_);
}

void ThlTrackBar::SetPosition(int value)
{
    value = std::clamp(value, min_, max_);
    if (value == position_)
        return;
    position_ = value;
    // A zoomed bar follows a thumb that leaves its view (playback, keys, a
    // drag past its ends).
    keepInView(value);
    update();
    if (OnChange)
        OnChange(*this);
}

void ThlTrackBar::showWholeRange()
{
    const bool wasZoomed = zoomed_;
    zoomed_ = false;
    update();
    if (wasZoomed && OnViewChange)
        OnViewChange(*this);
}

void ThlTrackBar::SetView(int first, int last)
{
    const std::int64_t range = std::int64_t{max_} - min_;
    const Layout l = layout();
    // At most ten pixels per value.
    const std::int64_t narrowest = std::max<std::int64_t>(1, (l.travelRight - l.travelLeft) / 10);
    const std::int64_t span = std::max(std::int64_t{last} - first, narrowest);
    if (range <= 0 || span >= range) {
        showWholeRange();
        return;
    }
    const auto from = static_cast<int>(std::clamp<std::int64_t>(first, min_, max_ - span));
    const auto to = static_cast<int>(from + span);
    if (zoomed_ && from == viewMin_ && to == viewMax_)
        return;
    zoomed_ = true;
    viewMin_ = from;
    viewMax_ = to;
    update();
    if (OnViewChange)
        OnViewChange(*this);
}

void ThlTrackBar::ZoomAt(int x, double factor)
{
    const Layout l = layout();
    const int travel = l.travelRight - l.travelLeft;
    if (travel <= 0 || factor <= 0.0)
        return;
    const double share = std::clamp(double(x - l.travelLeft) / travel, 0.0, 1.0);
    const double span = (double(ViewMax()) - ViewMin()) / factor;
    const double under = ViewMin() + share * (double(ViewMax()) - ViewMin());
    const double first = under - share * span;
    SetView(static_cast<int>(std::llround(std::clamp<double>(first, INT32_MIN, INT32_MAX))),
            static_cast<int>(std::llround(std::clamp<double>(first + span, INT32_MIN, INT32_MAX))));
}

void ThlTrackBar::keepInView(int value)
{
    if (!zoomed_)
        return;
    const int span = viewMax_ - viewMin_;
    if (value < viewMin_)
        SetView(value, value + span);
    else if (value > viewMax_)
        SetView(value - span, value);
}

void ThlTrackBar::SetSelStart(int value)
{
    if (value != selStart_) {
        selStart_ = value;
        update();
    }
}

void ThlTrackBar::SetSelEnd(int value)
{
    if (value != selEnd_) {
        selEnd_ = value;
        update();
    }
}

void ThlTrackBar::SetShowSelRange(bool value) { assignAndRepaint(*this, showSelRange_, value); }

void ThlTrackBar::SetTickStyle(TTickStyle value) { assignAndRepaint(*this, tickStyle_, value); }

void ThlTrackBar::SetTickMarks(TTickMark value) { assignAndRepaint(*this, tickMarks_, value); }

void ThlTrackBar::SetFrequency(int value)
{
    frequency_ = std::max(1, value);
    update();
}

void ThlTrackBar::SetTick(int value)
{
    manualTicks_.push_back(value);
    update();
}

void ThlTrackBar::ClearTicks()
{
    manualTicks_.clear();
    update();
}

std::vector<int> ThlTrackBar::TickValues() const
{
    std::vector<int> values;
    if (tickStyle_ == tsNone)
        return values;
    values.push_back(min_);
    if (tickStyle_ == tsAuto) {
        for (std::int64_t v = std::int64_t{min_} + frequency_; v < max_; v += frequency_)
            values.push_back(static_cast<int>(v));
    } else {
        std::vector<int> inside;
        for (int v : manualTicks_)
            if (v > min_ && v < max_)
                inside.push_back(v);
        std::sort(inside.begin(), inside.end());
        inside.erase(std::unique(inside.begin(), inside.end()), inside.end());
        values.insert(values.end(), inside.begin(), inside.end());
    }
    if (max_ != min_)
        values.push_back(max_);
    return values;
}

void ThlTrackBar::SetThumbLength(int value)
{
    thumbLength_ = std::max(1, value);
    update();
    updateGeometry();
}

int ThlTrackBar::thumbWidth() const
{
    return std::max(3, (thumbLength_ / 2) | 1);  // odd, so the thumb has a centre column
}

bool ThlTrackBar::ticksOnTop() const
{
    return tickStyle_ != tsNone && tickMarks_ != tmBottomRight;
}

bool ThlTrackBar::ticksBelow() const
{
    return tickStyle_ != tsNone && tickMarks_ != tmTopLeft;
}

ThlTrackBar::Layout ThlTrackBar::layout() const
{
    Layout l{};
    const int margin = kSideMargin + std::max(thumbWidth() / 2, kChannelInset);
    l.travelLeft = margin;
    l.travelRight = std::max(margin, width() - 1 - margin);

    // The thumb and its tick bands are centred top to bottom; a thumb longer
    // than the room left by the ticks is cut to fit.
    const int topBand = ticksOnTop() ? kTickBand : 0;
    const int bottomBand = ticksBelow() ? kTickBand : 0;
    l.thumbHeight = std::clamp(thumbLength_, 1, std::max(1, height() - topBand - bottomBand));
    l.thumbTop = std::max(0, (height() - topBand - l.thumbHeight - bottomBand) / 2) + topBand;

    // A channel that shows a selection is wide enough to hold it.
    const int channel = showSelRange_ ? std::max(4, l.thumbHeight * 3 / 4) : 4;
    l.channelHeight = std::min(channel, l.thumbHeight);
    l.channelTop = l.thumbTop + (l.thumbHeight - l.channelHeight) / 2;
    return l;
}

QRect ThlTrackBar::ChannelRect() const
{
    const Layout l = layout();
    return QRect(QPoint(l.travelLeft - kChannelInset, l.channelTop),
                 QPoint(l.travelRight + kChannelInset - 1, l.channelTop + l.channelHeight - 1));
}

QRect ThlTrackBar::ThumbRect() const
{
    const Layout l = layout();
    const int w = thumbWidth();
    return QRect(PixelOf(position_) - w / 2, l.thumbTop, w, l.thumbHeight);
}

QRect ThlTrackBar::TicsRect() const
{
    if (tickStyle_ == tsNone)
        return QRect();
    const Layout l = layout();
    const int top = ticksOnTop() ? l.thumbTop - kTickBand : l.thumbTop + l.thumbHeight;
    const int bottom = ticksBelow() ? l.thumbTop + l.thumbHeight + kTickBand - 1 : l.thumbTop - 1;
    return QRect(QPoint(l.travelLeft, top), QPoint(l.travelRight, bottom));
}

int ThlTrackBar::PixelOf(int value) const
{
    const Layout l = layout();
    const std::int64_t range = std::int64_t{ViewMax()} - ViewMin();
    if (range <= 0)
        return l.travelLeft;
    const std::int64_t offset = std::int64_t{std::clamp(value, min_, max_)} - ViewMin();
    const std::int64_t span = l.travelRight - l.travelLeft;
    // Zoomed in, values out of the view lie beyond the travel's ends; the
    // rounding of negative offsets is floored like that of positive ones.
    const std::int64_t twice = 2 * offset * span + range;
    const std::int64_t pixels = twice >= 0 ? twice / (2 * range) : -((-twice + 2 * range - 1) / (2 * range));
    return clampToInt(l.travelLeft + std::clamp<std::int64_t>(pixels, -(1 << 20), 1 << 20));
}

int ThlTrackBar::ValueAt(int x) const
{
    const Layout l = layout();
    const int span = l.travelRight - l.travelLeft;
    if (span <= 0)
        return min_;
    const double range = double(ViewMax()) - double(ViewMin());
    const auto value = std::llround(ViewMin() + double(x - l.travelLeft) * range / span);
    return clampToInt(std::clamp<std::int64_t>(value, min_, max_));
}

QSize ThlTrackBar::sizeHint() const
{
    const int bands = (ticksOnTop() ? kTickBand : 0) + (ticksBelow() ? kTickBand : 0);
    return QSize(150, thumbLength_ + bands + 4);
}

TCustomDrawState ThlTrackBar::itemState(ThlTrackBarItem item) const
{
    TCustomDrawState state = 0;
    if (!isEnabled())
        state |= cdsDisabled;
    if (hasFocus())
        state |= cdsFocused;
    if (item == tbiThumb) {
        if (dragging_)
            state |= cdsSelected;
        if (hot_)
            state |= cdsHot;
    }
    return state;
}

bool ThlTrackBar::defaultDrawAfterOwner(QPainter& painter, ThlTrackBarItem item, QRect rect,
                                        TCustomDrawState state)
{
    if (!OnCustomDraw)
        return true;
    // The handler's pen, brush and clipping end with its call, and the canvas
    // is withdrawn however the call ends.
    struct CanvasLease {
        ThlTrackBar& bar;
        QPainter& painter;
        CanvasLease(ThlTrackBar& b, QPainter& p) : bar(b), painter(p)
        {
            painter.save();
            bar.canvas_ = &painter;
        }
        ~CanvasLease()
        {
            bar.canvas_ = nullptr;
            painter.restore();
        }
        CanvasLease(const CanvasLease&) = delete;
        CanvasLease& operator=(const CanvasLease&) = delete;
    } lease(*this, painter);
    bool defaultDraw = false;
    OnCustomDraw(*this, item, rect, state, defaultDraw);
    return defaultDraw;
}

void ThlTrackBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    // Exceptions must not cross Qt's event dispatch: a failing handler ends
    // this paint and is reported; the next paint tries again.
    try {
        if (tickStyle_ != tsNone &&
            defaultDrawAfterOwner(painter, tbiTics, TicsRect(), itemState(tbiTics)))
            drawTics(painter);
        if (defaultDrawAfterOwner(painter, tbiChannel, ChannelRect(), itemState(tbiChannel)))
            drawChannel(painter);
        const TCustomDrawState thumbState = itemState(tbiThumb);
        if (defaultDrawAfterOwner(painter, tbiThumb, ThumbRect(), thumbState))
            drawThumb(painter, thumbState);
    } catch (const std::exception& e) {
        qWarning("Track bar drawing handler failed: %s", e.what());
    } catch (...) {
        qWarning("Track bar drawing handler failed");
    }
}

void ThlTrackBar::drawTics(QPainter& painter) const
{
    const Layout l = layout();
    const QColor colour = palette().color(QPalette::WindowText);
    auto tickAt = [&](int x, int width) {
        if (ticksOnTop())
            painter.fillRect(QRect(x, l.thumbTop - kTickBand, width, kTickLength), colour);
        if (ticksBelow())
            painter.fillRect(QRect(x, l.thumbTop + l.thumbHeight + kTickGap, width, kTickLength),
                             colour);
    };
    // Automatic ticks at most a pixel apart touch every column: draw them as
    // one band rather than listing a value for each.
    const std::int64_t range = std::int64_t{max_} - min_;
    const int span = l.travelRight - l.travelLeft;
    if (tickStyle_ == tsAuto && range > 0 && range / frequency_ >= span) {
        tickAt(l.travelLeft, span + 1);
        return;
    }
    int lastX = -1;
    for (int value : TickValues()) {
        const int x = PixelOf(value);
        if (x != lastX)
            tickAt(x, 1);
        lastX = x;
    }
}

void ThlTrackBar::drawChannel(QPainter& painter) const
{
    const QPalette& pal = palette();
    QRect r = ChannelRect();
    painter.fillRect(r, pal.color(QPalette::Base));
    Frame3D(painter, r, pal.color(QPalette::Dark), pal.color(QPalette::Light), 1);
    Frame3D(painter, r, pal.color(QPalette::Shadow), pal.color(QPalette::Button), 1);
    if (showSelRange_ && selEnd_ > selStart_ && max_ > min_) {
        const QRect selection(QPoint(PixelOf(selStart_), r.top() + 1),
                              QPoint(PixelOf(selEnd_), r.bottom() - 1));
        painter.fillRect(selection.intersected(r), pal.color(QPalette::Highlight));
    }
}

void ThlTrackBar::drawThumb(QPainter& painter, TCustomDrawState state) const
{
    const QPalette& pal = palette();
    QRect r = ThumbRect();
    const bool lit = (state & (cdsHot | cdsSelected)) != 0;
    painter.fillRect(r, pal.color(lit ? QPalette::Midlight : QPalette::Button));
    Frame3D(painter, r, pal.color(QPalette::Light), pal.color(QPalette::Shadow), 1);
    Frame3D(painter, r, pal.color(QPalette::Midlight), pal.color(QPalette::Dark), 1);
}

void ThlTrackBar::setHot(bool hot)
{
    if (hot != hot_) {
        hot_ = hot;
        update(ThumbRect());
    }
}

void ThlTrackBar::moveBy(int delta)
{
    SetPosition(clampToInt(std::int64_t{position_} + delta));
}

void ThlTrackBar::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        // Grabbing the thumb keeps it where it is under the pointer; a press
        // anywhere else brings the thumb's centre to the pointer first.
        const QRect thumb = ThumbRect();
        if (at.x() >= thumb.left() && at.x() <= thumb.right()) {
            dragOffset_ = at.x() - PixelOf(position_);
        } else {
            dragOffset_ = 0;
            SetPosition(ValueAt(at.x()));
        }
        dragging_ = true;
        update();
    }
    if (OnMouseDown)
        OnMouseDown(*this, event->button(), event->modifiers(), at.x(), at.y());
}

void ThlTrackBar::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (dragging_ && !(event->buttons() & Qt::LeftButton))
        dragging_ = false;  // the release went elsewhere (a popup took the mouse)
    if (dragging_)
        SetPosition(ValueAt(at.x() - dragOffset_));
    setHot(ThumbRect().contains(at));
}

void ThlTrackBar::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && dragging_) {
        SetPosition(ValueAt(at.x() - dragOffset_));
        dragging_ = false;
        update();
    }
    if (OnMouseUp)
        OnMouseUp(*this, event->button(), event->modifiers(), at.x(), at.y());
}

void ThlTrackBar::leaveEvent(QEvent* event)
{
    setHot(false);
    QWidget::leaveEvent(event);
}

void ThlTrackBar::wheelEvent(QWheelEvent* event)
{
    // Turning the wheel away from the user steps like the Up key, or with
    // Ctrl zooms in around the pointer.
    int delta = event->angleDelta().y();
    if (event->inverted())
        delta = -delta;
    wheelRemainder_ += delta;
    const int notches = wheelRemainder_ / kWheelNotch;
    wheelRemainder_ -= notches * kWheelNotch;
    if (notches != 0 && zoomable_ && (event->modifiers() & Qt::ControlModifier))
        ZoomAt(qRound(event->position().x()), std::pow(kZoomPerNotch, notches));
    else if (notches != 0)
        moveBy(clampToInt(-std::int64_t{notches} * lineSize_ * QApplication::wheelScrollLines()));
    event->accept();
}

void ThlTrackBar::keyPressEvent(QKeyEvent* event)
{
    int key = event->key();
    if (OnKeyDown)
        OnKeyDown(*this, key, event->modifiers());
    switch (key) {
    case 0:
        break;  // the owner took the key
    case Qt::Key_Left:
    case Qt::Key_Up:
        moveBy(-lineSize_);
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        moveBy(lineSize_);
        break;
    case Qt::Key_PageUp:
        moveBy(-pageSize_);
        break;
    case Qt::Key_PageDown:
        moveBy(pageSize_);
        break;
    case Qt::Key_Home:
        SetPosition(min_);
        break;
    case Qt::Key_End:
        SetPosition(max_);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ThlTrackBar::keyReleaseEvent(QKeyEvent* event)
{
    // A held key repeats its press only; its release is reported once.
    if (!event->isAutoRepeat() && OnKeyUp) {
        int key = event->key();
        OnKeyUp(*this, key, event->modifiers());
    }
    QWidget::keyReleaseEvent(event);
}

}  // namespace clipmora
