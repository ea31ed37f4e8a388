// The audio output path: volume, keeping the output in step with the input
// clock (discarding, inserting silence, or stretching through resampler
// compensation), channel and rate conversion, encoder-sized frames through a
// FIFO, encoding. Samples travel as 16-bit interleaved until the encoder's
// own format.
#include "engine/ffmpeg_exception.h"
#include "engine/run_state.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace clipmora {
namespace {

// The longest silence inserted in one go; a longer gap is closed over
// several blocks.
constexpr std::size_t kMaxSilenceBytes = 131072;

// Samples per channel waiting in the stream's FIFO for a full encoder frame.
int64_t queuedSamples(const AudioOutputState& audio)
{
    return audio.Fifo ? lib.av_audio_fifo_size(audio.Fifo.get()) : 0;
}

// Makes the channel and rate converter of 16-bit samples once the stream
// needs one.
void prepareResampler(AudioOutputState& audio, const AudioShape& shape)
{
    if (shape.inChannels != shape.outChannels)
        audio.Resample = true;
    if (!audio.Resample || audio.Resampler)
        return;
    AVChannelLayout inLayout{}, outLayout{};
    lib.av_channel_layout_default(&inLayout, shape.inChannels);
    lib.av_channel_layout_default(&outLayout, shape.outChannels);
    audio.Resampler = MakeResampler({&outLayout, AV_SAMPLE_FMT_S16, shape.outRate},
                                    {&inLayout, AV_SAMPLE_FMT_S16, shape.inRate});
    lib.av_channel_layout_uninit(&inLayout);
    lib.av_channel_layout_uninit(&outLayout);
    if (!audio.Resampler)
        throw FormattedException("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                 shape.inChannels, shape.inRate, shape.outChannels,
                                 shape.outRate);
}

// Converts `inSamples` of `data` into the stream's resampled buffer, room
// for `capacity` samples; no data drains what the converter's filter still
// holds. Returns the samples produced.
int resample(AudioOutputState& audio, int outChannels, int capacity, const uint8_t* data,
             int inSamples)
{
    audio.Resampled.resize(static_cast<std::size_t>(capacity) * outChannels * 2);
    uint8_t* out = audio.Resampled.data();
    const int produced = lib.swr_convert(audio.Resampler.get(), &out, capacity,
                                         data ? &data : nullptr, inSamples);
    if (produced < 0)
        throw FFMpegException("Audio resampling failed");
    return produced;
}

}  // namespace

void TCustomFFmpeg::applyVolume(uint8_t* samples, std::size_t bytes) const
{
    // In 64 bits: any volume the option takes times a sample fits.
    const int64_t volume = options_.audioVolume;
    auto* sample = reinterpret_cast<int16_t*>(samples);
    for (std::size_t i = 0; i < bytes / 2; ++i) {
        const int64_t scaled = (sample[i] * volume + 128) >> 8;
        sample[i] = static_cast<int16_t>(std::clamp<int64_t>(scaled, -32768, 32767));
    }
}

