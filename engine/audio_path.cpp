// The audio output path: volume, keeping the output in step with the input
// clock (discarding, inserting silence, or stretching through resampler
// compensation), channel and rate conversion, encoder-sized frames through a
// FIFO, encoding. Samples travel interleaved in one format from the decoder
// to the encoder: 16-bit where the decoder gives 16-bit and every encoder it
// feeds takes 16-bit, 32-bit float otherwise (so sound decoded as float is
// never cut down to 16 bits on the way). They are converted once after the
// decoder and once into the encoder's own format. Synchronisation counts
// samples, whatever their format.
#include "engine/ffmpeg_exception.h"
#include "engine/run_stages.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace clipmora {
namespace {

// The longest silence inserted in one go, in samples of all channels
// together (128 KiB of 16-bit sound); a longer gap is closed over several
// blocks.
constexpr std::size_t kMaxSilenceSamples = 65536;

// Full scale, where a volume above unity clips: the 16-bit limits, and the
// same for float samples (1.0 is 32,768 steps of 16-bit sound).
constexpr float kLowest16 = -32768.0f;
constexpr float kHighest16 = 32767.0f;
constexpr float kLowestFloat = -1.0f;
constexpr float kHighestFloat = 32767.0f / 32768.0f;

bool isSixteenBit(int format)
{
    return format == AV_SAMPLE_FMT_S16 || format == AV_SAMPLE_FMT_S16P;
}

// The format sound of input stream `inputIndex` travels in, from its first
// decoded block in `decoded`: 16-bit when the decoder and every encoder it
// feeds take 16-bit, float otherwise.
AVSampleFormat choosePathFormat(const RunState& run, int inputIndex, int decoded)
{
    if (!isSixteenBit(decoded))
        return AV_SAMPLE_FMT_FLT;
    for (const TOutputStream& ost : run.Outputs)
        if (ost.SourceIndex == inputIndex && ost.EncodingNeeded &&
            !isSixteenBit(ost.Encoder->sample_fmt))
            return AV_SAMPLE_FMT_FLT;
    return AV_SAMPLE_FMT_S16;
}

// Samples per channel waiting in the stream's FIFO for a full encoder frame.
int64_t queuedSamples(const AudioOutputState& audio)
{
    return audio.Fifo ? lib.av_audio_fifo_size(audio.Fifo.get()) : 0;
}

// Makes the channel and rate converter once the stream needs one.
void prepareResampler(AudioOutputState& audio, const AudioShape& shape)
{
    if (shape.inChannels != shape.outChannels || shape.inRate != shape.outRate)
        audio.Resample = true;
    if (!audio.Resample || audio.Resampler)
        return;
    AVChannelLayout inLayout{}, outLayout{};
    lib.av_channel_layout_default(&inLayout, shape.inChannels);
    lib.av_channel_layout_default(&outLayout, shape.outChannels);
    audio.Resampler = MakeResampler({&outLayout, audio.Format, shape.outRate},
                                    {&inLayout, audio.Format, shape.inRate});
    lib.av_channel_layout_uninit(&inLayout);
    lib.av_channel_layout_uninit(&outLayout);
    if (!audio.Resampler)
        throw FormattedException("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                 shape.inChannels, shape.inRate, shape.outChannels,
                                 shape.outRate);
}

// Room for what `resampler` makes of `inSamples` more samples at `inRate`,
// with what it still holds, at `outRate`.
int resampledCapacity(SwrContext* resampler, int inSamples, int inRate, int outRate)
{
    const int64_t pending = lib.swr_get_delay(resampler, inRate);
    return static_cast<int>((pending + inSamples) * static_cast<int64_t>(outRate) / inRate + 256);
}

// Converts `inSamples` of `in` (null: drains what the converter's filter
// still holds) into `out`, made room for `capacity` samples of `frameBytes`
// each. Returns the samples produced.
int convert(SwrContext* converter, std::vector<uint8_t>& out, std::size_t frameBytes,
            int capacity, const uint8_t* const* in, int inSamples)
{
    out.resize(static_cast<std::size_t>(capacity) * frameBytes);
    uint8_t* target = out.data();
    const int produced = lib.swr_convert(converter, &target, capacity,
                                         const_cast<const uint8_t**>(in), inSamples);
    if (produced < 0)
        throw FFMpegException("Audio resampling failed");
    return produced;
}

// Converts a decoded block whose format or shape is not the path's into the
// path's, in `sound.Samples`; the converter is rebuilt whenever the blocks'
// shape changes. A block with the path's channels keeps its own layout, so
// only its format (and rate) change. Returns the bytes produced.
std::size_t convertToPath(InputSound& sound, const AVFrame& frame, const BlockShape& block,
                          const TInputStream& stream)
{
    if (!sound.ToPath || sound.ToPathFrom != block) {
        AVChannelLayout pathLayout{};
        if (block.Channels == sound.Path.Channels)
            lib.av_channel_layout_copy(&pathLayout, &frame.ch_layout);
        else
            lib.av_channel_layout_default(&pathLayout, sound.Path.Channels);
        sound.ToPath = MakeResampler({&pathLayout, sound.Path.Format, sound.Path.Rate},
                                     {&frame.ch_layout, block.Format, block.Rate});
        lib.av_channel_layout_uninit(&pathLayout);
        sound.ToPathFrom = block;
        if (!sound.ToPath)
            throw FFMpegException("Can not convert the decoded audio of stream #" +
                                  std::to_string(stream.FileIndex) + "." +
                                  std::to_string(stream.StreamIndex));
    }
    const std::size_t frameBytes = static_cast<std::size_t>(sound.Path.Channels) *
                                   lib.av_get_bytes_per_sample(sound.Path.Format);
    const int capacity =
        resampledCapacity(sound.ToPath.get(), frame.nb_samples, block.Rate, sound.Path.Rate);
    return static_cast<std::size_t>(convert(sound.ToPath.get(), sound.Samples, frameBytes,
                                            capacity, frame.extended_data, frame.nb_samples)) *
           frameBytes;
}

// Converts `inSamples` of `data` into the stream's resampled buffer, room
// for `capacity` samples; no data drains what the converter's filter still
// holds. Returns the samples produced.
int resample(AudioOutputState& audio, int outChannels, int capacity, const uint8_t* data,
             int inSamples)
{
    return convert(audio.Resampler.get(), audio.Resampled,
                   static_cast<std::size_t>(outChannels) * audio.SampleBytes, capacity,
                   data ? &data : nullptr, inSamples);
}

}  // namespace

