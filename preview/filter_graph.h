// TFilterGraph: the preview's playback graph on GStreamer.
//
// The component owns one playbin while it is active. Components that own an
// element of their own (the video window's renderer, the frame grabber)
// attach as filter owners; activation hands their elements to the playbin
// (the renderer as its video sink, grabbers as video filters in front of it),
// so a rendered file flows through them. Listeners hear the control events
// announced before each operation and every graph event. The builder
// callbacks are asked as the playbin's decoder bins choose and make the
// elements a file needs.
//
// Times exchanged with callers are whole milliseconds. Bus messages are
// collected on GStreamer's threads and drained on the GUI thread, in order,
// through the event table (one queued call whenever messages are waiting).
//
// Threads: every member runs on the GUI thread.
#pragma once

#include "preview/gst_handles.h"
#include "preview/preview_errors.h"

#include <QObject>

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace clipmora {

enum TGraphMode { gmNormal, gmCapture, gmDVD };

// Where an owner's element goes in the playback chain: filters pass every
// picture on to the renderer, in the order they were attached.
enum class TFilterRole { VideoRenderer, VideoFilter };

// Filter stage operations announced to owners.
enum TFilterStage { fsBeforeAdd = 0, fsAdded = 1, fsBeforeRemove = 2, fsRemoved = 3 };

// Control events, sent to listeners before the operation they announce.
enum TControlEvent {
    cePlay = 0,
    cePause = 1,
    ceStop = 2,
    ceFileRendering = 3,
    ceFileRendered = 4,
    ceActiveChanged = 7,
};

// Graph event codes (the playback framework's numbering). Those with no
// counterpart on this system are listed for callers and never arrive.
enum TGraphEventCode {
    ecComplete = 1,
    ecUserAbort = 2,
    ecErrorAbort = 3,
    ecStreamErrorStopped = 6,
    ecStreamErrorStillPlaying = 7,
    ecErrorStillPlaying = 8,
    ecPaletteChanged = 9,
    ecVideoSizeChanged = 10,
    ecQualityChange = 11,
    ecClockChanged = 13,
    ecPaused = 14,
    ecOpeningFile = 16,
    ecBufferingData = 17,
    ecFullscreenLost = 18,
    ecOleEvent = 24,
    ecStreamControlStopped = 26,
    ecStreamControlStarted = 27,
    ecEndOfSegment = 28,
    ecDeviceLost = 31,
    ecStepComplete = 36,
    ecTimeCodeAvailable = 48,
    ecExtDeviceModeChange = 49,
    ecGraphChanged = 80,
    ecClockUnset = 81,
    ecVmrRenderDeviceSet = 83,
    ecSndDevInError = 512,
    ecSndDevOutError = 513,
};

class IFilterOwner {
public:
    virtual ~IFilterOwner() = default;
    // The element the owner made at fsBeforeAdd (borrowed).
    virtual GstElement* ProvideFilter() = 0;
    virtual std::string GetFilterName() const = 0;
    virtual TFilterRole FilterRole() const = 0;
    // fsBeforeAdd: make the element; fsAdded: configure it; fsBeforeRemove:
    // stop and unlink it; fsRemoved: release it.
    virtual void NotifyFilterStage(int operation) = 0;
};

class IEventListener {
public:
    virtual ~IEventListener() = default;
    virtual void HandleGraphEvent(int code, intptr_t param1, intptr_t param2) = 0;
    virtual void HandleControlEvent(int event, int param) = 0;
};

// Maps a volume of 0..10000 to an attenuation in hundredths of a decibel
// (-10000 silent .. 0 full), logarithmically when `linear` is set.
int VolumeToAttenuation(int volume, bool linear);
// The amplitude factor of an attenuation in hundredths of a decibel.
double AttenuationToFactor(int attenuation);

class TFilterGraph : public QObject {
    Q_OBJECT

public:
    explicit TFilterGraph(QObject* owner = nullptr);
    ~TFilterGraph() override;

    bool Active() const { return static_cast<bool>(pipeline_); }
    // Builds or releases the playbin. Activation in the capture or disc
    // modes throws EPreviewException: this system has no such builders.
    void SetActive(bool active);

    TGraphMode Mode() const { return mode_; }
    void SetMode(TGraphMode mode);

    bool AutoCreate = false;
    bool GraphEdit() const { return graphEdit_; }
    void SetGraphEdit(bool on) { graphEdit_ = on; }

    // Opens `fileName` into the active graph and waits until the first
    // picture is ready (paused). Returns 1 without doing anything when
    // inactive, 0 when rendered. Throws EDirectShowException when the file
    // cannot be played; the graph then stays active without a chain. The
    // wait lets the window repaint and run its timers (no user input).
    int RenderFile(const std::string& fileName);

    // False without effect when inactive. Throw EDirectShowException when
    // the framework refuses. Pause and Stop are True only for a change that
    // completed at once.
    bool Play();
    bool Pause();
    bool Stop();

    // Returns the active graph to holding only the attached elements.
    void ResetGraph();
    // Unlinks the playback chain of the rendered file.
    void DisconnectAllPins();

    int Volume() const { return volume_; }
    void SetVolume(int volume);  // clamped to 0..10000
    int Balance() const { return balance_; }
    void SetBalance(int balance);  // clamped to -10000..10000; stored only
    double Rate() const { return rate_; }
    void SetRate(double rate);
    bool LinearVolume() const { return linearVolume_; }
    void SetLinearVolume(bool linear);

    // Milliseconds; 0 when nothing is rendered. Once the end has been
    // reached the position reads as the duration until the next seek.
    int Position() const;
    // Shows exactly the picture at `milliseconds` (decoding from the key
    // frame before it). The two pictures decoded before it reach the
    // renderer too, outside the segment: shown never, held by a renderer
    // that keeps pictures (TVideoWindow::ShowHeldPicture).
    void SetPosition(int milliseconds);
    // Shows the key frame nearest to `milliseconds`: only that picture is
    // decoded, so the preview can follow a dragged thumb.
    void SeekNearKeyFrame(int milliseconds);
    // Shows the picture after the one on screen without seeking (only that
    // picture is decoded) and takes `milliseconds`, a time within it, as the
    // position. False, and nothing done, unless a rendered file stands
    // paused on a picture.
    bool StepForward(int milliseconds);
    int Duration() const;

    const std::string& LogFile() const { return logFile_; }
    void SetLogFile(const std::string& name);

    void AddFilterOwner(IFilterOwner* owner);
    void RemoveFilterOwner(IFilterOwner* owner);
    void AddEventListener(IEventListener* listener);
    void RemoveEventListener(IEventListener* listener);

    // The playbin while active (borrowed), for tests and owners.
    GstElement* Pipeline() const { return pipeline_.get(); }
    // The last error the framework reported, as its own text.
    const std::string& LastErrorText() const { return lastErrorText_; }

    // Events. OnDSEvent hears every graph event before the specific one.
    std::function<void()> OnActivate;
    std::function<void(TFilterGraph&, int, intptr_t, intptr_t)> OnDSEvent;
    std::function<void(int result, intptr_t renderer)> OnGraphComplete;
    std::function<void()> OnGraphUserAbort;
    std::function<void(int result)> OnGraphErrorAbort;
    std::function<void(int operation, int value)> OnGraphStreamErrorStopped;
    std::function<void(int operation, int value)> OnGraphStreamErrorStillPlaying;
    std::function<void(int result)> OnGraphErrorStillPlaying;
    std::function<void()> OnGraphPaletteChanged;
    std::function<void(int width, int height)> OnGraphVideoSizeChanged;
    std::function<void()> OnGraphQualityChange;
    std::function<void()> OnGraphClockChanged;
    std::function<void(int result)> OnGraphPaused;
    std::function<void(bool opening)> OnGraphOpeningFile;
    std::function<void(bool buffering)> OnGraphBufferingData;
    std::function<void()> OnGraphChanged;
    std::function<void()> OnGraphClockUnset;
    std::function<void(int renderDevice)> OnGraphVMRRenderDevice;
    // The end of a segment played by a segment seek, at `streamTime`
    // nanoseconds.
    std::function<void(int64_t streamTime, int numSegment)> OnGraphEndOfSegment;
    // A frame step has completed.
    std::function<void()> OnGraphStepComplete;
    // Events this system has no source for; never raised.
    std::function<void(intptr_t renderer)> OnGraphFullscreenLost;
    std::function<void(intptr_t string1, intptr_t string2)> OnGraphOleEvent;
    std::function<void(intptr_t pinSender, int cookie)> OnGraphStreamControlStopped;
    std::function<void(intptr_t pinSender, int cookie)> OnGraphStreamControlStarted;
    std::function<void(intptr_t device, bool removed)> OnGraphDeviceLost;
    std::function<void(int from, int deviceId)> OnGraphTimeCodeAvailable;
    std::function<void(int newMode, int deviceId)> OnGraphEXTDeviceModeChange;
    std::function<void(int occurWhen, int errorCode)> OnGraphSNDDevInError;
    std::function<void(int occurWhen, int errorCode)> OnGraphSNDDevOutError;

    // Builder callbacks, asked while a file is being rendered, on
    // GStreamer's streaming threads (RenderFile waits meanwhile): assign
    // them while no file is being rendered, and call nothing of the graph
    // from them. Unassigned, they accept; one that throws refuses.
    //
    // The decoder bin is about to make an element of the factory `classId`
    // (from the plugin `moniker`, described as `filterName`); false skips
    // it, and the next candidate is tried.
    std::function<bool(const std::string& moniker, const std::string& filterName,
                       const std::string& classId)>
        OnSelectedFilter;
    // The decoder bins made `filter`, of the factory `classId`; false
    // refuses every link to it, so the decoder bin drops it and tries the
    // next candidate. Without one (the file's source, the last decoder)
    // the file cannot be played.
    std::function<bool(GstElement* filter, const std::string& classId)> OnCreatedFilter;
    // No element takes the stream of the decoder bin's `pin`; the file plays
    // without that stream. The answer is not used.
    std::function<bool(GstPad* pin)> OnUnableToRender;

    // Receives what a handler threw while events were drained (the drain
    // then ends; what is left is handled at the next notification).
    std::function<void(const std::exception&)> OnHandlerException;

private:
    struct Mailbox;
    struct SeekLeadIn;
    struct GraphEvent {
        int code;
        intptr_t param1;
        intptr_t param2;
    };

    void activate();
    void deactivate();
    void release();
    void insertOwner(IFilterOwner* owner);
    void removeOwnerElement(IFilterOwner* owner);
    void applyOwnerElements();
    void releaseVideoChain();
    void applyVolume();
    void seekTo(int milliseconds, GstSeekFlags flags);
    void sendControlEvent(int event, int param);
    int changeState(GstState state);
    void waitForPreroll();
    void drainEvents();
    void dispatch(const GraphEvent& event);
    void writeLog(const std::string& line);
    std::vector<GraphEvent> translate(GstMessage* message);

    GstElementRef pipeline_;
    GstElementRef videoChain_;  // the owners' elements, as the playbin's video sink
    std::shared_ptr<Mailbox> mailbox_;
    // Shared with the probes on the video decoder's pads.
    std::shared_ptr<SeekLeadIn> leadIn_;
    TGraphMode mode_ = gmNormal;
    bool graphEdit_ = false;
    bool linearVolume_ = true;
    int volume_ = 10000;
    int balance_ = 0;
    double rate_ = 1.0;
    bool rendered_ = false;
    // The position last read or sought to; answers while a seek keeps the
    // pipeline from reporting one.
    mutable int lastPosition_ = 0;
    // After steps the position is the one the caller gave, until the next
    // seek: the sound has stayed where the steps began, so playing seeks
    // there first.
    bool positionStepped_ = false;
    bool stopped_ = true;
    std::string logFile_;
    std::ofstream logStream_;
    std::string lastErrorText_;
    std::vector<IFilterOwner*> filterOwners_;
    std::vector<IEventListener*> eventListeners_;
};

}  // namespace clipmora