void TCustomFFmpeg::audioOutput(RunState& run, TOutputStream& ost, TInputStream& ist,
                                const uint8_t* data, std::size_t size)
{
    const AudioShape shape{ist.Decoder->ch_layout.nb_channels, ost.Encoder->ch_layout.nb_channels,
                           ist.Decoder->sample_rate, ost.Encoder->sample_rate};
    if (shape.inChannels <= 0 || shape.outChannels <= 0 || shape.inRate <= 0 ||
        shape.outRate <= 0)
        return;
    prepareResampler(ost.Audio, shape);

    if (options_.audioSync != 0) {
        if (!syncAudio(run, ost, ist, shape, data, size))
            return;
    } else {
        const double ipts = static_cast<double>(ist.CurrentPts - options_.startTime) / 1000000.0;
        int64_t blockStart = std::llrint(ipts * shape.outRate);
        // Sound from before the start (an input read from the key frame
        // before its start time) stays out: the output's time begins at 0.
        if (blockStart < 0) {
            const auto frameBytes = static_cast<std::size_t>(shape.inChannels) * 2;
            const auto early = static_cast<std::size_t>(
                std::llrint(static_cast<double>(-blockStart) * shape.inRate / shape.outRate));
            if (early * frameBytes >= size)
                return;
            data += early * frameBytes;
            size -= early * frameBytes;
            blockStart = 0;
        }
        ost.SyncCount = blockStart - queuedSamples(ost.Audio);
    }

    const int inSamples = static_cast<int>(size / (static_cast<std::size_t>(shape.inChannels) * 2));
    if (!ost.Audio.Resample)
        return encodeAudioBlock(run, ost, data, inSamples);
    const int64_t pending = lib.swr_get_delay(ost.Audio.Resampler.get(), shape.inRate);
    const int capacity = static_cast<int>(
        (pending + inSamples) * static_cast<int64_t>(shape.outRate) / shape.inRate + 256);
    const int produced = resample(ost.Audio, shape.outChannels, capacity, data, inSamples);
    encodeAudioBlock(run, ost, ost.Audio.Resampled.data(), produced);
}

bool TCustomFFmpeg::syncAudio(RunState& run, TOutputStream& ost, TInputStream& ist,
                              const AudioShape& shape, const uint8_t*& data, std::size_t& size)
{
    const OptionState& o = options_;
    const TInputStream& sync = run.Inputs[ost.SyncIndex];
    const double ipts = static_cast<double>(sync.CurrentPts - o.startTime) / 1000000.0;
    const double delta = ipts * shape.outRate - static_cast<double>(ost.SyncCount) -
                         static_cast<double>(queuedSamples(ost.Audio));
    if (std::fabs(delta) <= 50)
        return true;
    if (ist.IsStart || std::fabs(delta) > o.audioDriftThreshold * shape.outRate) {
        const auto frameBytes = static_cast<int64_t>(shape.inChannels) * 2;
        const int64_t byteDelta =
            static_cast<int64_t>(delta * shape.inRate / shape.outRate) * frameBytes;
        if (byteDelta < 0)
            return discardAudio(ist, -byteDelta, frameBytes, delta, data, size);
        insertSilence(ost, ist, byteDelta, frameBytes, delta, data, size);
    } else if (o.audioSync >= 2 && ost.Audio.Resampler) {
        const int compensation = std::clamp(static_cast<int>(delta), -o.audioSync, o.audioSync);
        if (o.verbosity >= kLogEverything)
            LogMessage(kLogInfo, "compensating audio timestamp drift:%.2f compensation:%d in:%d",
                       delta, compensation, shape.outRate);
        lib.swr_set_compensation(ost.Audio.Resampler.get(), compensation, shape.outRate);
    }
    return true;
}

bool TCustomFFmpeg::discardAudio(TInputStream& ist, int64_t bytes, int64_t frameBytes,
                                 double delta, const uint8_t*& data, std::size_t& size)
{
    // The output is ahead: drop the overlap from the block's front.
    bytes = std::min<int64_t>(bytes, static_cast<int64_t>(size));
    bytes -= bytes % frameBytes;
    data += bytes;
    size -= static_cast<std::size_t>(bytes);
    if (options_.verbosity >= kLogEverything)
        LogMessage(kLogInfo, "discarding %d audio samples", static_cast<int>(-delta));
    if (size == 0)
        return false;
    ist.IsStart = false;
    return true;
}

