// TForm1: the main window. Its creation is the program's start-up: it binds
// the codec libraries from "Common" beside the program and refuses to go on
// without them, then builds the controls, the profile lists and the
// additional-settings dialog (which restores the stored settings). The
// program itself puts the binding and the start of the preview's playback
// framework off until the window has been painted
// (CodecBinding::AfterFirstPaint), so the window shows without waiting for
// them; a library file that is missing is still refused before any window.
//
// The window is split by concern: start-up, layout, menus and closing here;
// adding files (add_files.cpp), the split request and job (split_request.cpp),
// the engine's progress and end (split_progress.cpp), the profile drop-downs
// (profile_combos.cpp), the preview player with its transport and volume
// (preview_controls.cpp), the keyboard and its menu entries
// (window_shortcuts.cpp). The left part of the client area (x < 405) holds
// the preview and the timeline.
//
// Threads: everything runs on the GUI thread except the three engine event
// handlers installed by connectEngineEvents(), which run on the engine's
// worker thread and only post their effects back to the GUI thread.
#pragma once

#include "job/time_left.h"
#include "engine/key_frame_strip.h"
#include "engine/output_claim.h"
#include "engine/stream_cut.h"
#include "engine/transcoder.h"
#include "preview/filter_graph.h"
#include "profiles/profile_options.h"

#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QFrame;
class QPaintEvent;
class QGroupBox;
class QTimer;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QSlider;

namespace clipmora {

class TAboutBox;
class TFolderBrowseDialog;
class TMarkTimeEditor;
class TTimelineStrip;
class ThlTrackBar;
class TForm2OptionsForm;
class TSampleGrabber;
class TVideoWindow;
struct SplitRequest;

// Milliseconds as the panels show them: seconds in the shortest general form
// of the user's locale (12345 -> "12.345", 7500 -> "7.5", 0 -> "0").
QString SecondsText(int milliseconds);

// The video files named by the program's arguments (paths, relative or not,
// or file: URLs), as absolute paths in order; arguments that begin with "-"
// are left out.
QStringList VideoFilesFromArguments(const QStringList& arguments);

// When the main window binds the codec libraries.
enum class CodecBinding {
    // While it is created, before anything else of the start-up.
    AtCreation,
    // Right after its first paint (from the event queue), and the preview's
    // playback framework starts then too. Creation only checks that every
    // library file is there and readable, and binds at once when one is
    // not, so that a missing file is refused as before. A command that needs
    // the engine earlier finishes the start-up first.
    AfterFirstPaint,
};

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // `programFolder` is where the program and its "Common" folder live.
    explicit TForm1(const QString& programFolder,
                    CodecBinding binding = CodecBinding::AtCreation, QWidget* parent = nullptr);
    ~TForm1() override;

    // True when the codec libraries could not be bound; the message has been
    // shown and the application must end. Checked after creation; a binding
    // put off until after the first paint reports CodecLibrariesFailed.
    bool StartupFailed() const { return startupFailed_; }

    // The profile lists; the drop-downs show them (RefreshProfileCombos).
    TProfileControls& Profile() { return profile_; }
    // Shows the profile lists in the drop-downs without raising change steps.
    void RefreshProfileCombos();
    // The output folder's field, which the stored settings fill and keep.
    QLineEdit* EditOutputFolder() const { return editOutputFolder_; }
    // The folder of the last file added, where the open-file dialog opens;
    // empty before the first (the dialog's own choice then). Stored with the
    // settings.
    const QString& LastVideoFolder() const { return lastVideoFolder_; }
    void SetLastVideoFolder(const QString& folder) { lastVideoFolder_ = folder; }

    // Commands (the buttons and menu items call these).
    void AddFileClick();
    // Adds `files` as if they had been picked in "Add Video File" (a drop,
    // the command line); ignored while a split runs.
    void AddVideoFiles(const QStringList& files);
    // Shows the output folder in the desktop's file manager.
    void OpenOutputFolderClick();
    void BrowseForFolderClick();
    void SplitClick();
    void StopSplitClick();
    void ExitClick();
    void AdditionalSettingsClick();
    void OpenHelpClick();
    void AboutClick();
    void PlayClick();
    void PauseClick();
    void StopClick();
    void TimerTrackBarPositionTick();
    void MarkStartClick();
    void MarkEndClick();
    void ClearMarksClick();
    void IncrementClick(int deltaMs);
    void SnapshotClick();
    // Keyboard commands: play or pause as the preview's state calls for,
    // step the timeline by frames of the source or by milliseconds, jump
    // to a position (clamped to the timeline).
    void PlayPauseClick();
    void StepFrames(int frames);
    void StepMilliseconds(int deltaMs);
    void SeekTimeline(int positionMs);

