// Owners for codec library objects. Each deleter calls through the binding
// table, so an object is released on every path, also after a failure.
#pragma once

#include "engine/library_binding.h"

#include <memory>

namespace clipmora {

// Frees through the binding table's entry `Free`, which takes the address of
// the object's pointer and clears it (av_frame_free(&frame) and the like).
template <auto Free>
struct FreeByAddress {
    template <typename T>
    void operator()(T* object) const
    {
        (lib.*Free)(&object);
    }
};
// Frees through the binding table's entry `Free`, which takes the object.
template <auto Free>
struct FreeByPointer {
    template <typename T>
    void operator()(T* object) const
    {
        (lib.*Free)(object);
    }
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

using CodecContextPtr =
    std::unique_ptr<AVCodecContext, FreeByAddress<&LibraryApi::avcodec_free_context>>;
using InputFormatPtr =
    std::unique_ptr<AVFormatContext, FreeByAddress<&LibraryApi::avformat_close_input>>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, FormatOutputDeleter>;
// A format context that was never opened (a parameter holder).
using FormatContextPtr =
    std::unique_ptr<AVFormatContext, FreeByPointer<&LibraryApi::avformat_free_context>>;
using FramePtr = std::unique_ptr<AVFrame, FreeByAddress<&LibraryApi::av_frame_free>>;
using PacketPtr = std::unique_ptr<AVPacket, FreeByAddress<&LibraryApi::av_packet_free>>;
using ScalerPtr = std::unique_ptr<SwsContext, FreeByPointer<&LibraryApi::sws_freeContext>>;
using ResamplerPtr = std::unique_ptr<SwrContext, FreeByAddress<&LibraryApi::swr_free>>;
using FilterGraphPtr =
    std::unique_ptr<AVFilterGraph, FreeByAddress<&LibraryApi::avfilter_graph_free>>;
using FilterInOutPtr =
    std::unique_ptr<AVFilterInOut, FreeByAddress<&LibraryApi::avfilter_inout_free>>;
using BitstreamFilterPtr = std::unique_ptr<AVBSFContext, FreeByAddress<&LibraryApi::av_bsf_free>>;
using DictionaryPtr = std::unique_ptr<AVDictionary, FreeByAddress<&LibraryApi::av_dict_free>>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, FreeByPointer<&LibraryApi::av_audio_fifo_free>>;
template <typename T>
using LibraryMemoryPtr = std::unique_ptr<T, FreeByPointer<&LibraryApi::av_free>>;

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
