// ThlTrackBar under the offscreen platform: its geometry and range rules, the
// owner-drawing protocol checked on grabbed pixels, and the mouse, wheel and
// key handling with the owner's hooks.
#include "widgets/hl_track_bar.h"

#include "tests/support/track_bar_testing.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPainter>
#include <QTest>
#include <QWheelEvent>

#include <memory>
#include <stdexcept>
#include <vector>

namespace clipmora {
namespace {

namespace colours = testing::bar_colours;
using testing::Grab;
using testing::PixelAt;

// Every pixel of `area` in `image` that is not `colour`.
int PixelsOtherThan(const QImage& image, const QRect& area, const QColor& colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += PixelAt(image, x, y) != colour;
    return count;
}

class TrackBarTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing::EnsureApplication(); }

    void SetUp() override
    {
        // An 11-pixel thumb: its centre travels from x = 7 to x = 107, so
        // Position p of 0..100 sits at x = 7 + p.
        bar = testing::NewTestTrackBar(115, 40, 100, 20);
        bar->SetFrequency(10);
        bar->OnChange = [this](ThlTrackBar&) { ++changes; };
    }

    std::unique_ptr<ThlTrackBar> bar;
    int changes = 0;
};

// ---- geometry and range --------------------------------------------------

TEST_F(TrackBarTest, ThumbSitsInProportionAlongTheChannelInterior)
{
    EXPECT_EQ(bar->PixelOf(0), 7);
    EXPECT_EQ(bar->PixelOf(37), 44);
    EXPECT_EQ(bar->PixelOf(100), 107);

    for (int p : {0, 37, 100}) {
        bar->SetPosition(p);
        const QRect thumb = bar->ThumbRect();
        EXPECT_EQ(thumb.height(), 20) << "ThumbLength across the channel";
        EXPECT_EQ(thumb.width(), 11);
        EXPECT_EQ(thumb.center().x(), 7 + p);
        EXPECT_TRUE(bar->rect().contains(thumb));
    }

    // The channel's interior, inside its two frames and the selection's
    // margin, runs from the thumb's centre at Min to its centre at Max, and
    // the channel lies across the thumb's middle.
    const QRect channel = bar->ChannelRect();
    const QRect interior = channel.adjusted(5, 5, -5, -5);
    EXPECT_EQ(interior.left(), bar->PixelOf(0));
    EXPECT_EQ(interior.left() + interior.width(), bar->PixelOf(100));
    EXPECT_GT(interior.height(), 0) << "room for the selection";
    EXPECT_GT(bar->TicsRect().top(), bar->ThumbRect().bottom()) << "ticks clear of the thumb";

    EXPECT_EQ(bar->ValueAt(44), 37);
    EXPECT_EQ(bar->ValueAt(-50), 0);
    EXPECT_EQ(bar->ValueAt(500), 100);
}

TEST_F(TrackBarTest, ThumbLongerThanTheBarIsCutToItsHeight)
{
    bar->resize(393, 24);
    bar->SetTickStyle(tsNone);
    bar->SetThumbLength(25);
    EXPECT_EQ(bar->ThumbRect().top(), 0);
    EXPECT_EQ(bar->ThumbRect().height(), 24);
    EXPECT_TRUE(bar->TicsRect().isEmpty());
}

TEST_F(TrackBarTest, PositionIsClampedToTheRangeAndChangesAreReported)
{
    bar->SetPosition(50);
    bar->SetPosition(50);
    EXPECT_EQ(changes, 1) << "setting the same position is no change";

    bar->SetPosition(-3);
    EXPECT_EQ(bar->Position(), 0);
    bar->SetPosition(1000);
    EXPECT_EQ(bar->Position(), 100);
    bar->SetPosition(101);
    EXPECT_EQ(changes, 3);

    // A narrower range carries the position along.
    bar->SetMax(40);
    EXPECT_EQ(bar->Position(), 40);
    EXPECT_EQ(changes, 4);
    bar->SetMin(60);
    EXPECT_EQ(bar->Min(), 60);
    EXPECT_EQ(bar->Max(), 60);
    EXPECT_EQ(bar->Position(), 60);
    bar->SetMax(10);
    EXPECT_EQ(bar->Min(), 10);
    EXPECT_EQ(bar->Position(), 10);
    EXPECT_EQ(changes, 6);
}

