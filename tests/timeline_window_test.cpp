// The timeline and the segment marks in the real main window: frame numbers
// of the marks, the mark buttons' rules, gating while a split runs, the
// owner-drawn bar, the preview following a drag and the frame steps, and a
// marked split end to end.
#include "tests/support/main_window_fixture.h"

#include "engine/transcoder_tasks.h"
#include "framesrv/trim_script.h"
#include "preview/filter_graph.h"
#include "preview/sample_grabber.h"
#include "preview/video_window.h"
#include "tests/support/picture_pattern.h"
#include "widgets/hl_track_bar.h"
#include "widgets/timeline_strip.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QWheelEvent>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace clipmora {
namespace {

namespace fs = std::filesystem;
using testing::MainWindowTest;

// A 22 s clip at 29.97 frames per second whose pictures carry their numbers.
testing::MediaSpec ntscClip(const std::string& container, const std::string& video,
                            const std::string& audio)
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.container = container;
    spec.videoCodec = video;
    spec.audioCodec = audio;
    spec.frameRateNum = 30000;
    spec.frameRateDen = 1001;
    spec.seconds = 22.0;
    return spec;
}

// The source picture on screen at `seconds` of a 29.97 clip.
int ntscPictureAt(double seconds) { return static_cast<int>(std::floor(seconds * 30000 / 1001 + 1e-9)); }

// The number of the source picture the preview has painted last (read from
// the grabber's copy of it), -1 while the painted one is another.
int shownPicture(TForm1& form)
{
    QImage bitmap;
    if (!Find<TSampleGrabber>(form, "SampleGrabber1")->CopyFrameToBitmap(&bitmap))
        return -1;
    const int picture = testing::PicturePattern(bitmap);
    // An exact seek shows the picture from the target on.
    const int64_t paintedMs = Find<TVideoWindow>(form, "VideoWindow1")->Stats().lastPaintedTimeMs;
    const double startMs = picture * 1001.0 / 30.0;
    return paintedMs >= std::floor(startMs) && paintedMs < startMs + 1001.0 / 30.0 ? picture : -1;
}

class TimelineTest : public MainWindowTest {
protected:
    std::unique_ptr<TForm1> windowWith(const std::string& clip, bool autoPlay = false)
    {
        auto form = openWindow();
        Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
            ->CheckBoxPlayVideoFile()
            ->setChecked(autoPlay);
        addFile(*form, clip);
        return form;
    }
    static std::string ntscMp4()
    {
        return testing::CachedMedia("timeline_ntsc.mp4", ntscClip("mp4", "libx264", "aac"));
    }
    static void markAt(TForm1& form, int positionMs, QPushButton* button)
    {
        Find<ThlTrackBar>(form, "hlTrackBar1")->SetPosition(positionMs);
        button->click();
    }
};

TEST_F(TimelineTest, MarksBecomeFrameNumbersOfTheSplitsRate)
{
    auto form = windowWith(ntscMp4());
    EXPECT_EQ(TForm1Probe(*form).SourceFrameRate(), QStringLiteral("29.97"));
    EXPECT_EQ(TForm1Probe(*form).TimelineMax(), 22000);
    markAt(*form, 10000, Find<QPushButton>(*form, "ButtonMarkStart"));
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), 250)
        << "29.97 fps, not AVI: counted at 25 per second";
    EXPECT_EQ(Find<QLabel>(*form, "PanelStart")->text(), QStringLiteral("10"));
    EXPECT_EQ(Find<ThlTrackBar>(*form, "hlTrackBar1")->SelStart(), 10000);
    EXPECT_EQ(Find<ThlTrackBar>(*form, "hlTrackBar1")->SelEnd(), 22000)
        << "highlighted to the end of the file";
    markAt(*form, 12345, Find<QPushButton>(*form, "ButtonMarkEnd"));
    EXPECT_EQ(TForm1Probe(*form).EndFrame(), 309);
    EXPECT_EQ(Find<QLabel>(*form, "PanelEnd")->text(), QStringLiteral("12.345"));
    EXPECT_EQ(Find<ThlTrackBar>(*form, "hlTrackBar1")->SelEnd(), 12345);

    // An upper-case AVI extension keeps the source's own frames.
    testing::TempFolder folder;
    const fs::path avi = folder.path() / "CLIP.AVI";
    fs::copy_file(testing::CachedMedia("timeline_ntsc.avi",
                                       ntscClip("avi", "mpeg4", "libmp3lame")),
                  avi);
    addFile(*form, avi.string());
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), 0) << "adding a file resets the marks";
    EXPECT_EQ(Find<ThlTrackBar>(*form, "hlTrackBar1")->SelEnd(), 0);
    markAt(*form, 10000, Find<QPushButton>(*form, "ButtonMarkStart"));
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), 300);
}