    void DisableJobControls();
    void EnableJobControls();
    // Disables the format, size, rate, channel, quality and output volume
    // controls while "Keep Original Streams" is chosen (their values stay),
    // and enables them again when it is not and no split runs.
    void ApplyKeepStreamsChoice();
    // Shows or hides the strip of pictures and loudness under the timeline
    // as the setting and the window's height allow (timeline_strip.cpp).
    void ApplyTimelineStripChoice();

    // What the engine's progress and end reports do on the GUI thread.
    // `splitSerial` names the split the report belongs to; reports of an
    // earlier split are dropped.
    // `reportedAt` is when the engine reported, for the time-left estimate.
    void ShowProgress(int splitSerial, int currentDurationMs, int64_t currentSize,
                      int totalOutputDurationMs,
                      TimeLeftEstimator::Clock::time_point reportedAt =
                          TimeLeftEstimator::Clock::now());
    void ShowTerminate(int splitSerial, int index, bool finished, bool exception);
    void AppendLog(int splitSerial, const QString& line);
    // The end of a split that kept the original streams.
    void ShowStreamCutEnd(int splitSerial, const StreamCutResult& result);

    // The open-file dialog's filter, one string as the file chooser takes it.
    static QString OpenDialogFilter();

    // The window's size when it is not maximised, and whether it is; the
    // stored settings keep both (window_layout.cpp).
    QSize NormalSize() const;
    // Gives the window `size` (held between its specified size and the
    // screen's) and the maximised state; used before it is first shown.
    void RestorePlacement(const QSize& size, bool maximized);

signals:
    // The start-up put off until after the first paint has finished: the
    // codec libraries are bound and the preview is ready.
    void StartupFinished();
    // Binding after creation failed: the message has been shown and the
    // application must end as for a failed start-up.
    void CodecLibrariesFailed();
    // A build of the strip under the timeline has ended; `completed` is
    // false when the file could not be read.
    void TimelineStripBuilt(bool completed);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Binds the codec libraries; on failure shows the message and marks the
    // start-up failed. True when bound.
    bool bindCodecLibraries();
    // The preview's parts that ask the playback framework what it has, which
    // starts the framework (a read of its registry).
    void startPreviewFramework();
    // Finishes the start-up that waits for the first paint (binding, then the
    // preview's framework) unless it is done: the gate of every command that
    // reaches the engine or the preview. A failure to bind is reported
    // through CodecLibrariesFailed.
    bool startupFinished();
    // "Common" beside the program.
    std::string libraryFolder() const;
    // The tests' view of the state that no control shows.
    friend class TForm1Probe;

