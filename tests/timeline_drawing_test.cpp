// The timeline's drawing handler on a bar laid out as the main window has it
// (393 x 24, Max 1000, ThumbLength 25, no ticks), checked on grabbed pixels:
// the channel's frames, the highlighted selection with its rounding, and the
// yellow thumb with its frame.
#include "app/timeline_drawing.h"

#include "tests/support/track_bar_testing.h"
#include "widgets/timeline_strip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace clipmora {
namespace {

namespace colours = testing::bar_colours;
using testing::Grab;
using testing::PixelAt;

const QColor kYellow(255, 255, 0);
const QColor kWhite(255, 255, 255);
const QColor kDarkYellow(160, 160, 0);

class TimelineDrawingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing::EnsureApplication(); }

    void SetUp() override
    {
        bar = testing::NewTestTrackBar(393, 24, 1000, 25);
        bar->SetTickStyle(tsNone);
        bar->SetShowSelRange(true);
        bar->OnCustomDraw = [](ThlTrackBar& sender, ThlTrackBarItem item, QRect& r,
                               TCustomDrawState, bool& defaultDraw) {
            DrawTimelineItem(sender, item, r, defaultDraw);
        };
    }

    // The channel inside its two frames and the selection's 3-pixel margin.
    QRect selectionArea() const { return bar->ChannelRect().adjusted(5, 5, -5, -5); }

    // The first and last highlighted column on the selection area's middle
    // row; -1, -1 when nothing is highlighted.
    std::pair<int, int> highlightedColumns(const QImage& image) const
    {
        const int y = selectionArea().center().y();
        int first = -1, last = -1;
        for (int x = 0; x < image.width(); ++x) {
            if (PixelAt(image, x, y) == colours::highlight) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        return {first, last};
    }

    std::unique_ptr<ThlTrackBar> bar;
};

TEST_F(TimelineDrawingTest, ChannelIsSunkenWithTwoFramesOnTheWindowColour)
{
    bar->SetPosition(500);  // the thumb off both ends of the channel
    const QImage image = Grab(*bar);
    const QRect c = bar->ChannelRect();
    // Outer ring: button shadow top and left, highlight bottom and right;
    // inner ring: dark shadow top and left, button face bottom and right.
    EXPECT_EQ(PixelAt(image, c.left(), c.top()), colours::dark);
    EXPECT_EQ(PixelAt(image, c.right(), c.bottom()), colours::light);
    EXPECT_EQ(PixelAt(image, c.left() + 1, c.top() + 1), colours::shadow);
    EXPECT_EQ(PixelAt(image, c.right() - 1, c.bottom() - 1), colours::button);
    EXPECT_EQ(PixelAt(image, c.left() + 2, c.top() + 2), colours::base);
    EXPECT_EQ(PixelAt(image, c.left() - 1, c.center().y()), colours::window);
    EXPECT_EQ(PixelAt(image, c.right() + 1, c.center().y()), colours::window);
}

TEST_F(TimelineDrawingTest, SelectionIsHighlightedFromStartToEndOnly)
{
    // The selection area is 376 pixels wide from x 8: scale 0.376 per ms.
    ASSERT_EQ(selectionArea().left(), 8);
    ASSERT_EQ(selectionArea().width(), 376);
    bar->SetSelStart(250);  // 8 + 94
    bar->SetSelEnd(750);    // up to 8 + 282, exclusive
    const QImage image = Grab(*bar);

    EXPECT_EQ(highlightedColumns(image), std::make_pair(102, 289));
    const QRect area = selectionArea();
    EXPECT_EQ(PixelAt(image, 102, area.top()), colours::highlight);
    EXPECT_EQ(PixelAt(image, 102, area.bottom()), colours::highlight);
    EXPECT_EQ(PixelAt(image, 102, area.top() - 1), colours::base) << "3-pixel margin";
    EXPECT_EQ(PixelAt(image, 102, area.bottom() + 1), colours::base);
    EXPECT_EQ(PixelAt(image, 101, area.top()), colours::base);
    EXPECT_EQ(PixelAt(image, 290, area.top()), colours::base);

    // The range's start lines up with the thumb standing on it.
    bar->SetPosition(250);
    EXPECT_EQ(bar->ThumbRect().center().x(), 102);
}

TEST_F(TimelineDrawingTest, SelectionOffsetsRoundHalfToEven)
{
    bar->SetMax(752);  // scale exactly 0.5
    bar->SetPosition(752);  // the thumb off the range's end
    bar->SetSelStart(5);  // 2.5 -> 2
    bar->SetSelEnd(7);    // 3.5 -> 4, exclusive
    EXPECT_EQ(highlightedColumns(Grab(*bar)), std::make_pair(8 + 2, 8 + 3));

    bar->SetSelStart(3);  // 1.5 -> 2
    bar->SetSelEnd(9);    // 4.5 -> 4
    EXPECT_EQ(highlightedColumns(Grab(*bar)), std::make_pair(8 + 2, 8 + 3));
}

TEST_F(TimelineDrawingTest, ScaleIsSinglePrecision)
{
    // 376 / 2256 is 1/6, which a float holds slightly too large: the exact
    // halves 3 / 6 and 1131 / 6 round up, where exact arithmetic would give 0
    // and 188.
    bar->SetMax(2256);
    bar->SetPosition(2256);
    bar->SetSelStart(3);
    bar->SetSelEnd(1131);
    EXPECT_EQ(highlightedColumns(Grab(*bar)), std::make_pair(8 + 1, 8 + 189 - 1));
}