AudioPath::AudioPath(const OptionState& options, RunState& run, PacketWriter& writer,
                     const RunLog& log)
    : options_(options), run_(run), writer_(writer), log_(log), inputs_(run.Inputs.size()),
      outputs_(run.Outputs.size())
{
    // Sound is resampled where the encoder takes another rate than the
    // source gives, and always where drift is compensated.
    for (std::size_t n = 0; n < run.Outputs.size(); ++n) {
        const TOutputStream& ost = run.Outputs[n];
        if (ost.EncodingNeeded && ost.Encoder->codec_type == AVMEDIA_TYPE_AUDIO)
            outputs_[n].Resample =
                ost.Encoder->sample_rate !=
                    run.Inputs[ost.SourceIndex].Stream->codecpar->sample_rate ||
                options.audioSync >= 2;
    }
}

std::size_t AudioPath::TakeDecodedSound(int inputIndex, const AVFrame& frame)
{
    InputSound& sound = inputs_[static_cast<std::size_t>(inputIndex)];
    const BlockShape block{static_cast<AVSampleFormat>(frame.format), frame.ch_layout.nb_channels,
                           frame.sample_rate};
    if (sound.Path.Format == AV_SAMPLE_FMT_NONE)
        sound.Path = {choosePathFormat(run_, inputIndex, frame.format), block.Channels, block.Rate};
    std::size_t bytes = 0;
    if (block == sound.Path) {
        bytes = static_cast<std::size_t>(frame.nb_samples) * block.Channels *
                lib.av_get_bytes_per_sample(block.Format);
        sound.Samples.resize(bytes);
        std::copy_n(frame.extended_data[0], bytes, sound.Samples.data());
    } else {
        bytes = convertToPath(sound, frame, block, run_.Inputs[inputIndex]);
    }
    if (options_.audioVolume != 256)
        applyVolume(sound.Path.Format, sound.Samples.data(), bytes);
    return bytes;
}