    void buildControls();
    // The window's layout at other sizes than its specified one
    // (window_layout.cpp). Takes `specified` as the window's size and its
    // least, and notes every control's geometry at that size.
    void keepSpecifiedSizeAsMinimum(const QSize& specified);
    // Places the controls for the window's current size.
    void placeControls();
    // The picture fills the preview's frame, inside its border.
    void placePreviewPicture();
    // The preview's own events: a double click toggles full screen (true:
    // taken), and the picture back from full screen takes its place again.
    bool previewWindowEvent(QObject* watched, QEvent* event);
    // The right-hand column, top to bottom: the file and the output folder,
    // the format choices, the split buttons and progress.
    void buildFileControls(QWidget* client);
    void buildFormatControls(QWidget* client);
    void buildSplitControls(QWidget* client);
    // The read-outs of the marks and the position under the timeline.
    void buildMarkPanels(QWidget* client);
    void buildStatusBar();
    void buildMenus();
    void buildShortcuts();
    // Lets every control that can take the focus claim its own keys before
    // the window's shortcuts see them (keepsKeyFromShortcuts).
    void watchControlKeys();
    // Whether `event` is a shortcut check for a key that the focused control
    // `receiver` works with, so the control keeps it.
    bool keepsKeyFromShortcuts(QObject* receiver, QEvent* event) const;
    // Space reaching a button plays or pauses instead of pressing it (true:
    // taken).
    bool spaceOnButton(QObject* receiver, QEvent* event);
    void addVideoFiles(const QStringList* given);
    void buildPreviewControls(QWidget* client);
    // The snapshot button and the play, pause and stop buttons.
    void buildTransport(QWidget* client);
    void buildTimeline(QWidget* client);
    // The scroll bar that pans the zoomed timeline.
    void buildTimelineScroll(QWidget* client);
    // The strip of pictures and loudness under the timeline, and its
    // builder (timeline_strip.cpp). The strip takes height the window has
    // beyond its specified size: it shows once that covers it.
    void buildTimelineStrip(QWidget* client);
    bool timelineStripWanted() const;
    // Places the strip at `top` under the timeline and follows the
    // timeline's view; a changed view or width builds the strip anew.
    void placeTimelineStrip(int top);
    void followTimelineView();
    void scheduleStripBuild();
    void startStripBuild();
    // Cancels a running build (its late reports are dropped); `forget`
    // clears the pictures and levels too (a new file).
    void stopStripBuild(bool forget);
    // The mark buttons under the timeline and the hidden step buttons.
    void buildMarkButtons(QWidget* client);
    // The seek that follows a drag or a key on the timeline, run from the
    // event queue once the thumb has settled.
    void postTimelineSeek();
    // Both marks back to 0, their panels and the highlighted range empty.
    void resetMarks();
    // The start mark at `position` (ms): the range's start, the frame
    // number and the panel. The end is left as it is.
    void placeStartMark(int position);
    // The fields in which the marks are typed, over their panels
    // (typed_marks.cpp).
    void buildMarkEditors();
    // Sets the end (or the start) mark to the time typed, or says why not.
    void typedMark(bool end, const QString& text);
    void timelineSeek();
    // Where the preview seeks to show the picture at `positionMs` of the
    // timeline (the end shows the last picture).
    int previewSeekTarget(int positionMs) const;
    // While the thumb is held the preview follows it to the nearest key
    // frame, at most once per scrub interval; a move within the interval
    // is taken up when it has passed.
    void timelineScrub();
    void scrubToThumb();
    // Stops the preview and releases its graph (and the file it holds).
    void stopPreviewGraph();
    // Opens the preview's file in a new graph (paused on its first picture)
    // and runs `then`; a file that cannot be played is reported.
    void openPreview(const std::function<void()>& then);
    // A split reads the file on its own: the preview lets go of it, and
    // afterwards comes back paused where it was (when it was open).
    void holdPreviewForSplit();
    void restorePreviewAfterSplit();
    // Runs a preview operation; what it throws is reported to the user.
    void guardPreview(const std::function<void()>& operation);
    // Shows why the preview could not play in the status bar; empty hides it.
    void showPlaybackProblem(const QString& why);
    void connectProfileCombos();
    void connectEngineEvents();
    void formatChanged(int index);
    void qualityChanged();
    void restoreUserChoices(const std::string& size, const std::string& frameRate,
                            const std::string& channels);
    void BuildSplitJob();
    // Starts a split that copies the source's streams (stream_cut_split.cpp).
    void startStreamCut(const SplitRequest& request);
    void OpenVideoFiles(const QStringList& files);
    void runFolderChooser();
    // The output folder is set and exists; otherwise says so, runs the
    // folder chooser and returns false.
    bool checkOutputFolder();
    // Plays the shutter sound and waits until it has ended.
    void PlaySnapSound();
    void resetProgress();
    // The progress, percentage, size and note of an earlier split go: a new
    // split or a new file does not show them as its own.
    void clearSplitReadouts();
    // Stops what an earlier split left and resets its progress, time left and
    // script before a new split is built.
    void clearEarlierSplit();
    // The profile drop-downs and the menus, on or off together around a split.
    void setJobControlsEnabled(bool enabled);

    TTranscoder transcoder_;
    TFilterGraph filterGraph1_;
    TProfileControls profile_;
    QString programFolder_;
    QString helpFile_;
    bool startupFailed_ = false;
    bool firstShowDone_ = false;
    bool librariesBound_ = false;
    bool startupFinished_ = false;
    bool finishQueued_ = false;  // the start-up's end after the first paint is on its way

    // GUI thread only.
    bool splitBusy_ = false;
    bool terminateShown_ = false;
    bool stopRequested_ = false;  // the user stopped the current split
    int outputVolume_ = 255;
    QString sourceFrameRate_;
    bool previewPaused_ = false;
    // Where the preview stood when a split took its file; none when it was
    // not open.
    std::optional<int> previewBeforeSplit_;
    QString previewFile_;
    QString lastVideoFolder_;
    QStringList scriptBuffer_;
    TimeLeftEstimator splitTimeLeft_;
    QString lastOutputFile_;
    // The running split's output, written under a temporary name until the
    // split has succeeded; what is not moved onto its name is removed.
    StagedOutput stagedOutput_;
    // Read on the engine's worker thread when it reports; bumped on the GUI
    // thread only while no task of the engine runs.
    std::atomic<int> splitSerial_{0};
    // The running copy of a split that keeps the original streams; its
    // reports carry the split's number like the engine's.
    std::unique_ptr<TStreamCutTask> streamCut_;
    // The window's specified size and the controls' geometry at it.
    QSize specifiedSize_;
    QSize normalSize_;  // the last size while neither maximised nor full screen
    std::vector<std::pair<QWidget*, QRect>> specifiedGeometry_;
    // The marks' frame numbers (0: not set).
    double StartFrame = 0.0;
    double EndFrame = 0.0;

