// The media probe: container open, stream analysis and the two info records.
#include "engine/av_probe.h"

#include "engine/conversions.h"
#include "engine/error_text.h"
#include "engine/ffmpeg_exception.h"
#include "engine/input_opener.h"
#include "engine/library_handles.h"
#include "engine/output_claim.h"

namespace clipmora {
namespace {

std::string tag(const AVDictionary* metadata, const char* key)
{
    const AVDictionaryEntry* entry = lib.av_dict_get(metadata, key, nullptr, 0);
    return entry && entry->value ? entry->value : "";
}

// A numeric tag such as "2009" or "3/12": the leading whole number, else -1.
int numericTag(const AVDictionary* metadata, const char* key)
{
    return LeadingInteger(tag(metadata, key), -1);
}

// A time of `stream` in microseconds.
int64_t streamMicroseconds(const AVStream* stream, int64_t value)
{
    return lib.av_rescale_q(value, stream->time_base, AVRational{1, 1000000});
}

const char* mediaKind(AVMediaType type)
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return "video";
    case AVMEDIA_TYPE_AUDIO:
        return "audio";
    case AVMEDIA_TYPE_SUBTITLE:
        return "subtitle";
    case AVMEDIA_TYPE_DATA:
        return "data";
    case AVMEDIA_TYPE_ATTACHMENT:
        return "attachment";
    default:
        return "unknown";
    }
}

}  // namespace

struct TAVProbe::OpenFile {
    // What feeds a served input (see input_opener.h); declared before the
    // context, so that it goes after the context that reads from it.
    std::shared_ptr<void> keepAlive;
    InputFormatPtr context;
};

TAVProbe::TAVProbe() = default;

TAVProbe::~TAVProbe() { CloseMedia(); }

void TAVProbe::resetCounters()
{
    streamCount_ = programCount_ = -1;
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = -1;
    firstAudioStream_ = firstVideoStream_ = firstSubtitleStream_ = -1;
}

bool TAVProbe::OpenMedia(const std::string& fileName, const std::string& forcedFormat)
{
    CheckCodecLibrariesBound();
    CloseMedia();

    const AVInputFormat* format = nullptr;
    if (!forcedFormat.empty()) {
        format = lib.av_find_input_format(forcedFormat.c_str());
        if (!format) {
            lastError_ = "Unknown input format: " + forcedFormat;
            return false;
        }
    }

    AVFormatContext* context = lib.avformat_alloc_context();
    if (!context) {
        lastError_ = ErrorTextForCode(fileName, AVERROR(ENOMEM));
        return false;
    }
    // On failure avformat_open_input frees the context itself.
    OpenedInput served;
    // The name is a file's, never another protocol's address ("cache:x").
    if (const int code =
            OpenInputFile(&context, LocalFileAddress(fileName), format, nullptr, served);
        code < 0) {
        lastError_ = ErrorTextForCode(fileName, code);
        return false;
    }
    auto opened = std::make_unique<OpenFile>();
    opened->keepAlive = std::move(served.keepAlive);
    opened->context.reset(context);
    if (lib.avformat_find_stream_info(context, nullptr) < 0) {
        lastError_ = fileName + ": could not find codec parameters";
        return false;
    }
    if (served.segmentDurationUs >= 0)
        context->duration = served.segmentDurationUs;
    open_ = std::move(opened);

    countStreams();
    forcedFormat_ = forcedFormat;
    return true;
}

void TAVProbe::countStreams()
{
    const AVFormatContext* context = open_->context.get();
    streamCount_ = static_cast<int>(context->nb_streams);
    programCount_ = static_cast<int>(context->nb_programs);
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = 0;
    auto count = [](int index, int& total, int& first) {
        ++total;
        if (first < 0)
            first = index;
    };
    for (int i = 0; i < streamCount_; ++i) {
        switch (context->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            count(i, videoStreamCount_, firstVideoStream_);
            break;
        case AVMEDIA_TYPE_AUDIO:
            count(i, audioStreamCount_, firstAudioStream_);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            count(i, subtitleStreamCount_, firstSubtitleStream_);
            break;
        default:
            break;
        }
    }
}

void TAVProbe::CloseMedia()
{
    forcedFormat_.clear();
    open_.reset();
    resetCounters();
}

