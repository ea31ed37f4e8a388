// The video output path: frame-rate synchronisation (duplicating or dropping
// pictures), cropping, scaling and padding into the encoder's picture, and
// encoding.
#include "engine/ffmpeg_exception.h"
#include "engine/run_stages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace clipmora {
namespace {

// The custom hook sees pictures as 24-bit BGR rows.
constexpr AVPixelFormat kHookFormat = AV_PIX_FMT_BGR24;

// The bands cut off a picture's edges (crop) or left around its inner picture
// (pad), in pixels.
struct Bands {
    int top, bottom, left, right;
};

// A view of `picture` without `bands`, sharing its buffers; null when the
// picture's format cannot be cut that way (the library would cut bit-packed
// pictures at the right and bottom only).
FramePtr bandView(const AVFrame* picture, const Bands& bands)
{
    FramePtr view(lib.av_frame_alloc());
    if (!view || lib.av_frame_ref(view.get(), picture) < 0)
        throw FFMpegException("av_mallocz fail");
    if (bands.top == 0 && bands.bottom == 0 && bands.left == 0 && bands.right == 0)
        return view;
    const AVPixFmtDescriptor* descriptor =
        lib.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
    if (!descriptor || (descriptor->flags & AV_PIX_FMT_FLAG_BITSTREAM))
        return nullptr;
    view->crop_top = static_cast<std::size_t>(bands.top);
    view->crop_bottom = static_cast<std::size_t>(bands.bottom);
    view->crop_left = static_cast<std::size_t>(bands.left);
    view->crop_right = static_cast<std::size_t>(bands.right);
    if (lib.av_frame_apply_cropping(view.get(), AV_FRAME_CROP_UNALIGNED) < 0)
        return nullptr;
    return view;
}

// A picture's size and pad bands in one component's samples.
struct Band {
    int width, height;
    int top, bottom, left, right;
};

// Clears the top and bottom bands of the picture's first plane to zero (for
// palette pictures, their first entry).
void clearPads(AVFrame* frame, int top, int bottom)
{
    for (int y = 0; y < frame->height; ++y)
        if (y < top || y >= frame->height - bottom)
            std::memset(frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0], 0,
                        static_cast<std::size_t>(frame->linesize[0]));
}

bool isAlpha(const AVPixFmtDescriptor& descriptor, int component)
{
    return (descriptor.flags & AV_PIX_FMT_FLAG_ALPHA) && component == descriptor.nb_components - 1;
}

bool isChroma(const AVPixFmtDescriptor& descriptor, int component)
{
    return !(descriptor.flags & AV_PIX_FMT_FLAG_RGB) && descriptor.nb_components >= 3 &&
           (component == 1 || component == 2);
}

// The value each component of a pad pixel takes: YUV pictures get the
// colour's Y, U and V at their depth, RGB pictures the colour itself; alpha
// is opaque.
std::array<int, 4> padValues(const AVPixFmtDescriptor& descriptor, const std::array<int, 3>& yuv,
                             const std::array<int, 3>& rgb)
{
    const std::array<int, 3>& colour = (descriptor.flags & AV_PIX_FMT_FLAG_RGB) ? rgb : yuv;
    std::array<int, 4> values{};
    for (int c = 0; c < descriptor.nb_components && c < 4; ++c) {
        const int depth = descriptor.comp[c].depth;
        const auto at = static_cast<std::size_t>(c);
        if (isAlpha(descriptor, c))
            values[at] = (1 << depth) - 1;
        else
            values[at] = depth >= 8 ? colour[at] << (depth - 8) : colour[at] >> (8 - depth);
    }
    return values;
}

// How one plane of a picture is laid out across and down, in bytes per
// horizontal unit and the subsampling of its units.
struct PlaneLayout {
    int unitBytes = 0;  // 0: the plane carries no component
    int shiftW = 0;
    int shiftH = 0;
};

PlaneLayout planeLayout(const AVPixFmtDescriptor& descriptor, int plane)
{
    PlaneLayout layout;
    bool chromaOnly = true;
    for (int c = 0; c < descriptor.nb_components; ++c) {
        const AVComponentDescriptor& comp = descriptor.comp[c];
        if (comp.plane != plane)
            continue;
        if (layout.unitBytes == 0 || comp.step < layout.unitBytes)
            layout.unitBytes = comp.step;
        chromaOnly = chromaOnly && isChroma(descriptor, c);
    }
    if (layout.unitBytes > 0 && chromaOnly) {
        layout.shiftW = descriptor.log2_chroma_w;
        layout.shiftH = descriptor.log2_chroma_h;
    }
    return layout;
}

