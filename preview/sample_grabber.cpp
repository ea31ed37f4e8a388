// The frame grabber: holding the newest picture, describing it, and turning
// it into a 24-bit bitmap on request.
#include "preview/sample_grabber.h"

#include <gst/video/video.h>

#include <cstring>
#include <memory>

namespace clipmora {
namespace {

struct ConverterDeleter {
    void operator()(GstVideoConverter* converter) const { gst_video_converter_free(converter); }
};

// The rows of a bitmap as it is kept in memory: bottom-up, each padded to
// four bytes.
std::vector<uint8_t> bottomUpRows(const QImage& picture)
{
    const int stride = ((picture.width() * 3 + 3) / 4) * 4;
    std::vector<uint8_t> rows(static_cast<size_t>(stride) * picture.height(), 0);
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(rows.data() + static_cast<size_t>(picture.height() - 1 - y) * stride,
                    picture.constScanLine(y), static_cast<size_t>(picture.width()) * 3);
    return rows;
}

}  // namespace

TSampleGrabber::TSampleGrabber(QObject* owner) : QObject(owner)
{
    EnsureGstInitialised();
    if (!FindElementFactory("identity"))
        throw EPreviewException("The SampleGrabber Filter is not available on this system.");
    mediaType_.majortype = kMediaTypeVideo;
    mediaType_.subtype = kMediaSubtypeRgb24;
    mediaType_.formattype = kFormatVideoInfo;
    accepting_ = true;
}

TSampleGrabber::~TSampleGrabber() { SetFilterGraph(nullptr); }

void TSampleGrabber::SetFilterGraph(TFilterGraph* graph)
{
    if (graph == graph_)
        return;
    if (graph_)
        graph_->RemoveFilterOwner(this);
    graph_ = graph;
    if (graph_)
        graph_->AddFilterOwner(this);
}

void TSampleGrabber::SetMediaType(const TMediaType& type)
{
    mediaType_ = type;
    applyMediaType();
}

// The grabber hands out 24-bit RGB video only; any other type makes it let
// pictures pass without holding them.
void TSampleGrabber::applyMediaType()
{
    accepting_ = mediaType_.majortype == kMediaTypeVideo && mediaType_.subtype == kMediaSubtypeRgb24;
    if (!accepting_) {
        std::lock_guard guard(sampleLock_);
        lastSample_.reset();
    }
}

void TSampleGrabber::NotifyFilterStage(int operation)
{
    switch (operation) {
    case fsBeforeAdd:
        element_ = MakeElement("identity");
        if (!element_)
            throw EPreviewException("The SampleGrabber Filter is not available on this system.");
        g_object_set(element_.get(), "silent", TRUE, nullptr);
        break;
    case fsAdded: {
        applyMediaType();
        GstPadRef pad = GstPadRef::adopt(gst_element_get_static_pad(element_.get(), "sink"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &TSampleGrabber::onPicture, this,
                          nullptr);
        break;
    }
    case fsBeforeRemove:
        if (element_)
            gst_element_set_state(element_.get(), GST_STATE_NULL);
        break;
    case fsRemoved: {
        // The element goes with its probe; no picture outlives the graph.
        element_.reset();
        std::lock_guard guard(sampleLock_);
        lastSample_.reset();
        break;
    }
    case 4:
        applyMediaType();
        break;
    default:
        break;
    }
}

GstPadProbeReturn TSampleGrabber::onPicture(GstPad* pad, GstPadProbeInfo* info, gpointer self)
{
    auto* grabber = static_cast<TSampleGrabber*>(self);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    // A picture before the segment's start (the lead of an exact seek) is
    // never shown, so it is not the one a snapshot takes.
    if (!buffer || !grabber->accepting_ ||
        BufferBeforeSegment(SegmentOf(PadSegmentEvent(pad)), buffer))
        return GST_PAD_PROBE_OK;
    const GstCapsRef caps(gst_pad_get_current_caps(pad));
    GstSampleRef sample(gst_sample_new(buffer, caps.get(), nullptr, nullptr));
    if (grabber->OnBuffer)
        grabber->raiseOnBuffer(sample.get());
#ifdef CLIPMORA_PLANT_RACES
    // Race check build only: the streaming thread moves the held sample out
    // and back outside sampleLock_ while the GUI thread copies it under it.
    GstSampleRef plantedHeld = std::move(grabber->lastSample_);
    grabber->lastSample_ = std::move(plantedHeld);
#endif
    std::lock_guard guard(grabber->sampleLock_);
    grabber->lastSample_ = std::move(sample);
    return GST_PAD_PROBE_OK;
}

void TSampleGrabber::raiseOnBuffer(GstSample* sample)
{
    QImage picture;
    if (!toBitmapRows(sample, picture))
        return;
    const std::vector<uint8_t> rows = bottomUpRows(picture);
    const GstClockTime pts = GST_BUFFER_PTS(gst_sample_get_buffer(sample));
    const double seconds = GST_CLOCK_TIME_IS_VALID(pts) ? pts / double(GST_SECOND) : 0.0;
    std::lock_guard guard(callbackLock_);
    OnBuffer(*this, seconds, rows.data(), static_cast<int>(rows.size()));
}

// The type a held picture is handed out as: 24-bit RGB at its own size.
std::optional<TMediaType> TSampleGrabber::typeOf(GstSample* sample)
{
    GstVideoInfo info;
    if (!sample || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample)))
        return std::nullopt;
    return TMediaType::Rgb24Video(GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info));
}

