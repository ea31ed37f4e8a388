// A one-off pipeline from memory to the sound output.
#include "preview/wav_player.h"

#include "preview/gst_handles.h"

#include <gst/app/gstappsrc.h>

namespace clipmora {
namespace {

// A sound that has not ended after this long is cut off.
constexpr GstClockTime kLongestSound = 10 * GST_SECOND;

}  // namespace

bool PlayWavSynchronously(const QByteArray& wav)
{
    EnsureGstInitialised();
    if (wav.isEmpty())
        return false;
    GstElementRef pipeline = GstElementRef::adopt(gst_pipeline_new("sound"));
    GstElementRef source = MakeElement("appsrc");
    GstElementRef parse = MakeElement("wavparse");
    GstElementRef convert = MakeElement("audioconvert");
    GstElementRef resample = MakeElement("audioresample");
    GstElementRef sink = MakeAudioOutput();
    if (!pipeline || !source || !parse || !convert || !resample || !sink)
        return false;
    for (GstElement* element : {source.get(), parse.get(), convert.get(), resample.get(), sink.get()})
        AddToBin(pipeline.get(), element);
    if (!gst_element_link_many(source.get(), parse.get(), convert.get(), resample.get(), sink.get(),
                               nullptr))
        return false;

    // The pipeline gets its own copy of the bytes, freed with its buffer.
    GstBuffer* buffer = gst_buffer_new_memdup(wav.constData(), static_cast<gsize>(wav.size()));
    gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer);
    gst_app_src_end_of_stream(GST_APP_SRC(source.get()));

    bool played = false;
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstBusRef bus = GstBusRef::adopt(gst_element_get_bus(pipeline.get()));
        GstMessageRef message(gst_bus_timed_pop_filtered(
            bus.get(), kLongestSound, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        played = message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return played;
}

}  // namespace clipmora
