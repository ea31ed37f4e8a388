// ThlTrackBar: a horizontal track bar whose owner may draw its parts (ticks,
// channel, thumb) itself. The bar lays its parts out, handles mouse, wheel and
// keys like a standard track bar, and paints each part either through
// OnCustomDraw or with its own plain drawing. The main window uses it for the
// timeline (owner-drawn channel and thumb) and for the preview volume (plain).
//
// Threads: GUI thread only.
#pragma once

#include <QColor>
#include <QRect>
#include <QWidget>

#include <functional>
#include <vector>

class QPainter;

namespace clipmora {

enum ThlTrackBarItem { tbiTics, tbiChannel, tbiThumb };

// The item-state bits handed to OnCustomDraw.
enum TCustomDrawStateFlag : unsigned {
    cdsSelected = 0x1,  // the thumb while it is dragged
    cdsGrayed = 0x2,
    cdsDisabled = 0x4,  // the bar is disabled
    cdsChecked = 0x8,
    cdsFocused = 0x10,  // the bar has the keyboard focus
    cdsDefault = 0x20,
    cdsHot = 0x40,  // the thumb is under the mouse
    cdsMarked = 0x80,
    cdsIndeterminate = 0x100,
};
using TCustomDrawState = unsigned;  // a set of TCustomDrawStateFlag bits

enum TTickStyle {
    tsNone,    // no ticks
    tsAuto,    // a tick every Frequency, plus Min and Max
    tsManual,  // Min, Max and the values given to SetTick
};
enum TTickMark { tmBottomRight, tmTopLeft, tmBoth };

// Draws `width` nested one-pixel rings on `rect`, the outermost on its edge:
// each ring's top and left edges in `topLeft`, its bottom and right edges in
// `bottomRight` (the top-right and bottom-left corners take `bottomRight`).
// Leaves `rect` shrunk by `width` on every side.
void Frame3D(QPainter& painter, QRect& rect, const QColor& topLeft, const QColor& bottomRight,
             int width);

class ThlTrackBar : public QWidget {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(ThlTrackBar& Sender)>;
    // ARect is the part's rectangle in widget coordinates. DefaultDraw is
    // false on entry; left false, the bar does not draw the part itself.
    using TTBCustomDrawEvent = std::function<void(ThlTrackBar& Sender, ThlTrackBarItem Item,
                                                  QRect& ARect, TCustomDrawState State,
                                                  bool& DefaultDraw)>;
    using TMouseEvent = std::function<void(ThlTrackBar& Sender, Qt::MouseButton Button,
                                           Qt::KeyboardModifiers Shift, int X, int Y)>;
    // Key is a Qt::Key; OnKeyDown may set it to 0 to keep the bar from acting on it.
    using TKeyEvent =
        std::function<void(ThlTrackBar& Sender, int& Key, Qt::KeyboardModifiers Shift)>;