TEST_F(TimelineTest, MarkButtonsFollowTheirRules)
{
    auto form = windowWith(ntscMp4());
    markAt(*form, 5000, Find<QPushButton>(*form, "ButtonMarkEnd"));
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Please choose a START position")});
    EXPECT_EQ(TForm1Probe(*form).EndFrame(), 0);
    EXPECT_TRUE(Find<QLabel>(*form, "PanelEnd")->text().isEmpty());

    markAt(*form, 2000, Find<QPushButton>(*form, "ButtonMarkStart"));
    markAt(*form, 4000, Find<QPushButton>(*form, "ButtonMarkEnd"));
    EXPECT_EQ(TForm1Probe(*form).EndFrame(), 100);
    // A new start clears the end and highlights to the end of the file.
    markAt(*form, 3000, Find<QPushButton>(*form, "ButtonMarkStart"));
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), 75);
    EXPECT_EQ(TForm1Probe(*form).EndFrame(), 0);
    EXPECT_TRUE(Find<QLabel>(*form, "PanelEnd")->text().isEmpty());
    EXPECT_EQ(Find<ThlTrackBar>(*form, "hlTrackBar1")->SelEnd(), TForm1Probe(*form).TimelineMax());

    // Clear Marks empties the read-outs and the highlight, keeps the numbers.
    markAt(*form, 4000, Find<QPushButton>(*form, "ButtonMarkEnd"));
    Find<QPushButton>(*form, "ButtonClearMarks")->click();
    EXPECT_TRUE(Find<QLabel>(*form, "PanelStart")->text().isEmpty());
    EXPECT_TRUE(Find<QLabel>(*form, "PanelEnd")->text().isEmpty());
    EXPECT_TRUE(Find<QLabel>(*form, "PanelCurrentPosition")->text().isEmpty());
    EXPECT_EQ(Find<ThlTrackBar>(*form, "hlTrackBar1")->SelStart(), 0);
    EXPECT_EQ(Find<ThlTrackBar>(*form, "hlTrackBar1")->SelEnd(), 0);
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), 75);
    EXPECT_EQ(TForm1Probe(*form).EndFrame(), 100);
    // Mark End after clearing asks for a start again.
    markAt(*form, 5000, Find<QPushButton>(*form, "ButtonMarkEnd"));
    EXPECT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(TForm1Probe(*form).EndFrame(), 100);

    // The step buttons move the thumb by 5 ms, within the bar.
    Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(0);
    Find<QPushButton>(*form, "ButtonIncrementBack")->click();
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 0);
    Find<QPushButton>(*form, "ButtonIncrementForward")->click();
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 5);
}

enum { kStart, kEnd };

// Each row starts from what the rows before it left. A refused or
// abandoned time changes nothing; the frames are the mark buttons' (29.97
// frames per second, not AVI: counted at 25 per second).
struct TypedMark {
    int mark;
    const char* typed;
    Qt::Key key;
    const char* message;  // the start of the refusal, or nothing
    double startFrame, endFrame;
    const char *startPanel, *endPanel;
    int thumbMs, selStartMs, selEndMs;
};
const TypedMark kTypedMarks[] = {
    {kEnd, "5", Qt::Key_Return, "Please choose a START position", 0, 0, "", "", 0, 0, 0},
    {kStart, "10", Qt::Key_Return, "", 250, 0, "10", "", 10000, 10000, 22000},
    {kEnd, "0:20", Qt::Key_Return, "", 250, 500, "10", "20", 20000, 10000, 20000},
    // A new start keeps an end that stays after it.
    {kStart, " 0:00:12.345 ", Qt::Key_Enter, "", 309, 500, "12.345", "20", 12345, 12345,
     20000},
    {kStart, "21", Qt::Key_Return, "The start cannot be after the end", 309, 500, "12.345",
     "20", 12345, 12345, 20000},
    {kEnd, "12.3", Qt::Key_Return, "The end cannot be before the start", 309, 500, "12.345",
     "20", 12345, 12345, 20000},
    {kEnd, "22.001", Qt::Key_Return, "22.001 is past the end", 309, 500, "12.345", "20",
     12345, 12345, 20000},
    {kEnd, "1:2", Qt::Key_Return, "\"1:2\" is not a time", 309, 500, "12.345", "20", 12345,
     12345, 20000},
    {kStart, "ten", Qt::Key_Return, "\"ten\" is not a time", 309, 500, "12.345", "20",
     12345, 12345, 20000},
    {kEnd, "3", Qt::Key_Escape, "", 309, 500, "12.345", "20", 12345, 12345, 20000},
    // A start on the end marks one picture.
    {kStart, "20", Qt::Key_Return, "", 500, 500, "20", "20", 20000, 20000, 20000},
    {kStart, "12.345", Qt::Key_Return, "", 309, 500, "12.345", "20", 12345, 12345, 20000},
    {kEnd, "22", Qt::Key_Return, "", 309, 550, "12.345", "22", 22000, 12345, 22000},
    {kEnd, "12.345", Qt::Key_Return, "", 309, 309, "12.345", "12.345", 12345, 12345, 12345},
};

