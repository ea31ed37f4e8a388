// Two stages: the decode stage takes one input packet on its way out (the
// input stream's clock, decoding, rate emulation, the start time, stream
// copy; without a packet at the end of the input, it drains the decoders and
// the encoders), and the writer encodes frames and writes packets into the
// output files.
#include "engine/error_text.h"
#include "engine/ffmpeg_exception.h"
#include "engine/run_stages.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace clipmora {
namespace {

const AVRational kMicroseconds{1, 1000000};

// How long one decoded frame lasts, in microseconds.
int64_t frameDuration(const TInputStream& ist, const AVFrame& frame)
{
    if (ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
        return frame.sample_rate > 0 ? int64_t{1000000} * frame.nb_samples / frame.sample_rate : 0;
    if (frame.pkt_duration > 0)
        return lib.av_rescale_q(frame.pkt_duration, ist.Stream->time_base, kMicroseconds);
    AVRational rate = ist.Stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = ist.Stream->r_frame_rate;
    return rate.num > 0 && rate.den > 0 ? int64_t{1000000} * rate.den / rate.num : 0;
}

// Sleeps until the stream's data is due in real time ("re").
void emulateRate(TInputStream& ist)
{
    if (ist.RateEmulationStart == 0)
        return;
    if (ist.RateEmulationFirstPts == kNoPts)
        ist.RateEmulationFirstPts = ist.CurrentPts;
    const int64_t due = ist.CurrentPts - ist.RateEmulationFirstPts;
    const int64_t now = lib.av_gettime() - ist.RateEmulationStart;
    if (due - now > 50000)
        std::this_thread::sleep_for(std::chrono::microseconds(due - now));
}

// Pictures that may wait between the video path and an encoder thread: a
// little slack for the encoder's uneven pace, a few frames of memory.
constexpr std::size_t kEncoderQueueDepth = 4;

}  // namespace

bool EncodesOnOwnThread(const TOutputStream& ost, const OptionState& o)
{
    return o.vstatsFileName.empty() && ost.EncodingNeeded &&
           ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(ost.Encoder->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2));
}

int FramePacket(const AVFrame& frame, AVMediaType type, AVPacket& packet)
{
    const bool video = type == AVMEDIA_TYPE_VIDEO;
    const auto format = static_cast<AVPixelFormat>(frame.format);
    const int size =
        video ? lib.av_image_get_buffer_size(format, frame.width, frame.height, 1)
              : frame.nb_samples * frame.ch_layout.nb_channels *
                    lib.av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame.format));
    if (size < 0)
        return size;
    if (const int code = lib.av_new_packet(&packet, size); code < 0)
        return code;
    if (video)
        lib.av_image_copy_to_buffer(packet.data, size, frame.data, frame.linesize, format,
                                    frame.width, frame.height, 1);
    else
        std::copy_n(frame.data[0], size, packet.data);
    packet.pts = packet.dts = frame.pts;
    packet.flags |= AV_PKT_FLAG_KEY;
    return 0;
}

PacketDecoder::PacketDecoder(const OptionState& options, RunState& run, PacketWriter& writer,
                             VideoPath& video, AudioPath& audio)
    : options_(options), run_(run), writer_(writer), video_(video), audio_(audio),
      decoded_(lib.av_frame_alloc()), framesFromPacket_(run.Inputs.size(), 0)
{
    if (!decoded_)
        throw FFMpegException("av_mallocz fail");
}

