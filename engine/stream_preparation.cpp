// The second stage of a run: copy or transcode per output stream, what the
// audio and video paths need (resampler decision, crop, pad, scaler), two-pass
// logs, the stream mapping report, opening encoders and decoders, metadata
// maps and the output headers.
#include "engine/ffmpeg_exception.h"
#include "engine/run_stages.h"
#include "engine/stream_copy.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string_view>

namespace clipmora {
namespace {

// The sample format an encoder gets: 16-bit when it takes it, otherwise the
// first it lists (the audio path converts into it once, at the encoder).
AVSampleFormat encoderSampleFormat(const AVCodec* codec)
{
    if (!codec->sample_fmts)
        return AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_S16)
            return AV_SAMPLE_FMT_S16;
    return codec->sample_fmts[0];
}

// The sample rate an encoder gets: the requested one when it supports it,
// otherwise the nearest it lists.
int encoderSampleRate(const AVCodec* codec, int requested)
{
    if (!codec->supported_samplerates)
        return requested;
    int best = codec->supported_samplerates[0];
    for (const int* rate = codec->supported_samplerates; *rate; ++rate) {
        if (*rate == requested)
            return requested;
        if (std::abs(*rate - requested) < std::abs(best - requested))
            best = *rate;
    }
    return best;
}

void copyTag(AVDictionary** to, const AVDictionary* from, const char* key)
{
    if (const AVDictionaryEntry* entry = lib.av_dict_get(from, key, nullptr, 0))
        lib.av_dict_set(to, key, entry->value, 0);
}

// A stream copied as it is: refuses what needs decoded frames and takes
// the source's parameters, keeping its codec tag where the container allows.
// Throws FFMpegException.
void prepareStreamCopy(TOutputStream& ost, const TInputStream& ist, const AVOutputFormat* format,
                       const OptionState& o, bool customHook)
{
    AVCodecContext* codec = ost.Encoder;
    const AVCodecParameters* source = ist.Stream->codecpar;
    if (source->codec_type == AVMEDIA_TYPE_AUDIO && o.audioVolume != 256)
        throw FFMpegException(
            "-acodec copy and -vol are incompatible (frames are not decoded)");
    if (source->codec_type == AVMEDIA_TYPE_VIDEO) {
        if (customHook)
            throw FFMpegException(
                "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (o.usingFrameHooks)
            throw FFMpegException(
                "-vcodec copy and -vhook are incompatible (frames are not decoded)");
    }
    if (source->codec_type != AVMEDIA_TYPE_AUDIO &&
        source->codec_type != AVMEDIA_TYPE_VIDEO &&
        source->codec_type != AVMEDIA_TYPE_SUBTITLE)
        throw FFMpegException("invalid codec_type of output stream");

    const uint32_t outputTag = codec->codec_tag;
    if (lib.avcodec_parameters_copy(ost.Stream->codecpar, source) < 0)
        throw FFMpegException("av_mallocz fail");
    // Keep the source's tag only where the output container knows it
    // for the same codec; otherwise let the muxer choose its own.
    uint32_t tag = outputTag;
    if (!tag) {
        const AVCodecTag* const* tags = format->codec_tag;
        if (!tags || lib.av_codec_get_id(tags, source->codec_tag) == source->codec_id ||
            lib.av_codec_get_tag(tags, source->codec_id) <= 0)
            tag = source->codec_tag;
    }
    ost.Stream->codecpar->codec_tag = tag;
    ClearVariableBlockAlign(*ost.Stream->codecpar);
    ost.Stream->time_base = ist.Stream->time_base;
    ost.Stream->avg_frame_rate = ist.Stream->avg_frame_rate;
    ost.Stream->r_frame_rate = ist.Stream->r_frame_rate;
    ost.Stream->sample_aspect_ratio = source->sample_aspect_ratio;
}

// Sound to be encoded: the rate the encoder will really get (the audio path
// resamples when it is not the source's).
void prepareSoundEncoding(TOutputStream& ost)
{
    AVCodecContext* codec = ost.Encoder;
    if (const AVCodec* encoder = lib.avcodec_find_encoder(codec->codec_id)) {
        codec->sample_rate = encoderSampleRate(encoder, codec->sample_rate);
        codec->time_base = AVRational{1, codec->sample_rate};
    }
}

// Pictures to be encoded: the encoder's size and format (the source's,
// cropped and padded, unless set) and the pad bands.
void preparePictureEncoding(TOutputStream& ost, const AVCodecParameters& source,
                            const OptionState& o)
{
    AVCodecContext* codec = ost.Encoder;
    if (codec->width <= 0 || codec->height <= 0) {
        codec->width = source.width - o.cropLeft - o.cropRight + o.padLeft + o.padRight;
        codec->height = source.height - o.cropTop - o.cropBottom + o.padTop + o.padBottom;
    }
    if (codec->pix_fmt == AV_PIX_FMT_NONE) {
        const AVCodec* encoder = lib.avcodec_find_encoder(codec->codec_id);
        codec->pix_fmt = (encoder && encoder->pix_fmts) ? encoder->pix_fmts[0]
                                                        : static_cast<AVPixelFormat>(source.format);
    }
}

// The two-pass statistics: the first pass writes them to its log file, the
// second reads them back for the encoder. Throws FFMpegException.
void openPassLog(TOutputStream& ost, const OptionState& o, std::size_t streamNumber)
{
    const AVCodecContext* codec = ost.Encoder;
    std::string name = (o.passLogFile.empty() ? std::string("ffmpeg2pass") : o.passLogFile) +
                       "-" + std::to_string(streamNumber) + ".log";
    if (name.size() > 1023)
        name.resize(1023);
    if (codec->flags & AV_CODEC_FLAG_PASS1) {
        ost.PassLog = OpenStdioFile(name, "w");
        if (!ost.PassLog)
            throw FFMpegException("creat file fail: " + name);
        return;
    }
    const FilePtr log = OpenStdioFile(name, "r");
    if (!log)
        throw FFMpegException("creat open fail: " + name);
    std::fseek(log.get(), 0, SEEK_END);
    const long size = std::ftell(log.get());
    std::fseek(log.get(), 0, SEEK_SET);
    LibraryMemoryPtr<char> text(
        static_cast<char*>(lib.av_malloc(static_cast<std::size_t>(std::max(size, 0L)) + 1)));
    if (!text)
        throw FFMpegException("Could not allocate log buffer");
    const std::size_t got =
        std::fread(text.get(), 1, static_cast<std::size_t>(std::max(size, 0L)), log.get());
    text.get()[got] = '\0';
    ost.FirstPassStats = std::move(text);
}

}  // namespace

void ClearVariableBlockAlign(AVCodecParameters& copy)
{
    if (copy.codec_type != AVMEDIA_TYPE_AUDIO)
        return;
    const bool frameSized = copy.block_align == 1 || copy.block_align == 576 ||
                            copy.block_align == 1152;
    if ((copy.codec_id == AV_CODEC_ID_MP3 && frameSized) || copy.codec_id == AV_CODEC_ID_AC3)
        copy.block_align = 0;
}

void PrepareOutputs(RunState& run, VideoPath& video, const std::vector<InputFile>& inputs,
                    const std::vector<OutputFile>& outputs, const OptionState& o, bool customHook)
{
    for (std::size_t n = 0; n < run.Outputs.size(); ++n) {
        TOutputStream& ost = run.Outputs[n];
        TInputStream& ist = run.Inputs[ost.SourceIndex];
        const AVCodecParameters* source = ist.Stream->codecpar;

        if (!lib.av_dict_get(ost.Stream->metadata, "language", nullptr, 0))
            copyTag(&ost.Stream->metadata, ist.Stream->metadata, "language");
        ost.Stream->disposition = ist.Stream->disposition;

        if (ost.StreamCopy) {
            prepareStreamCopy(ost, ist, outputs[ost.FileIndex].context->oformat, o, customHook);
            continue;
        }

        switch (ost.Encoder->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            prepareSoundEncoding(ost);
            break;
        case AVMEDIA_TYPE_VIDEO:
            // A file cut short after its header names a picture stream
            // without its size or format; nothing could convert its pictures.
            if (source->format == AV_PIX_FMT_NONE || source->width <= 0 || source->height <= 0)
                throw FormattedException("%s: the picture format of stream #%d.%d is unknown",
                                         inputs[ist.FileIndex].fileName.c_str(), ist.FileIndex,
                                         ist.StreamIndex);
            preparePictureEncoding(ost, *source, o);
            video.PrepareSource(static_cast<int>(n), source->width, source->height,
                                static_cast<AVPixelFormat>(source->format));
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            break;
        default:
            throw FFMpegException("invalid codec_type of output stream");
        }
        ost.EncodingNeeded = true;
        ist.DecodingNeeded = true;

        if (ost.Encoder->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))
            openPassLog(ost, o, n);
    }
}