TEST_F(TimelineTest, TypedMarksSetTheFrameOfTheirTimeOrSayWhyNot)
{
    testing::TempFolder folder;
    auto form = windowWith(ntscMp4());
    chooseFolder(*form, folder.path());
    ThlTrackBar& bar = *Find<ThlTrackBar>(*form, "hlTrackBar1");
    QLabel* panels[] = {Find<QLabel>(*form, "PanelStart"), Find<QLabel>(*form, "PanelEnd")};
    // Clicks the panel, types over what the field opens with, ends with `key`.
    const auto type = [&](int mark, const QString& text, Qt::Key key) {
        QTest::mouseClick(panels[mark], Qt::LeftButton);
        auto* field = Find<QLineEdit>(*form, mark == 0 ? "EditMarkStart" : "EditMarkEnd");
        if (!field->isVisible())
            return false;
        QTest::keyClicks(field, text);
        QTest::keyClick(field, key);
        return true;
    };
    for (const auto& row : kTypedMarks) {
        SCOPED_TRACE(row.typed);
        dialogs.messages.clear();
        ASSERT_TRUE(type(row.mark, QString::fromLatin1(row.typed), row.key));
        EXPECT_FALSE(Find<QLineEdit>(*form, "EditMarkStart")->isVisible());
        EXPECT_FALSE(Find<QLineEdit>(*form, "EditMarkEnd")->isVisible());
        if (*row.message) {
            ASSERT_EQ(dialogs.messages.size(), 1);
            EXPECT_TRUE(dialogs.messages[0].startsWith(QLatin1String(row.message)))
                << dialogs.messages[0].toStdString();
        } else {
            EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(' ').toStdString();
        }
        EXPECT_EQ(TForm1Probe(*form).StartFrame(), row.startFrame);
        EXPECT_EQ(TForm1Probe(*form).EndFrame(), row.endFrame);
        EXPECT_EQ(panels[kStart]->text(), QLatin1String(row.startPanel));
        EXPECT_EQ(panels[kEnd]->text(), QLatin1String(row.endPanel));
        EXPECT_EQ(bar.Position(), row.thumbMs);
        EXPECT_EQ(bar.SelStart(), row.selStartMs);
        EXPECT_EQ(bar.SelEnd(), row.selEndMs);
    }

    // The field opens with the mark's time; while a split runs the panels
    // stay shut, and a field opened before it sets nothing.
    QTest::mouseClick(panels[kStart], Qt::LeftButton);
    auto* startField = Find<QLineEdit>(*form, "EditMarkStart");
    EXPECT_EQ(startField->text(), QStringLiteral("12.345"));
    form->SplitClick();
    ASSERT_TRUE(TForm1Probe(*form).SplitBusy());
    QTest::keyClicks(startField, QStringLiteral("1"));
    QTest::keyClick(startField, Qt::Key_Return);
    EXPECT_FALSE(type(kEnd, QStringLiteral("15"), Qt::Key_Return)) << "opened during a split";
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), 309);
    EXPECT_EQ(TForm1Probe(*form).EndFrame(), 309);
    EXPECT_EQ(panels[kStart]->text(), QStringLiteral("12.345"));
    Find<QPushButton>(*form, "ButtonStopSplit")->click();
    waitFor([&] { return !TForm1Probe(*form).SplitBusy(); });
}

TEST_F(TimelineTest, ClearedMarksSplitTheWholeFile)
{
    testing::TempFolder folder;
    auto form = windowWith(testing::CachedMedia("window_clip.mp4", testing::shortClip()));
    chooseFolder(*form, folder.path());
    markAt(*form, 500, Find<QPushButton>(*form, "ButtonMarkStart"));
    markAt(*form, 1000, Find<QPushButton>(*form, "ButtonMarkEnd"));
    Find<QPushButton>(*form, "ButtonClearMarks")->click();
    EXPECT_EQ(splitAndWait(*form), QStringLiteral("Splitting Done!"));
    ASSERT_NE(TForm1Probe(*form).Transcoder1().Task(0), nullptr);
    EXPECT_EQ(TForm1Probe(*form).Transcoder1().Task(0)->InputOptions().FileName,
              Find<QLineEdit>(*form, "EditVideoFilename")->text().toStdString());
}

