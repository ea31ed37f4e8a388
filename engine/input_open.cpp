// Opening an input file: format hints, stream analysis, the seek to the
// start time, the timestamp offset, and the settings each input consumes.
#include "engine/conversions.h"
#include "engine/error_text.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"
#include "engine/input_opener.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace clipmora {
namespace {

// Hints for formats that cannot tell these themselves (raw audio and video,
// capture devices); formats that have no use for one ignore it.
DictionaryPtr formatHints(const OptionState& o)
{
    DictionaryPtr hints;
    auto hint = [&](const char* key, const std::string& value) {
        SetDictionaryEntry(hints, key, value.c_str());
    };
    hint("sample_rate", std::to_string(o.audioSampleRate));
    hint("channels", std::to_string(o.audioChannels));
    if (o.frameRate.num > 0 && o.frameRate.den > 0)
        hint("framerate", std::to_string(o.frameRate.num) + "/" + std::to_string(o.frameRate.den));
    if (o.frameWidth > 0 && o.frameHeight > 0)
        hint("video_size", std::to_string(o.frameWidth + o.padLeft + o.padRight) + "x" +
                               std::to_string(o.frameHeight + o.padTop + o.padBottom));
    if (o.pixelFormat >= 0)
        if (const char* name = lib.av_get_pix_fmt_name(static_cast<AVPixelFormat>(o.pixelFormat)))
            hint("pixel_format", name);
    if (o.videoChannel != 0)
        hint("channel", std::to_string(o.videoChannel));
    if (!o.tvStandard.empty())
        hint("standard", o.tvStandard);
    if (o.loopInput)
        hint("loop", "1");
    return hints;
}

}  // namespace

void TCustomFFmpeg::AddInputFile(const std::string& fileName)
{
    OptionState& o = options_;
    // Whatever happens, the next input starts without this one's settings.
    struct ConsumePerInputSettings {
        OptionState& o;
        ~ConsumePerInputSettings()
        {
            o.forcedInputFormat = nullptr;
            o.forcedOutputFormat = nullptr;
            o.rateEmulation = false;
            o.videoChannel = 0;
            o.video.codecName.clear();
            o.audio.codecName.clear();
            o.subtitle.codecName.clear();
        }
    } consume{o};

    if (inputs_.size() >= static_cast<std::size_t>(kMaxFiles))
        throw FFMpegException("Too many input files (at most 20)");
    InputFile input;
    input.fileName = fileName;
    OpenedInput served;
    served.framesWelcome = true;
    openInputContext(input, served);
    const int64_t timestamp = analyseInput(input, served);
    addDecoders(input);

    AVFormatContext* context = input.context.get();
    if (context->duration != AV_NOPTS_VALUE && context->duration / 1000 > totalOutputDurationMs_)
        totalOutputDurationMs_ = static_cast<int>(
            std::min<int64_t>(context->duration / 1000, INT32_MAX));

    input.tsOffset = o.copyTimestamps ? o.inputTsOffset : o.inputTsOffset - timestamp;
    input.timeScales = o.nextInputTimeScales;
    o.nextInputTimeScales = {};
    input.rateEmulation = o.rateEmulation;
    const int index = static_cast<int>(inputs_.size());
    inputs_.push_back(std::move(input));

    if (o.verbosity >= kLogError)
        lib.av_dump_format(context, index, fileName.c_str(), 0);
}

// Opens the input's container with the forced codecs, the format hints and
// the generic parameters.
void TCustomFFmpeg::openInputContext(InputFile& input, OpenedInput& served)
{
    const OptionState& o = options_;
    const std::string& fileName = input.fileName;
    input.context.reset(lib.avformat_alloc_context());
    if (!input.context)
        throw FFMpegException(ErrorTextForCode(fileName, AVERROR(ENOMEM)));
    DictionaryPtr hints = formatHints(o);

    AVCodecID videoId = LookupCodec(o.video.codecName, AVMEDIA_TYPE_VIDEO, false);
    const AVCodecID audioId = LookupCodec(o.audio.codecName, AVMEDIA_TYPE_AUDIO, false);
    const AVCodecID subtitleId = LookupCodec(o.subtitle.codecName, AVMEDIA_TYPE_SUBTITLE, false);
    if (o.imageSequence)
        videoId = AV_CODEC_ID_PGMYUV;

    AVFormatContext* context = input.context.get();
    CopyGenericParameters(context, defaults_.format.get(), AV_OPT_FLAG_DECODING_PARAM);
    context->video_codec_id = videoId;
    context->audio_codec_id = audioId;
    context->subtitle_codec_id = subtitleId;

    // avformat_open_input frees the context itself when it fails.
    context = input.context.release();
    const int opened = OpenInputFile(&context, fileName, o.forcedInputFormat,
                                     LentDictionary(hints).get(), served);
    if (opened < 0)
        throw FFMpegException(ErrorTextForCode(fileName, opened));
    input.keepAlive = std::move(served.keepAlive);
    input.frames = std::move(served.frames);
    input.context.reset(context);
    if (!o.forcedInputFormat)
        input.scriptSource = InputSourceOf(fileName);
}