TEST_F(TrackBarTest, TickValuesFollowTheTickStyle)
{
    bar->SetFrequency(30);
    EXPECT_EQ(bar->TickValues(), (std::vector<int>{0, 30, 60, 90, 100}));

    bar->SetTickStyle(tsManual);
    bar->SetTick(70);
    bar->SetTick(20);
    bar->SetTick(70);
    bar->SetTick(150);  // outside the range
    EXPECT_EQ(bar->TickValues(), (std::vector<int>{0, 20, 70, 100}));
    bar->ClearTicks();
    EXPECT_EQ(bar->TickValues(), (std::vector<int>{0, 100}));

    bar->SetTickStyle(tsNone);
    EXPECT_TRUE(bar->TickValues().empty());
}

// ---- drawing ---------------------------------------------------------------

TEST_F(TrackBarTest, WithoutAHandlerEveryPartIsDrawn)
{
    const QImage image = testing::GrabMarked(*bar, 20, 60, 80);

    const QRect thumb = bar->ThumbRect();
    EXPECT_GT(PixelsOtherThan(image, thumb, colours::window), 0);
    EXPECT_EQ(PixelAt(image, thumb.left(), thumb.top()), colours::light);
    EXPECT_EQ(PixelAt(image, thumb.right(), thumb.bottom()), colours::shadow);

    const QRect channel = bar->ChannelRect();
    const int middle = channel.center().y();
    EXPECT_EQ(PixelAt(image, channel.left(), channel.top()), colours::dark);
    EXPECT_EQ(PixelAt(image, bar->PixelOf(40), middle), colours::highlight);
    EXPECT_EQ(PixelAt(image, bar->PixelOf(10), middle), colours::base);

    const int tickRow = bar->TicsRect().bottom();
    EXPECT_EQ(PixelAt(image, bar->PixelOf(30), tickRow), colours::text);
    EXPECT_EQ(PixelAt(image, bar->PixelOf(35), tickRow), colours::window);
}

TEST_F(TrackBarTest, DenseTicksFillTheirBand)
{
    bar->SetFrequency(1);  // 101 ticks on 101 columns
    const QImage image = Grab(*bar);
    const int tickRow = bar->TicsRect().bottom();
    for (int x = bar->PixelOf(0); x <= bar->PixelOf(100); ++x)
        ASSERT_EQ(PixelAt(image, x, tickRow), colours::text) << "x " << x;
    EXPECT_EQ(PixelAt(image, bar->PixelOf(100) + 1, tickRow), colours::window);
}

struct DrawCall {
    ThlTrackBarItem item;
    QRect rect;
    TCustomDrawState state;
    bool defaultDrawOnEntry;
    bool hadCanvas;
};

TEST_F(TrackBarTest, HandlerThatDrawsNothingLeavesOnlyTheBackground)
{
    bar->SetSelEnd(50);
    std::vector<DrawCall> calls;
    bar->OnCustomDraw = [&](ThlTrackBar& sender, ThlTrackBarItem item, QRect& rect,
                            TCustomDrawState state, bool& defaultDraw) {
        EXPECT_EQ(&sender, bar.get());
        calls.push_back({item, rect, state, defaultDraw, sender.Canvas() != nullptr});
    };
    const QImage image = Grab(*bar);

    EXPECT_EQ(PixelsOtherThan(image, image.rect(), colours::window), 0);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].item, tbiTics);
    EXPECT_EQ(calls[0].rect, bar->TicsRect());
    EXPECT_EQ(calls[1].item, tbiChannel);
    EXPECT_EQ(calls[1].rect, bar->ChannelRect());
    EXPECT_EQ(calls[2].item, tbiThumb);
    EXPECT_EQ(calls[2].rect, bar->ThumbRect());
    for (const DrawCall& call : calls) {
        EXPECT_FALSE(call.defaultDrawOnEntry);
        EXPECT_TRUE(call.hadCanvas);
    }
    EXPECT_EQ(bar->Canvas(), nullptr) << "the canvas lives only inside the handler";

    // Without tick marks there is no tick part to hand over.
    calls.clear();
    bar->SetTickStyle(tsNone);
    Grab(*bar);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].item, tbiChannel);
}