TEST_F(TimelineTest, MarksAndTransportWaitWhileASplitRuns)
{
    testing::TempFolder folder;
    auto form = windowWith(ntscMp4());
    chooseFolder(*form, folder.path());
    markAt(*form, 1000, Find<QPushButton>(*form, "ButtonMarkStart"));
    markAt(*form, 15000, Find<QPushButton>(*form, "ButtonMarkEnd"));
    Find<QPushButton>(*form, "ButtonSplit")->click();
    // The split's end only arrives through the event loop: it is still busy.
    ASSERT_TRUE(TForm1Probe(*form).SplitBusy());
    markAt(*form, 3000, Find<QPushButton>(*form, "ButtonMarkStart"));
    markAt(*form, 4000, Find<QPushButton>(*form, "ButtonMarkEnd"));
    Find<QPushButton>(*form, "ButtonClearMarks")->click();
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), 25);
    EXPECT_EQ(Find<QLabel>(*form, "PanelStart")->text(), QStringLiteral("1"));
    EXPECT_EQ(Find<QLabel>(*form, "PanelEnd")->text(), QStringLiteral("15"));
    // The step buttons are not gated.
    Find<QPushButton>(*form, "ButtonIncrementForward")->click();
    EXPECT_EQ(TForm1Probe(*form).TimelinePosition(), 4005);
    Find<QPushButton>(*form, "ButtonStopSplit")->click();
    waitFor([&] { return !TForm1Probe(*form).SplitBusy(); });
}

TEST_F(TimelineTest, TheBarShowsTheMarkedRangeAndAYellowThumb)
{
    auto form = windowWith(ntscMp4());
    markAt(*form, 5500, Find<QPushButton>(*form, "ButtonMarkStart"));
    markAt(*form, 16500, Find<QPushButton>(*form, "ButtonMarkEnd"));
    Find<ThlTrackBar>(*form, "hlTrackBar1")->SetPosition(11000);
    ThlTrackBar& bar = *Find<ThlTrackBar>(*form, "hlTrackBar1");
    const QImage shown = bar.grab().toImage();
    const QColor highlight = bar.palette().color(QPalette::Highlight);
    const int y = bar.ChannelRect().center().y();
    EXPECT_EQ(shown.pixelColor(bar.PixelOf(8000), y), highlight);
    EXPECT_NE(shown.pixelColor(bar.PixelOf(3000), y), highlight);
    EXPECT_NE(shown.pixelColor(bar.PixelOf(19000), y), highlight);
    const QRect thumb = bar.ThumbRect();
    EXPECT_EQ(shown.pixelColor(thumb.center()), QColor(255, 255, 0));
    EXPECT_EQ(shown.pixelColor(thumb.topLeft()), QColor(Qt::white));
    EXPECT_EQ(shown.pixelColor(thumb.bottomRight()), QColor(160, 160, 0));
}

// The timeline's travel and the pointer's actions on it.
struct TimelineUnderPointer {
    TForm1& form;
    ThlTrackBar& bar;
    int travelLeft, travelRight, y;

    explicit TimelineUnderPointer(TForm1& window)
        : form(window), bar(*Find<ThlTrackBar>(window, "hlTrackBar1")),
          travelLeft(bar.ChannelRect().left() + 5), travelRight(bar.ChannelRect().right() - 4),
          y(bar.ChannelRect().center().y())
    {
    }
    void wheel(int x, int notches, Qt::KeyboardModifiers keys) const
    {
        QWheelEvent turn(QPointF(x, y), bar.mapToGlobal(QPointF(x, y)), QPoint(),
                         QPoint(0, 120 * notches), Qt::NoButton, keys, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&bar, &turn);
    }
    void clickAt(int x) const
    {
        // A press on the thumb would grab it instead of moving it there.
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(x < 100 ? travelRight : travelLeft, y));
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(x, y));
    }
    std::vector<int> pixelsOf() const
    {
        return std::vector<int>{bar.PixelOf(0), bar.PixelOf(5000), bar.PixelOf(bar.Max())};
    }
    // Marks the start at each pixel within 20 of x; returns the frames marked.
    std::vector<double> startFramesAround(int x) const
    {
        std::vector<double> frames;
        for (int px = std::max(x - 20, travelLeft); px <= std::min(x + 20, travelRight); ++px) {
            clickAt(px);
            EXPECT_NEAR(bar.Position(), bar.ValueAt(px), 0.5);
            Find<QPushButton>(form, "ButtonMarkStart")->click();
            frames.push_back(TForm1Probe(form).StartFrame());
        }
        return frames;
    }
    // Marks a range around x and checks that its highlight is drawn where
    // its marks are in the view.
    void expectRangeDrawnAround(int x) const
    {
        clickAt(x - 20 < travelLeft ? travelLeft + 2 : x - 20);
        Find<QPushButton>(form, "ButtonMarkStart")->click();
        clickAt(x + 20 > travelRight ? travelRight - 2 : x + 20);
        Find<QPushButton>(form, "ButtonMarkEnd")->click();
        const QImage shown = bar.grab().toImage();
        const QColor highlight = bar.palette().color(QPalette::Highlight);
        const int middle = (bar.PixelOf(bar.SelStart()) + bar.PixelOf(bar.SelEnd())) / 2;
        EXPECT_EQ(shown.pixelColor(middle, y), highlight);
        EXPECT_NE(shown.pixelColor(std::max(travelLeft, bar.PixelOf(bar.SelStart()) - 8), y),
                  highlight);
    }
};

