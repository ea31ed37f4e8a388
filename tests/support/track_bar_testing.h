// Shared by the track bar and timeline tests: a QApplication for the process,
// a palette whose colour roles all differ (so a pixel tells which role painted
// it) and a grab of a bar as an image.
#pragma once

#include "tests/support/qt_application.h"
#include "widgets/hl_track_bar.h"

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QPixmap>

#include <memory>
#include <ostream>

// Lets failed colour comparisons print the colour.
inline void PrintTo(const QColor& colour, std::ostream* os)
{
    *os << "rgb(" << colour.red() << ", " << colour.green() << ", " << colour.blue() << ")";
}

namespace clipmora::testing {

namespace bar_colours {
inline const QColor window(236, 233, 216);
inline const QColor base(255, 255, 250);
inline const QColor button(212, 208, 200);
inline const QColor light(254, 254, 254);
inline const QColor midlight(230, 230, 230);
inline const QColor mid(170, 170, 170);
inline const QColor dark(128, 128, 128);
inline const QColor shadow(64, 64, 64);
inline const QColor highlight(49, 106, 197);
inline const QColor text(0, 0, 0);
}  // namespace bar_colours

inline QPalette DistinctPalette()
{
    namespace c = bar_colours;
    QPalette pal;
    pal.setColor(QPalette::Window, c::window);
    pal.setColor(QPalette::Base, c::base);
    pal.setColor(QPalette::Button, c::button);
    pal.setColor(QPalette::Light, c::light);
    pal.setColor(QPalette::Midlight, c::midlight);
    pal.setColor(QPalette::Mid, c::mid);
    pal.setColor(QPalette::Dark, c::dark);
    pal.setColor(QPalette::Shadow, c::shadow);
    pal.setColor(QPalette::Highlight, c::highlight);
    pal.setColor(QPalette::WindowText, c::text);
    return pal;
}

// A bar in the distinct palette, `width` x `height` pixels, ranging 0..`max`
// with a thumb `thumbLength` long.
inline std::unique_ptr<ThlTrackBar> NewTestTrackBar(int width, int height, int max,
                                                    int thumbLength)
{
    auto bar = std::make_unique<ThlTrackBar>();
    bar->setPalette(DistinctPalette());
    bar->resize(width, height);
    bar->SetMax(max);
    bar->SetThumbLength(thumbLength);
    return bar;
}

inline QImage Grab(ThlTrackBar& bar)
{
    return bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The bar with a selection and a thumb position, grabbed.
inline QImage GrabMarked(ThlTrackBar& bar, int selStart, int selEnd, int position)
{
    bar.SetSelStart(selStart);
    bar.SetSelEnd(selEnd);
    bar.SetPosition(position);
    return Grab(bar);
}

// The colour at (x, y) as an opaque RGB value, for comparisons that print well.
inline QColor PixelAt(const QImage& image, int x, int y)
{
    return QColor(image.pixel(x, y));
}

}  // namespace clipmora::testing