TEST_F(TrackBarTest, HandlerAskingForDefaultTicksOnlyGetsTicksAndItsOwnParts)
{
    bar->OnCustomDraw = [](ThlTrackBar&, ThlTrackBarItem item, QRect&, TCustomDrawState,
                           bool& defaultDraw) { defaultDraw = item == tbiTics; };
    const QImage image = Grab(*bar);

    const QRect tics = bar->TicsRect();
    EXPECT_EQ(PixelAt(image, bar->PixelOf(30), tics.bottom()), colours::text);
    QImage outsideTicks = image;
    QPainter(&outsideTicks).fillRect(tics, colours::window);
    EXPECT_EQ(PixelsOtherThan(outsideTicks, outsideTicks.rect(), colours::window), 0);
}

TEST_F(TrackBarTest, HandlerDrawsOnTheCanvasAndItsPainterSettingsDoNotLeak)
{
    const QColor red(255, 0, 0);
    bar->SetPosition(50);  // the thumb off both ends of the channel
    bar->OnCustomDraw = [&](ThlTrackBar& sender, ThlTrackBarItem item, QRect& rect,
                            TCustomDrawState, bool& defaultDraw) {
        if (item == tbiChannel) {
            sender.Canvas()->fillRect(rect, red);
            sender.Canvas()->setClipRect(QRect(0, 0, 1, 1));
        } else {
            defaultDraw = true;
        }
    };
    const QImage image = Grab(*bar);

    const QRect channel = bar->ChannelRect();
    EXPECT_EQ(PixelAt(image, channel.left(), channel.top()), red) << "no frame of the bar's own";
    EXPECT_EQ(PixelAt(image, channel.right(), channel.center().y()), red);
    const QRect thumb = bar->ThumbRect();
    EXPECT_EQ(PixelAt(image, thumb.left(), thumb.top()), colours::light)
        << "the channel handler's clip must not hide the thumb";
}

TEST_F(TrackBarTest, HandlerThatThrowsReleasesTheCanvasAndTheNextPaintWorks)
{
    bar->OnCustomDraw = [](ThlTrackBar&, ThlTrackBarItem item, QRect&, TCustomDrawState,
                           bool& defaultDraw) {
        if (item == tbiChannel)
            throw std::runtime_error("handler failed");
        defaultDraw = true;
    };
    Grab(*bar);
    EXPECT_EQ(bar->Canvas(), nullptr);

    bar->OnCustomDraw = nullptr;
    const QImage image = Grab(*bar);
    const QRect thumb = bar->ThumbRect();
    EXPECT_EQ(PixelAt(image, thumb.left(), thumb.top()), colours::light);
}

TEST_F(TrackBarTest, ThumbIsMarkedSelectedWhileDragged)
{
    std::vector<DrawCall> calls;
    bar->OnCustomDraw = [&](ThlTrackBar&, ThlTrackBarItem item, QRect& rect,
                            TCustomDrawState state, bool&) {
        calls.push_back({item, rect, state, false, true});
    };
    QTest::mousePress(bar.get(), Qt::LeftButton, {}, bar->ThumbRect().center());
    Grab(*bar);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].state & cdsSelected, 0u) << "channel";
    EXPECT_EQ(calls[2].state & cdsSelected, cdsSelected) << "thumb while dragged";
    QTest::mouseRelease(bar.get(), Qt::LeftButton, {}, bar->ThumbRect().center());
}