// One row of pad pixels in the picture's own format, as wide as `frame`.
FramePtr padRow(const AVFrame* frame, const AVPixFmtDescriptor& descriptor,
                const std::array<int, 3>& yuv, const std::array<int, 3>& rgb)
{
    FramePtr row(lib.av_frame_alloc());
    if (!row)
        return row;
    row->format = frame->format;
    row->width = frame->width;
    row->height = 1;
    if (lib.av_frame_get_buffer(row.get(), 0) < 0)
        return nullptr;
    for (int plane = 0; plane < 4 && row->data[plane]; ++plane)
        std::memset(row->data[plane], 0, static_cast<std::size_t>(row->linesize[plane]));
    // The writer adds its bits to what the row holds, hence the cleared row.
    const std::array<int, 4> values = padValues(descriptor, yuv, rgb);
    std::vector<uint16_t> line(static_cast<std::size_t>(frame->width));
    for (int c = 0; c < descriptor.nb_components; ++c) {
        const int shiftW = isChroma(descriptor, c) ? descriptor.log2_chroma_w : 0;
        std::fill(line.begin(), line.end(), static_cast<uint16_t>(values[static_cast<std::size_t>(c)]));
        lib.av_write_image_line2(line.data(), row->data, row->linesize, &descriptor, 0, 0, c,
                                 -((-frame->width) >> shiftW), 2);
    }
    return row;
}

// Paints the bands around the inner picture of `frame` with the pad colour
// by copying from one row of pad pixels, so packed, deep and RGB pictures
// get it as planar 8-bit YUV does. Palette and floating-point pictures get
// cleared top and bottom bands instead.
void paintPads(AVFrame* frame, const Bands& pads, const std::array<int, 3>& yuv,
               const std::array<int, 3>& rgb)
{
    const int top = pads.top, bottom = pads.bottom, left = pads.left, right = pads.right;
    const AVPixFmtDescriptor* descriptor =
        lib.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!descriptor || (descriptor->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_FLOAT)))
        return clearPads(frame, top, bottom);
    const FramePtr row = padRow(frame, *descriptor, yuv, rgb);
    if (!row)
        return clearPads(frame, top, bottom);
    for (int plane = 0; plane < 4 && frame->data[plane]; ++plane) {
        const PlaneLayout layout = planeLayout(*descriptor, plane);
        const int unit = layout.unitBytes;
        const Band band{-((-frame->width) >> layout.shiftW), -((-frame->height) >> layout.shiftH),
                        top >> layout.shiftH, bottom >> layout.shiftH, left >> layout.shiftW,
                        right >> layout.shiftW};
        const uint8_t* pad = row->data[plane];
        for (int y = 0; y < band.height && unit > 0; ++y) {
            uint8_t* to = frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane];
            if (y < band.top || y >= band.height - band.bottom) {
                std::memcpy(to, pad, static_cast<std::size_t>(band.width) * unit);
                continue;
            }
            const std::size_t rightStart = static_cast<std::size_t>(band.width - band.right) * unit;
            std::memcpy(to, pad, static_cast<std::size_t>(band.left) * unit);
            std::memcpy(to + rightStart, pad + rightStart, static_cast<std::size_t>(band.right) * unit);
        }
    }
}

}  // namespace

VideoPath::VideoPath(const OptionState& options, RunState& run, PacketWriter& writer,
                     VideoHooks hooks, const std::atomic<bool>& stopRequested, const RunLog& log)
    : options_(options), run_(run), writer_(writer), hooks_(std::move(hooks)),
      stopRequested_(stopRequested), log_(log), outputs_(run.Outputs.size())
{
    hookState_.active = options.usingFrameHooks;
    for (VideoOutputState& video : outputs_)
        video.Pad = options.padTop || options.padBottom || options.padLeft || options.padRight;
}

