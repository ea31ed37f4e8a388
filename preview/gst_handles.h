// Owners for GStreamer objects. A GstObject that arrives floating (a new
// element) is ref-sunk when it is adopted, so every owner holds exactly one
// reference and drops it when it goes, on every path.
#pragma once

#include <gst/gst.h>

#include <utility>

namespace clipmora {

template <typename T>
class GstRef {
public:
    GstRef() = default;
    // Takes over one reference; a floating reference is sunk first.
    static GstRef adopt(T* object)
    {
        GstRef ref;
        if (object) {
            if (g_object_is_floating(object))
                g_object_ref_sink(object);
            ref.object_ = object;
        }
        return ref;
    }
    // Adds a reference of its own.
    static GstRef share(T* object)
    {
        GstRef ref;
        if (object)
            ref.object_ = static_cast<T*>(g_object_ref(object));
        return ref;
    }
    GstRef(const GstRef& other) : object_(other.object_)
    {
        if (object_)
            g_object_ref(object_);
    }
    GstRef(GstRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GstRef& operator=(GstRef other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GstRef() { reset(); }

    void reset()
    {
        if (object_)
            g_object_unref(std::exchange(object_, nullptr));
    }
    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

using GstElementRef = GstRef<GstElement>;
using GstBusRef = GstRef<GstBus>;
using GstPadRef = GstRef<GstPad>;

// Mini objects (messages, samples, caps) are counted apart from GObjects.
template <typename T>
class GstMiniRef {
public:
    GstMiniRef() = default;
    explicit GstMiniRef(T* object) : object_(object) {}  // takes over one reference
    GstMiniRef(const GstMiniRef& other) : object_(other.object_)
    {
        if (object_)
            gst_mini_object_ref(GST_MINI_OBJECT_CAST(object_));
    }
    GstMiniRef(GstMiniRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GstMiniRef& operator=(GstMiniRef other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GstMiniRef() { reset(); }

    void reset()
    {
        if (object_)
            gst_mini_object_unref(GST_MINI_OBJECT_CAST(std::exchange(object_, nullptr)));
    }
    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

using GstMessageRef = GstMiniRef<GstMessage>;
using GstSampleRef = GstMiniRef<GstSample>;
using GstCapsRef = GstMiniRef<GstCaps>;

// Makes an element of `factory`; empty when the factory is not installed.
inline GstElementRef MakeElement(const char* factory, const char* name = nullptr)
{
    return GstElementRef::adopt(gst_element_factory_make(factory, name));
}

// Starts GStreamer once for the process (any thread).
void EnsureGstInitialised();

// A sink for sound: the desktop's default output, or, on a machine without
// one, a sink that plays into nothing at real speed (so clocks keep running).
GstElementRef MakeAudioOutput();

}  // namespace clipmora