namespace {

// The output files' descriptions and the "Stream mapping:" lines.
void logOutputsAndMapping(const RunState& run, const std::vector<OutputFile>& outputs,
                          const OptionState& options, const RunLog& log)
{
    for (std::size_t f = 0; f < outputs.size(); ++f)
        lib.av_dump_format(outputs[f].context.get(), static_cast<int>(f),
                           outputs[f].fileName.c_str(), 1);

    if (options.verbosity >= kLogError && log.Connected()) {
        log(kLogInfo, "Stream mapping:");
        for (const TOutputStream& ost : run.Outputs) {
            const TInputStream& source = run.Inputs[ost.SourceIndex];
            log(kLogInfo, "  Stream #%d.%d -> #%d.%d", source.FileIndex, source.StreamIndex,
                ost.FileIndex, ost.Index);
            if (ost.SyncIndex != ost.SourceIndex) {
                const TInputStream& sync = run.Inputs[ost.SyncIndex];
                log(kLogInfo, " [sync #%d.%d]", sync.FileIndex, sync.StreamIndex);
            }
        }
    }
}

// Logs (level 0) each named parameter that no parameter object, muxer or
// encoder took, once.
void reportIgnoredParameters(const ParameterDefaults& defaults,
                             const std::vector<std::string>& taken, const RunLog& log)
{
    std::vector<std::string> reported;
    for (const auto& [name, value] : defaults.privateParameters) {
        if (std::find(taken.begin(), taken.end(), name) != taken.end() ||
            std::find(reported.begin(), reported.end(), name) != reported.end())
            continue;
        reported.push_back(name);
        log(kLogError, "ignored option: %s", name.c_str());
    }
}

// Settings an encoder decides itself: the sample format and rate it takes,
// and a subtitle encoder's style header from its decoder.
void fitEncoderSettings(const RunState& run, const TOutputStream& ost, const AVCodec* encoder)
{
    AVCodecContext* codec = ost.Encoder;
    if (codec->codec_type == AVMEDIA_TYPE_AUDIO) {
        codec->sample_fmt = encoderSampleFormat(encoder);
        codec->sample_rate = encoderSampleRate(encoder, codec->sample_rate);
        codec->time_base = AVRational{1, codec->sample_rate};
    }
    if (codec->codec_type != AVMEDIA_TYPE_SUBTITLE)
        return;
    const TInputStream& ist = run.Inputs[ost.SourceIndex];
    codec->time_base = AVRational{1, 1000};
    if (!ist.Decoder->subtitle_header)
        return;
    // Text subtitle encoders need the decoder's style header.
    codec->subtitle_header =
        static_cast<uint8_t*>(lib.av_mallocz(ist.Decoder->subtitle_header_size + 1));
    if (codec->subtitle_header) {
        std::copy_n(ist.Decoder->subtitle_header, ist.Decoder->subtitle_header_size,
                    codec->subtitle_header);
        codec->subtitle_header_size = ist.Decoder->subtitle_header_size;
    }
}

// Describes the opened encoder's stream to the muxer. Throws FFMpegException.
void describeEncodedStream(TOutputStream& ost)
{
    AVCodecContext* codec = ost.Encoder;
    if (lib.avcodec_parameters_from_context(ost.Stream->codecpar, codec) < 0)
        throw FFMpegException("av_mallocz fail");
    // What the encoder tells the muxer beside the packets: the buffer
    // size and rates that MPEG program streams write into their headers.
    for (int i = 0; i < codec->nb_coded_side_data; ++i) {
        const AVPacketSideData& side = codec->coded_side_data[i];
        uint8_t* copy = lib.av_stream_new_side_data(ost.Stream, side.type, side.size);
        if (!copy)
            throw FFMpegException("av_mallocz fail");
        std::copy_n(side.data, side.size, copy);
    }
    ost.Stream->time_base = codec->time_base;
    if (codec->codec_type == AVMEDIA_TYPE_VIDEO) {
        ost.Stream->avg_frame_rate = codec->framerate;
        ost.Stream->r_frame_rate = codec->framerate;
        ost.Stream->sample_aspect_ratio = codec->sample_aspect_ratio;
    }
}

// Opens the decoders the run needs, under the codec lock. Throws FFMpegException.
void openDecoders(RunState& run, std::recursive_mutex& codecLock)
{
    for (TInputStream& ist : run.Inputs) {
        if (!ist.DecodingNeeded)
            continue;
        const AVCodec* decoder = lib.avcodec_find_decoder(ist.Decoder->codec_id);
        if (!decoder)
            throw FormattedException("Unsupported codec (id=%d) for input stream #%d.%d",
                               static_cast<int>(ist.Decoder->codec_id), ist.FileIndex,
                               ist.StreamIndex);
        int opened = 0;
        {
            std::lock_guard guard(codecLock);
            opened = lib.avcodec_open2(ist.Decoder, decoder, nullptr);
        }
        if (opened < 0)
            throw FormattedException("Error while opening codec for input stream #%d.%d",
                               ist.FileIndex, ist.StreamIndex);
        ist.DecoderOpen = true;
    }
}

// Copies the tags the "map_meta_data" options name. Throws FFMpegException.
void copyMappedMetadata(const std::vector<TMetaDataMap>& maps, const std::vector<InputFile>& inputs,
                        std::vector<OutputFile>& outputs)
{
    for (const TMetaDataMap& map : maps) {
        if (map.OutFile < 0 || map.OutFile >= static_cast<int>(outputs.size()))
            throw FormattedException("Invalid output file index %d map_meta_data(%d,%d)", map.OutFile,
                               map.OutFile, map.InFile);
        if (map.InFile < 0 || map.InFile >= static_cast<int>(inputs.size()))
            throw FormattedException("Invalid input file index %d map_meta_data(%d,%d)", map.InFile,
                               map.OutFile, map.InFile);
        const AVDictionary* from = inputs[map.InFile].context->metadata;
        AVDictionary** to = &outputs[map.OutFile].context->metadata;
        for (const char* key :
             {"title", "artist", "author", "copyright", "comment", "album", "date", "track",
              "genre"})
            copyTag(to, from, key);
    }
}

// Opens the encoder of `ost` with the private parameters it takes, and adds
// the names of those to `taken`. Throws FFMpegException.
void openEncoder(const RunState& run, TOutputStream& ost, const OptionState& options,
                 const ParameterDefaults& defaults, std::vector<std::string>& taken)
{
    AVCodecContext* codec = ost.Encoder;
    const AVCodec* encoder = lib.avcodec_find_encoder(codec->codec_id);
    if (!encoder)
        throw FormattedException("Unsupported codec for output stream #%d.%d", ost.FileIndex,
                           ost.Index);
    fitEncoderSettings(run, ost, encoder);
    if (ost.FirstPassStats)
        codec->stats_in = ost.FirstPassStats.get();
    if (codec->thread_count == 0 && EncodesOnOwnThread(ost, options))
        codec->thread_count = PipelineCodecThreads();

    // Parameters that belong to this encoder alone ("preset", "crf").
    DictionaryPtr privateOptions;
    for (const auto& [name, value] : defaults.privateParameters)
        SetDictionaryEntry(privateOptions, name.c_str(), value.c_str());
    int opened = 0;
    {
        std::lock_guard guard(TCustomFFmpeg::CodecLock());
        opened = lib.avcodec_open2(codec, encoder, LentDictionary(privateOptions).get());
    }
    // The encoder leaves what it did not take in the dictionary.
    for (const auto& [name, value] : defaults.privateParameters)
        if (!lib.av_dict_get(privateOptions.get(), name.c_str(), nullptr, 0))
            taken.push_back(name);
    if (opened < 0)
        throw FormattedException("Error while opening codec for output stream #%d.%d - maybe "
                           "incorrect parameters such as bit_rate, rate, width or height",
                           ost.FileIndex, ost.Index);
    ost.EncoderOpen = true;
    describeEncodedStream(ost);
}

}  // namespace