    // Children (owned through Qt's parent chain).
    QPushButton* buttonAddFile_ = nullptr;
    QLineEdit* editVideoFilename_ = nullptr;
    QPushButton* buttonBrowseForFolder_ = nullptr;
    QLineEdit* editOutputFolder_ = nullptr;
    QComboBox* comboOutputFormat_ = nullptr;
    QComboBox* comboVideoSize_ = nullptr;
    QComboBox* comboVideoFramerate_ = nullptr;
    QComboBox* comboAudioChannels_ = nullptr;
    QComboBox* comboVideoQuality_ = nullptr;
    QComboBox* comboAudioQuality_ = nullptr;
    QSlider* trackBarVolumeOut_ = nullptr;
    QPushButton* buttonSplit_ = nullptr;
    QPushButton* buttonStopSplit_ = nullptr;
    QProgressBar* progressBar1_ = nullptr;
    QLabel* panelPercent_ = nullptr;
    QLabel* panelStart_ = nullptr;
    QLabel* panelEnd_ = nullptr;
    QLabel* panelCurrentPosition_ = nullptr;
    TMarkTimeEditor* editMarkStart_ = nullptr;
    TMarkTimeEditor* editMarkEnd_ = nullptr;
    QLabel* statusPanels_[3] = {nullptr, nullptr, nullptr};
    QLabel* statusTimeLeft_ = nullptr;
    QLabel* statusPlayback_ = nullptr;
    QFrame* panel1_ = nullptr;
    TVideoWindow* videoWindow1_ = nullptr;
    TSampleGrabber* sampleGrabber1_ = nullptr;
    QPushButton* buttonSnapshot_ = nullptr;
    QImage image1_;
    QString lastSnapshotFile_;
    QPushButton* buttonPlay_ = nullptr;
    QPushButton* buttonPause_ = nullptr;
    QPushButton* buttonStop_ = nullptr;
    QGroupBox* groupVolume_ = nullptr;
    ThlTrackBar* hlTrackBarVolume_ = nullptr;
    ThlTrackBar* hlTrackBar1_ = nullptr;
    QScrollBar* timelineScroll_ = nullptr;
    TTimelineStrip* timelineStrip_ = nullptr;
    // The strip's builder; its reports carry stripSerial_ as it was at their
    // build's start, and reports of an earlier build are dropped.
    std::unique_ptr<TKeyFrameStrip> stripBuilder_;
    int stripSerial_ = 0;  // GUI thread only
    QString stripFile_;    // the file the strip shows
    std::vector<StripSlot> stripSlots_;  // the slots of the last build
    QTimer* timerStripBuild_ = nullptr;  // single shot: a view that has settled
    QPushButton* buttonMarkStart_ = nullptr;
    QPushButton* buttonMarkEnd_ = nullptr;
    QPushButton* buttonClearMarks_ = nullptr;
    QPushButton* buttonIncrementBack_ = nullptr;
    QPushButton* buttonIncrementForward_ = nullptr;
    QTimer* timerTrackBarPosition_ = nullptr;
    QTimer* timerScrub_ = nullptr;  // single shot: the end of a scrub interval
    QElapsedTimer sinceScrub_;
    bool thumbHeld_ = false;
    QMenu* menuFile_ = nullptr;
    QMenu* menuPlayback_ = nullptr;
    QMenu* menuSettings_ = nullptr;
    QMenu* menuHelp_ = nullptr;
    QAction* actionExit_ = nullptr;
    QAction* actionAdditionalSettings_ = nullptr;
    QAction* actionOpenHelp_ = nullptr;
    QAction* actionAbout_ = nullptr;
    QAction* actionAddFile_ = nullptr;
    QAction* actionOpenOutputFolder_ = nullptr;
    QAction* actionStartSplit_ = nullptr;
    QAction* actionStopSplit_ = nullptr;
    TFolderBrowseDialog* browseForFolderDialog_ = nullptr;
    TForm2OptionsForm* optionsForm_ = nullptr;
    TAboutBox* aboutBox_ = nullptr;
};

}  // namespace clipmora