void AudioPath::applyVolume(AVSampleFormat format, uint8_t* samples, std::size_t bytes) const
{
    // 256 is unity. A 16-bit sample times the gain is exact in float
    // whenever the result lies within full scale, and past it the clamp
    // decides; so rounding half up gives exactly the integer formula's
    // (s * volume + 128) >> 8, clamped, on 16-bit sound.
    const float gain = static_cast<float>(options_.audioVolume) / 256.0f;
    if (format == AV_SAMPLE_FMT_S16) {
        auto* sample = reinterpret_cast<int16_t*>(samples);
        for (std::size_t i = 0; i < bytes / sizeof(int16_t); ++i)
            sample[i] = static_cast<int16_t>(
                std::floor(std::clamp(sample[i] * gain, kLowest16, kHighest16) + 0.5f));
    } else {
        auto* sample = reinterpret_cast<float*>(samples);
        for (std::size_t i = 0; i < bytes / sizeof(float); ++i)
            sample[i] = std::clamp(sample[i] * gain, kLowestFloat, kHighestFloat);
    }
}

void AudioPath::Output(int outputIndex, std::size_t size)
{
    TOutputStream& ost = run_.Outputs[static_cast<std::size_t>(outputIndex)];
    AudioOutputState& audio = outputs_[static_cast<std::size_t>(outputIndex)];
    TInputStream& ist = run_.Inputs[ost.SourceIndex];
    const InputSound& sound = inputs_[static_cast<std::size_t>(ost.SourceIndex)];
    const uint8_t* data = sound.Samples.data();
    const AudioShape shape{sound.Path.Channels, ost.Encoder->ch_layout.nb_channels,
                           sound.Path.Rate, ost.Encoder->sample_rate};
    if (shape.inChannels <= 0 || shape.outChannels <= 0 || shape.inRate <= 0 ||
        shape.outRate <= 0)
        return;
    if (audio.Format == AV_SAMPLE_FMT_NONE) {
        audio.Format = sound.Path.Format;
        audio.SampleBytes = lib.av_get_bytes_per_sample(audio.Format);
    }
    prepareResampler(audio, shape);
    const auto frameBytes = static_cast<std::size_t>(shape.inChannels) * audio.SampleBytes;

    if (options_.audioSync != 0) {
        if (!syncAudio(ost, audio, ist, shape, data, size))
            return;
    } else {
        const double ipts = static_cast<double>(ist.CurrentPts - options_.startTime) / 1000000.0;
        int64_t blockStart = std::llrint(ipts * shape.outRate);
        // Sound from before the start (an input read from the key frame
        // before its start time) stays out: the output's time begins at 0.
        if (blockStart < 0) {
            const auto early = static_cast<std::size_t>(
                std::llrint(static_cast<double>(-blockStart) * shape.inRate / shape.outRate));
            if (early * frameBytes >= size)
                return;
            data += early * frameBytes;
            size -= early * frameBytes;
            blockStart = 0;
        }
        ost.SyncCount = blockStart - queuedSamples(audio);
    }

    const int inSamples = static_cast<int>(size / frameBytes);
    if (!audio.Resample)
        return encodeBlock(ost, audio, data, inSamples);
    const int capacity =
        resampledCapacity(audio.Resampler.get(), inSamples, shape.inRate, shape.outRate);
    const int produced = resample(audio, shape.outChannels, capacity, data, inSamples);
    encodeBlock(ost, audio, audio.Resampled.data(), produced);
}