void VideoPath::PrepareSource(int outputIndex, int width, int height, AVPixelFormat format)
{
    const OptionState& o = options_;
    const AVCodecContext* codec = run_.Outputs[static_cast<std::size_t>(outputIndex)].Encoder;
    VideoOutputState& video = outputs_[static_cast<std::size_t>(outputIndex)];
    const int sourceWidth = width - o.cropLeft - o.cropRight;
    const int sourceHeight = height - o.cropTop - o.cropBottom;
    const int innerWidth = codec->width - o.padLeft - o.padRight;
    const int innerHeight = codec->height - o.padTop - o.padBottom;
    video.SourceWidth = width;
    video.SourceHeight = height;
    video.SourceFormat = format;
    video.Resample = sourceWidth != innerWidth || sourceHeight != innerHeight ||
                   codec->pix_fmt != format;
    const char* pictureFailure =
        video.Resample ? "Cannot allocate temp picture, check pix fmt" : "avpicture_alloc fail";
    if ((video.Pad || video.Resample) && !video.Picture) {
        video.Picture.reset(lib.av_frame_alloc());
        if (!video.Picture)
            throw FFMpegException(pictureFailure);
        video.Picture->format = codec->pix_fmt;
        video.Picture->width = codec->width;
        video.Picture->height = codec->height;
        if (lib.av_frame_get_buffer(video.Picture.get(), 0) < 0)
            throw FFMpegException(pictureFailure);
    }
    video.Scaler.reset();
    if (video.Resample) {
        if (sourceWidth > 0 && sourceHeight > 0)
            video.Scaler.reset(lib.sws_getContext(sourceWidth, sourceHeight, format, innerWidth,
                                                innerHeight, codec->pix_fmt, o.scalerFlags,
                                                nullptr, nullptr, nullptr));
        if (!video.Scaler)
            throw FFMpegException("Cannot get resampling context");
        video.ScaledSourceHeight = sourceHeight;
    }
}

bool VideoPath::deinterlace(AVFrame* picture)
{
    HookState& h = hookState_;
    if (!h.deinterlacer || h.deinterlaceWidth != picture->width ||
        h.deinterlaceHeight != picture->height || h.deinterlaceFormat != picture->format) {
        // A single-picture deinterlacer, so every picture leaves at once.
        h.deinterlacer.reset(lib.avfilter_graph_alloc());
        if (!h.deinterlacer)
            return false;
        char arguments[128];
        std::snprintf(arguments, sizeof arguments,
                      "video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=1/1",
                      picture->width, picture->height, picture->format);
        AVFilterContext* deinterlacer = nullptr;
        if (lib.avfilter_graph_create_filter(&h.deinterlaceSource,
                                             lib.avfilter_get_by_name("buffer"), "in", arguments,
                                             nullptr, h.deinterlacer.get()) < 0 ||
            lib.avfilter_graph_create_filter(&deinterlacer, lib.avfilter_get_by_name("kerndeint"),
                                             "deinterlace", nullptr, nullptr,
                                             h.deinterlacer.get()) < 0 ||
            lib.avfilter_graph_create_filter(&h.deinterlaceSink,
                                             lib.avfilter_get_by_name("buffersink"), "out",
                                             nullptr, nullptr, h.deinterlacer.get()) < 0 ||
            lib.avfilter_link(h.deinterlaceSource, 0, deinterlacer, 0) < 0 ||
            lib.avfilter_link(deinterlacer, 0, h.deinterlaceSink, 0) < 0 ||
            lib.avfilter_graph_config(h.deinterlacer.get(), nullptr) < 0) {
            h.deinterlacer.reset();
            return false;
        }
        h.deinterlaceWidth = picture->width;
        h.deinterlaceHeight = picture->height;
        h.deinterlaceFormat = picture->format;
    }
    FramePtr input(lib.av_frame_alloc());
    FramePtr output(lib.av_frame_alloc());
    if (!input || !output || lib.av_frame_ref(input.get(), picture) < 0 ||
        lib.av_buffersrc_add_frame_flags(h.deinterlaceSource, input.get(), 0) < 0 ||
        lib.av_buffersink_get_frame(h.deinterlaceSink, output.get()) < 0)
        return false;
    const int64_t pts = picture->pts;
    const int64_t bestEffort = picture->best_effort_timestamp;
    lib.av_frame_unref(picture);
    lib.av_frame_move_ref(picture, output.get());
    picture->pts = pts;
    picture->best_effort_timestamp = bestEffort;
    return true;
}

