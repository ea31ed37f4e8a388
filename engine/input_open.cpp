// Opening an input file: format hints, stream analysis, the seek to the
// start time, the timestamp offset, and the settings each input consumes.
#include "engine/conversions.h"
#include "engine/error_text.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"
#include "engine/input_opener.h"
#include "engine/task_setup.h"

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

// Opens the input's container with the forced codecs, the format hints and
// the generic parameters.
void openInputContext(InputFile& input, OpenedInput& served, const OptionState& o,
                      const ParameterDefaults& defaults)
{
    const std::string& fileName = input.fileName;
    input.context.reset(lib.avformat_alloc_context());
    if (!input.context)
        throw FFMpegException(ErrorTextForCode(fileName, AVERROR(ENOMEM)));
    DictionaryPtr hints = formatHints(o);

    AVCodecID videoId = LookupCodec(o.output.video.codecName, AVMEDIA_TYPE_VIDEO, false);
    const AVCodecID audioId = LookupCodec(o.output.audio.codecName, AVMEDIA_TYPE_AUDIO, false);
    const AVCodecID subtitleId =
        LookupCodec(o.output.subtitle.codecName, AVMEDIA_TYPE_SUBTITLE, false);
    if (o.imageSequence)
        videoId = AV_CODEC_ID_PGMYUV;

    AVFormatContext* context = input.context.get();
    CopyGenericParameters(defaults, context, defaults.format.get(), AV_OPT_FLAG_DECODING_PARAM);
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
int64_t analyseInput(InputFile& input, const OpenedInput& served, const OptionState& o)
{
    AVFormatContext* context = input.context.get();
    if (o.programId != 0)
        for (unsigned i = 0; i < context->nb_programs; ++i)
            if (context->programs[i]->id != o.programId)
                context->programs[i]->discard = AVDISCARD_ALL;

    int analysed = 0;
    {
        std::lock_guard guard(TCustomFFmpeg::CodecLock());
        analysed = lib.avformat_find_stream_info(context, nullptr);
    }
    if (analysed < 0 && o.verbosity >= kLogError)
        throw FFMpegException(input.fileName + ": could not find codec parameters");
    if (served.segmentDurationUs >= 0)
        context->duration = served.segmentDurationUs;

    int64_t startTimestamp = o.startTime;
    if (context->start_time != AV_NOPTS_VALUE)
        startTimestamp += context->start_time;
    // Best effort: a failed seek leaves the input at its beginning and the
    // packet loop still starts writing at the right time, as it does for
    // served frames, which are read from the start.
    if (o.startTime != 0 && !input.frames)
        lib.av_seek_frame(context, -1, startTimestamp, AVSEEK_FLAG_BACKWARD);
    return startTimestamp;
}

// A video stream's decoder takes the video parameters; the stream is left
// out as the options say.
void configureVideoDecoder(AVStream* stream, AVCodecContext* decoder, const std::string& fileName,
                           const OptionState& o, const ParameterDefaults& defaults)
{
    CopyGenericParameters(defaults, decoder, defaults.of(CodecKind::Video),
                          AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
    if (decoder->pix_fmt == AV_PIX_FMT_NONE && LowerCaseExtension(fileName) == ".rmvb")
        decoder->pix_fmt = AV_PIX_FMT_YUV420P;
    if (o.output.video.disabled)
        stream->discard = AVDISCARD_ALL;
    else if (o.videoDiscard)
        stream->discard = static_cast<AVDiscard>(o.videoDiscard);
}

// Makes a configured decoder for every stream.
void addDecoders(InputFile& input, const OptionState& o, const ParameterDefaults& defaults)
{
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
            configureVideoDecoder(stream, decoder.get(), input.fileName, o, defaults);
            break;
        case AVMEDIA_TYPE_AUDIO:
            CopyGenericParameters(defaults, decoder.get(), defaults.of(CodecKind::Audio),
                                  AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
            if (o.output.audio.disabled)
                stream->discard = AVDISCARD_ALL;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (o.output.subtitle.disabled)
                stream->discard = AVDISCARD_ALL;
            break;
        default:
            break;
        }
        input.decoders.push_back(std::move(decoder));
    }
}

// A video stream's size, aspect, pixel format and rate become the options
// the outputs start from; an aspect the stream does not give is its shape.
void adoptPictureSettings(const AVStream& stream, const AVCodecContext& decoder, OptionState& o)
{
    o.frameHeight = decoder.height;
    o.frameWidth = decoder.width;
    const AVRational sar = stream.codecpar->sample_aspect_ratio;
    o.frameAspectRatio = 0.0f;
    if (sar.den != 0 && decoder.height > 0)
        o.frameAspectRatio = static_cast<float>(static_cast<double>(sar.num) / sar.den *
                                                decoder.width / decoder.height);
    if (o.frameAspectRatio == 0.0f && decoder.width > 0 && decoder.height > 0)
        o.frameAspectRatio =
            static_cast<float>(static_cast<double>(decoder.width) / decoder.height);
    o.pixelFormat = decoder.pix_fmt;
    o.frameRate = stream.r_frame_rate;
}

}  // namespace

InputFile OpenInput(const std::string& fileName, const OptionState& options,
                    const ParameterDefaults& defaults)
{
    InputFile input;
    input.fileName = fileName;
    OpenedInput served;
    served.framesWelcome = true;
    openInputContext(input, served, options, defaults);
    const int64_t timestamp = analyseInput(input, served, options);
    addDecoders(input, options, defaults);
    input.tsOffset =
        options.copyTimestamps ? options.inputTsOffset : options.inputTsOffset - timestamp;
    input.timeScales = options.nextInputTimeScales;
    input.rateEmulation = options.rateEmulation;
    return input;
}

void AdoptStreamSettings(const InputFile& input, OptionState& options)
{
    const AVFormatContext* context = input.context.get();
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream& stream = *context->streams[i];
        const AVCodecContext& decoder = *input.decoders[i];
        if (stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            adoptPictureSettings(stream, decoder, options);
        } else if (stream.codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            options.audioChannels = decoder.ch_layout.nb_channels;
            options.audioSampleRate = decoder.sample_rate;
        }
    }
}

void TCustomFFmpeg::AddInputFile(const std::string& fileName)
{
    OptionState& o = options_;
    // Whatever happens, the next input starts without this one's settings.
    struct ConsumePerInputSettings {
        OptionState& o;
        ~ConsumePerInputSettings()
        {
            o.forcedInputFormat = nullptr;
            o.output.forcedFormat = nullptr;
            o.rateEmulation = false;
            o.videoChannel = 0;
            o.output.video.codecName.clear();
            o.output.audio.codecName.clear();
            o.output.subtitle.codecName.clear();
        }
    } consume{o};

    if (inputs_.size() >= static_cast<std::size_t>(kMaxFiles))
        throw FFMpegException("Too many input files (at most 20)");
    InputFile input = OpenInput(fileName, o, defaults_);
    AdoptStreamSettings(input, o);
    o.startTime = 0;
    o.nextInputTimeScales = {};

    const AVFormatContext* context = input.context.get();
    if (context->duration != AV_NOPTS_VALUE && context->duration / 1000 > totalOutputDurationMs_)
        totalOutputDurationMs_ = static_cast<int>(
            std::min<int64_t>(context->duration / 1000, INT32_MAX));
    const int index = static_cast<int>(inputs_.size());
    inputs_.push_back(std::move(input));
    if (o.verbosity >= kLogError)
        lib.av_dump_format(inputs_.back().context.get(), index, fileName.c_str(), 0);
}

}  // namespace clipmora