bool AudioPath::syncAudio(TOutputStream& ost, AudioOutputState& audio, TInputStream& ist,
                          const AudioShape& shape, const uint8_t*& data, std::size_t& size)
{
    const OptionState& o = options_;
    const TInputStream& sync = run_.Inputs[ost.SyncIndex];
    const double ipts = static_cast<double>(sync.CurrentPts - o.startTime) / 1000000.0;
    const double delta = ipts * shape.outRate - static_cast<double>(ost.SyncCount) -
                         static_cast<double>(queuedSamples(audio));
    if (std::fabs(delta) <= 50)
        return true;
    if (ist.IsStart || std::fabs(delta) > o.audioDriftThreshold * shape.outRate) {
        const auto frameBytes = static_cast<int64_t>(shape.inChannels) * audio.SampleBytes;
        const int64_t byteDelta =
            static_cast<int64_t>(delta * shape.inRate / shape.outRate) * frameBytes;
        if (byteDelta < 0)
            return discardAudio(ist, -byteDelta, frameBytes, delta, data, size);
        insertSilence(audio, ist, byteDelta, frameBytes, delta, data, size);
    } else if (o.audioSync >= 2 && audio.Resampler) {
        const int compensation = std::clamp(static_cast<int>(delta), -o.audioSync, o.audioSync);
        if (o.verbosity >= kLogEverything)
            log_(kLogInfo, "compensating audio timestamp drift:%.2f compensation:%d in:%d", delta,
                 compensation, shape.outRate);
        lib.swr_set_compensation(audio.Resampler.get(), compensation, shape.outRate);
    }
    return true;
}

bool AudioPath::discardAudio(TInputStream& ist, int64_t bytes, int64_t frameBytes, double delta,
                             const uint8_t*& data, std::size_t& size)
{
    // The output is ahead: drop the overlap from the block's front.
    bytes = std::min<int64_t>(bytes, static_cast<int64_t>(size));
    bytes -= bytes % frameBytes;
    data += bytes;
    size -= static_cast<std::size_t>(bytes);
    if (options_.verbosity >= kLogEverything)
        log_(kLogInfo, "discarding %d audio samples", static_cast<int>(-delta));
    if (size == 0)
        return false;
    ist.IsStart = false;
    return true;
}

void AudioPath::insertSilence(AudioOutputState& audio, TInputStream& ist, int64_t bytes,
                              int64_t frameBytes, double delta, const uint8_t*& data,
                              std::size_t& size)
{
    // The output is behind: put silence in front of the block (zero bytes
    // are silence in 16-bit and float alike).
    const std::size_t maxBytes = kMaxSilenceSamples * audio.SampleBytes;
    if (static_cast<std::size_t>(bytes) + size <= maxBytes) {
        ist.IsStart = false;
    } else {
        bytes = static_cast<int64_t>(maxBytes) - static_cast<int64_t>(std::min(size, maxBytes));
        bytes -= bytes % frameBytes;
    }
    std::vector<uint8_t>& silence = audio.Silence;
    silence.assign(static_cast<std::size_t>(bytes), 0);
    silence.insert(silence.end(), data, data + size);
    data = silence.data();
    size = silence.size();
    if (options_.verbosity >= kLogEverything)
        log_(kLogInfo, "adding %d audio samples of silence", static_cast<int>(delta));
}