AVFrame* VideoPath::hookColourPicture(AVFrame* picture, bool& stopHook)
{
    HookState& h = hookState_;
    const int width = picture->width, height = picture->height;
    const AVPixelFormat decoded = static_cast<AVPixelFormat>(picture->format);
    if (decoded == kHookFormat)
        return picture;
    if (!h.colour || h.colour->width != width || h.colour->height != height) {
        h.colour.reset(lib.av_frame_alloc());
        if (!h.colour)
            return nullptr;
        h.colour->format = kHookFormat;
        h.colour->width = width;
        h.colour->height = height;
        if (lib.av_frame_get_buffer(h.colour.get(), 0) < 0) {
            h.colour.reset();
            EngineLog(nullptr, kLogError, "hook buf malloc error.\n");
            return nullptr;
        }
    }
    h.toColour.reset(lib.sws_getCachedContext(h.toColour.release(), width, height, decoded, width,
                                              height, kHookFormat, SWS_BICUBIC, nullptr, nullptr,
                                              nullptr));
    if (!h.toColour) {
        EngineLog(nullptr, kLogError, "Cannot initialize the toRGB conversion context\n");
        stopHook = true;
        return h.colour.get();
    }
    lib.sws_scale(h.toColour.get(), picture->data, picture->linesize, 0, height, h.colour->data,
                  h.colour->linesize);
    return h.colour.get();
}

bool VideoPath::callCustomHook(AVFrame* colour, int64_t pts, bool& stopHook)
{
    HookState& h = hookState_;
    const int stride = colour->linesize[0];
    h.bitmapPixels.resize(static_cast<std::size_t>(stride) * colour->height);
    lib.av_image_copy_plane(h.bitmapPixels.data(), stride, colour->data[0], stride, stride,
                            colour->height);
    THookBitmap bitmap{colour->width, colour->height, stride, h.bitmapPixels.data()};
    bool update = true;
    try {
        hooks_.custom(bitmap, h.frameCounter, pts, update, stopHook);
    } catch (const std::exception& e) {
        EngineLog(nullptr, kLogError, "Error occurs OnCustomHook: %s\n", e.what());
        update = false;
    }
    if (update)
        lib.av_image_copy_plane(colour->data[0], stride, h.bitmapPixels.data(), stride, stride,
                                colour->height);
    return update;
}

