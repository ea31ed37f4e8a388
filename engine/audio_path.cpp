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

}  // namespace

void SampleFifo::read(uint8_t* out, std::size_t count)
{
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(read_), count, out);
    read_ += count;
    if (read_ == data_.size()) {
        data_.clear();
        read_ = 0;
    } else if (read_ > 65536 && read_ * 2 > data_.size()) {
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(read_));
        read_ = 0;
    }
}

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
    const OptionState& o = options_;
    AVCodecContext* encoder = ost.Encoder;
    const AVCodecContext* decoder = ist.Decoder;
    const int inChannels = decoder->ch_layout.nb_channels;
    const int outChannels = encoder->ch_layout.nb_channels;
    const int inRate = decoder->sample_rate;
    const int outRate = encoder->sample_rate;
    if (inChannels <= 0 || outChannels <= 0 || inRate <= 0 || outRate <= 0)
        return;

    if (inChannels != outChannels)
        ost.AudioResample = true;
    if (ost.AudioResample && !ost.Resampler) {
        AVChannelLayout inLayout{}, outLayout{};
        lib.av_channel_layout_default(&inLayout, inChannels);
        lib.av_channel_layout_default(&outLayout, outChannels);
        ost.Resampler = MakeResampler({&outLayout, AV_SAMPLE_FMT_S16, outRate},
                                      {&inLayout, AV_SAMPLE_FMT_S16, inRate});
        lib.av_channel_layout_uninit(&inLayout);
        lib.av_channel_layout_uninit(&outLayout);
        if (!ost.Resampler)
            throw FormattedException("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                     inChannels, inRate, outChannels, outRate);
    }

    const std::size_t inFrameBytes = static_cast<std::size_t>(inChannels) * 2;
    if (o.audioSync != 0) {
        const TInputStream& sync = run.Inputs[ost.SyncIndex];
        const double ipts = static_cast<double>(sync.CurrentPts - o.startTime) / 1000000.0;
        const double queued = static_cast<double>(ost.Fifo.size()) / (2.0 * outChannels);
        const double delta = ipts * outRate - static_cast<double>(ost.SyncCount) - queued;
        const double idelta = delta * inRate / outRate;
        int64_t byteDelta = static_cast<int64_t>(idelta) * static_cast<int64_t>(inFrameBytes);
        if (std::fabs(delta) > 50) {
            if (ist.IsStart || std::fabs(delta) > o.audioDriftThreshold * outRate) {
                if (byteDelta < 0) {
                    // The output is ahead: drop the overlap from the block's front.
                    byteDelta = std::max<int64_t>(byteDelta, -static_cast<int64_t>(size));
                    byteDelta -= byteDelta % static_cast<int64_t>(inFrameBytes);
                    data += -byteDelta;
                    size -= static_cast<std::size_t>(-byteDelta);
                    if (o.verbosity >= kLogEverything)
                        LogMessage(kLogInfo, "discarding %d audio samples", static_cast<int>(-delta));
                    if (size == 0)
                        return;
                    ist.IsStart = false;
                } else {
                    // The output is behind: put silence in front of the block.
                    if (static_cast<std::size_t>(byteDelta) + size <= kMaxSilenceBytes) {
                        ist.IsStart = false;
                    } else {
                        byteDelta = static_cast<int64_t>(kMaxSilenceBytes) -
                                    static_cast<int64_t>(std::min(size, kMaxSilenceBytes));
                        byteDelta -= byteDelta % static_cast<int64_t>(inFrameBytes);
                    }
                    ost.Silence.assign(static_cast<std::size_t>(byteDelta), 0);
                    ost.Silence.insert(ost.Silence.end(), data, data + size);
                    data = ost.Silence.data();
                    size = ost.Silence.size();
                    if (o.verbosity >= kLogEverything)
                        LogMessage(kLogInfo, "adding %d audio samples of silence", static_cast<int>(delta));
                }
            } else if (o.audioSync >= 2 && ost.Resampler) {
                const int compensation =
                    std::clamp(static_cast<int>(delta), -o.audioSync, o.audioSync);
                if (o.verbosity >= kLogEverything)
                    LogMessage(kLogInfo, "compensating audio timestamp drift:%.2f compensation:%d in:%d",
                               delta, compensation, outRate);
                lib.swr_set_compensation(ost.Resampler.get(), compensation, outRate);
            }
        }
    } else {
        const double ipts = static_cast<double>(ist.CurrentPts - o.startTime) / 1000000.0;
        const double queued = static_cast<double>(ost.Fifo.size()) / (2.0 * outChannels);
        ost.SyncCount = std::llrint(ipts * outRate) - static_cast<int64_t>(queued);
    }

    const int inSamples = static_cast<int>(size / inFrameBytes);
    if (ost.AudioResample) {
        const int64_t pending = lib.swr_get_delay(ost.Resampler.get(), inRate);
        const int capacity =
            static_cast<int>((pending + inSamples) * static_cast<int64_t>(outRate) / inRate + 256);
        ost.Resampled.resize(static_cast<std::size_t>(capacity) * outChannels * 2);
        uint8_t* out = ost.Resampled.data();
        const int produced = lib.swr_convert(ost.Resampler.get(), &out, capacity, &data, inSamples);
        if (produced < 0)
            throw FFMpegException("Audio resampling failed");
        encodeAudioBlock(run, ost, ost.Resampled.data(), produced);
    } else {
        encodeAudioBlock(run, ost, data, inSamples);
    }
}