int PacketDecoder::ProcessPacket(int inputIndex, AVPacket* packet)
{
    TInputStream& ist = run_.Inputs[inputIndex];
    const AVRational timeBase = ist.Stream->time_base;
    if (ist.NextPts == kNoPts)
        ist.NextPts = ist.CurrentPts;
    if (packet && packet->dts != kNoPts)
        ist.NextPts = ist.CurrentPts = lib.av_rescale_q(packet->dts, timeBase, kMicroseconds);

    if (packet) {
        // Copies take the packet as it is, also when the stream is decoded
        // for other outputs as well; the decoder then keeps the clock.
        if (!ist.DecodingNeeded) {
            ist.CurrentPts = ist.NextPts;
            const AVCodecParameters* codec = ist.Stream->codecpar;
            if (packet->duration > 0) {
                ist.NextPts += lib.av_rescale_q(packet->duration, timeBase, kMicroseconds);
            } else if (codec->codec_type == AVMEDIA_TYPE_AUDIO && codec->sample_rate > 0) {
                ist.NextPts += int64_t{1000000} * codec->frame_size / codec->sample_rate;
            } else if (codec->codec_type == AVMEDIA_TYPE_VIDEO) {
                const AVRational rate = ist.Stream->avg_frame_rate;
                if (rate.num > 0 && rate.den > 0)
                    ist.NextPts += int64_t{1000000} * rate.den / rate.num;
            }
            emulateRate(ist);
        }
        if (options_.startTime == 0 || ist.CurrentPts >= options_.startTime)
            for (TOutputStream& ost : run_.Outputs)
                if (ost.SourceIndex == inputIndex && ost.StreamCopy)
                    writer_.CopyPacket(ost, ist, *packet);
    }
    if (ist.DecodingNeeded && decodePacket(inputIndex, packet) < 0)
        return -1;

    if (!packet)
        FlushEncoders(inputIndex);
    return 0;
}

int PacketDecoder::decodePacket(int inputIndex, AVPacket* packet)
{
    TInputStream& ist = run_.Inputs[inputIndex];
    AVCodecContext* decoder = ist.Decoder;

    if (decoder->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        if (!packet)
            return 0;
        AVSubtitle subtitle{};
        int got = 0;
        if (lib.avcodec_decode_subtitle2(decoder, &subtitle, &got, packet) < 0)
            return -1;
        if (got) {
            ist.CurrentPts = ist.NextPts;
            if (options_.startTime == 0 || ist.CurrentPts >= options_.startTime)
                for (TOutputStream& ost : run_.Outputs)
                    if (ost.SourceIndex == inputIndex && ost.EncodingNeeded)
                        writer_.WriteSubtitle(ost, ist, packet->pts, subtitle);
            lib.avsubtitle_free(&subtitle);
        }
        return 0;
    }
    if (decoder->codec_type != AVMEDIA_TYPE_AUDIO && decoder->codec_type != AVMEDIA_TYPE_VIDEO)
        return -1;

    const int sent = lib.avcodec_send_packet(decoder, packet);
    if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR(EAGAIN))
        return -1;
    int& framesFromPacket = framesFromPacket_[static_cast<std::size_t>(inputIndex)];
    framesFromPacket = 0;
    AVFrame* frame = decoded_.get();
    for (;;) {
        const int received = lib.avcodec_receive_frame(decoder, frame);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            break;
        if (received < 0)
            return -1;
        if (packet && ++framesFromPacket == 2 && options_.verbosity >= kLogInfo)
            EngineLog(decoder, kLogError, "Multiple frames in a packet from stream %d\n",
                      ist.StreamIndex);
        OutputFrame(inputIndex, frame);
        lib.av_frame_unref(frame);
    }
    return 0;
}

void PacketDecoder::OutputFrame(int inputIndex, AVFrame* frame)
{
    TInputStream& ist = run_.Inputs[inputIndex];
    const int64_t timestamp = frame->best_effort_timestamp;
    ist.CurrentPts = timestamp != kNoPts
                         ? lib.av_rescale_q(timestamp, ist.Stream->time_base, kMicroseconds)
                         : ist.NextPts;
    ist.NextPts = ist.CurrentPts + frameDuration(ist, *frame);
    const bool due = options_.startTime == 0 || ist.CurrentPts >= options_.startTime;
    // The outputs this frame goes to.
    auto fed = [&](int outputIndex) {
        const TOutputStream& ost = run_.Outputs[static_cast<std::size_t>(outputIndex)];
        return due && ost.SourceIndex == inputIndex && ost.EncodingNeeded;
    };
    const int outputCount = static_cast<int>(run_.Outputs.size());

    if (ist.Decoder->codec_type == AVMEDIA_TYPE_AUDIO) {
        const std::size_t bytes = audio_.TakeDecodedSound(inputIndex, *frame);
        emulateRate(ist);
        for (int n = 0; n < outputCount; ++n)
            if (fed(n))
                audio_.Output(n, bytes);
        return;
    }

    ist.Quality = static_cast<float>(frame->quality);
    video_.Preprocess(ist, frame);
    emulateRate(ist);
    for (int n = 0; n < outputCount; ++n)
        if (fed(n))
            video_.Output(n, ist, frame);
}

