// Owners for GStreamer objects. A GstObject that arrives floating (a new
// element) is ref-sunk when it is adopted, so every owner holds exactly one
// reference and drops it when it goes, on every path.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace clipmora {

// How a kind of object is counted: GObjects, or mini objects (messages,
// samples, caps), which are counted apart from GObjects.
struct GObjectCounting {
    static void ref(gpointer object) { g_object_ref(object); }
    static void unref(gpointer object) { g_object_unref(object); }
};
struct MiniObjectCounting {
    static void ref(gpointer object) { gst_mini_object_ref(GST_MINI_OBJECT_CAST(object)); }
    static void unref(gpointer object) { gst_mini_object_unref(GST_MINI_OBJECT_CAST(object)); }
};

// One counted reference to an object, dropped when the owner goes.
template <typename T, typename Counting>
class GstCounted {
public:
    GstCounted() = default;
    explicit GstCounted(T* object) : object_(object) {}  // takes over one reference
    GstCounted(const GstCounted& other) : object_(other.object_)
    {
        if (object_)
            Counting::ref(object_);
    }
    GstCounted(GstCounted&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GstCounted& operator=(GstCounted other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GstCounted() { reset(); }

    void reset()
    {
        if (object_)
            Counting::unref(std::exchange(object_, nullptr));
    }
    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

// A GObject owner, made only by adopting or sharing a reference.
template <typename T>
class GstRef : public GstCounted<T, GObjectCounting> {
public:
    GstRef() = default;
    // Takes over one reference; a floating reference is sunk first.
    static GstRef adopt(T* object)
    {
        if (object && g_object_is_floating(object))
            g_object_ref_sink(object);
        return GstRef(object);
    }
    // Adds a reference of its own.
    static GstRef share(T* object)
    {
        if (object)
            g_object_ref(object);
        return GstRef(object);
    }

private:
    explicit GstRef(T* object) : GstCounted<T, GObjectCounting>(object) {}
};

using GstElementRef = GstRef<GstElement>;
using GstBusRef = GstRef<GstBus>;
using GstPadRef = GstRef<GstPad>;
using GstElementFactoryRef = GstRef<GstElementFactory>;

template <typename T>
using GstMiniRef = GstCounted<T, MiniObjectCounting>;

using GstMessageRef = GstMiniRef<GstMessage>;
using GstSampleRef = GstMiniRef<GstSample>;
using GstCapsRef = GstMiniRef<GstCaps>;
using GstEventRef = GstMiniRef<GstEvent>;

// Owners for what GLib hands over to be freed: an error and a string.
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GCharFree {
    void operator()(gchar* text) const { g_free(text); }
};
using GErrorOwner = std::unique_ptr<GError, GErrorFree>;
using GCharOwner = std::unique_ptr<gchar, GCharFree>;

// The error (or warning) a bus message carries, with its debugging details
// when it has any.
struct MessageError {
    GErrorOwner error;
    GCharOwner debug;
    // The error's words; "unknown error" when it has none.
    std::string Text() const
    {
        return error && error->message ? error->message : "unknown error";
    }
};

// Parses an error or a warning message.
inline MessageError ParseMessageError(GstMessage* message)
{
    GError* error = nullptr;
    gchar* debug = nullptr;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_WARNING)
        gst_message_parse_warning(message, &error, &debug);
    else
        gst_message_parse_error(message, &error, &debug);
    return {GErrorOwner(error), GCharOwner(debug)};
}

// The installed factory named `name`; empty when there is none.
inline GstElementFactoryRef FindElementFactory(const char* name)
{
    return GstElementFactoryRef::adopt(gst_element_factory_find(name));
}

// Takes a reference to each object `items` yields, in its order, and frees
// the iterator. A collection changed while it is walked is walked again.
template <typename T>
std::vector<GstRef<T>> CollectItems(GstIterator* items)
{
    std::vector<GstRef<T>> collected;
    GValue item = G_VALUE_INIT;
    for (bool more = true; more;) {
        switch (gst_iterator_next(items, &item)) {
        case GST_ITERATOR_OK:
            collected.push_back(GstRef<T>::share(static_cast<T*>(g_value_get_object(&item))));
            g_value_reset(&item);
            break;
        case GST_ITERATOR_RESYNC:
            collected.clear();
            gst_iterator_resync(items);
            break;
        default:
            more = false;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(items);
    return collected;
}

// Makes an element of `factory`; empty when the factory is not installed.
inline GstElementRef MakeElement(const char* factory, const char* name = nullptr)
{
    return GstElementRef::adopt(gst_element_factory_make(factory, name));
}

// Puts an element its caller owns into `bin`. An adopted element is no
// longer floating, so the bin takes a reference of its own (and drops it
// when the element leaves); the caller's reference stays the caller's.
inline void AddToBin(GstElement* bin, GstElement* element)
{
    gst_bin_add(GST_BIN(bin), element);
}

// The name of the factory that made `element`; empty for one made by hand.
inline std::string FactoryName(GstElement* element)
{
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory ? GST_OBJECT_NAME(factory) : "";
}

// The frame rate of the video now flowing through `pad`, in pictures per
// second; 0 when the pad has no caps or they state no rate.
inline double PadFrameRate(GstPad* pad)
{
    const GstCapsRef caps(pad ? gst_pad_get_current_caps(pad) : nullptr);
    int num = 0;
    int den = 0;
    if (caps)
        gst_structure_get_fraction(gst_caps_get_structure(caps.get(), 0), "framerate", &num, &den);
    return num > 0 && den > 0 ? double(num) / den : 0.0;
}

// The segment event `pad` is in now (its sticky one); empty when it has none.
inline GstEventRef PadSegmentEvent(GstPad* pad)
{
    return GstEventRef(gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0));
}

// The segment `event` carries; null for no event. Valid while the event is.
inline const GstSegment* SegmentOf(const GstEventRef& event)
{
    const GstSegment* segment = nullptr;
    if (event)
        gst_event_parse_segment(event.get(), &segment);
    return segment;
}

// Whether `buffer` ends before `segment` begins: a picture decoded only to
// reach the segment's first one, which sinks drop instead of showing. False
// without a time segment, or for a buffer without a time span (a sink takes
// that one as in the segment).
inline bool BufferBeforeSegment(const GstSegment* segment, GstBuffer* buffer)
{
    const GstClockTime start = GST_BUFFER_PTS(buffer);
    const GstClockTime duration = GST_BUFFER_DURATION(buffer);
    if (!segment || !GST_CLOCK_TIME_IS_VALID(start) || !GST_CLOCK_TIME_IS_VALID(duration))
        return false;
    return segment->format == GST_FORMAT_TIME && segment->rate > 0 &&
           start + duration <= segment->start;
}

// Starts GStreamer once for the process (any thread).
void EnsureGstInitialised();

// A sink for sound: the desktop's default output, or, on a machine without
// one, a sink that plays into nothing at real speed (so clocks keep running).
GstElementRef MakeAudioOutput();

}  // namespace clipmora
