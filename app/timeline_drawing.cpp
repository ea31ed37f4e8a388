// The timeline bar's drawing handler: see timeline_drawing.h.
#include "app/timeline_drawing.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace clipmora {
namespace {

const QColor kThumbFace(255, 255, 0);
const QColor kThumbLight(255, 255, 255);
const QColor kThumbShadow(160, 160, 0);

// Half-to-even rounding of a product taken in extended precision.
long long roundProduct(long long value, float scale)
{
    return std::llrint(static_cast<long double>(value) * static_cast<long double>(scale));
}

void drawChannel(const ThlTrackBar& bar, QPainter& painter, QRect r)
{
    const QPalette& pal = bar.palette();
    painter.fillRect(r, pal.color(QPalette::Base));
    Frame3D(painter, r, pal.color(QPalette::Dark), pal.color(QPalette::Light), 1);
    Frame3D(painter, r, pal.color(QPalette::Shadow), pal.color(QPalette::Button), 1);

    // The channel spans the bar's view: all of Min..Max unless zoomed in
    // (the timeline's Min is 0, so unzoomed the marks count from the left).
    const long long range = static_cast<long long>(bar.ViewMax()) - bar.ViewMin();
    if (range <= 0 || bar.SelEnd() <= bar.SelStart())
        return;
    r.adjust(3, 3, -3, -3);
    const float scale = static_cast<float>(r.width()) / static_cast<float>(range);
    const long long first = bar.Zoomed() ? bar.ViewMin() : 0;
    const long long left = r.left() + roundProduct(bar.SelStart() - first, scale);
    const long long right = r.left() + roundProduct(bar.SelEnd() - first, scale);  // exclusive
    // A selection reaching past Min..Max stays inside the channel.
    const int from = static_cast<int>(std::max<long long>(left, r.left()));
    const int to = static_cast<int>(std::min<long long>(right - 1, r.right()));
    if (from <= to && r.height() > 0)
        painter.fillRect(QRect(QPoint(from, r.top()), QPoint(to, r.bottom())),
                         pal.color(QPalette::Highlight));
}

void drawThumb(QPainter& painter, QRect r)
{
    painter.fillRect(r, kThumbFace);
    Frame3D(painter, r, kThumbLight, kThumbShadow, 2);
}

}  // namespace

void DrawTimelineItem(ThlTrackBar& bar, ThlTrackBarItem item, QRect& r, bool& defaultDraw)
{
    QPainter* painter = bar.Canvas();
    switch (item) {
    case tbiChannel:
        if (painter)
            drawChannel(bar, *painter, r);
        break;
    case tbiThumb:
        if (painter)
            drawThumb(*painter, r);
        break;
    case tbiTics:
        defaultDraw = true;
        break;
    }
}

}  // namespace clipmora