void PacketDecoder::FlushEncoders(int inputIndex)
{
    for (int n = 0; n < static_cast<int>(run_.Outputs.size()); ++n) {
        TOutputStream& ost = run_.Outputs[static_cast<std::size_t>(n)];
        if (ost.SourceIndex != inputIndex || !ost.EncodingNeeded || ost.Flushed)
            continue;
        ost.Flushed = true;
        switch (ost.Encoder->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            audio_.Flush(n);
            break;
        case AVMEDIA_TYPE_VIDEO:
            writer_.EncodeFrame(ost, nullptr);
            break;
        default:
            break;
        }
    }
}

PacketWriter::PacketWriter(RunState& run, std::vector<OutputFile>& files,
                           const OptionState& options)
    : run_(run), files_(files), options_(options), packet_(lib.av_packet_alloc())
{
    if (!packet_)
        throw FFMpegException("av_mallocz fail");
}

void PacketWriter::Start()
{
    for (const TOutputStream& ost : run_.Outputs) {
        if (ost.EncoderOpen)
            headerBytes_ += ost.Encoder->extradata_size;
        if (EncodesOnOwnThread(ost, options_))
            threads_.push_back(std::make_unique<EncoderThread>(ost.Encoder, kEncoderQueueDepth));
    }
}

EncoderThread* PacketWriter::threadOf(const TOutputStream& ost) const
{
    for (const std::unique_ptr<EncoderThread>& thread : threads_)
        if (thread->Encoder() == ost.Encoder)
            return thread.get();
    return nullptr;
}

void PacketWriter::CopyPacket(TOutputStream& ost, const TInputStream& ist,
                              const AVPacket& packet)
{
    // A copy starts at a key frame, so the output decodes from its first packet.
    if (ost.FrameNumber == 0 && !(packet.flags & AV_PKT_FLAG_KEY))
        return;
    if (ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        audioBytes_ += packet.size;
    } else {
        videoBytes_ += packet.size;
        ++ost.SyncCount;
    }
    AVPacket* out = packet_.get();
    if (lib.av_packet_ref(out, &packet) < 0)
        throw FFMpegException("av_mallocz fail");
    const AVRational from = ist.Stream->time_base;
    const AVRational to = ost.Stream->time_base;
    out->stream_index = ost.Index;
    out->pts = packet.pts != kNoPts ? lib.av_rescale_q(packet.pts, from, to) : kNoPts;
    out->dts = packet.dts != kNoPts ? lib.av_rescale_q(packet.dts, from, to)
                                    : lib.av_rescale_q(ist.CurrentPts, kMicroseconds, to);
    out->duration = lib.av_rescale_q(packet.duration, from, to);
    writePacket(ost, out);
    ++ost.FrameNumber;
}

void PacketWriter::EncodeFrame(TOutputStream& ost, const AVFrame* frame)
{
    AVCodecContext* encoder = ost.Encoder;
    const bool video = encoder->codec_type == AVMEDIA_TYPE_VIDEO;
    const char* failure = video ? "Video encoding failed" : "Audio encoding failed";
    if (EncoderThread* thread = threadOf(ost)) {
        if (!thread->Send(frame))
            throw FFMpegException(failure);
        // Whatever is ready goes out now; at the end, everything.
        while (PacketPtr packet = thread->Receive(!frame))
            writeEncodedPacket(ost, packet.get());
        if (thread->Failed())
            throw FFMpegException(failure);
        return;
    }
    const int sent = lib.avcodec_send_frame(encoder, frame);
    if (sent < 0 && !(sent == AVERROR_EOF && !frame))
        throw FFMpegException(failure);
    AVPacket* out = packet_.get();
    for (;;) {
        const int received = lib.avcodec_receive_packet(encoder, out);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            break;
        if (received < 0)
            throw FFMpegException(failure);
        writeEncodedPacket(ost, out);
    }
}