void TCustomFFmpeg::insertSilence(TOutputStream& ost, TInputStream& ist, int64_t bytes,
                                  int64_t frameBytes, double delta, const uint8_t*& data,
                                  std::size_t& size)
{
    // The output is behind: put silence in front of the block.
    if (static_cast<std::size_t>(bytes) + size <= kMaxSilenceBytes) {
        ist.IsStart = false;
    } else {
        bytes = static_cast<int64_t>(kMaxSilenceBytes) -
                static_cast<int64_t>(std::min(size, kMaxSilenceBytes));
        bytes -= bytes % frameBytes;
    }
    std::vector<uint8_t>& silence = ost.Audio.Silence;
    silence.assign(static_cast<std::size_t>(bytes), 0);
    silence.insert(silence.end(), data, data + size);
    data = silence.data();
    size = silence.size();
    if (options_.verbosity >= kLogEverything)
        LogMessage(kLogInfo, "adding %d audio samples of silence", static_cast<int>(delta));
}

void TCustomFFmpeg::encodeAudioFrame(RunState& run, TOutputStream& ost, const uint8_t* block,
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
    if (ost.Audio.ToEncoder)
        lib.swr_convert(ost.Audio.ToEncoder.get(), frame->extended_data, count, &block, count);
    else
        std::copy_n(block, static_cast<std::size_t>(count) * encoder->ch_layout.nb_channels * 2,
                    frame->data[0]);
    frame->pts = ost.SyncCount;
    encodeFrame(run, ost, frame.get());
}

void TCustomFFmpeg::encodeAudioBlock(RunState& run, TOutputStream& ost, const uint8_t* data,
                                     int samples)
{
    AVCodecContext* encoder = ost.Encoder;
    if (encoder->frame_size <= 1) {
        // Encoders without framing (PCM) take the block as it is.
        if (samples > 0)
            encodeAudioFrame(run, ost, data, samples);
        ost.SyncCount += samples;
        return;
    }
    AudioOutputState& audio = ost.Audio;
    if (!audio.Fifo) {
        audio.Fifo.reset(lib.av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, encoder->ch_layout.nb_channels,
                                                 encoder->frame_size));
        if (!audio.Fifo)
            throw FFMpegException("av_mallocz fail");
    }
    void* in = const_cast<uint8_t*>(data);
    if (samples > 0 && lib.av_audio_fifo_write(audio.Fifo.get(), &in, samples) < samples)
        throw FFMpegException("av_mallocz fail");
    const std::size_t frameBytes =
        static_cast<std::size_t>(encoder->frame_size) * encoder->ch_layout.nb_channels * 2;
    std::vector<uint8_t> frameData(frameBytes);
    void* out = frameData.data();
    while (lib.av_audio_fifo_size(audio.Fifo.get()) >= encoder->frame_size) {
        lib.av_audio_fifo_read(audio.Fifo.get(), &out, encoder->frame_size);
        encodeAudioFrame(run, ost, frameData.data(), encoder->frame_size);
        ost.SyncCount += encoder->frame_size;
    }
}

void TCustomFFmpeg::flushAudio(RunState& run, TOutputStream& ost)
{
    AVCodecContext* encoder = ost.Encoder;
    if (ost.Audio.Resampler) {
        // The converter's filter still holds the sound's last samples.
        constexpr int kDrainSamples = 4096;
        while (const int produced = resample(ost.Audio, encoder->ch_layout.nb_channels,
                                             kDrainSamples, nullptr, 0))
            encodeAudioBlock(run, ost, ost.Audio.Resampled.data(), produced);
    }
    const int left = static_cast<int>(queuedSamples(ost.Audio));
    if (encoder->frame_size > 1 && left > 0) {
        // The last samples go out as a short frame; the library completes it
        // with silence for encoders that need whole frames, so no sound is lost.
        std::vector<uint8_t> last(static_cast<std::size_t>(left) * encoder->ch_layout.nb_channels * 2);
        void* out = last.data();
        lib.av_audio_fifo_read(ost.Audio.Fifo.get(), &out, left);
        encodeAudioFrame(run, ost, last.data(), left);
        ost.SyncCount += left;
    }
    encodeFrame(run, ost, nullptr);
}

}  // namespace clipmora
