// The video output path: frame-rate synchronisation (duplicating or dropping
// pictures), cropping, scaling and padding into the encoder's picture, and
// encoding.
#include "engine/ffmpeg_exception.h"
#include "engine/run_state.h"

#include <cmath>
#include <cstring>

namespace clipmora {
namespace {

// Moves a picture's plane pointers `top` rows down and `left` columns right,
// for planar formats (chroma planes by their subsampling).
bool offsetPlanes(uint8_t* data[4], const int linesize[4], AVPixelFormat format, int top,
                  int left)
{
    const AVPixFmtDescriptor* descriptor = lib.av_pix_fmt_desc_get(format);
    if (!descriptor || (descriptor->flags & AV_PIX_FMT_FLAG_BITSTREAM))
        return false;
    if (!(descriptor->flags & AV_PIX_FMT_FLAG_PLANAR)) {
        // Packed: one plane, whole pixels.
        const int pixelBytes = descriptor->comp[0].step;
        data[0] += static_cast<std::ptrdiff_t>(top) * linesize[0] + left * pixelBytes;
        return true;
    }
    for (int plane = 0; plane < 4 && data[plane]; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int rows = chroma ? top >> descriptor->log2_chroma_h : top;
        const int columns = chroma ? left >> descriptor->log2_chroma_w : left;
        int step = 1;
        for (int c = 0; c < descriptor->nb_components; ++c)
            if (descriptor->comp[c].plane == plane)
                step = descriptor->comp[c].step;
        data[plane] += static_cast<std::ptrdiff_t>(rows) * linesize[plane] + columns * step;
    }
    return true;
}

// Paints the bands around the inner picture of `frame` with the pad colour.
// Planar YUV gets the colour's Y, U and V; other formats are cleared to zero.
void paintPads(AVFrame* frame, int top, int bottom, int left, int right,
               const std::array<int, 3>& yuv)
{
    const AVPixFmtDescriptor* descriptor =
        lib.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    const bool planarYuv = descriptor && (descriptor->flags & AV_PIX_FMT_FLAG_PLANAR) &&
                           !(descriptor->flags & AV_PIX_FMT_FLAG_RGB) &&
                           descriptor->comp[0].depth == 8;
    for (int plane = 0; plane < 4 && frame->data[plane]; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int shiftW = chroma && descriptor ? descriptor->log2_chroma_w : 0;
        const int shiftH = chroma && descriptor ? descriptor->log2_chroma_h : 0;
        const int width = -((-frame->width) >> shiftW);
        const int height = -((-frame->height) >> shiftH);
        const int bytesPerRow = planarYuv ? width : frame->linesize[plane];
        const uint8_t value = planarYuv && plane < 3 ? static_cast<uint8_t>(yuv[plane]) : 0;
        const int padTop = top >> shiftH, padBottom = bottom >> shiftH;
        const int padLeft = planarYuv ? left >> shiftW : 0;
        const int padRight = planarYuv ? right >> shiftW : 0;
        for (int y = 0; y < height; ++y) {
            uint8_t* row = frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane];
            if (y < padTop || y >= height - padBottom) {
                std::memset(row, value, static_cast<std::size_t>(bytesPerRow));
            } else {
                std::memset(row, value, static_cast<std::size_t>(padLeft));
                std::memset(row + width - padRight, value, static_cast<std::size_t>(padRight));
            }
        }
    }
}

}  // namespace

void TCustomFFmpeg::preprocessPicture(RunState&, TInputStream&, AVFrame*)
{
}

