// TVideoWindow: the control that shows the preview's pictures.
//
// Its renderer is a small GStreamer bin (scale, convert, application sink)
// that the filter graph uses as its video sink. The bin scales each picture
// to the control's size in the streaming thread, letter-boxed when the
// aspect ratio is kept, so the GUI thread only copies finished pictures to
// the screen. The control follows resizes, can cover the whole screen, and
// paints its background colour where there is no picture.
//
// Threads: the renderer's callbacks run on GStreamer's streaming threads and
// only hand the newest picture over (under frameLock_) and ask for a
// repaint; everything else runs on the GUI thread.
#pragma once

#include "preview/filter_graph.h"

#include <gst/app/gstappsink.h>

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace clipmora {

enum TVideoMode { vmNormal, vmVMR };
enum TVMRVideoMode { vmrWindowed, vmrWindowless, vmrRenderless };

// Rendering preferences, each a bit of the set's byte.
enum TVMRPreference : uint8_t {
    vpForceOffscreen = 1,
    vpForceOverlays = 2,
    vpForceMixer = 4,
    vpDoNotRenderColorKeyAndBorder = 8,
    vpRestrictToInitialMonitor = 16,
    vpPreferAGPMemWhenMixing = 32,
};

class TVideoWindow;

class TVMROptions {
public:
    explicit TVMROptions(TVideoWindow& owner) : owner_(owner) {}

    TVMRVideoMode Mode() const { return mode_; }
    void SetMode(TVMRVideoMode mode);
    unsigned Streams() const { return streams_; }
    void SetStreams(unsigned streams);  // 1..16; anything else stores 1
    uint8_t Preferences() const { return preferences_; }
    void SetPreferences(uint8_t preferences);
    bool KeepAspectRatio() const { return keepAspectRatio_; }
    void SetKeepAspectRatio(bool keep);

private:
    friend class TVideoWindow;
    TVideoWindow& owner_;
    TVMRVideoMode mode_ = vmrWindowed;
    unsigned streams_ = 4;
    uint8_t preferences_ = vpForceMixer;
    bool keepAspectRatio_ = true;
};

class TVideoWindow : public QWidget, public IFilterOwner, public IEventListener {
    Q_OBJECT

public:
    explicit TVideoWindow(QWidget* parent = nullptr);
    ~TVideoWindow() override;

    TVideoMode Mode() const { return mode_; }
    // vmVMR falls back to vmNormal when the renderer's elements are missing.
    void SetMode(TVideoMode mode);
    TFilterGraph* FilterGraph() const { return graph_; }
    void SetFilterGraph(TFilterGraph* graph);
    TVMROptions& VMROptions() { return options_; }

    bool FullScreen() const { return fullScreen_; }
    void SetFullScreen(bool on);
    bool FullScreenTopMost() const { return fullScreenTopMost_; }
    void SetFullScreenTopMost(bool on);
    QColor Color() const { return color_; }
    void SetColor(const QColor& color);
    // The native handle of the surface the pictures are drawn on.
    uintptr_t VideoHandle() const;

    std::function<void()> OnPaint;

    // Called by the renderer's owner when an allocator is needed for the
    // renderless mode; returns false when it cannot make one.
    std::function<bool(TVideoWindow&)> AllocatorClass;

    // IFilterOwner
    GstElement* ProvideFilter() override { return renderer_.get(); }
    std::string GetFilterName() const override;
    TFilterRole FilterRole() const override { return TFilterRole::VideoRenderer; }
    void NotifyFilterStage(int operation) override;
    // IEventListener
    void HandleGraphEvent(int code, intptr_t param1, intptr_t param2) override;
    void HandleControlEvent(int event, int param) override;

    // What the renderer has done: pictures painted on the control, their
    // stream time, and the sink's own counts.
    struct RenderStats {
        uint64_t framesPainted = 0;
        int64_t lastPaintedTimeMs = -1;
        uint64_t rendered = 0;
        uint64_t dropped = 0;
    };
    RenderStats Stats() const;
    // The newest picture as the control would show it (null when none).
    QImage CurrentPicture() const;
    // True while a file's video reaches the renderer.
    bool Connected() const;
    // Shows again, at once, the picture whose time span holds `timeMs`
    // when it is among the pictures the renderer received lately (up to
    // kHeldPictureBytes of them, as shown: at the control's size), those
    // that came ahead of an exact seek's target included. False
    // when it is not. Pictures the renderer receives later replace it as
    // usual, so a seek to the same time follows it for the rest of the
    // preview (the frame grabber, playing on).
    bool ShowHeldPicture(int64_t timeMs);
    static constexpr qsizetype kHeldPictureBytes = 64 << 20;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class TVMROptions;
    struct Frame {
        QImage picture;
        int64_t timeMs = -1;  // stream time of the picture
        // Its stream time span in nanoseconds (empty when unknown).
        uint64_t startNs = 0;
        uint64_t endNs = 0;
    };

    static GstFlowReturn onPreroll(GstAppSink* sink, gpointer self);
    static GstFlowReturn onSample(GstAppSink* sink, gpointer self);
    static GstPadProbeReturn onArrival(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    void takeSample(GstSampleRef sample);
    static Frame frameOf(GstBuffer* buffer, GstCaps* caps, const GstSegment* segment);
    void holdLocked(const Frame& frame);
    void makeRenderer();
    void applyTargetSize();
    void reattach();
    void applyFullScreen();
    bool attachedToActiveGraph() const;

    TVideoMode mode_ = vmNormal;
    TVMROptions options_;
    QPointer<TFilterGraph> graph_;
    bool fullScreen_ = false;
    bool fullScreenTopMost_ = false;
    bool shownFullScreen_ = false;
    QPointer<QWidget> savedParent_;
    QRect savedGeometry_;
    QColor color_ = Qt::black;

    GstElementRef renderer_;    // the bin the graph plays into
    GstElementRef capsFilter_;  // its target size
    GstElementRef scaler_;
    GstElementRef sink_;

    mutable std::mutex frameLock_;
    Frame frame_;                           // guarded by frameLock_
    // The pictures received lately, oldest first, and their bytes; guarded
    // by frameLock_.
    std::deque<Frame> heldFrames_;
    qsizetype heldBytes_ = 0;
    std::atomic<bool> repaintPending_{false};
    // GUI thread only.
    uint64_t framesPainted_ = 0;
    int64_t lastPaintedTimeMs_ = -1;
};

}  // namespace clipmora