// Ctrl with the wheel zooms the timeline around the pointer, so that a mark
// can be put on each picture; the scroll bar under it pans; the marks'
// drawing follows the view.
TEST_F(TimelineTest, CtrlWheelZoomsAroundThePointerAndEveryPictureCanBeMarked)
{
    auto form = windowWith(ntscMp4());
    form->resize(form->size() + QSize(500, 0));  // a wider timeline, as on a big screen
    auto* scroll = Find<QScrollBar>(*form, "TimelineScroll");
    ASSERT_TRUE(
        waitFor([&] { return Find<ThlTrackBar>(*form, "hlTrackBar1")->width() == 393 + 500; }));
    const TimelineUnderPointer timeline(*form);
    ThlTrackBar& bar = timeline.bar;
    const std::vector<int> unzoomed = timeline.pixelsOf();

    const struct {
        const char* name;
        int x;  // the pointer, from the travel's left end
        int notches;
    } zooms[] = {{"near the start", 10, 6}, {"middle", 450, 7}, {"near the end", 800, 5}};
    for (const auto& zoom : zooms) {
        SCOPED_TRACE(zoom.name);
        const int x = timeline.travelLeft + zoom.x;
        const int under = bar.ValueAt(x);
        timeline.wheel(x, zoom.notches, Qt::NoModifier);
        EXPECT_FALSE(bar.Zoomed()) << "the plain wheel steps";
        bar.SetPosition(under);
        timeline.wheel(x, zoom.notches, Qt::ControlModifier);
        ASSERT_TRUE(bar.Zoomed());
        const double span = bar.ViewMax() - bar.ViewMin();
        EXPECT_NEAR(span, bar.Max() / std::pow(1.5, zoom.notches), 2.0);
        const double msPerPixel = span / (timeline.travelRight - timeline.travelLeft);
        EXPECT_LE(std::abs(bar.ValueAt(x) - under), msPerPixel + 1) << "the pointer's time stays";
        EXPECT_TRUE(scroll->isVisible());
        EXPECT_EQ(scroll->value(), bar.ViewMin());

        // Pixel by pixel around the pointer the marks reach every picture.
        const std::vector<double> frames = timeline.startFramesAround(x);
        ASSERT_GT(frames.size(), 10u);
        for (std::size_t i = 1; i < frames.size(); ++i)
            EXPECT_LE(frames[i] - frames[i - 1], 1.0) << "no picture skipped at pixel " << i;
        EXPECT_GE(frames.back() - frames.front(), 2.0);
        timeline.expectRangeDrawnAround(x);

        // The scroll bar pans to the end and back; the thumb left behind
        // lies beyond the travel.
        const int first = bar.ViewMin();
        scroll->setValue(scroll->maximum());
        EXPECT_EQ(bar.ViewMax(), bar.Max());
        EXPECT_EQ(bar.PixelOf(bar.Max()), timeline.travelRight);
        scroll->setValue(first);
        EXPECT_EQ(bar.ViewMin(), first);

        // Zooming out as far as it goes shows the whole file as before.
        timeline.wheel(x, -40, Qt::ControlModifier);
        EXPECT_FALSE(bar.Zoomed());
        EXPECT_FALSE(scroll->isVisible());
        EXPECT_EQ(timeline.pixelsOf(), unzoomed);
    }
}

