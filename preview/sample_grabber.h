// TSampleGrabber: keeps the picture that the preview shows, at the source's
// own size, for snapshots.
//
// Its element sits in the graph's video chain straight in front of the
// renderer and holds on to the newest decoded picture as it passes (a
// reference, no copy). Only when a snapshot asks for it is that picture
// turned into 24-bit RGB, so previewing costs nothing extra.
//
// Threads: the element's probe runs on GStreamer's streaming thread; it only
// swaps the held picture (under sampleLock_) and raises OnBuffer (serialised
// by callbackLock_). Everything else runs on the GUI thread.
#pragma once

#include "preview/filter_graph.h"
#include "preview/media_type.h"

#include <QImage>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

namespace clipmora {

class TSampleGrabber : public QObject, public IFilterOwner {
    Q_OBJECT

public:
    explicit TSampleGrabber(QObject* owner = nullptr);
    ~TSampleGrabber() override;

    // Raised for every picture on the streaming thread, with the picture as
    // 24-bit RGB rows (bottom-up, as bitmaps keep them) and its time in
    // seconds. Calls never overlap.
    // Assign it while the graph is inactive.
    std::function<void(TSampleGrabber& sender, double sampleTime, const uint8_t* buffer,
                       int bufferLength)>
        OnBuffer;

    TFilterGraph* FilterGraph() const { return graph_; }
    void SetFilterGraph(TFilterGraph* graph);
    // The only type of picture the grabber hands out: 24-bit RGB video.
    const TMediaType& MediaType() const { return mediaType_; }
    void SetMediaType(const TMediaType& type);

    // The type of the pictures as they reach the grabber, described as the
    // grabber hands them out; empty before the first picture.
    std::optional<TMediaType> ConnectedMediaType() const;

    // Copies the held picture into `bitmap` at the source's size; false
    // (and `bitmap` untouched) when there is no bitmap, no picture, or the
    // picture cannot be described as a bitmap.
    bool CopyFrameToBitmap(QImage* bitmap) const;
    // The same with the caller's bitmap rows (bottom-up, rows padded to four
    // bytes) instead of the held picture; false for an empty buffer.
    bool CopyFrameToBitmap(QImage* bitmap, const uint8_t* buffer, int bufferLength) const;

    // IFilterOwner
    GstElement* ProvideFilter() override { return element_.get(); }
    std::string GetFilterName() const override { return objectName().toStdString(); }
    TFilterRole FilterRole() const override { return TFilterRole::VideoFilter; }
    // Stages 0..3, and 4: apply the media type again.
    void NotifyFilterStage(int operation) override;

private:
    static GstPadProbeReturn onPicture(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    void raiseOnBuffer(GstSample* sample);
    void applyMediaType();
    static bool toBitmapRows(GstSample* sample, QImage& bitmap);
    static std::optional<TMediaType> typeOf(GstSample* sample);
    GstSampleRef heldSample() const;

    QPointer<TFilterGraph> graph_;
    TMediaType mediaType_;
    GstElementRef element_;
    // The media type is one the grabber can hand out (read by the probe).
    std::atomic<bool> accepting_{false};

    mutable std::mutex sampleLock_;
    GstSampleRef lastSample_;  // guarded by sampleLock_
    std::mutex callbackLock_;  // serialises OnBuffer
};

}  // namespace clipmora