FileInfo TAVProbe::ReadFileInfo() const
{
    FileInfo info;
    if (!open_) {
        EngineLog(nullptr, kLogInfo, "file not loaded.\n");
        return info;
    }
    const AVFormatContext* context = open_->context.get();
    info.StartTime = context->start_time;
    info.Duration = context->duration;
    info.BitRate = static_cast<int>(context->bit_rate);
    const AVDictionary* tags = context->metadata;
    int64_t created = 0;
    const std::string creation = tag(tags, "creation_time");
    if (!creation.empty() && lib.av_parse_time(&created, creation.c_str(), 0) >= 0)
        info.Timestamp = created / 1000000;
    info.Title = tag(tags, "title");
    info.Author = tag(tags, "artist");
    if (info.Author.empty())
        info.Author = tag(tags, "author");
    info.Copyright = tag(tags, "copyright");
    info.Comment = tag(tags, "comment");
    info.Album = tag(tags, "album");
    info.Year = numericTag(tags, "date");
    if (info.Year < 0)
        info.Year = numericTag(tags, "year");
    info.Track = numericTag(tags, "track");
    info.Genre = tag(tags, "genre");
    return info;
}

VideoStreamInfo TAVProbe::ReadVideoStreamInfo(int streamIndex) const
{
    VideoStreamInfo info;
    if (!open_) {
        EngineLog(nullptr, kLogInfo, "file not loaded.\n");
        return info;
    }
    if (streamIndex < 0) {
        streamIndex = firstVideoStream_;
        if (streamIndex < 0) {
            EngineLog(nullptr, kLogError, "no video stream.\n");
            return info;
        }
    }
    if (streamIndex >= streamCount_) {
        EngineLog(nullptr, kLogError, "stream index #%d is invalid.\n", streamIndex);
        return info;
    }
    const AVStream* stream = open_->context->streams[streamIndex];
    const AVCodecParameters* codec = stream->codecpar;
    if (codec->codec_type != AVMEDIA_TYPE_VIDEO) {
        EngineLog(nullptr, kLogError, "stream #%d is not video stream.\n", streamIndex);
        return info;
    }

    info.Language = tag(stream->metadata, "language");
    info.CodecName = lib.avcodec_get_name(codec->codec_id);
    if (stream->start_time != AV_NOPTS_VALUE) {
        info.StartTime = stream->start_time;
        info.StartTimeUs = streamMicroseconds(stream, stream->start_time);
    }
    if (stream->duration != AV_NOPTS_VALUE) {
        info.Duration = stream->duration;
        info.DurationUs = streamMicroseconds(stream, stream->duration);
    }
    info.BitRate = static_cast<int>(codec->bit_rate);
    info.Height = codec->height;
    info.Width = codec->width;
    if (codec->height > 0 && codec->sample_aspect_ratio.den != 0)
        info.DisplayAspect = static_cast<float>(
            codec->width * (static_cast<double>(codec->sample_aspect_ratio.num) /
                            codec->sample_aspect_ratio.den) /
            codec->height);
    info.PixelFormat = codec->format;
    info.FrameRateNum = stream->r_frame_rate.num;
    info.FrameRateDen = stream->r_frame_rate.den;
    return info;
}

StreamInfo TAVProbe::ReadStreamInfo(int streamIndex) const
{
    StreamInfo info;
    if (!open_) {
        EngineLog(nullptr, kLogInfo, "file not loaded.\n");
        return info;
    }
    if (streamIndex < 0 || streamIndex >= streamCount_) {
        EngineLog(nullptr, kLogError, "stream index #%d is invalid.\n", streamIndex);
        return info;
    }
    const AVStream* stream = open_->context->streams[streamIndex];
    const AVCodecParameters* codec = stream->codecpar;
    info.Kind = mediaKind(codec->codec_type);
    info.CodecName = lib.avcodec_get_name(codec->codec_id);
    if (stream->start_time != AV_NOPTS_VALUE)
        info.StartTimeUs = streamMicroseconds(stream, stream->start_time);
    if (stream->duration != AV_NOPTS_VALUE)
        info.DurationUs = streamMicroseconds(stream, stream->duration);
    info.BitRate = static_cast<int>(codec->bit_rate);
    if (codec->codec_type == AVMEDIA_TYPE_VIDEO) {
        info.Width = codec->width;
        info.Height = codec->height;
        info.FrameRateNum = stream->r_frame_rate.num;
        info.FrameRateDen = stream->r_frame_rate.den;
    } else if (codec->codec_type == AVMEDIA_TYPE_AUDIO) {
        info.SampleRate = codec->sample_rate;
        info.Channels = codec->ch_layout.nb_channels;
    }
    return info;
}

}  // namespace clipmora