TEST(Frame3DTest, RingsHaveTheirCornersAndShrinkTheRectangle)
{
    testing::EnsureApplication();
    const QColor back(0, 0, 0), first(255, 0, 0), second(0, 0, 255);
    QImage image(10, 9, QImage::Format_RGB32);
    image.fill(back);
    QRect rect(1, 1, 8, 7);  // x 1..8, y 1..7
    {
        QPainter painter(&image);
        Frame3D(painter, rect, first, second, 2);
    }
    EXPECT_EQ(rect, QRect(3, 3, 4, 3));

    auto at = [&](int x, int y) { return PixelAt(image, x, y); };
    for (int ring = 0; ring < 2; ++ring) {
        const int l = 1 + ring, t = 1 + ring, r = 8 - ring, b = 7 - ring;
        SCOPED_TRACE(ring);
        EXPECT_EQ(at(l, t), first);
        EXPECT_EQ(at(r - 1, t), first);
        EXPECT_EQ(at(l, b - 1), first);
        EXPECT_EQ(at(r, t), second) << "top-right corner";
        EXPECT_EQ(at(l, b), second) << "bottom-left corner";
        EXPECT_EQ(at(r, b), second);
        EXPECT_EQ(at(r, t + 2), second);
        EXPECT_EQ(at(l + 2, b), second);
    }
    EXPECT_EQ(at(3, 3), back) << "the inside stays";
    EXPECT_EQ(at(0, 0), back);
    EXPECT_EQ(at(9, 8), back);
    EXPECT_EQ(at(9, 4), back);
}

// ---- mouse, wheel and keys ------------------------------------------------

struct MouseCall {
    bool down;
    Qt::MouseButton button;
    int position;  // the bar's Position when the hook ran
};

class TrackBarInputTest : public TrackBarTest {
protected:
    void SetUp() override
    {
        TrackBarTest::SetUp();
        bar->show();
        bar->OnMouseDown = [this](ThlTrackBar& s, Qt::MouseButton b, Qt::KeyboardModifiers, int,
                                  int) { mouse.push_back({true, b, s.Position()}); };
        bar->OnMouseUp = [this](ThlTrackBar& s, Qt::MouseButton b, Qt::KeyboardModifiers, int,
                                int) { mouse.push_back({false, b, s.Position()}); };
        bar->OnKeyUp = [this](ThlTrackBar&, int& key, Qt::KeyboardModifiers) {
            keysUp.push_back(key);
        };
    }
    QPoint at(int x) const { return QPoint(x, bar->ThumbRect().center().y()); }

    std::vector<MouseCall> mouse;
    std::vector<int> keysUp;
};

TEST_F(TrackBarInputTest, DraggingTheThumbMovesItAndRaisesPressAndRelease)
{
    bar->SetPosition(20);  // centre at x 27
    changes = 0;
    QTest::mousePress(bar.get(), Qt::LeftButton, {}, at(29));
    EXPECT_EQ(bar->Position(), 20) << "grabbing the thumb off-centre does not move it";
    QTest::mouseMove(bar.get(), at(69));
    EXPECT_EQ(bar->Position(), 60) << "the grab point stays under the pointer";
    QTest::mouseMove(bar.get(), at(500));
    EXPECT_EQ(bar->Position(), 100);
    QTest::mouseMove(bar.get(), at(54));
    QTest::mouseRelease(bar.get(), Qt::LeftButton, {}, at(54));
    EXPECT_EQ(bar->Position(), 45);
    EXPECT_EQ(changes, 3);

    ASSERT_EQ(mouse.size(), 2u);
    EXPECT_TRUE(mouse[0].down);
    EXPECT_EQ(mouse[0].button, Qt::LeftButton);
    EXPECT_EQ(mouse[0].position, 20);
    EXPECT_FALSE(mouse[1].down);
    EXPECT_EQ(mouse[1].position, 45) << "the release hook sees the settled thumb";

    // After the release, moving the pointer leaves the thumb alone.
    QTest::mouseMove(bar.get(), at(90));
    EXPECT_EQ(bar->Position(), 45);
}

