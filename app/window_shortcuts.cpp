// The window's keyboard: every key is a menu entry with its shortcut shown.
// Each runs the command of the button it stands for, so it is ignored while a
// split runs exactly when that button is; stepping and seeking, like the
// hidden step buttons and the timeline, are never gated.
//
// The shortcuts act when the timeline, the preview or the window itself has
// the focus. Any other focused control keeps the keys it works with (the
// arrows on the volume slider, letters on a list); keys held with Ctrl, Alt
// or Meta always go to the window. Space plays or pauses everywhere but in a
// text field or on a list: a button that kept it would be pressed again by a
// key the user meant for the preview (the last button clicked keeps the
// focus).
//
// The timeline bar has keys of its own (arrows, Home, End). The window's
// shortcuts take those keys first, so the bar never moves a second time; its
// key-release seek then finds the preview already where the thumb is.
#include "app/main_window.h"

#include "app/user_dialogs.h"
#include "preview/video_window.h"
#include "widgets/hl_track_bar.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace clipmora {
namespace {

// A source without a video stream (frame rate "0") steps as 25 frames per second.
constexpr double kFallbackFrameRate = 25.0;

// The keys each kind of control works with while it has the focus.
struct ControlKeys {
    bool (*isKind)(const QObject* control);
    std::initializer_list<int> keys;
    bool typedText;  // letters select (a list's search) or enter text
};

template <typename Kind>
bool isA(const QObject* control)
{
    return qobject_cast<const Kind*>(control) != nullptr;
}

bool isSlider(const QObject* control)
{
    return isA<QAbstractSlider>(control) || isA<ThlTrackBar>(control);
}

bool isEditableLine(const QObject* control)
{
    const auto* line = qobject_cast<const QLineEdit*>(control);
    return line && !line->isReadOnly();
}

const ControlKeys kControlKeys[] = {
    {isSlider,
     {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown,
      Qt::Key_Home, Qt::Key_End},
     false},
    {isA<QComboBox>,
     {Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End,
      Qt::Key_Space},
     true},
    {isA<QAbstractButton>, {Qt::Key_Select}, false},
    {isA<QLineEdit>, {Qt::Key_Left, Qt::Key_Right, Qt::Key_Home, Qt::Key_End}, false},
    {isEditableLine, {}, true},
};

bool controlUsesKey(const QObject* control, const QKeyEvent& key)
{
    if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const bool typed = !key.text().isEmpty() && key.text().at(0).isPrint();
    for (const ControlKeys& row : kControlKeys) {
        if (!row.isKind(control))
            continue;
        if (std::find(row.keys.begin(), row.keys.end(), key.key()) != row.keys.end() ||
            (row.typedText && typed))
            return true;
    }
    return false;
}

// The action belongs to the window as well as to its menu: the menus are
// greyed while a split runs, and a key must still reach its command then.
template <typename Command>
QAction* addCommand(QWidget* window, QMenu* menu, const QString& text,
                    const QList<QKeySequence>& keys, Command command)
{
    QAction* action = menu->addAction(text);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
    QObject::connect(action, &QAction::triggered, window, command);
    return action;
}

}  // namespace

void TForm1::buildShortcuts()
{
    actionAddFile_ = addCommand(this, menuFile_, QStringLiteral("Add Video File..."),
                                {QKeySequence::Open}, [this] { AddFileClick(); });
    actionOpenOutputFolder_ = addCommand(this, menuFile_, QStringLiteral("Open Output Folder"), {},
                                         [this] { OpenOutputFolderClick(); });
    menuFile_->addSeparator();
    actionStartSplit_ = addCommand(this, menuFile_, QStringLiteral("Start Splitting"),
                                   {QKeySequence(Qt::CTRL | Qt::Key_Return),
                                    QKeySequence(Qt::CTRL | Qt::Key_Enter)},
                                   [this] { SplitClick(); });
    // Esc stops a split; with none running it only brings the preview back
    // from the whole screen (where the window's shortcuts may still see it).
    actionStopSplit_ = addCommand(this, menuFile_, QStringLiteral("Stop Splitting"),
                                  {QKeySequence(Qt::Key_Escape)}, [this] {
                                      if (splitBusy_)
                                          StopSplitClick();
                                      else if (videoWindow1_->FullScreen())
                                          videoWindow1_->SetFullScreen(false);
                                  });

    addCommand(this, menuPlayback_, QStringLiteral("Play / Pause"), {QKeySequence(Qt::Key_Space)},
               [this] { PlayPauseClick(); });
    menuPlayback_->addSeparator();
    addCommand(this, menuPlayback_, QStringLiteral("Mark Start"), {QKeySequence(Qt::Key_I)},
               [this] { MarkStartClick(); });
    addCommand(this, menuPlayback_, QStringLiteral("Mark End"), {QKeySequence(Qt::Key_O)},
               [this] { MarkEndClick(); });
    menuPlayback_->addSeparator();
    addCommand(this, menuPlayback_, QStringLiteral("Previous Frame"), {QKeySequence(Qt::Key_Left)},
               [this] { StepFrames(-1); });
    addCommand(this, menuPlayback_, QStringLiteral("Next Frame"), {QKeySequence(Qt::Key_Right)},
               [this] { StepFrames(1); });
    addCommand(this, menuPlayback_, QStringLiteral("Back One Second"),
               {QKeySequence(Qt::SHIFT | Qt::Key_Left)}, [this] { StepMilliseconds(-1000); });
    addCommand(this, menuPlayback_, QStringLiteral("Forward One Second"),
               {QKeySequence(Qt::SHIFT | Qt::Key_Right)}, [this] { StepMilliseconds(1000); });
    addCommand(this, menuPlayback_, QStringLiteral("Go to Start"), {QKeySequence(Qt::Key_Home)},
               [this] { SeekTimeline(0); });
    addCommand(this, menuPlayback_, QStringLiteral("Go to End"), {QKeySequence(Qt::Key_End)},
               [this] { SeekTimeline(hlTrackBar1_->Max()); });
}