TEST_F(TimelineTest, TheDraggedThumbShowsKeyFramesThenTheExactPicture)
{
    auto form = windowWith(ntscMp4(), true);
    Find<QPushButton>(*form, "ButtonPause")->click();
    TFilterGraph& graph = TForm1Probe(*form).FilterGraph1();
    ThlTrackBar& bar = *Find<ThlTrackBar>(*form, "hlTrackBar1");
    const int group = testing::Mp4H264Aac().keyFrameInterval;
    const auto shows = [&](const std::function<bool(int)>& wanted) {
        return waitFor([&] { return wanted(shownPicture(*form)); });
    };

    // Held, the thumb takes the preview along from key frame to key frame,
    // the last of several quick moves included.
    const QPoint from = bar.ThumbRect().center();
    QTest::mousePress(&bar, Qt::LeftButton, {}, from);
    EXPECT_FALSE(Find<QTimer>(*form, "TimerTrackBarPosition")->isActive()) << "the thumb is held";
    for (const int ms : {4000, 8000, 15000})
        QTest::mouseMove(&bar, QPoint(bar.PixelOf(ms), from.y()));
    const int settled = bar.Position();
    const int exact = ntscPictureAt(settled / 1000.0);
    ASSERT_TRUE(shows([&](int picture) {
        return picture % group == 0 && std::abs(picture - exact) <= group / 2 + 1;
    })) << shownPicture(*form);

    // Let go, it shows exactly the picture under the thumb.
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(bar.PixelOf(15000), from.y()));
    EXPECT_TRUE(Find<QTimer>(*form, "TimerTrackBarPosition")->isActive());
    ASSERT_TRUE(shows([&](int picture) { return picture == exact; })) << shownPicture(*form);

    // The frame keys step to exactly the previous and the next pictures:
    // back at once, from the pictures held (those decoded on the way to the
    // exact picture included), forward by a step of the graph.
    const auto* video = form->findChild<TVideoWindow*>(QStringLiteral("VideoWindow1"));
    ASSERT_NE(video, nullptr);
    for (const auto& [frames, picture] :
         {std::pair{-1, exact - 1}, std::pair{1, exact}, std::pair{1, exact + 1},
          std::pair{-1, exact}, std::pair{-1, exact - 1}, std::pair{-1, exact - 2}}) {
        const int wanted = picture;
        form->StepFrames(frames);
        if (frames < 0) {
            EXPECT_EQ(testing::PicturePattern(video->CurrentPicture()), wanted) << "held";
        }
        ASSERT_TRUE(shows([&](int shown) { return shown == wanted; }))
            << frames << " to " << wanted << ", shows " << shownPicture(*form);
    }

    // A key moves the thumb and seeks after its release; End shows the
    // last picture.
    bar.setFocus();
    QTest::keyClick(&bar, Qt::Key_Home);
    ASSERT_TRUE(waitFor([&] { return graph.Position() < 50; }));
    EXPECT_EQ(bar.Position(), 0);
    const auto grabbed = [&] {
        QImage picture;
        return Find<TSampleGrabber>(*form, "SampleGrabber1")->CopyFrameToBitmap(&picture)
                   ? testing::PicturePattern(picture)
                   : -1;
    };
    const int last = testing::DecodeMedia(ntscMp4()).lastFramePattern;
    QTest::keyClick(&bar, Qt::Key_End);
    EXPECT_EQ(bar.Position(), bar.Max());
    ASSERT_TRUE(waitFor([&] { return grabbed() == last; })) << grabbed() << " for " << last;
}

// Held after a drag, the thumb takes the preview to the key frame nearest it
// at each move, however the preview came to be paused: also after it was
// stopped and played again (a new graph).
TEST_F(TimelineTest, AHeldThumbShowsTheNearestKeyFrameAfterAnyWayOfPausing)
{
    testing::MediaSpec spec = ntscClip("mp4", "libx264", "aac");
    spec.width = 320;
    spec.height = 240;
    spec.keyFrameInterval = 90;  // 3 s groups
    const std::string clip = testing::CachedMedia("timeline_scrub.mp4", spec);
    const struct {
        const char* way;
        std::vector<const char*> buttons;  // pressed after the file was added, playing
    } ways[] = {
        {"paused", {"ButtonPause"}},
        {"paused, stopped, played, paused",
         {"ButtonPause", "ButtonStop", "ButtonPlay", "ButtonPause"}},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.way);
        auto form = windowWith(clip, true);
        TFilterGraph& graph = TForm1Probe(*form).FilterGraph1();
        for (const char* button : way.buttons)
            Find<QPushButton>(*form, button)->click();
        ASSERT_TRUE(graph.Active());
        ASSERT_TRUE(TForm1Probe(*form).PreviewPaused());
        ThlTrackBar& bar = *Find<ThlTrackBar>(*form, "hlTrackBar1");
        const QPoint from = bar.ThumbRect().center();
        QTest::mousePress(&bar, Qt::LeftButton, {}, from);
        for (const int ms : {11000, 15500}) {
            QTest::mouseMove(&bar, QPoint(bar.PixelOf(ms), from.y()));
            // The key frame of the thumb's group or of the next one.
            const int exact = ntscPictureAt(bar.Position() / 1000.0);
            ASSERT_TRUE(waitFor([&] {
                const int shown = shownPicture(*form);
                return shown >= 0 && shown % 90 == 0 && std::abs(shown - exact) < 90;
            })) << ms << " ms: shows " << shownPicture(*form) << " for " << exact;
        }
        QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(bar.PixelOf(15500), from.y()));
    }
}

