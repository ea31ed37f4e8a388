// Output files and their streams: turning an output's choices and the option
// state into a muxer context with one configured encoder per stream.
#include "engine/conversions.h"
#include "engine/error_text.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"
#include "engine/output_claim.h"
#include "engine/task_setup.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <unistd.h>
#include <utility>

namespace clipmora {
namespace {

// Encoder names that callers still use, mapped to this library generation's.
struct LegacyCodecName {
    std::string_view legacy;
    const char* current;
};
constexpr LegacyCodecName kLegacyCodecNames[] = {
    {"libamr_nb", "libopencore_amrnb"},
    {"libfaac", "aac"},
};

std::string currentCodecName(const std::string& name)
{
    for (const LegacyCodecName& entry : kLegacyCodecNames)
        if (entry.legacy == name)
            return entry.current;
    return name;
}

const char* mediaKindName(bool encoder) { return encoder ? "encoder" : "decoder"; }

// |a - b| < |a - c| for rationals, exactly (128-bit cross products).
bool nearer(AVRational target, AVRational candidate, AVRational best)
{
    using Wide = __int128;
    auto distance = [&](AVRational q) {
        // |t.num/t.den - q.num/q.den| as a fraction numerator/denominator.
        Wide numerator = Wide(target.num) * q.den - Wide(q.num) * target.den;
        if (numerator < 0)
            numerator = -numerator;
        return std::pair<Wide, Wide>{numerator, Wide(target.den) * q.den};
    };
    const auto [cn, cd] = distance(candidate);
    const auto [bn, bd] = distance(best);
    return cn * bd < bn * cd;
}

// Parses "start,end,q/start,end,q/..." into the encoder's rate-control
// overrides. q >= 1 is a fixed quantiser; q < 1 a quality factor of -q/100.
void applyRateControlOverride(AVCodecContext* encoder, const std::string& text)
{
    std::vector<RcOverride> entries;
    const char* p = text.c_str();
    while (*p) {
        RcOverride entry{};
        int start = 0, end = 0, q = 0, consumed = 0;
        if (std::sscanf(p, "%d,%d,%d%n", &start, &end, &q, &consumed) != 3)
            throw FFMpegException("error parsing rc_override");
        entry.start_frame = start;
        entry.end_frame = end;
        if (q > 0) {
            entry.qscale = q;
            entry.quality_factor = 1.0f;
        } else {
            entry.qscale = 0;
            entry.quality_factor = -q / 100.0f;
        }
        entries.push_back(entry);
        p += consumed;
        if (*p == '/')
            ++p;
        else if (*p)
            throw FFMpegException("error parsing rc_override");
    }
    if (entries.empty())
        return;
    auto* table = static_cast<RcOverride*>(lib.av_mallocz(entries.size() * sizeof(RcOverride)));
    if (!table)
        throw FFMpegException("av_mallocz fail");
    std::copy(entries.begin(), entries.end(), table);
    // The encoder context owns the table from here and frees it with itself.
    encoder->rc_override = table;
    encoder->rc_override_count = static_cast<int>(entries.size());
}

uint16_t* libraryMatrix(const std::array<uint16_t, 64>& matrix)
{
    auto* copy = static_cast<uint16_t*>(lib.av_mallocz(sizeof(uint16_t) * 64));
    if (!copy)
        throw FFMpegException("av_mallocz fail");
    std::copy(matrix.begin(), matrix.end(), copy);
    return copy;
}

// The video encoder's rate (the nearest the encoder supports to the one
// asked for, 25 by default), picture size, aspect and pixel format (the one
// asked for when the encoder takes it, else the encoder's first).
void setPictureGeometry(AVCodecContext* encoder, const AVCodec* codec, const OptionState& o)
{
    const AVRational rate =
        (o.frameRate.num != 0 && o.frameRate.den != 0) ? o.frameRate : AVRational{25, 1};
    AVRational chosen = rate;
    if (codec && codec->supported_framerates) {
        chosen = codec->supported_framerates[0];
        for (const AVRational* r = codec->supported_framerates + 1; r->num; ++r)
            if (nearer(rate, *r, chosen))
                chosen = *r;
    }
    encoder->time_base = AVRational{chosen.den, chosen.num};
    encoder->framerate = chosen;

    encoder->width = o.frameWidth + o.padLeft + o.padRight;
    encoder->height = o.frameHeight + o.padTop + o.padBottom;
    if (encoder->width > 0 && encoder->height > 0 && o.frameAspectRatio > 0.0f)
        encoder->sample_aspect_ratio = lib.av_d2q(
            static_cast<double>(o.frameAspectRatio) * encoder->height / encoder->width, 255);

    encoder->pix_fmt = static_cast<AVPixelFormat>(o.pixelFormat);
    if (codec && codec->pix_fmts) {
        bool listed = false;
        for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
            listed = listed || *f == encoder->pix_fmt;
        if (!listed)
            encoder->pix_fmt = codec->pix_fmts[0];
    }
}

// How the video encoder codes: fixed quality, quantiser matrices, threads,
// rate-control overrides, PSNR and the two passes. Throws FFMpegException.
void setPictureCoding(OutputStreamSetup& setup, const OptionState& o)
{
    AVCodecContext* encoder = setup.codec.get();
    if (o.intraOnly)
        encoder->gop_size = 0;
    if (o.videoQScale != 0.0f || o.sameQuality) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        setup.quality = FF_QP2LAMBDA * o.videoQScale;
        encoder->global_quality = static_cast<int>(setup.quality);
    }
    if (o.intraMatrix)
        encoder->intra_matrix = libraryMatrix(*o.intraMatrix);
    if (o.interMatrix)
        encoder->inter_matrix = libraryMatrix(*o.interMatrix);
    encoder->thread_count = o.threadCount;
    applyRateControlOverride(encoder, o.rcOverride);
    if (encoder->rc_initial_buffer_occupancy == 0)
        encoder->rc_initial_buffer_occupancy = encoder->rc_buffer_size * 3 / 4;
    encoder->intra_dc_precision = o.intraDcPrecision - 8;
    if (o.psnr)
        encoder->flags |= AV_CODEC_FLAG_PSNR;
    if (o.pass == 1)
        encoder->flags |= AV_CODEC_FLAG_PASS1;
    else if (o.pass == 2)
        encoder->flags |= AV_CODEC_FLAG_PASS2;
}

std::string isoDateTime(int64_t secondsSinceEpoch)
{
    const std::time_t moment = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm utc{};
    gmtime_r(&moment, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    return text;
}

void setTag(AVDictionary** tags, const char* key, const std::string& value)
{
    if (!value.empty())
        lib.av_dict_set(tags, key, value.c_str(), 0);
}

// The muxer for a new output file: the forced one, or the one its name
// suggests. Throws FFMpegException when there is none.
const AVOutputFormat* chooseOutputFormat(const OutputChoices& choices, std::size_t outputCount,
                                         const std::string& fileName)
{
    if (outputCount >= static_cast<std::size_t>(kMaxFiles))
        throw FFMpegException("Too many output files (at most 20)");
    const AVOutputFormat* format = choices.forcedFormat;
    if (!format)
        format = lib.av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!format)
        throw FFMpegException("Unable to find a suitable output format for '" + fileName + "'");
    return format;
}

// Opening the output truncates it: it must not be a file the task reads.
// Throws FFMpegException when it is one.
void checkNotAnInput(const std::string& fileName, const std::vector<InputFile>& inputs)
{
    for (const InputFile& input : inputs)
        if (SameFile(fileName, input.fileName) || SameFile(fileName, input.scriptSource))
            throw FFMpegException("The output file '" + fileName +
                                  "' is an input of this task; choose another name");
}

struct StreamKinds {
    bool video = false, audio = false, subtitle = false;
};

// Which kinds of stream the output gets: what the options ask for or the
// format carries by default, limited to what the inputs have. Throws
// FFMpegException for an input stream of no known kind.
StreamKinds outputStreamKinds(const OutputChoices& o, const AVOutputFormat& format,
                              const std::vector<InputFile>& inputs)
{
    StreamKinds kinds;
    kinds.video = !o.video.disabled &&
                  (o.video.streamCopy || format.video_codec != AV_CODEC_ID_NONE ||
                   !o.video.codecName.empty());
    kinds.audio = !o.audio.disabled &&
                  (o.audio.streamCopy || format.audio_codec != AV_CODEC_ID_NONE ||
                   !o.audio.codecName.empty());
    kinds.subtitle = !o.subtitle.disabled &&
                     (o.subtitle.streamCopy || format.subtitle_codec != AV_CODEC_ID_NONE ||
                      !o.subtitle.codecName.empty());
    if (inputs.empty())
        return kinds;
    StreamKinds present;
    for (const InputFile& input : inputs)
        for (unsigned i = 0; i < input.context->nb_streams; ++i) {
            const AVMediaType type = input.context->streams[i]->codecpar->codec_type;
            if (type < AVMEDIA_TYPE_UNKNOWN || type >= AVMEDIA_TYPE_NB)
                throw FFMpegException(
                    "check_audio_video_sub_inputs fail: invalid codec_type of input file");
            present.video = present.video || type == AVMEDIA_TYPE_VIDEO;
            present.audio = present.audio || type == AVMEDIA_TYPE_AUDIO;
            present.subtitle = present.subtitle || type == AVMEDIA_TYPE_SUBTITLE;
        }
    kinds.video = kinds.video && present.video;
    kinds.audio = kinds.audio && present.audio;
    kinds.subtitle = kinds.subtitle && present.subtitle;
    return kinds;
}

// The file's tags from the options.
void setFileTags(AVDictionary** tags, const OptionState& o)
{
    if (o.recordingTimestamp != 0)
        setTag(tags, "creation_time", isoDateTime(o.recordingTimestamp));
    setTag(tags, "title", o.title);
    // Containers read the author under either name.
    setTag(tags, "artist", o.author);
    setTag(tags, "author", o.author);
    setTag(tags, "copyright", o.copyright);
    setTag(tags, "comment", o.comment);
    setTag(tags, "album", o.album);
    setTag(tags, "genre", o.genre);
    if (o.year > 0)
        setTag(tags, "date", std::to_string(o.year));
    if (o.track > 0)
        setTag(tags, "track", std::to_string(o.track));
}

// The muxer's delay, preload and loop count from the options.
void setMuxerTiming(AVFormatContext* context, const OptionState& o)
{
    context->max_delay = static_cast<int>(o.muxMaxDelay * 1000000);
    // Muxers that buffer ahead ("preload") or loop ("loop") keep these as
    // their own parameters; others have no use for them.
    lib.av_opt_set_int(context, "preload", static_cast<int64_t>(o.muxPreload * 1000000),
                       AV_OPT_SEARCH_CHILDREN);
    if (o.loopOutput >= 0)
        lib.av_opt_set_int(context, "loop", o.loopOutput, AV_OPT_SEARCH_CHILDREN);
}

// Opens the file an output writes to (numbered image names checked first).
// A file of the file system is created exclusively when it does not exist,
// so the task knows whether it is its own; one with content is opened
// without cutting it. Throws FFMpegException when it cannot be opened.
void openForWriting(OutputFile& file, const AVOutputFormat& format)
{
    const std::string& fileName = file.fileName;
    if ((format.flags & AVFMT_NEEDNUMBER) && lib.av_filename_number_test(fileName.c_str()) == 0)
        throw FFMpegException(ErrorTextForCode(fileName, AVERROR(EDOM)));
    if (format.flags & AVFMT_NOFILE)
        return;
    AVDictionary* protocolOptions = nullptr;
    if (NamesLocalFile(fileName)) {
        const OutputClaim claim = ClaimOutputFile(fileName);
        std::error_code ignored;
        file.ours = OwnsClaimedFile(claim);
        file.replacesFile = claim == OutputClaim::Existing &&
                            std::filesystem::is_regular_file(fileName, ignored);
        if (file.replacesFile)
            lib.av_dict_set(&protocolOptions, "truncate", "0", 0);
    }
    const int opened = lib.avio_open2(&file.context->pb, fileName.c_str(), AVIO_FLAG_WRITE,
                                      nullptr, &protocolOptions);
    lib.av_dict_free(&protocolOptions);
    if (opened < 0)
        throw FFMpegException("Could not open '" + fileName + "'");
}


// What a stream builder works on: the file it adds a stream to, the options
// it reads, and the parameter defaults, of which the stream's kind takes the
// header flags the container asks for, so that later streams copy them too.
struct StreamBuild {
    OutputFile& file;
    const OptionState& options;
    ParameterDefaults& defaults;
};

// A new stream of `kind` in the file, with an encoder configuration made
// for `codec` (null: none chosen yet, or the stream is copied).
OutputStreamSetup& newOutputStream(const StreamBuild& b, CodecKind kind, const AVCodec* codec)
{
    static constexpr AVMediaType kTypes[kCodecKindCount] = {
        AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_SUBTITLE,
        AVMEDIA_TYPE_ATTACHMENT};
    OutputStreamSetup setup;
    // With the encoder known, its own defaults apply under the options.
    setup.codec.reset(lib.avcodec_alloc_context3(codec));
    if (!setup.codec)
        throw FFMpegException("Could not alloc stream");
    setup.stream = lib.avformat_new_stream(b.file.context.get(), nullptr);
    if (!setup.stream)
        throw FFMpegException("Could not alloc stream");
    setup.codec->codec_type = kTypes[static_cast<int>(kind)];
    setup.stream->codecpar->codec_type = setup.codec->codec_type;
    if (b.options.threadCount > 1)
        setup.codec->thread_count = b.options.threadCount;
    b.file.streams.push_back(std::move(setup));
    return b.file.streams.back();
}

// The codec named by the user, else the one the container suggests for the
// file's name. Its encoder may be missing from this build; opening the stream
// then fails with a clear message instead of here.
AVCodecID chooseCodec(const OutputFile& file, AVMediaType type, const std::string& name)
{
    if (name.empty())
        return lib.av_guess_codec(file.context->oformat, nullptr, file.fileName.c_str(), nullptr,
                                  type);
    return LookupCodec(name, type, true);
}

// A new audio or video stream as `choice` says: copied, or encoded with the
// codec chosen for it, carrying the tag the user set (0: the muxer's own).
OutputStreamSetup& newCodedStream(const StreamBuild& b, CodecKind kind, const StreamChoice& choice,
                                  uint32_t tag)
{
    const AVMediaType type = kind == CodecKind::Video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    const bool copy = choice.streamCopy;
    const AVCodecID id = copy ? AV_CODEC_ID_NONE : chooseCodec(b.file, type, choice.codecName);
    OutputStreamSetup& setup =
        newOutputStream(b, kind, copy ? nullptr : lib.avcodec_find_encoder(id));
    setup.streamCopy = copy;
    if (!copy)
        setup.codec->codec_id = id;
    if (tag)
        setup.codec->codec_tag = tag;
    return setup;
}

// The stream's language tag: the first three letters of `language`, if any.
void setLanguage(AVStream* stream, const std::string& language)
{
    if (!language.empty())
        lib.av_dict_set(&stream->metadata, "language", language.substr(0, 3).c_str(), 0);
}

void addVideoStream(const StreamBuild& b, const OutputChoices& choices)
{
    const OptionState& o = b.options;
    const AVOutputFormat* format = b.file.context->oformat;
    OutputStreamSetup& setup = newCodedStream(b, CodecKind::Video, choices.video, o.videoCodecTag);
    AVCodecContext* encoder = setup.codec.get();
    AVCodecContext* videoDefaults = b.defaults.of(CodecKind::Video);
    if ((o.videoGlobalHeader & 1) ||
        (o.videoGlobalHeader == 0 && (format->flags & AVFMT_GLOBALHEADER))) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        videoDefaults->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (o.videoGlobalHeader & 2) {
        encoder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        videoDefaults->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }

    if (!setup.streamCopy) {
        CopyGenericParameters(b.defaults, encoder, videoDefaults,
                              AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        setPictureGeometry(encoder, encoder->codec, o);
        setPictureCoding(setup, o);
    }
}

void addAudioStream(const StreamBuild& b, const OutputChoices& choices)
{
    const OptionState& o = b.options;
    const AVOutputFormat* format = b.file.context->oformat;
    OutputStreamSetup& setup = newCodedStream(b, CodecKind::Audio, choices.audio, o.audioCodecTag);
    AVCodecContext* encoder = setup.codec.get();
    AVCodecContext* audioDefaults = b.defaults.of(CodecKind::Audio);
    if (format->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        audioDefaults->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (!setup.streamCopy) {
        CopyGenericParameters(b.defaults, encoder, audioDefaults,
                              AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        if (o.audioQScale > -99999.0f) {
            encoder->flags |= AV_CODEC_FLAG_QSCALE;
            setup.quality = FF_QP2LAMBDA * o.audioQScale;
            encoder->global_quality = static_cast<int>(setup.quality);
        }
        encoder->thread_count = o.threadCount;
    }
    lib.av_channel_layout_uninit(&encoder->ch_layout);
    lib.av_channel_layout_default(&encoder->ch_layout, o.audioChannels);
    encoder->sample_rate = o.audioSampleRate;
    encoder->time_base = AVRational{1, o.audioSampleRate};
    setLanguage(setup.stream, choices.audioLanguage);
}

void addSubtitleStream(const StreamBuild& b, const OutputChoices& choices)
{
    const StreamChoice& choice = choices.subtitle;
    OutputStreamSetup& setup = newOutputStream(b, CodecKind::Subtitle, nullptr);
    if (choice.streamCopy) {
        setup.streamCopy = true;
    } else {
        CopyGenericParameters(b.defaults, setup.codec.get(), b.defaults.of(CodecKind::Subtitle),
                              AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        AVCodecID id = LookupCodec(choice.codecName, AVMEDIA_TYPE_SUBTITLE, true);
        if (id == AV_CODEC_ID_NONE)
            id = b.file.context->oformat->subtitle_codec;
        setup.codec->codec_id = id;
    }
    setLanguage(setup.stream, choices.subtitleLanguage);
}

void addStream(const StreamBuild& b, CodecKind kind, const OutputChoices& choices)
{
    switch (kind) {
    case CodecKind::Video:
        addVideoStream(b, choices);
        break;
    case CodecKind::Audio:
        addAudioStream(b, choices);
        break;
    case CodecKind::Subtitle:
        addSubtitleStream(b, choices);
        break;
    default:
        break;
    }
}

}  // namespace

void BeginWritingOutput(OutputFile& file)
{
    if (!file.replacesFile)
        return;
    if (::truncate(file.fileName.c_str(), 0) != 0)
        throw FFMpegException(LibraryErrorText(file.fileName, AVERROR(errno)));
    file.replacesFile = false;
    file.ours = true;
}

AVCodecID LookupCodec(const std::string& name, AVMediaType type, bool encoder)
{
    if (name.empty())
        return AV_CODEC_ID_NONE;
    const std::string current = currentCodecName(name);
    const AVCodec* codec = encoder ? lib.avcodec_find_encoder_by_name(current.c_str())
                                   : lib.avcodec_find_decoder_by_name(current.c_str());
    if (!codec)
        throw FFMpegException(std::string("Unknown ") + mediaKindName(encoder) + " '" + name + "'");
    if (codec->type != type)
        throw FFMpegException(std::string("Invalid ") + mediaKindName(encoder) + " type '" +
                              name + "'");
    return codec->id;
}

OutputChoices TakeStreamChoices(OutputChoices& choices, CodecKind kind)
{
    OutputChoices taken;
    switch (kind) {
    case CodecKind::Video:
        taken.video = std::exchange(choices.video, {});
        break;
    case CodecKind::Audio:
        taken.audio = std::exchange(choices.audio, {});
        taken.audioLanguage = std::exchange(choices.audioLanguage, {});
        break;
    case CodecKind::Subtitle:
        taken.subtitle = std::exchange(choices.subtitle, {});
        taken.subtitleLanguage = std::exchange(choices.subtitleLanguage, {});
        break;
    default:
        break;
    }
    return taken;
}

OutputFile BuildOutputFile(const std::string& fileName, const OutputChoices& choices,
                           const OptionState& options, ParameterDefaults& defaults,
                           const std::vector<InputFile>& inputs, std::size_t outputCount)
{
    const AVOutputFormat* format = chooseOutputFormat(choices, outputCount, fileName);
    checkNotAnInput(fileName, inputs);
    const StreamKinds kinds = outputStreamKinds(choices, *format, inputs);

    OutputFile file;
    file.fileName = fileName;
    AVFormatContext* context = nullptr;
    if (lib.avformat_alloc_output_context2(&context, format, nullptr, fileName.c_str()) < 0 ||
        !context)
        throw FFMpegException("av_mallocz fail");
    file.context.reset(context);

    // The stream builders report by exception, as they do for the options
    // that call them; here their failure names the builder.
    const StreamBuild build{file, options, defaults};
    auto add = [&](bool wanted, CodecKind kind, const char* what) {
        try {
            if (wanted)
                addStream(build, kind, choices);
        } catch (const std::exception& e) {
            throw FFMpegException(std::string(what) + " fail: " + e.what());
        }
    };
    add(kinds.video, CodecKind::Video, "new_video_stream");
    add(kinds.audio, CodecKind::Audio, "new_audio_stream");
    add(kinds.subtitle, CodecKind::Subtitle, "new_subtitle_stream");
    setFileTags(&file.context->metadata, options);
    return file;
}

void AddOutputStream(OutputFile& file, CodecKind kind, const OutputChoices& choices,
                     const OptionState& options, ParameterDefaults& defaults)
{
    addStream(StreamBuild{file, options, defaults}, kind, choices);
}

std::vector<std::string> OpenOutput(OutputFile& file, const OptionState& options,
                                    const ParameterDefaults& defaults)
{
    AVFormatContext* context = file.context.get();
    openForWriting(file, *context->oformat);
    setMuxerTiming(context, options);
    CopyGenericParameters(defaults, context, defaults.format.get(), AV_OPT_FLAG_ENCODING_PARAM);
    std::vector<std::string> taken;
    for (const auto& [name, value] : defaults.privateParameters)
        if (lib.av_opt_set(context, name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN) >= 0)
            taken.push_back(name);
    return taken;
}

void TCustomFFmpeg::CreateOutputFile(const std::string& fileName)
{
    // The output takes the choices made for it; the next one starts afresh.
    const OutputChoices choices = std::exchange(options_.output, {});
    outputs_.push_back(
        BuildOutputFile(fileName, choices, options_, defaults_, inputs_, outputs_.size()));
    // The file stays in the task's list even when opening it fails; the
    // caller removes the task.
    const std::vector<std::string> taken = OpenOutput(outputs_.back(), options_, defaults_);
    defaults_.takenPrivateParameters.insert(defaults_.takenPrivateParameters.end(), taken.begin(),
                                            taken.end());
    // "f" named this output's format; no later input is read with it.
    options_.forcedInputFormat = nullptr;
}

void TCustomFFmpeg::AddStreamToLastOutput(CodecKind kind)
{
    if (outputs_.empty())
        throw FFMpegException("At least one output file must be specified");
    // The stream takes its kind's choices; the rest stays for the next output.
    AddOutputStream(outputs_.back(), kind, TakeStreamChoices(options_.output, kind), options_,
                    defaults_);
}

}  // namespace clipmora