int TCustomFFmpeg::videoOutput(RunState& run, TOutputStream& ost, TInputStream& ist,
                               const AVFrame* picture)
{
    const OptionState& o = options_;
    AVCodecContext* encoder = ost.Encoder;
    const double timeBase = av_q2d(encoder->time_base);
    const TInputStream& sync = run.Inputs[ost.SyncIndex];
    const double ipts = static_cast<double>(sync.CurrentPts - o.startTime) / 1000000.0;

    int64_t copies = 1;
    if (o.videoSync > 0 || (o.videoSync == -1 && timeBase > 0.001)) {
        const double vdelta = ipts / timeBase - static_cast<double>(ost.SyncCount);
        if (vdelta < -1.1)
            copies = 0;
        else if (o.videoSync == 2)
            ost.SyncCount = std::llrint(ipts / timeBase);
        else if (vdelta > 1.1)
            copies = std::llrint(vdelta);
        if (copies == 0) {
            ++run.DroppedFrames;
            if (o.verbosity > 2)
                LogMessage(1, "*** drop!");
        } else if (copies > 1) {
            run.DuplicatedFrames += static_cast<int>(copies - 1);
            if (o.verbosity > 2)
                LogMessage(1, "*** %d dup!", static_cast<int>(copies - 1));
        }
    } else {
        ost.SyncCount = std::llrint(ipts / timeBase);
    }
    copies = std::min<int64_t>(copies, o.maxVideoFrames - ost.FrameNumber);
    if (copies <= 0)
        return 0;

    // The source picture, cropped as a view into the decoded one.
    FramePtr source(lib.av_frame_alloc());
    if (!source || lib.av_frame_ref(source.get(), picture) < 0)
        throw FFMpegException("av_mallocz fail");
    const AVPixelFormat sourceFormat = static_cast<AVPixelFormat>(picture->format);
    if (ost.Crop) {
        if (!offsetPlanes(source->data, source->linesize, sourceFormat, ost.TopBand,
                          ost.LeftBand)) {
            EngineLog(nullptr, 0, "error cropping picture\n");
            return 0;
        }
        source->width = picture->width - o.cropLeft - o.cropRight;
        source->height = picture->height - o.cropTop - o.cropBottom;
    }

    AVFrame* output = source.get();
    if (ost.Resample || ost.Pad) {
        // The encoder may still hold the previous picture; never draw over it.
        if (lib.av_frame_make_writable(ost.Picture.get()) < 0)
            throw FFMpegException("av_mallocz fail");
        AVFrame* target = ost.Picture.get();
        uint8_t* inner[4] = {target->data[0], target->data[1], target->data[2], target->data[3]};
        if (ost.Pad &&
            !offsetPlanes(inner, target->linesize, encoder->pix_fmt, ost.PadTop, ost.PadLeft)) {
            EngineLog(nullptr, 0, "error padding picture\n");
            return 0;
        }
        if (ost.Resample) {
            lib.sws_scale(ost.Scaler.get(), source->data, source->linesize, 0,
                          ost.ScaledSourceHeight, inner, target->linesize);
        } else {
            lib.av_image_copy(inner, target->linesize, const_cast<const uint8_t**>(source->data),
                              source->linesize, encoder->pix_fmt, source->width, source->height);
        }
        if (ost.Pad)
            paintPads(target, ost.PadTop, ost.PadBottom, ost.PadLeft, ost.PadRight, o.padColorYuv);
        output = target;
    }

    int written = 0;
    for (int64_t i = 0; i < copies && !stopRequested_; ++i) {
        FramePtr frame(lib.av_frame_alloc());
        if (!frame || lib.av_frame_ref(frame.get(), output) < 0)
            throw FFMpegException("av_mallocz fail");
        frame->pts = ost.SyncCount;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        frame->interlaced_frame = picture->interlaced_frame;
        frame->top_field_first =
            o.topFieldFirst == -1 ? picture->top_field_first : o.topFieldFirst;
        if (o.sameQuality)
            frame->quality = static_cast<int>(std::lround(ist.Quality));
        const int64_t before = run.VideoBytes;
        encodeFrame(run, ost, frame.get());
        written = static_cast<int>(run.VideoBytes - before);
        ++ost.SyncCount;
        ++ost.FrameNumber;
    }
    return written;
}

}  // namespace clipmora