void VideoPath::runCustomHook(AVFrame* picture, int64_t pts)
{
    HookState& h = hookState_;
    bool stopHook = false;
    AVFrame* colour = hookColourPicture(picture, stopHook);
    if (!colour)
        return;
    if (!stopHook && callCustomHook(colour, pts, stopHook) && colour != picture) {
        const int width = picture->width, height = picture->height;
        const AVPixelFormat decoded = static_cast<AVPixelFormat>(picture->format);
        h.fromColour.reset(lib.sws_getCachedContext(h.fromColour.release(), width, height,
                                                    kHookFormat, width, height, decoded,
                                                    SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (h.fromColour) {
            lib.sws_scale(h.fromColour.get(), colour->data, colour->linesize, 0, height,
                          picture->data, picture->linesize);
        } else {
            EngineLog(nullptr, kLogError, "Cannot initialize the fromRGB conversion context\n");
            stopHook = true;
        }
    }
    if (stopHook) {
        h.customHookStopped = true;
        h.action = haStop;
        h.active = false;
    }
}

void VideoPath::gateHookModules(int64_t pts)
{
    HookState& h = hookState_;
    const std::vector<std::pair<int64_t, int64_t>>& ranges = hooks_.ranges;
    if (hooks_.before) {
        try {
            hooks_.before(pts, h.action);
        } catch (const std::exception& e) {
            EngineLog(nullptr, kLogError, "Error occurs OnBeforeHook: %s\n", e.what());
            h.action = haStop;
        }
        if (h.action == haStop)
            h.active = false;
        return;
    }
    if (ranges.empty())
        return;
    h.action = haIgnore;
    for (std::size_t i = h.lastRange; i < ranges.size(); ++i) {
        if (ranges[i].first <= pts && pts <= ranges[i].second) {
            h.lastRange = i;
            h.action = haContinue;
            return;
        }
        if (i + 1 == ranges.size() && ranges[i].second < pts) {
            h.action = haStop;
            h.active = false;
        }
    }
}

void VideoPath::Preprocess(const TInputStream& ist, AVFrame* picture)
{
    HookState& h = hookState_;
    ++h.frameCounter;
    const int64_t pts = ist.CurrentPts;
    const bool customHook = hooks_.custom && !h.customHookStopped;

    if (!customHook && h.active)
        gateHookModules(pts);

    const bool runChain = h.active && h.action == haContinue && !hooks_.chain.empty();
    if (!options_.deinterlace && !customHook && !runChain)
        return;
    // The hooks change the picture in place; the decoder may still use its
    // buffers as references, so work on a private copy.
    if (lib.av_frame_make_writable(picture) < 0) {
        EngineLog(nullptr, kLogError, "hook buf malloc error.\n");
        return;
    }
    if (options_.deinterlace && !deinterlace(picture))
        EngineLog(nullptr, kLogError, "deinterlace error.\n");

    if (customHook) {
        runCustomHook(picture, pts);
    } else if (runChain) {
        VHookPicture view{};
        for (int i = 0; i < 4; ++i) {
            view.data[i] = picture->data[i];
            view.linesize[i] = picture->linesize[i];
        }
        for (const FrameHookNode& node : hooks_.chain.nodes())
            node.process(node.context, &view, picture->format, picture->width, picture->height,
                         pts);
    }
}

int64_t VideoPath::copiesOf(TOutputStream& ost)
{
    const OptionState& o = options_;
    const double timeBase = av_q2d(ost.Encoder->time_base);
    const TInputStream& sync = run_.Inputs[ost.SyncIndex];
    const double ipts = static_cast<double>(sync.CurrentPts - o.startTime) / 1000000.0;
    if (o.videoSync <= 0 && (o.videoSync != -1 || timeBase <= 0.001)) {
        ost.SyncCount = std::llrint(ipts / timeBase);
        return 1;
    }
    int64_t copies = 1;
    const double vdelta = ipts / timeBase - static_cast<double>(ost.SyncCount);
    if (vdelta < -1.1)
        copies = 0;
    else if (o.videoSync == 2)
        ost.SyncCount = std::llrint(ipts / timeBase);
    else if (vdelta > 1.1)
        copies = std::llrint(vdelta);
    if (copies == 0) {
        ++droppedFrames_;
        if (o.verbosity >= kLogEverything)
            log_(kLogInfo, "*** drop!");
    } else if (copies > 1) {
        duplicatedFrames_ += static_cast<int>(copies - 1);
        if (o.verbosity >= kLogEverything)
            log_(kLogInfo, "*** %d dup!", static_cast<int>(copies - 1));
    }
    return copies;
}

const AVFrame* VideoPath::fitToEncoder(const TOutputStream& ost, VideoOutputState& video,
                                       const AVFrame* source)
{
    const OptionState& o = options_;
    if (!video.Resample && !video.Pad)
        return source;
    // The encoder may still hold the previous picture; never draw over it.
    if (lib.av_frame_make_writable(video.Picture.get()) < 0)
        throw FFMpegException("av_mallocz fail");
    AVFrame* target = video.Picture.get();
    const Bands pads{o.padTop, o.padBottom, o.padLeft, o.padRight};
    const FramePtr inner = bandView(target, pads);
    if (!inner) {
        EngineLog(nullptr, kLogError, "error padding picture\n");
        return nullptr;
    }
    if (video.Resample) {
        lib.sws_scale(video.Scaler.get(), source->data, source->linesize, 0,
                      video.ScaledSourceHeight, inner->data, inner->linesize);
    } else {
        lib.av_image_copy(inner->data, inner->linesize, const_cast<const uint8_t**>(source->data),
                          source->linesize, ost.Encoder->pix_fmt, source->width, source->height);
    }
    if (video.Pad)
        paintPads(target, pads, o.padColorYuv, o.padColorRgb);
    return target;
}

bool VideoPath::pastRecordingTime(const TOutputStream& ost) const
{
    return static_cast<double>(ost.SyncCount) * av_q2d(ost.Encoder->time_base) >=
           static_cast<double>(options_.recordingTime) / 1e6;
}

int VideoPath::Output(int outputIndex, const TInputStream& ist, const AVFrame* picture)
{
    const OptionState& o = options_;
    TOutputStream& ost = run_.Outputs[static_cast<std::size_t>(outputIndex)];
    VideoOutputState& video = outputs_[static_cast<std::size_t>(outputIndex)];
    int64_t copies = std::min<int64_t>(copiesOf(ost), o.maxVideoFrames - ost.FrameNumber);
    // Pictures the decoders still held when the loop reached the recording
    // time come out at the end of the run; they stay out of the file.
    if (copies <= 0 || pastRecordingTime(ost))
        return 0;

    // A stream may change its picture size or format midway (a transport
    // stream switching programmes): the path is rebuilt for the new source,
    // and the output keeps its own size.
    if (picture->width != video.SourceWidth || picture->height != video.SourceHeight ||
        picture->format != video.SourceFormat)
        PrepareSource(outputIndex, picture->width, picture->height,
                      static_cast<AVPixelFormat>(picture->format));

    const FramePtr source =
        bandView(picture, Bands{o.cropTop, o.cropBottom, o.cropLeft, o.cropRight});
    if (!source) {
        EngineLog(nullptr, kLogError, "error cropping picture\n");
        return 0;
    }
    const AVFrame* output = fitToEncoder(ost, video, source.get());
    if (!output)
        return 0;

    int written = 0;
    // Copies stop at the recording time too: a damaged time stamp far ahead
    // asks for a copy of the picture for every frame up to it.
    for (int64_t i = 0; i < copies && !stopRequested_ && !pastRecordingTime(ost); ++i) {
        FramePtr frame(lib.av_frame_alloc());
        if (!frame || lib.av_frame_ref(frame.get(), output) < 0)
            throw FFMpegException("av_mallocz fail");
        frame->pts = ost.SyncCount;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        frame->interlaced_frame = picture->interlaced_frame;
        frame->top_field_first =
            o.topFieldFirst == -1 ? picture->top_field_first : o.topFieldFirst;
        // A fixed-quality encoder takes each frame's quality as its quantiser.
        frame->quality = static_cast<int>(std::lround(o.sameQuality ? ist.Quality : ost.Quality));
        const int64_t before = writer_.VideoBytes();
        writer_.EncodeFrame(ost, frame.get());
        written = static_cast<int>(writer_.VideoBytes() - before);
        ++ost.SyncCount;
        ++ost.FrameNumber;
        if (!o.vstatsFileName.empty() && written > 0)
            writeStatistics(ost, written);
    }
    return written;
}

void VideoPath::writeStatistics(const TOutputStream& ost, int frameSize)
{
    if (!statistics_) {
        statistics_ = OpenStdioFile(options_.vstatsFileName, "w");
        if (!statistics_)
            throw FFMpegException("fopen fail: " + options_.vstatsFileName);
    }
    FILE* file = statistics_.get();
    const AVCodecContext* encoder = ost.Encoder;
    std::fprintf(file, "frame= %5d q= %2.1f ", static_cast<int>(ost.FrameNumber),
                 ost.LastQuality);
    // The coded frame's own luma error, not the stream's running total; an
    // encoder that measures none gets no PSNR rather than an infinite one.
    if ((encoder->flags & AV_CODEC_FLAG_PSNR) && ost.LastErrorsMeasured && encoder->width > 0)
        std::fprintf(file, "PSNR= %6.2f ",
                     -10.0 * std::log10(static_cast<double>(ost.LastErrors[0]) /
                                        (static_cast<double>(encoder->width) * encoder->height *
                                         255.0 * 255.0)));
    std::fprintf(file, "f_size= %6d ", frameSize);
    const double timeBase = av_q2d(encoder->time_base);
    const double ti = std::max(ost.SyncCount * timeBase, 0.01);
    const double bitRate = frameSize * 8.0 / timeBase / 1000.0;
    const int64_t videoBytes = writer_.VideoBytes();
    const double average = static_cast<double>(videoBytes) * 8.0 / ti / 1000.0;
    std::fprintf(file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                 static_cast<double>(videoBytes) / 1024.0, ti, bitRate, average);
    std::fprintf(file, "type= %c\n", ost.LastPictureType);
}

}  // namespace clipmora
