// The video window: its renderer bin, the hand-over of pictures from the
// streaming threads, painting, resizing and the full-screen view.
#include "preview/video_window.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <QKeyEvent>
#include <QMetaObject>
#include <QPainter>

#include <algorithm>

namespace clipmora {
namespace {

constexpr unsigned kMaxStreams = 16;

bool rendererElementsInstalled()
{
    EnsureGstInitialised();
    for (const char* factory : {"videoscale", "videoconvert", "appsink", "capsfilter"})
        if (!FindElementFactory(factory))
            return false;
    return true;
}

}  // namespace

// --- options ----------------------------------------------------------------

void TVMROptions::SetMode(TVMRVideoMode mode)
{
    mode_ = mode;
    owner_.reattach();
}

void TVMROptions::SetStreams(unsigned streams)
{
    streams_ = streams >= 1 && streams <= kMaxStreams ? streams : 1;
    owner_.reattach();
}

void TVMROptions::SetPreferences(uint8_t preferences)
{
    preferences_ = preferences;
    owner_.reattach();
}

void TVMROptions::SetKeepAspectRatio(bool keep)
{
    keepAspectRatio_ = keep;
    if (mode_ == vmrWindowed || mode_ == vmrWindowless)
        owner_.applyTargetSize();
}

// --- the control ------------------------------------------------------------

// GStreamer starts when the control first asks it for its renderer (SetMode,
// attaching to an active graph), so a window can show its control before.
TVideoWindow::TVideoWindow(QWidget* parent) : QWidget(parent), options_(*this)
{
    resize(160, 120);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TVideoWindow::~TVideoWindow() { SetFilterGraph(nullptr); }

std::string TVideoWindow::GetFilterName() const { return objectName().toStdString(); }

void TVideoWindow::SetMode(TVideoMode mode)
{
    mode_ = mode == vmVMR && !rendererElementsInstalled() ? vmNormal : mode;
    reattach();
}

void TVideoWindow::SetFilterGraph(TFilterGraph* graph)
{
    if (graph == graph_)
        return;
    if (graph_) {
        graph_->RemoveFilterOwner(this);
        graph_->RemoveEventListener(this);
    }
    graph_ = graph;
    if (graph_) {
        graph_->AddFilterOwner(this);
        graph_->AddEventListener(this);
    }
}

bool TVideoWindow::attachedToActiveGraph() const { return graph_ && graph_->Active(); }

// Rebuilds the renderer with the current options.
void TVideoWindow::reattach()
{
    if (!attachedToActiveGraph())
        return;
    graph_->RemoveFilterOwner(this);
    graph_->AddFilterOwner(this);
}

void TVideoWindow::NotifyFilterStage(int operation)
{
    switch (operation) {
    case fsBeforeAdd:
        if (mode_ == vmVMR && options_.mode_ == vmrRenderless) {
            if (!AllocatorClass)
                throw EPreviewException("Allocator class not set.");
            if (!AllocatorClass(*this))
                throw EPreviewException("Error Creating Allocator");
        }
        makeRenderer();
        break;
    case fsAdded:
        applyTargetSize();
        break;
    case fsBeforeRemove:
        if (renderer_)
            gst_element_set_state(renderer_.get(), GST_STATE_NULL);
        break;
    case fsRemoved: {
        renderer_.reset();
        capsFilter_.reset();
        scaler_.reset();
        sink_.reset();
        std::lock_guard guard(frameLock_);
        frame_ = Frame{};
        heldFrames_.clear();
        heldBytes_ = 0;
        update();
        break;
    }
    default:
        break;
    }
}

void TVideoWindow::makeRenderer()
{
    GstElementRef bin = GstElementRef::adopt(gst_bin_new(GetFilterName().c_str()));
    GstElementRef scaler = MakeElement("videoscale");
    GstElementRef convert = MakeElement("videoconvert");
    GstElementRef caps = MakeElement("capsfilter");
    GstElementRef sink = MakeElement("appsink");
    if (!scaler || !convert || !caps || !sink)
        throw EPreviewException("The video renderer is not installed.");
    for (GstElement* element : {scaler.get(), convert.get(), caps.get(), sink.get()})
        AddToBin(bin.get(), element);
    if (!gst_element_link_many(scaler.get(), convert.get(), caps.get(), sink.get(), nullptr))
        throw EPreviewException("The video renderer is not installed.");
    GstPadRef target = GstPadRef::adopt(gst_element_get_static_pad(scaler.get(), "sink"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", target.get()));

    // Pictures are shown at their time; late ones are dropped by the sink,
    // which also tells the decoders to catch up.
    g_object_set(sink.get(), "sync", TRUE, "qos", TRUE, "max-buffers", 1u, "drop", FALSE,
                 "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_preroll = &TVideoWindow::onPreroll;
    callbacks.new_sample = &TVideoWindow::onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, this, nullptr);
    GstPadRef sinkPad = GstPadRef::adopt(gst_element_get_static_pad(sink.get(), "sink"));
    gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_BUFFER, &TVideoWindow::onArrival, this,
                      nullptr);

    renderer_ = std::move(bin);
    scaler_ = std::move(scaler);
    capsFilter_ = std::move(caps);
    sink_ = std::move(sink);
}

// The renderer scales to the control's pixels; with the aspect ratio kept it
// adds black borders instead of stretching.
void TVideoWindow::applyTargetSize()
{
    if (!capsFilter_)
        return;
    const qreal ratio = devicePixelRatioF();
    const int width = std::max(2, qRound(this->width() * ratio));
    const int height = std::max(2, qRound(this->height() * ratio));
    const bool keep = mode_ == vmVMR ? options_.keepAspectRatio_ : false;
    g_object_set(scaler_.get(), "add-borders", keep, nullptr);
    const GstCapsRef caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx",
                                              "width", G_TYPE_INT, width, "height", G_TYPE_INT,
                                              height, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1,
                                              1, nullptr));
    g_object_set(capsFilter_.get(), "caps", caps.get(), nullptr);
}

GstFlowReturn TVideoWindow::onPreroll(GstAppSink* sink, gpointer self)
{
    static_cast<TVideoWindow*>(self)->takeSample(GstSampleRef(gst_app_sink_pull_preroll(sink)));
    return GST_FLOW_OK;
}

GstFlowReturn TVideoWindow::onSample(GstAppSink* sink, gpointer self)
{
    static_cast<TVideoWindow*>(self)->takeSample(GstSampleRef(gst_app_sink_pull_sample(sink)));
    return GST_FLOW_OK;
}

// Streaming thread: a picture that arrives before the segment begins (the
// lead of an exact seek) is never shown, and the sink drops it; it is held
// for steps back.
GstPadProbeReturn TVideoWindow::onArrival(GstPad* pad, GstPadProbeInfo* info, gpointer self)
{
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstEventRef segmentEvent = PadSegmentEvent(pad);
    const GstSegment* segment = SegmentOf(segmentEvent);
    if (!buffer || !BufferBeforeSegment(segment, buffer))
        return GST_PAD_PROBE_OK;
    const GstCapsRef caps(gst_pad_get_current_caps(pad));
    const Frame frame = caps ? frameOf(buffer, caps.get(), segment) : Frame{};
    if (!frame.picture.isNull()) {
        std::lock_guard guard(static_cast<TVideoWindow*>(self)->frameLock_);
        static_cast<TVideoWindow*>(self)->holdLocked(frame);
    }
    return GST_PAD_PROBE_OK;
}

// A copy of the picture in `buffer` (already at the control's size, so the
// copy is cheap and frees the buffer for the pipeline at once) with its
// stream time; a null picture when it cannot be read.
TVideoWindow::Frame TVideoWindow::frameOf(GstBuffer* buffer, GstCaps* caps,
                                          const GstSegment* segment)
{
    Frame frame;
    GstVideoInfo info;
    if (!buffer || !gst_video_info_from_caps(&info, caps))
        return frame;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return frame;
    frame.picture = QImage(map.data, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                           GST_VIDEO_INFO_PLANE_STRIDE(&info, 0), QImage::Format_RGB32)
                        .copy();
    gst_buffer_unmap(buffer, &map);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    guint64 streamTime = 0;
    // The full conversion also gives the time of a picture before the
    // segment's start.
    if (GST_CLOCK_TIME_IS_VALID(pts) && segment &&
        gst_segment_to_stream_time_full(segment, GST_FORMAT_TIME, pts, &streamTime) > 0) {
        frame.timeMs = static_cast<int64_t>(streamTime / GST_MSECOND);
        const GstClockTime duration = GST_BUFFER_DURATION(buffer);
        if (GST_CLOCK_TIME_IS_VALID(duration)) {
            frame.startNs = streamTime;
            frame.endNs = streamTime + duration;
        }
    }
    return frame;
}

// Keeps `frame` among the held pictures, within kHeldPictureBytes (the
// oldest go first). Called with frameLock_ held.
void TVideoWindow::holdLocked(const Frame& frame)
{
    if (frame.endNs <= frame.startNs)
        return;
    // A picture shown again (after a seek back to it) is held once.
    for (auto held = heldFrames_.begin(); held != heldFrames_.end();) {
        if (held->startNs != frame.startNs) {
            ++held;
            continue;
        }
        heldBytes_ -= held->picture.sizeInBytes();
        held = heldFrames_.erase(held);
    }
    heldFrames_.push_back(frame);
    heldBytes_ += frame.picture.sizeInBytes();
    while (heldBytes_ > kHeldPictureBytes && !heldFrames_.empty()) {
        heldBytes_ -= heldFrames_.front().picture.sizeInBytes();
        heldFrames_.pop_front();
    }
}

// Streaming thread: keeps the newest picture and asks the GUI thread for
// one repaint, however many pictures arrive before it runs.
void TVideoWindow::takeSample(GstSampleRef sample)
{
    if (!sample)
        return;
    Frame frame = frameOf(gst_sample_get_buffer(sample.get()), gst_sample_get_caps(sample.get()),
                          gst_sample_get_segment(sample.get()));
    if (frame.picture.isNull())
        return;
#ifdef CLIPMORA_PLANT_RACES
    // Race check build only: the streaming thread writes the shown picture
    // outside frameLock_ while the GUI thread reads it under the lock.
    frame_.timeMs = frame.timeMs;
#endif
    {
        std::lock_guard guard(frameLock_);
        holdLocked(frame);
        frame_ = std::move(frame);
    }
    if (!repaintPending_.exchange(true))
        QMetaObject::invokeMethod(
            this, [this] {
                repaintPending_ = false;
                update();
            },
            Qt::QueuedConnection);
}

void TVideoWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), color_);
    Frame frame;
    {
        std::lock_guard guard(frameLock_);
        frame = frame_;
    }
    if (!frame.picture.isNull()) {
        const QSizeF logical = QSizeF(frame.picture.size()) / devicePixelRatioF();
        if (logical.toSize() == size()) {
            painter.drawImage(QPointF(0, 0), frame.picture);
        } else {
            // A resize is on its way to the renderer: fit the old picture.
            QSizeF fitted = logical.scaled(QSizeF(size()), Qt::KeepAspectRatio);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRectF(QPointF((width() - fitted.width()) / 2,
                                             (height() - fitted.height()) / 2),
                                     fitted),
                              frame.picture);
        }
        ++framesPainted_;
        lastPaintedTimeMs_ = frame.timeMs;
    }
    if (OnPaint)
        OnPaint();
}

void TVideoWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    applyTargetSize();
}

void TVideoWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && fullScreen_) {
        SetFullScreen(false);
        return;
    }
    QWidget::keyPressEvent(event);
}

void TVideoWindow::SetColor(const QColor& color)
{
    color_ = color;
    update();
}

uintptr_t TVideoWindow::VideoHandle() const { return static_cast<uintptr_t>(effectiveWinId()); }

bool TVideoWindow::Connected() const
{
    if (!renderer_)
        return false;
    GstPadRef pad = GstPadRef::adopt(gst_element_get_static_pad(renderer_.get(), "sink"));
    return pad && gst_pad_is_linked(pad.get());
}

TVideoWindow::RenderStats TVideoWindow::Stats() const
{
    RenderStats stats;
    stats.framesPainted = framesPainted_;
    stats.lastPaintedTimeMs = lastPaintedTimeMs_;
    if (sink_) {
        GstStructure* counts = nullptr;
        g_object_get(sink_.get(), "stats", &counts, nullptr);
        if (counts) {
            guint64 value = 0;
            if (gst_structure_get_uint64(counts, "rendered", &value))
                stats.rendered = value;
            if (gst_structure_get_uint64(counts, "dropped", &value))
                stats.dropped = value;
            gst_structure_free(counts);
        }
    }
    return stats;
}