void TCustomFFmpeg::encodeAudioBlock(RunState& run, TOutputStream& ost, const uint8_t* data,
                                     int samples, bool asOneFrame)
{
    AVCodecContext* encoder = ost.Encoder;
    const std::size_t sampleBytes = static_cast<std::size_t>(encoder->ch_layout.nb_channels) * 2;

    auto sendFrame = [&](const uint8_t* block, int count) {
        FramePtr frame(lib.av_frame_alloc());
        if (!frame)
            throw FFMpegException("av_mallocz fail");
        frame->format = encoder->sample_fmt;
        frame->nb_samples = count;
        frame->sample_rate = encoder->sample_rate;
        if (lib.av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
            lib.av_frame_get_buffer(frame.get(), 0) < 0)
            throw FFMpegException("av_mallocz fail");
        if (ost.ToEncoder)
            lib.swr_convert(ost.ToEncoder.get(), frame->extended_data, count, &block, count);
        else
            std::copy_n(block, static_cast<std::size_t>(count) * sampleBytes, frame->data[0]);
        frame->pts = ost.SyncCount;
        encodeFrame(run, ost, frame.get());
    };

    if (encoder->frame_size > 1 && !asOneFrame) {
        ost.Fifo.write(data, static_cast<std::size_t>(samples) * sampleBytes);
        const std::size_t frameBytes = static_cast<std::size_t>(encoder->frame_size) * sampleBytes;
        std::vector<uint8_t> frameData(frameBytes);
        while (ost.Fifo.size() >= frameBytes) {
            ost.Fifo.read(frameData.data(), frameBytes);
            sendFrame(frameData.data(), encoder->frame_size);
            ost.SyncCount += encoder->frame_size;
        }
    } else if (samples > 0) {
        // Encoders without framing (PCM) take the block as it is; so does
        // the last, short block of the stream.
        sendFrame(data, samples);
        ost.SyncCount += samples;
    }
}

void TCustomFFmpeg::flushAudio(RunState& run, TOutputStream& ost)
{
    AVCodecContext* encoder = ost.Encoder;
    const std::size_t sampleBytes = static_cast<std::size_t>(encoder->ch_layout.nb_channels) * 2;
    const std::size_t left = ost.Fifo.size();
    if (encoder->frame_size > 1 && left > 0) {
        // The last samples go out as a short frame; the library completes it
        // with silence for encoders that need whole frames, so no sound is lost.
        std::vector<uint8_t> last(left);
        ost.Fifo.read(last.data(), left);
        encodeAudioBlock(run, ost, last.data(), static_cast<int>(left / sampleBytes), true);
    }
    encodeFrame(run, ost, nullptr);
}

}  // namespace clipmora