TEST_F(TimelineTest, AMarkedSplitWritesExactlyTheSegment)
{
    testing::TempFolder folder;
    auto form = windowWith(ntscMp4());
    chooseFolder(*form, folder.path());
    chooseFormat(*form, QStringLiteral("MP4 - MPEG4 Video (*.mp4)"));
    markAt(*form, 10000, Find<QPushButton>(*form, "ButtonMarkStart"));
    markAt(*form, 20000, Find<QPushButton>(*form, "ButtonMarkEnd"));
    EXPECT_EQ(TForm1Probe(*form).StartFrame(), 250);
    EXPECT_EQ(TForm1Probe(*form).EndFrame(), 500);
    ASSERT_EQ(splitAndWait(*form), QStringLiteral("Splitting Done!"));

    const testing::DecodedSummary out =
        testing::DecodeMedia(TForm1Probe(*form).LastOutputFile().toStdString());
    EXPECT_EQ(out.videoFrames, 251);
    EXPECT_EQ(out.firstFramePattern, ntscPictureAt(10.0));
    EXPECT_EQ(out.lastFramePattern, ntscPictureAt(20.0));
    ASSERT_GT(out.sampleRate, 0);
    EXPECT_NEAR(static_cast<double>(out.audioSamples) / out.sampleRate, 251 / 25.0, 1 / 25.0);
}

TEST_F(TimelineTest, TheSegmentsSoundIsDecodedOffTheWindowsThread)
{
    // The sound of this transport stream (MPEG audio layer 2) is decoded
    // ahead for the graph, by a thread of its own.
    testing::MediaSpec spec = testing::StartOffset();
    spec.startTimeUs = 0;
    spec.seconds = 6.0;
    testing::TempFolder folder;
    auto form = windowWith(testing::CachedMedia("timeline_layer2.ts", spec));
    chooseFolder(*form, folder.path());
    std::mutex lock;
    std::vector<std::thread::id> decoders;
    framesrv::OnSegmentSoundDecoding = [&] {
        std::lock_guard guard(lock);
        decoders.push_back(std::this_thread::get_id());
    };
    markAt(*form, 1000, Find<QPushButton>(*form, "ButtonMarkStart"));
    markAt(*form, 4000, Find<QPushButton>(*form, "ButtonMarkEnd"));
    const QString result = splitAndWait(*form);
    framesrv::OnSegmentSoundDecoding = nullptr;
    EXPECT_EQ(result, QStringLiteral("Splitting Done!"));
    std::lock_guard guard(lock);
    ASSERT_FALSE(decoders.empty()) << "the sound of this source is decoded ahead";
    for (const std::thread::id decoder : decoders)
        EXPECT_NE(decoder, std::this_thread::get_id());
    const testing::DecodedSummary out =
        testing::DecodeMedia(TForm1Probe(*form).LastOutputFile().toStdString());
    ASSERT_GT(out.sampleRate, 0);
    EXPECT_NEAR(static_cast<double>(out.audioSamples) / out.sampleRate, 76 / 25.0, 1 / 25.0);
}

// A 6-second clip of the given size with a key frame every keyInterval pictures.
std::string StripClip(const char* name, int width, int height, int keyInterval)
{
    testing::MediaSpec spec = testing::Mp4H264Aac();
    spec.width = width;
    spec.height = height;
    spec.seconds = 6.0;
    spec.keyFrameInterval = keyInterval;
    return testing::CachedMedia(name, spec);
}

// Each slot of the strip shows the key frame at or before its time (the
// clips have 25 pictures a second) at the picture height and the file's aspect.
void ExpectKeyFramePictures(const TTimelineStrip& strip, double aspect, int keyInterval)
{
    const size_t slotCount = static_cast<size_t>((strip.width() + 63) / 64);
    EXPECT_GE(strip.Pictures().size(), size_t{2});
    EXPECT_LE(strip.Pictures().size(), slotCount);
    for (const auto& [keyTimeMs, picture] : strip.Pictures()) {
        SCOPED_TRACE(keyTimeMs);
        EXPECT_EQ(picture.height(), TTimelineStrip::kPictureHeight);
        EXPECT_NEAR(double(picture.width()) / picture.height(), aspect, 0.05);
        const int key = testing::PicturePattern(picture);
        EXPECT_EQ(key % keyInterval, 0);
        EXPECT_NEAR(key * 40.0, double(keyTimeMs), 40.0);
    }
}