void AudioPath::encodeFrame(TOutputStream& ost, AudioOutputState& audio, const uint8_t* block,
                            int count)
{
    AVCodecContext* encoder = ost.Encoder;
    FramePtr frame(lib.av_frame_alloc());
    if (!frame)
        throw FFMpegException("av_mallocz fail");
    frame->format = encoder->sample_fmt;
    frame->nb_samples = count;
    frame->sample_rate = encoder->sample_rate;
    if (lib.av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
        lib.av_frame_get_buffer(frame.get(), 0) < 0)
        throw FFMpegException("av_mallocz fail");
    if (encoder->sample_fmt == audio.Format) {
        std::copy_n(block, static_cast<std::size_t>(count) * encoder->ch_layout.nb_channels *
                               audio.SampleBytes,
                    frame->data[0]);
    } else {
        if (!audio.ToEncoder) {
            audio.ToEncoder =
                MakeResampler({&encoder->ch_layout, encoder->sample_fmt, encoder->sample_rate},
                              {&encoder->ch_layout, audio.Format, encoder->sample_rate});
            if (!audio.ToEncoder)
                throw FormattedException(
                    "Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                    encoder->ch_layout.nb_channels, encoder->sample_rate,
                    encoder->ch_layout.nb_channels, encoder->sample_rate);
        }
        lib.swr_convert(audio.ToEncoder.get(), frame->extended_data, count, &block, count);
    }
    frame->pts = ost.SyncCount;
    writer_.EncodeFrame(ost, frame.get());
}

void AudioPath::encodeBlock(TOutputStream& ost, AudioOutputState& audio, const uint8_t* data,
                            int samples)
{
    AVCodecContext* encoder = ost.Encoder;
    if (encoder->frame_size <= 1) {
        // Encoders without framing (PCM) take the block as it is.
        if (samples > 0)
            encodeFrame(ost, audio, data, samples);
        ost.SyncCount += samples;
        return;
    }
    if (!audio.Fifo) {
        audio.Fifo.reset(lib.av_audio_fifo_alloc(audio.Format, encoder->ch_layout.nb_channels,
                                                 encoder->frame_size));
        if (!audio.Fifo)
            throw FFMpegException("av_mallocz fail");
    }
    void* in = const_cast<uint8_t*>(data);
    if (samples > 0 && lib.av_audio_fifo_write(audio.Fifo.get(), &in, samples) < samples)
        throw FFMpegException("av_mallocz fail");
    const std::size_t frameBytes = static_cast<std::size_t>(encoder->frame_size) *
                                   encoder->ch_layout.nb_channels * audio.SampleBytes;
    std::vector<uint8_t> frameData(frameBytes);
    void* out = frameData.data();
    while (lib.av_audio_fifo_size(audio.Fifo.get()) >= encoder->frame_size) {
        lib.av_audio_fifo_read(audio.Fifo.get(), &out, encoder->frame_size);
        encodeFrame(ost, audio, frameData.data(), encoder->frame_size);
        ost.SyncCount += encoder->frame_size;
    }
}

void AudioPath::Flush(int outputIndex)
{
    TOutputStream& ost = run_.Outputs[static_cast<std::size_t>(outputIndex)];
    AudioOutputState& audio = outputs_[static_cast<std::size_t>(outputIndex)];
    AVCodecContext* encoder = ost.Encoder;
    if (audio.Resampler) {
        // The converter's filter still holds the sound's last samples.
        constexpr int kDrainSamples = 4096;
        while (const int produced = resample(audio, encoder->ch_layout.nb_channels,
                                             kDrainSamples, nullptr, 0))
            encodeBlock(ost, audio, audio.Resampled.data(), produced);
    }
    const int left = static_cast<int>(queuedSamples(audio));
    if (encoder->frame_size > 1 && left > 0) {
        // The last samples go out as a short frame; the library completes it
        // with silence for encoders that need whole frames, so no sound is lost.
        std::vector<uint8_t> last(static_cast<std::size_t>(left) * encoder->ch_layout.nb_channels *
                                  audio.SampleBytes);
        void* out = last.data();
        lib.av_audio_fifo_read(audio.Fifo.get(), &out, left);
        encodeFrame(ost, audio, last.data(), left);
        ost.SyncCount += left;
    }
    writer_.EncodeFrame(ost, nullptr);
}

}  // namespace clipmora