GstSampleRef TSampleGrabber::heldSample() const
{
    std::lock_guard guard(sampleLock_);
    return lastSample_;
}

std::optional<TMediaType> TSampleGrabber::ConnectedMediaType() const
{
    return typeOf(heldSample().get());
}

// Converts a picture to 24-bit RGB (blue, green, red in memory) at its own
// size, top row first.
bool TSampleGrabber::toBitmapRows(GstSample* sample, QImage& bitmap)
{
    GstVideoInfo in;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!buffer || !gst_video_info_from_caps(&in, gst_sample_get_caps(sample)))
        return false;
    GstVideoInfo out;
    gst_video_info_set_format(&out, GST_VIDEO_FORMAT_BGR, GST_VIDEO_INFO_WIDTH(&in),
                              GST_VIDEO_INFO_HEIGHT(&in));
    // The converter changes the pixels only, not the timing or the layout
    // of fields.
    GST_VIDEO_INFO_FPS_N(&out) = GST_VIDEO_INFO_FPS_N(&in);
    GST_VIDEO_INFO_FPS_D(&out) = GST_VIDEO_INFO_FPS_D(&in);
    GST_VIDEO_INFO_INTERLACE_MODE(&out) = GST_VIDEO_INFO_INTERLACE_MODE(&in);
    QImage picture(GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_INFO_HEIGHT(&in), QImage::Format_BGR888);
    if (picture.isNull())
        return false;
    // The converter writes straight into the picture's rows.
    GST_VIDEO_INFO_PLANE_STRIDE(&out, 0) = static_cast<gint>(picture.bytesPerLine());
    GST_VIDEO_INFO_SIZE(&out) = static_cast<gsize>(picture.sizeInBytes());

    GstVideoFrame source;
    if (!gst_video_frame_map(&source, &in, buffer, GST_MAP_READ))
        return false;
    GstVideoFrame target;
    GstBuffer* wrapped = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_NO_SHARE, picture.bits(),
                                                     static_cast<gsize>(picture.sizeInBytes()), 0,
                                                     static_cast<gsize>(picture.sizeInBytes()),
                                                     nullptr, nullptr);
    bool converted = false;
    if (gst_video_frame_map(&target, &out, wrapped, GST_MAP_WRITE)) {
        std::unique_ptr<GstVideoConverter, ConverterDeleter> converter(
            gst_video_converter_new(&in, &out, nullptr));
        if (converter) {
            gst_video_converter_frame(converter.get(), &source, &target);
            converted = true;
        }
        gst_video_frame_unmap(&target);
    }
    gst_buffer_unref(wrapped);
    gst_video_frame_unmap(&source);
    if (converted)
        bitmap = std::move(picture);
    return converted;
}

bool TSampleGrabber::CopyFrameToBitmap(QImage* bitmap) const
{
    if (!bitmap)
        return false;
    // One picture is described and copied, however many arrive meanwhile.
    const GstSampleRef sample = heldSample();
    const std::optional<TMediaType> connected = typeOf(sample.get());
    if (!connected || !connected->BitmapHeader())
        return false;
    return toBitmapRows(sample.get(), *bitmap);
}

bool TSampleGrabber::CopyFrameToBitmap(QImage* bitmap, const uint8_t* buffer,
                                       int bufferLength) const
{
    if (!bitmap || !buffer || bufferLength <= 0)
        return false;
    const std::optional<TMediaType> connected = ConnectedMediaType();
    const std::optional<TBitmapHeader> header =
        connected ? connected->BitmapHeader() : std::nullopt;
    if (!header || header->bitCount != 24 || header->width <= 0 || header->height == 0)
        return false;
    const int rows = header->height < 0 ? -header->height : header->height;
    QImage picture(header->width, rows, QImage::Format_BGR888);
    if (picture.isNull())
        return false;
    picture.fill(Qt::black);
    // The caller's rows are a bitmap's: bottom-up unless the height is
    // negative, each padded to four bytes.
    const int64_t available = std::min<int64_t>(bufferLength, header->PictureSize());
    const int stride = header->Stride();
    for (int row = 0; row < rows && int64_t{row} * stride < available; ++row) {
        const int64_t length = std::min<int64_t>(available - int64_t{row} * stride,
                                                 int64_t{header->width} * 3);
        const int y = header->height > 0 ? rows - 1 - row : row;
        std::memcpy(picture.scanLine(y), buffer + static_cast<size_t>(row) * stride,
                    static_cast<size_t>(length));
    }
    *bitmap = std::move(picture);
    return true;
}

}  // namespace clipmora