// What the strip paints: each slot shows, scaled to the slot, the key frame
// at or before the slot's middle (the wide clip has a key frame every ten
// pictures, 25 a second).
TEST_F(TimelineTest, TheStripPaintsEachSlotWithTheKeyFrameAtOrBeforeItsMiddle)
{
    auto form = windowWith(StripClip("strip_second_16x9.mp4", 384, 216, 10));
    auto* strip = Find<TTimelineStrip>(*form, "TimelineStrip");
    bool built = false;
    QObject::connect(form.get(), &TForm1::TimelineStripBuilt, [&](bool) { built = true; });
    form->resize(form->size() + QSize(600, 300));
    ASSERT_TRUE(waitFor([&] { return built && strip->isVisible(); }));
    const std::vector<TTimelineStrip::Slot> slotList = strip->Slots();
    ASSERT_GE(slotList.size(), size_t{8});
    const QImage painted = strip->grab().toImage();
    const int slotWidth = TTimelineStrip::kPictureHeight * 16 / 9;
    for (size_t index = 0; index < slotList.size(); ++index) {
        const int x = static_cast<int>(index) * slotWidth;
        if (x + slotWidth > painted.width())
            break;  // the last slot is cut off at the strip's end
        SCOPED_TRACE(::testing::Message() << "slot " << index << " middle "
                                          << slotList[index].middleMs);
        const int frame = static_cast<int>(slotList[index].middleMs / 40);
        const QImage shown = painted.copy(x, 0, slotWidth - 1, TTimelineStrip::kPictureHeight);
        EXPECT_EQ(testing::PicturePattern(shown), frame / 10 * 10);
    }
}

// The strip under the timeline: it shows once the window is tall enough,
// taking that height from the preview; a file added while the strip of the
// one before is being built shows only its own pictures, each the key frame
// at or before its time; the setting hides it and is stored.
TEST_F(TimelineTest, TheStripShowsTheFilesKeyFramesAndTheSettingHidesIt)
{
    const std::string first = StripClip("strip_first_4x3.mp4", 320, 240, 12);
    const std::string wide = StripClip("strip_second_16x9.mp4", 384, 216, 10);

    auto form = windowWith(first);
    auto* strip = Find<TTimelineStrip>(*form, "TimelineStrip");
    auto* preview = Find<QWidget>(*form, "Panel1");
    const QSize specified = form->size();
    const struct {
        int taller;
        bool shown;
    } heights[] = {{TTimelineStrip::kHeight - 1, false}, {TTimelineStrip::kHeight, true},
                   {300, true}};
    for (const auto& row : heights) {
        form->resize(specified + QSize(600, row.taller));
        ASSERT_TRUE(waitFor([&] { return form->size() == specified + QSize(600, row.taller); }));
        EXPECT_EQ(strip->isVisible(), row.shown) << row.taller;
        EXPECT_EQ(preview->height(), 295 + row.taller - (row.shown ? TTimelineStrip::kHeight : 0));
    }
    const QRect timeline = Find<QWidget>(*form, "hlTrackBar1")->geometry();
    EXPECT_EQ(strip->geometry(), QRect(timeline.left(), timeline.bottom() + 1, timeline.width(),
                                       TTimelineStrip::kHeight));

    bool built = false;
    QObject::connect(form.get(), &TForm1::TimelineStripBuilt, [&](bool completed) {
        EXPECT_TRUE(completed);
        built = true;
    });
    ASSERT_TRUE(waitFor([&] { return !strip->Pictures().empty(); }));
    addFile(*form, wide);
    built = false;
    ASSERT_TRUE(waitFor([&] { return built; }));
    ExpectKeyFramePictures(*strip, 16.0 / 9.0, 10);

    auto* setting = Find<TForm2OptionsForm>(*form, "Form2OptionsForm")->CheckBoxTimelineStrip();
    EXPECT_TRUE(setting->isChecked());  // no stored value: on
    setting->setChecked(false);
    EXPECT_FALSE(strip->isVisible());
    EXPECT_EQ(preview->height(), 295 + 300);
    form->close();
    form.reset();
    EXPECT_EQ(store().value(QStringLiteral("TimelineStrip")).toInt(), 0);

    form = openWindow();
    ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
    EXPECT_FALSE(Find<TForm2OptionsForm>(*form, "Form2OptionsForm")
                     ->CheckBoxTimelineStrip()
                     ->isChecked());
    EXPECT_FALSE(Find<TTimelineStrip>(*form, "TimelineStrip")->isVisible());
}

}  // namespace
}  // namespace clipmora