// Selects the program, analyses the streams and seeks to the start time;
// returns where the input starts to count.
int64_t TCustomFFmpeg::analyseInput(InputFile& input, const OpenedInput& served)
{
    OptionState& o = options_;
    AVFormatContext* context = input.context.get();
    if (o.programId != 0)
        for (unsigned i = 0; i < context->nb_programs; ++i)
            if (context->programs[i]->id != o.programId)
                context->programs[i]->discard = AVDISCARD_ALL;

    int analysed = 0;
    {
        std::lock_guard guard(CodecLock());
        analysed = lib.avformat_find_stream_info(context, nullptr);
    }
    if (analysed < 0 && o.verbosity >= kLogError)
        throw FFMpegException(input.fileName + ": could not find codec parameters");
    if (served.segmentDurationUs >= 0)
        context->duration = served.segmentDurationUs;

    int64_t startTimestamp = o.startTime;
    if (context->start_time != AV_NOPTS_VALUE)
        startTimestamp += context->start_time;
    if (o.startTime != 0) {
        // Best effort: a failed seek leaves the input at its beginning and
        // the packet loop still starts writing at the right time, as it does
        // for served frames, which are read from the start.
        if (!input.frames)
            lib.av_seek_frame(context, -1, startTimestamp, AVSEEK_FLAG_BACKWARD);
        o.startTime = 0;
    }
    return startTimestamp;
}

// Makes a configured decoder for every stream and takes each stream's
// picture or sound settings into the options.
void TCustomFFmpeg::addDecoders(InputFile& input)
{
    OptionState& o = options_;
    AVFormatContext* context = input.context.get();
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* stream = context->streams[i];
        AVCodecParameters* parameters = stream->codecpar;
        if (parameters->codec_type < AVMEDIA_TYPE_UNKNOWN ||
            parameters->codec_type >= AVMEDIA_TYPE_NB)
            throw FFMpegException("invalid codec_type");

        CodecContextPtr decoder(lib.avcodec_alloc_context3(nullptr));
        if (!decoder || lib.avcodec_parameters_to_context(decoder.get(), parameters) < 0)
            throw FFMpegException(ErrorTextForCode(input.fileName, AVERROR(ENOMEM)));
        decoder->thread_count = o.threadCount;
        decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        decoder->pkt_timebase = stream->time_base;

        switch (parameters->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            takeVideoStream(stream, decoder.get(), input.fileName);
            break;
        case AVMEDIA_TYPE_AUDIO:
            CopyGenericParameters(decoder.get(), defaults_.of(CodecKind::Audio),
                                  AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
            o.audioChannels = decoder->ch_layout.nb_channels;
            o.audioSampleRate = decoder->sample_rate;
            if (o.audio.disabled)
                stream->discard = AVDISCARD_ALL;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (o.subtitle.disabled)
                stream->discard = AVDISCARD_ALL;
            break;
        default:
            break;
        }
        input.decoders.push_back(std::move(decoder));
    }
}

// A video stream's size, aspect, pixel format and rate become the options
// the outputs start from.
void TCustomFFmpeg::takeVideoStream(AVStream* stream, AVCodecContext* decoder,
                                    const std::string& fileName)
{
    OptionState& o = options_;
    CopyGenericParameters(decoder, defaults_.of(CodecKind::Video),
                          AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
    o.frameHeight = decoder->height;
    o.frameWidth = decoder->width;
    const AVRational sar = stream->codecpar->sample_aspect_ratio;
    o.frameAspectRatio = 0.0f;
    if (sar.den != 0 && decoder->height > 0)
        o.frameAspectRatio = static_cast<float>(static_cast<double>(sar.num) / sar.den *
                                                decoder->width / decoder->height);
    if (o.frameAspectRatio == 0.0f && decoder->width > 0 && decoder->height > 0)
        ParseOption("aspect", std::to_string(decoder->width) + ":" +
                                  std::to_string(decoder->height));
    if (decoder->pix_fmt == AV_PIX_FMT_NONE && LowerCaseExtension(fileName) == ".rmvb")
        decoder->pix_fmt = AV_PIX_FMT_YUV420P;
    o.pixelFormat = decoder->pix_fmt;
    o.frameRate = stream->r_frame_rate;
    if (o.video.disabled)
        stream->discard = AVDISCARD_ALL;
    else if (o.videoDiscard)
        stream->discard = static_cast<AVDiscard>(o.videoDiscard);
}

}  // namespace clipmora