    explicit ThlTrackBar(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    // A Min above Max raises Max to it, a Max below Min lowers Min; Position
    // follows into the new range (raising OnChange when it moves).
    void SetMin(int value);
    void SetMax(int value);
    // Clamped to Min..Max; raises OnChange when the position changes.
    void SetPosition(int value);

    int SelStart() const { return selStart_; }
    int SelEnd() const { return selEnd_; }
    void SetSelStart(int value);
    void SetSelEnd(int value);
    bool ShowSelRange() const { return showSelRange_; }
    void SetShowSelRange(bool value);

    TTickStyle TickStyle() const { return tickStyle_; }
    void SetTickStyle(TTickStyle value);
    TTickMark TickMarks() const { return tickMarks_; }
    void SetTickMarks(TTickMark value);
    // Distance between automatic ticks; at least 1.
    int Frequency() const { return frequency_; }
    void SetFrequency(int value);
    // Manual ticks (drawn with tsManual); values outside Min..Max are not drawn.
    void SetTick(int value);
    void ClearTicks();
    // The values that get a tick mark, in ascending order.
    std::vector<int> TickValues() const;

    // The thumb's extent across the channel (its height); the widget's height
    // limits what is drawn.
    int ThumbLength() const { return thumbLength_; }
    void SetThumbLength(int value);

    // Steps of the arrow keys (and of the mouse wheel, times the wheel's
    // scroll lines) and of Page Up / Page Down.
    int LineSize() const { return lineSize_; }
    void SetLineSize(int value) { lineSize_ = value; }
    int PageSize() const { return pageSize_; }
    void SetPageSize(int value) { pageSize_ = value; }

    // Geometry in widget coordinates, for the current size and settings.
    // The channel's interior, 5 pixels in from its edges, runs exactly from
    // the thumb's centre at Min to its centre at Max.
    QRect ChannelRect() const;
    QRect ThumbRect() const;
    // The band(s) of the tick marks; empty with tsNone.
    QRect TicsRect() const;
    // The x coordinate of the thumb's centre at `value`, and the reverse.
    int PixelOf(int value) const;
    int ValueAt(int x) const;

    // The part of Min..Max the bar spans: all of it unless zoomed in.
    // PixelOf and ValueAt map over it; values outside it lie beyond the ends
    // of the thumb's travel. A new Min or Max shows the whole range again.
    int ViewMin() const { return zoomed_ ? viewMin_ : min_; }
    int ViewMax() const { return zoomed_ ? viewMax_ : max_; }
    bool Zoomed() const { return zoomed_; }
    // Spans `first`..`last`, moved into Min..Max and no narrower than a
    // tenth of a value per pixel; raises OnViewChange when the view changes.
    void SetView(int first, int last);
    // Zooms in (`factor` > 1) or out around the value under `x`, which stays
    // under `x`.
    void ZoomAt(int x, double factor);
    // Whether Ctrl with the mouse wheel zooms; otherwise the wheel steps
    // with or without Ctrl.
    bool Zoomable() const { return zoomable_; }
    void SetZoomable(bool value) { zoomable_ = value; }

    // The painter of the paint in progress; null outside OnCustomDraw.
    QPainter* Canvas() const { return canvas_; }

    TNotifyEvent OnChange;
    TNotifyEvent OnViewChange;  // the spanned part of Min..Max changed
    TTBCustomDrawEvent OnCustomDraw;
    TMouseEvent OnMouseDown;  // after the bar has acted on the press
    TMouseEvent OnMouseUp;    // after the bar has settled the thumb
    TKeyEvent OnKeyDown;      // before the bar acts on the key
    TKeyEvent OnKeyUp;        // once per key, not for auto-repeat

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Layout {
        int travelLeft;  // the thumb's centre at Min
        int travelRight;  // the thumb's centre at Max
        int thumbTop;
        int thumbHeight;
        int channelTop;
        int channelHeight;
    };
    Layout layout() const;
    int thumbWidth() const;
    bool ticksOnTop() const;
    bool ticksBelow() const;

    // Hands one part to OnCustomDraw; true when the bar is to draw it itself.
    bool defaultDrawAfterOwner(QPainter& painter, ThlTrackBarItem item, QRect rect,
                               TCustomDrawState state);
    void drawTics(QPainter& painter) const;
    void drawChannel(QPainter& painter) const;
    void drawThumb(QPainter& painter, TCustomDrawState state) const;
    TCustomDrawState itemState(ThlTrackBarItem item) const;
    void setHot(bool hot);
    void moveBy(int delta);
    // The whole range again (a new Min or Max).
    void showWholeRange();
    // Moves the view the least so that `value` lies in it.
    void keepInView(int value);

    int min_ = 0;
    int max_ = 10;
    int position_ = 0;
    int selStart_ = 0;
    int selEnd_ = 0;
    bool showSelRange_ = true;
    TTickStyle tickStyle_ = tsAuto;
    TTickMark tickMarks_ = tmBottomRight;
    int frequency_ = 1;
    std::vector<int> manualTicks_;
    int thumbLength_ = 20;
    int lineSize_ = 1;
    int pageSize_ = 2;

    QPainter* canvas_ = nullptr;
    bool dragging_ = false;
    int dragOffset_ = 0;  // press point minus the thumb's centre
    bool hot_ = false;
    int wheelRemainder_ = 0;  // eighths of a degree not yet turned into steps
    bool zoomable_ = false;
    bool zoomed_ = false;
    int viewMin_ = 0;  // the view while zoomed
    int viewMax_ = 0;
};

}  // namespace clipmora
