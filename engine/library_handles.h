// Owners for codec library objects. Each deleter calls through the binding
// table, so an object is released on every path, also after a failure.
#pragma once

#include "engine/library_binding.h"

#include <memory>

namespace clipmora {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { lib.avcodec_free_context(&context); }
};
struct FormatInputDeleter {
    void operator()(AVFormatContext* context) const { lib.avformat_close_input(&context); }
};
// An output context: closes its file (when one was opened) and frees it.
struct FormatOutputDeleter {
    void operator()(AVFormatContext* context) const
    {
        if (context->pb && context->oformat && !(context->oformat->flags & AVFMT_NOFILE))
            lib.avio_closep(&context->pb);
        lib.avformat_free_context(context);
    }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { lib.av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { lib.av_packet_free(&packet); }
};
struct ScalerDeleter {
    void operator()(SwsContext* context) const { lib.sws_freeContext(context); }
};
struct ResamplerDeleter {
    void operator()(SwrContext* context) const { lib.swr_free(&context); }
};
struct FilterGraphDeleter {
    void operator()(AVFilterGraph* graph) const { lib.avfilter_graph_free(&graph); }
};
struct BitstreamFilterDeleter {
    void operator()(AVBSFContext* context) const { lib.av_bsf_free(&context); }
};
struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const { lib.av_dict_free(&dictionary); }
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const { lib.av_audio_fifo_free(fifo); }
};
struct LibraryMemoryDeleter {
    void operator()(void* memory) const { lib.av_free(memory); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, FormatOutputDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using BitstreamFilterPtr = std::unique_ptr<AVBSFContext, BitstreamFilterDeleter>;
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
template <typename T>
using LibraryMemoryPtr = std::unique_ptr<T, LibraryMemoryDeleter>;

// One side of a sample conversion.
struct SampleLayout {
    const AVChannelLayout* channels;
    AVSampleFormat format;
    int rate;
};

// A ready resampler from `in` to `out`; null when the library refuses the pair.
ResamplerPtr MakeResampler(const SampleLayout& out, const SampleLayout& in);

// Sets `key` in an owned dictionary (the library may reallocate it).
void SetDictionaryEntry(DictionaryPtr& dictionary, const char* key, const char* value);

// Lends an owned dictionary to a call that takes AVDictionary** and may
// replace or free it; the owner takes back what the call leaves.
class LentDictionary {
public:
    explicit LentDictionary(DictionaryPtr& owner) : owner_(owner), raw_(owner.release()) {}
    ~LentDictionary() { owner_.reset(raw_); }
    LentDictionary(const LentDictionary&) = delete;
    LentDictionary& operator=(const LentDictionary&) = delete;
    AVDictionary** get() { return &raw_; }

private:
    DictionaryPtr& owner_;
    AVDictionary* raw_;
};

}  // namespace clipmora