void PacketWriter::writeEncodedPacket(TOutputStream& ost, AVPacket* out)
{
    AVCodecContext* encoder = ost.Encoder;
    (encoder->codec_type == AVMEDIA_TYPE_VIDEO ? videoBytes_ : audioBytes_) += out->size;
    size_t statsSize = 0;
    if (const uint8_t* stats =
            lib.av_packet_get_side_data(out, AV_PKT_DATA_QUALITY_STATS, &statsSize);
        stats && statsSize >= 4) {
        const int lambda = stats[0] | (stats[1] << 8) | (stats[2] << 16) | (stats[3] << 24);
        ost.LastQuality = static_cast<float>(lambda) / FF_QP2LAMBDA;
        if (statsSize >= 5)
            ost.LastPictureType =
                lib.av_get_picture_type_char(static_cast<AVPictureType>(stats[4]));
        // Then the count of per-plane errors and, after two spare bytes,
        // the errors themselves (when the encoder measures them).
        const int errors = statsSize >= 6 ? stats[5] : 0;
        ost.LastErrorsMeasured = errors > 0 && statsSize >= 16;
        for (int plane = 0; plane < std::min(errors, 3); ++plane) {
            const std::size_t at = 8 + static_cast<std::size_t>(plane) * 8;
            if (at + 8 <= statsSize)
                std::memcpy(&ost.LastErrors[plane], stats + at, 8);
        }
    }
    if (ost.PassLog && encoder->stats_out)
        std::fprintf(ost.PassLog.get(), "%s", encoder->stats_out);
    out->stream_index = ost.Index;
    lib.av_packet_rescale_ts(out, encoder->time_base, ost.Stream->time_base);
    writePacket(ost, out);
}

void PacketWriter::writePacket(TOutputStream& ost, AVPacket* packet)
{
    OutputFile& file = files_[static_cast<std::size_t>(ost.FileIndex)];
    AVFormatContext* context = file.context.get();
    // Muxers refuse decoding times that do not increase; inputs with such
    // glitches would otherwise end the whole run.
    if (packet->dts != kNoPts && ost.LastDts != kNoPts &&
        !(context->oformat->flags & AVFMT_TS_NONSTRICT) && packet->dts <= ost.LastDts) {
        packet->dts = ost.LastDts + 1;
        if (packet->pts != kNoPts && packet->pts < packet->dts)
            packet->pts = packet->dts;
    }
    if (packet->dts != kNoPts)
        ost.LastDts = packet->dts;
    else if (packet->pts != kNoPts)
        ost.LastDts = packet->pts;
    const int written = lib.av_interleaved_write_frame(context, packet);
    lib.av_packet_unref(packet);
    // A failed write (a full disk) leaves a file that cannot be completed.
    if (written < 0 && context->pb && context->pb->error < 0) {
        file.broken = true;
        throw FFMpegException(LibraryErrorText(file.fileName, written));
    }
    if (written < 0)
        throw FFMpegException(ErrorTextForCode("av_interleaved_write_frame()", written));
    ++packetsWritten_;
    ++ost.PacketsWritten;
}

void PacketWriter::WriteSubtitle(TOutputStream& ost, const TInputStream& ist, int64_t pts,
                                 const AVSubtitle& subtitle)
{
    if (pts == kNoPts) {
        EngineLog(nullptr, kLogError, "Subtitle packets must have a pts\n");
        return;
    }
    constexpr int kBufferSize = 65536;
    std::vector<uint8_t> buffer(kBufferSize);
    const bool dvb = ost.Encoder->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    // DVB subtitles are one packet to show and one to clear.
    for (int pass = 0; pass < (dvb ? 2 : 1); ++pass) {
        const int size =
            lib.avcodec_encode_subtitle(ost.Encoder, buffer.data(), kBufferSize, &subtitle);
        if (size < 0)
            throw FFMpegException("Subtitle encoding failed");
        AVPacket* out = packet_.get();
        if (lib.av_new_packet(out, size) < 0)
            throw FFMpegException("av_mallocz fail");
        std::copy_n(buffer.data(), size, out->data);
        out->stream_index = ost.Index;
        out->pts = lib.av_rescale_q(pts, ist.Stream->time_base, ost.Stream->time_base);
        if (dvb)
            out->pts += lib.av_rescale_q(
                pass == 0 ? subtitle.start_display_time : subtitle.end_display_time,
                AVRational{1, 1000}, ost.Stream->time_base);
        out->dts = out->pts;
        writePacket(ost, out);
        ++ost.FrameNumber;
    }
}

}  // namespace clipmora
