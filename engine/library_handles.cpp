// Making owned codec library objects that take more than one call to set up.
#include "engine/library_handles.h"

namespace clipmora {

ResamplerPtr MakeResampler(const SampleLayout& out, const SampleLayout& in)
{
    // This generation of the library takes the layouts as non-const; it only reads them.
    auto* outChannels = const_cast<AVChannelLayout*>(out.channels);
    auto* inChannels = const_cast<AVChannelLayout*>(in.channels);
    SwrContext* made = nullptr;
    const bool ready = lib.swr_alloc_set_opts2(&made, outChannels, out.format, out.rate,
                                               inChannels, in.format, in.rate, 0, nullptr) >= 0 &&
                       lib.swr_init(made) >= 0;
    ResamplerPtr resampler(made);
    if (!ready)
        resampler.reset();
    return resampler;
}

void SetDictionaryEntry(DictionaryPtr& dictionary, const char* key, const char* value)
{
    LentDictionary lent(dictionary);
    lib.av_dict_set(lent.get(), key, value, 0);
}

}  // namespace clipmora