TEST_F(TrackBarInputTest, DragEndsWhenTheButtonIsNoLongerHeld)
{
    QTest::mousePress(bar.get(), Qt::LeftButton, {}, bar->ThumbRect().center());
    // The release went to another window; the next move comes without buttons.
    const QPointF to = at(60);
    QMouseEvent move(QEvent::MouseMove, to, bar->mapToGlobal(to), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(bar.get(), &move);
    EXPECT_EQ(bar->Position(), 0);
    QTest::mouseRelease(bar.get(), Qt::LeftButton, {}, at(60));
}

TEST_F(TrackBarInputTest, PressingBesideTheThumbBringsItThereAndDragsOn)
{
    bar->SetPosition(20);
    QTest::mousePress(bar.get(), Qt::LeftButton, {}, at(87));
    ASSERT_EQ(mouse.size(), 1u);
    EXPECT_EQ(mouse[0].position, 80);
    QTest::mouseMove(bar.get(), at(77));
    QTest::mouseRelease(bar.get(), Qt::LeftButton, {}, at(77));
    EXPECT_EQ(bar->Position(), 70);
}

TEST_F(TrackBarInputTest, OtherButtonsRaiseTheHooksWithoutMovingTheThumb)
{
    bar->SetPosition(20);
    QTest::mousePress(bar.get(), Qt::RightButton, {}, at(87));
    QTest::mouseMove(bar.get(), at(60));
    QTest::mouseRelease(bar.get(), Qt::RightButton, {}, at(60));
    EXPECT_EQ(bar->Position(), 20);
    ASSERT_EQ(mouse.size(), 2u);
    EXPECT_EQ(mouse[0].button, Qt::RightButton);
    EXPECT_EQ(mouse[1].button, Qt::RightButton);
}

TEST_F(TrackBarInputTest, KeysStepTheThumbAndEachReleaseIsReported)
{
    bar->SetLineSize(5);
    bar->SetPageSize(20);
    bar->SetPosition(50);
    struct Step {
        Qt::Key key;
        int expected;
    };
    const Step steps[] = {
        {Qt::Key_Right, 55}, {Qt::Key_Left, 50},     {Qt::Key_Down, 55},  {Qt::Key_Up, 50},
        {Qt::Key_PageDown, 70}, {Qt::Key_PageUp, 50}, {Qt::Key_End, 100}, {Qt::Key_Right, 100},
        {Qt::Key_PageDown, 100}, {Qt::Key_Home, 0},   {Qt::Key_Up, 0},     {Qt::Key_A, 0},
    };
    for (const Step& step : steps) {
        QTest::keyClick(bar.get(), step.key);
        EXPECT_EQ(bar->Position(), step.expected) << "after key " << step.key;
    }
    ASSERT_EQ(keysUp.size(), std::size(steps));
    EXPECT_EQ(keysUp.front(), Qt::Key_Right);

    // A held key repeats presses; only the final release is reported.
    QKeyEvent repeatedRelease(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(bar.get(), &repeatedRelease);
    EXPECT_EQ(keysUp.size(), std::size(steps));
}

TEST_F(TrackBarInputTest, KeyDownHandlerCanTakeTheKey)
{
    bar->SetPosition(50);
    bar->OnKeyDown = [](ThlTrackBar&, int& key, Qt::KeyboardModifiers) {
        if (key == Qt::Key_Right)
            key = 0;
    };
    QTest::keyClick(bar.get(), Qt::Key_Right);
    EXPECT_EQ(bar->Position(), 50);
    QTest::keyClick(bar.get(), Qt::Key_Left);
    EXPECT_EQ(bar->Position(), 49);
    EXPECT_EQ(keysUp.size(), 2u);
}

TEST_F(TrackBarInputTest, WheelStepsByLinesPerNotchAndAddsUpPartialTurns)
{
    bar->SetLineSize(2);
    bar->SetPosition(50);
    const int step = 2 * QApplication::wheelScrollLines();
    auto turn = [&](int eighths) {
        const QPointF centre = bar->rect().center();
        QWheelEvent wheel(centre, bar->mapToGlobal(centre), QPoint(), QPoint(0, eighths),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(bar.get(), &wheel);
    };
    turn(120);
    EXPECT_EQ(bar->Position(), 50 - step) << "away from the user steps like the Up key";
    turn(60);
    EXPECT_EQ(bar->Position(), 50 - step);
    turn(60);
    EXPECT_EQ(bar->Position(), 50 - 2 * step);
    turn(-240);
    EXPECT_EQ(bar->Position(), 50);
}

}  // namespace
}  // namespace clipmora