bool TVideoWindow::ShowHeldPicture(int64_t timeMs)
{
    if (timeMs < 0)
        return false;
    const uint64_t timeNs = static_cast<uint64_t>(timeMs) * GST_MSECOND;
    {
        std::lock_guard guard(frameLock_);
        // The newest copy of a picture is the one at the control's size.
        const auto held = std::find_if(heldFrames_.rbegin(), heldFrames_.rend(), [&](const Frame& f) {
            return f.startNs <= timeNs && timeNs < f.endNs;
        });
        if (held == heldFrames_.rend())
            return false;
        frame_ = *held;
    }
    update();
    return true;
}

QImage TVideoWindow::CurrentPicture() const
{
    std::lock_guard guard(frameLock_);
    return frame_.picture.copy();
}

// --- full screen -------------------------------------------------------------

void TVideoWindow::SetFullScreen(bool on)
{
    fullScreen_ = on;
    applyFullScreen();
}

void TVideoWindow::SetFullScreenTopMost(bool on)
{
    fullScreenTopMost_ = on;
    if (fullScreen_) {
        shownFullScreen_ = false;  // shown again with the new stacking
        applyFullScreen();
    }
}

// The control leaves its parent and covers the screen, and comes back to
// its place; both only while a file's pictures reach it.
void TVideoWindow::applyFullScreen()
{
    if (!Connected() && fullScreen_)
        return;
    if (fullScreen_ && !shownFullScreen_) {
        if (!savedParent_) {
            savedParent_ = parentWidget();
            savedGeometry_ = geometry();
        }
        Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint;
        if (fullScreenTopMost_)
            flags |= Qt::WindowStaysOnTopHint;
        setParent(nullptr, flags);
        showFullScreen();
        setFocus();
        shownFullScreen_ = true;
    } else if (!fullScreen_ && shownFullScreen_) {
        setParent(savedParent_, Qt::Widget);
        setGeometry(savedGeometry_);
        savedParent_ = nullptr;
        show();
        shownFullScreen_ = false;
    }
}

// --- graph events -------------------------------------------------------------

void TVideoWindow::HandleControlEvent(int event, int)
{
    if (event == ceFileRendering) {
        std::lock_guard guard(frameLock_);
        heldFrames_.clear();
        heldBytes_ = 0;
    }
    // Starting playback puts the picture where it belongs.
    if (event == cePlay && Connected())
        applyFullScreen();
}

void TVideoWindow::HandleGraphEvent(int code, intptr_t, intptr_t)
{
    if (code == ecPaletteChanged && Connected())
        applyFullScreen();
}

}  // namespace clipmora