TEST_F(TimelineDrawingTest, NothingIsHighlightedWithoutASelectionOrARange)
{
    bar->SetSelStart(400);
    bar->SetSelEnd(400);
    EXPECT_EQ(highlightedColumns(Grab(*bar)), std::make_pair(-1, -1));

    bar->SetSelStart(600);  // end before start
    EXPECT_EQ(highlightedColumns(Grab(*bar)), std::make_pair(-1, -1));

    bar->SetSelStart(0);
    bar->SetMax(0);
    EXPECT_EQ(highlightedColumns(Grab(*bar)), std::make_pair(-1, -1));
}

TEST_F(TimelineDrawingTest, SelectionPastTheRangeStaysInsideTheChannel)
{
    bar->SetSelStart(500);
    bar->SetSelEnd(5000);  // marks of a longer file than the range now holds
    const QImage image = Grab(*bar);
    const QRect area = selectionArea();
    EXPECT_EQ(highlightedColumns(image), std::make_pair(8 + 188, area.right()));
    const QRect c = bar->ChannelRect();
    EXPECT_EQ(PixelAt(image, c.right(), area.top()), colours::light);
    EXPECT_EQ(PixelAt(image, c.right() - 1, area.top()), colours::button);
}

TEST_F(TimelineDrawingTest, ThumbIsYellowWithALightAndADarkFrame)
{
    const QImage image = testing::GrabMarked(*bar, 100, 900, 500);
    const QRect t = bar->ThumbRect();
    ASSERT_EQ(t.height(), 24);

    EXPECT_EQ(PixelAt(image, t.left(), t.top()), kWhite);
    EXPECT_EQ(PixelAt(image, t.left() + 1, t.bottom() - 2), kWhite) << "second ring";
    EXPECT_EQ(PixelAt(image, t.right(), t.top()), kDarkYellow) << "top-right corner";
    EXPECT_EQ(PixelAt(image, t.right() - 1, t.bottom() - 1), kDarkYellow) << "second ring";
    EXPECT_EQ(PixelAt(image, t.left() + 2, t.top() + 2), kYellow);
    EXPECT_EQ(PixelAt(image, t.center().x(), t.center().y()), kYellow)
        << "the thumb covers the highlighted channel";
    EXPECT_EQ(PixelAt(image, t.left() - 1, 0), colours::window);
}

TEST_F(TimelineDrawingTest, TicksAreLeftToTheBarAndTheRectangleToTheCaller)
{
    bar->SetTickStyle(tsAuto);
    bar->SetFrequency(100);
    bar->resize(393, 40);
    int rectanglesChanged = 0;
    bar->OnCustomDraw = [&](ThlTrackBar& sender, ThlTrackBarItem item, QRect& r,
                            TCustomDrawState, bool& defaultDraw) {
        const QRect given = r;
        DrawTimelineItem(sender, item, r, defaultDraw);
        EXPECT_EQ(defaultDraw, item == tbiTics) << "item " << item;
        rectanglesChanged += r != given;
    };
    const QImage image = Grab(*bar);
    EXPECT_EQ(PixelAt(image, bar->PixelOf(300), bar->TicsRect().bottom()), colours::text);
    EXPECT_EQ(rectanglesChanged, 0);
}

// The strip's loudness band: each slot draws, across its width, the level
// measured over exactly its own span; a zoom shows no level of another view.
TEST(TimelineStripBandTest, EachSlotDrawsTheLevelOfItsOwnSpanOnly)
{
    testing::EnsureApplication();
    TTimelineStrip strip;
    strip.resize(640, TTimelineStrip::kHeight);
    const int slotWidth = TTimelineStrip::kPictureHeight * 16 / 9;
    // The height of the bar drawn at each pixel column of the band, from
    // its bottom up: the rows that are not the band's background.
    const auto barHeights = [&] {
        const QImage shot = strip.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QColor background = strip.palette().color(QPalette::Base);
        std::vector<int> heights;
        for (int x = 0; x < shot.width(); ++x) {
            int height = 0;
            while (height < TTimelineStrip::kLoudnessHeight &&
                   PixelAt(shot, x, shot.height() - 1 - height) != background)
                ++height;
            heights.push_back(height);
        }
        return heights;
    };
    // Heights expected with `loudSlots` (of the current view) at 0.5, the
    // others silent.
    const auto expected = [&](const std::vector<int>& loudSlots) {
        std::vector<int> heights(static_cast<size_t>(strip.width()), 0);
        for (const int slot : loudSlots)
            for (int x = slot * slotWidth; x < std::min((slot + 1) * slotWidth, strip.width()); ++x)
                heights[static_cast<size_t>(x)] = 7;  // -6 dB of 48 in 8 rows
        return heights;
    };
    const auto measure = [&](const std::vector<int>& loudSlots) {
        const std::vector<TTimelineStrip::Slot> slotList = strip.Slots();
        for (size_t slot = 0; slot < slotList.size(); ++slot) {
            const bool loud = std::find(loudSlots.begin(), loudSlots.end(),
                                        static_cast<int>(slot)) != loudSlots.end();
            strip.AddLoudness(slotList[slot].firstMs, slotList[slot].endMs, loud ? 0.5f : 0.0f,
                              loud ? 0.35f : 0.0f);
        }
    };

    strip.SetView(0, 60000, 0, 640);
    EXPECT_EQ(barHeights(), expected({})) << "no level measured yet";
    measure({5});
    EXPECT_EQ(barHeights(), expected({5}));

    // Zoomed in on the first 6 s: the minute's levels do not stand in.
    strip.SetView(0, 6000, 0, 640);
    EXPECT_EQ(barHeights(), expected({}));
    measure({2});
    EXPECT_EQ(barHeights(), expected({2}));

    // Out again: the minute's levels, none of the zoomed view's among them.
    strip.SetView(0, 60000, 0, 640);
    EXPECT_EQ(barHeights(), expected({5}));
}

}  // namespace
}  // namespace clipmora