void OpenCodecs(RunState& run, const std::vector<InputFile>& inputs,
                std::vector<OutputFile>& outputs, const OptionState& options,
                const ParameterDefaults& defaults, const RunLog& log)
{
    std::vector<std::string> taken = defaults.takenPrivateParameters;
    for (TOutputStream& ost : run.Outputs)
        if (ost.EncodingNeeded)
            openEncoder(run, ost, options, defaults, taken);

    // The streams describe themselves fully only once their encoders are open.
    logOutputsAndMapping(run, outputs, options, log);
    reportIgnoredParameters(defaults, taken, log);

    openDecoders(run, TCustomFFmpeg::CodecLock());
    for (TInputStream& ist : run.Inputs) {
        ist.CurrentPts = 0;
        ist.NextPts = kNoPts;
        ist.IsStart = true;
    }
    copyMappedMetadata(options.metaDataMaps, inputs, outputs);

    for (std::size_t f = 0; f < outputs.size(); ++f) {
        BeginWritingOutput(outputs[f]);
        if (lib.avformat_write_header(outputs[f].context.get(), nullptr) < 0) {
            outputs[f].broken = true;
            throw FormattedException(
                "Could not write header for output file #%d (incorrect codec parameters ?)",
                static_cast<int>(f));
        }
    }

    const bool allRtp = std::all_of(outputs.begin(), outputs.end(), [](const OutputFile& f) {
        return std::string_view(f.context->oformat->name) == "rtp";
    });
    if (allRtp && log.Connected()) {
        std::vector<AVFormatContext*> contexts;
        for (OutputFile& file : outputs)
            contexts.push_back(file.context.get());
        char sdp[2048] = {};
        lib.av_sdp_create(contexts.data(), static_cast<int>(contexts.size()), sdp, sizeof sdp);
        log(kLogInfo, "SDP: %s", sdp);
    }
}

}  // namespace clipmora
