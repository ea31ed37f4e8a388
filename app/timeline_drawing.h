// The timeline's look: the main window hands DrawTimelineItem to the timeline
// bar as its drawing handler. The channel is a sunken strip with the marked
// range in the highlight colour, the thumb a yellow raised block; the bar
// draws its own ticks.
//
// Threads: GUI thread only, inside the bar's paint.
#pragma once

#include "widgets/hl_track_bar.h"

class QRect;

namespace clipmora {

// Draws `item` of `bar` on bar.Canvas() inside a copy of `r` (`r` itself is
// left alone). Sets `defaultDraw` for the ticks only; the channel and the
// thumb are drawn here, the bar leaving them to this function.
//  - channel: filled with the palette's Base colour, framed by a 1-pixel ring
//    Dark (top, left) / Light (bottom, right) and inside it a ring Shadow /
//    Button; then, with Max > Min and SelEnd > SelStart, the rectangle 3 pixels
//    further in holds the selection in the Highlight colour, scaled by
//    (inner width) / (Max - Min) as a float and rounded half to even;
//  - thumb: yellow with a 2-pixel frame, white top and left, (160, 160, 0)
//    bottom and right.
void DrawTimelineItem(ThlTrackBar& bar, ThlTrackBarItem item, QRect& r, bool& defaultDraw);

}  // namespace clipmora