void TForm1::watchControlKeys()
{
    for (QWidget* control : findChildren<QWidget*>())
        if (control->focusPolicy() != Qt::NoFocus)
            control->installEventFilter(this);
}

bool TForm1::keepsKeyFromShortcuts(QObject* receiver, QEvent* event) const
{
    if (event->type() != QEvent::ShortcutOverride)
        return false;
    const auto* control = qobject_cast<const QWidget*>(receiver);
    const bool shortcutsAct = !control || control == this || control == centralWidget() ||
                              control == hlTrackBar1_ || control == panel1_ ||
                              panel1_->isAncestorOf(control);
    return !shortcutsAct && controlUsesKey(control, *static_cast<QKeyEvent*>(event));
}

bool TForm1::spaceOnButton(QObject* receiver, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Space || key->modifiers() != Qt::NoModifier ||
        !isA<QAbstractButton>(receiver))
        return false;
    // The window's shortcut takes Space before a button sees it, but only
    // while the window is active: just after a dialog has closed it may not
    // be yet, and the button would be pressed again.
    if (event->type() == QEvent::KeyPress && !key->isAutoRepeat())
        PlayPauseClick();
    return true;
}

void TForm1::PlayPauseClick()
{
    // Playing means a graph that runs, is not paused and has not reached
    // the end (where the position timer stopped it).
    const bool playing = filterGraph1_.Active() && !previewPaused_ &&
                         filterGraph1_.Position() != filterGraph1_.Duration();
    if (playing)
        PauseClick();
    else
        PlayClick();
}

void TForm1::StepFrames(int frames)
{
    bool valid = false;
    double rate = sourceFrameRate_.toDouble(&valid);
    const bool video = valid && rate > 0.0;
    if (!video)
        rate = kFallbackFrameRate;
    // A step starts from the picture on screen (the one whose time span
    // holds the position) and lands on the first millisecond of its
    // neighbour, where a mark takes that same picture: each step shows the
    // next or the previous picture and moves a mark's frame by one.
    const int position = hlTrackBar1_->Position();
    const double current = std::floor(rate * position / 1000.0 + 1e-9);
    const double target = std::ceil((current + frames) * 1000.0 / rate - 1e-9);
    const int settled = static_cast<int>(std::clamp(target, 0.0, double(hlTrackBar1_->Max())));
    // A paused preview that shows the timeline's picture steps forward by
    // decoding just the next picture; a step back shows the previous
    // picture at once when the renderer still holds it, while the seek
    // brings the graph there. The seek goes first: its flush ends the
    // pictures of an earlier seek still on their way, which would otherwise
    // replace the held one.
    const bool onScreen = video && filterGraph1_.Active() &&
                          std::abs(filterGraph1_.Position() - position) < 500.0 / rate;
    if (onScreen && frames == 1 && settled != position && filterGraph1_.StepForward(settled)) {
        hlTrackBar1_->SetPosition(settled);
        panelCurrentPosition_->setText(SecondsText(settled));
        return;
    }
    SeekTimeline(settled);
    if (onScreen && frames < 0)
        videoWindow1_->ShowHeldPicture(settled);
}

void TForm1::StepMilliseconds(int deltaMs)
{
    SeekTimeline(static_cast<int>(
        std::clamp<int64_t>(int64_t{hlTrackBar1_->Position()} + deltaMs, 0, hlTrackBar1_->Max())));
}

void TForm1::SeekTimeline(int positionMs)
{
    hlTrackBar1_->SetPosition(positionMs);
    const int settled = hlTrackBar1_->Position();
    if (filterGraph1_.Active())
        filterGraph1_.SetPosition(previewSeekTarget(settled));
    panelCurrentPosition_->setText(SecondsText(settled));
}

int TForm1::previewSeekTarget(int positionMs) const
{
    // The end of the file has no picture of its own: an exact seek there
    // decodes nothing and the old picture would stay. Half a picture before
    // the end lies inside the last one.
    const int end = hlTrackBar1_->Max();
    if (positionMs < end)
        return positionMs;
    bool valid = false;
    double rate = sourceFrameRate_.toDouble(&valid);
    if (!valid || rate <= 0.0)
        rate = kFallbackFrameRate;
    return std::max(0, end - static_cast<int>(std::ceil(500.0 / rate)));
}

void TForm1::OpenOutputFolderClick()
{
    if (splitBusy_ || !checkOutputFolder())
        return;
    const QString folder = editOutputFolder_->text().trimmed();
    UserDialogs::current().ShowOnDesktop(this, folder, QUrl::fromLocalFile(folder));
}

}  // namespace clipmora
