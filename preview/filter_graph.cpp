// The playback graph: activation, rendering, the transport, seeking, volume
// and the hand-over of bus messages to the GUI thread.
#include "preview/filter_graph.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>

namespace clipmora {
namespace {

// The status a refused framework call carries (the framework's generic
// failure code).
constexpr int kStatusFailed = static_cast<int>(0x80004005u);

// playbin's flags: video, audio, software volume, deinterlacing, and the
// decoders' own picture format (the renderer scales and converts itself, in
// one step, to what it shows). No subtitles or visualisations.
constexpr guint kPlayFlags = 0x1 | 0x2 | 0x10 | 0x40 | 0x200;

// How long a file may take to show its first picture before it counts as
// unplayable.
constexpr int kPrerollLimitMs = 20000;

constexpr int kMaxVolume = 10000;
constexpr int kMaxBalance = 10000;

// Round half to even, as the attenuation table expects.
int roundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

// Decides once per process whether the desktop has a sound output. Without
// one the preview plays its sound into a sink that still keeps the clock,
// so playback runs at real speed.
bool haveAudioOutput()
{
    static const bool have = [] {
        GstElementRef probe = MakeElement("autoaudiosink");
        if (!probe)
            return false;
        bool real = false;
        if (gst_element_set_state(probe.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE) {
            // autoaudiosink falls back to a fake sink of its own when no
            // device opens.
            for (const GstElementRef& child :
                 CollectItems<GstElement>(gst_bin_iterate_elements(GST_BIN(probe.get()))))
                real = real || FactoryName(child.get()) != "fakesink";
        }
        gst_element_set_state(probe.get(), GST_STATE_NULL);
        return real;
    }();
    return have;
}

}  // namespace

GstElementRef MakeAudioOutput()
{
    if (haveAudioOutput())
        return MakeElement("autoaudiosink");
    GstElementRef sink = MakeElement("fakesink");
    g_object_set(sink.get(), "sync", TRUE, nullptr);
    return sink;
}

namespace {

GstElementRef makeSilentVideoSink()
{
    GstElementRef sink = MakeElement("fakesink");
    g_object_set(sink.get(), "sync", TRUE, nullptr);
    return sink;
}

int msFromNs(gint64 ns)
{
    const gint64 ms = ns / 1000000;
    return static_cast<int>(std::clamp<gint64>(ms, INT32_MIN, INT32_MAX));
}

using EventRaiser = void (*)(TFilterGraph&, intptr_t, intptr_t);
struct EventRoute {
    int code;
    EventRaiser raise;
};

template <auto Member, typename... Args>
void raiseIfSet(TFilterGraph& graph, Args... args)
{
    if (graph.*Member)
        (graph.*Member)(args...);
}

// The route of an event that carries no parameters.
template <auto Member>
void raiseBare(TFilterGraph& graph, intptr_t, intptr_t)
{
    raiseIfSet<Member>(graph);
}

// The route of an event that carries its first parameter as a number.
template <auto Member>
void raiseNumber(TFilterGraph& graph, intptr_t p1, intptr_t)
{
    raiseIfSet<Member>(graph, static_cast<int>(p1));
}

// The route of an event whose first parameter is 1 for "on".
template <auto Member>
void raiseSwitch(TFilterGraph& graph, intptr_t p1, intptr_t)
{
    raiseIfSet<Member>(graph, p1 == 1);
}

// Each graph event code and the event it raises with its parameters.
constexpr EventRoute kEventRoutes[] = {
    {ecComplete, [](TFilterGraph& g, intptr_t p1, intptr_t p2) {
         raiseIfSet<&TFilterGraph::OnGraphComplete>(g, static_cast<int>(p1), p2);
     }},
    {ecUserAbort, raiseBare<&TFilterGraph::OnGraphUserAbort>},
    {ecErrorAbort, raiseNumber<&TFilterGraph::OnGraphErrorAbort>},
    {ecStreamErrorStopped, [](TFilterGraph& g, intptr_t p1, intptr_t p2) {
         raiseIfSet<&TFilterGraph::OnGraphStreamErrorStopped>(g, static_cast<int>(p1),
                                                              static_cast<int>(p2));
     }},
    {ecStreamErrorStillPlaying, [](TFilterGraph& g, intptr_t p1, intptr_t p2) {
         raiseIfSet<&TFilterGraph::OnGraphStreamErrorStillPlaying>(g, static_cast<int>(p1),
                                                                   static_cast<int>(p2));
     }},
    {ecErrorStillPlaying, raiseNumber<&TFilterGraph::OnGraphErrorStillPlaying>},
    {ecPaletteChanged, raiseBare<&TFilterGraph::OnGraphPaletteChanged>},
    {ecVideoSizeChanged, [](TFilterGraph& g, intptr_t p1, intptr_t) {
         raiseIfSet<&TFilterGraph::OnGraphVideoSizeChanged>(g, static_cast<int>(p1 & 0xffff),
                                                            static_cast<int>((p1 >> 16) & 0xffff));
     }},
    {ecQualityChange, raiseBare<&TFilterGraph::OnGraphQualityChange>},
    {ecClockChanged, raiseBare<&TFilterGraph::OnGraphClockChanged>},
    {ecPaused, raiseNumber<&TFilterGraph::OnGraphPaused>},
    {ecOpeningFile, raiseSwitch<&TFilterGraph::OnGraphOpeningFile>},
    {ecBufferingData, raiseSwitch<&TFilterGraph::OnGraphBufferingData>},
    {ecGraphChanged, raiseBare<&TFilterGraph::OnGraphChanged>},
    {ecClockUnset, raiseBare<&TFilterGraph::OnGraphClockUnset>},
    {ecVmrRenderDeviceSet, raiseNumber<&TFilterGraph::OnGraphVMRRenderDevice>},
    {ecEndOfSegment, [](TFilterGraph& g, intptr_t p1, intptr_t p2) {
         raiseIfSet<&TFilterGraph::OnGraphEndOfSegment>(g, int64_t{p1}, static_cast<int>(p2));
     }},
    {ecStepComplete, raiseBare<&TFilterGraph::OnGraphStepComplete>},
};

// The decoder bin's answers to its element choice.
constexpr gint kAutoplugTry = 0;
constexpr gint kAutoplugSkip = 2;

// Asks a builder callback: an unassigned one accepts, and one that throws
// refuses, since nothing may unwind through the framework's threads.
template <typename Callback, typename... Args>
bool askBuilder(const Callback& callback, Args&&... args) noexcept
{
    try {
        return !callback || callback(std::forward<Args>(args)...);
    } catch (...) {
        return false;
    }
}

gint onAutoplugSelect(GstElement*, GstPad*, GstCaps*, GstElementFactory* factory, gpointer graph)
{
    const char* longName = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
    const char* plugin = gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(factory));
    return askBuilder(static_cast<TFilterGraph*>(graph)->OnSelectedFilter,
                      std::string(plugin ? plugin : ""), std::string(longName ? longName : ""),
                      std::string(GST_OBJECT_NAME(factory)))
               ? kAutoplugTry
               : kAutoplugSkip;
}

void onUnknownType(GstElement*, GstPad* pad, GstCaps*, gpointer graph)
{
    askBuilder(static_cast<TFilterGraph*>(graph)->OnUnableToRender, pad);
}

GstPadLinkReturn refuseLink(GstPad*, GstObject*, GstPad*) { return GST_PAD_LINK_REFUSED; }

// Sees every element that joins the playbin, at any depth, on the thread
// that adds it: hooks the builder callbacks into each decoder bin and asks
// about each element the decoder bins make.
void onElementAdded(GstBin*, GstBin* container, GstElement* element, gpointer data)
{
    auto* graph = static_cast<TFilterGraph*>(data);
    const std::string kind = FactoryName(element);
    if (kind == "decodebin" &&
        !g_signal_handler_find(element, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, graph)) {
        g_signal_connect(element, "autoplug-select", G_CALLBACK(onAutoplugSelect), graph);
        g_signal_connect(element, "unknown-type", G_CALLBACK(onUnknownType), graph);
    }
    const std::string builder = FactoryName(GST_ELEMENT(container));
    if (builder != "decodebin" && builder != "uridecodebin")
        return;
    // The decoder bin links an element right after adding it, and drops it
    // for the next candidate when the link fails.
    if (!askBuilder(graph->OnCreatedFilter, element, kind))
        for (const GstPadRef& pad : CollectItems<GstPad>(gst_element_iterate_pads(element)))
            gst_pad_set_link_function(pad.get(), refuseLink);
}

// How many pictures before an exact seek's target the video decoder hands
// on. They reach the renderer ahead of the target, outside the segment (so
// they are held, not shown), and a step back right after the seek finds them
// there. Each one costs its trip through the renderer's scaling on every
// exact seek (tens of milliseconds for a 1080p picture on a busy machine),
// so there are few: each step back seeks again and brings the next ones.
constexpr int kLeadInPictures = 2;

}  // namespace

// The exact seek whose pictures before the target are handed on: the video
// decoder's incoming segment of that seek starts kLeadInPictures earlier, and
// its outgoing one is put back as the seek made it, so everything after the
// decoder sees the exact seek as it was asked for. The segment's offset keeps
// the decoder's running times (its timing of late pictures) as they were.
struct TFilterGraph::SeekLeadIn {
    std::mutex lock;
    guint32 seqnum = GST_SEQNUM_INVALID;  // guarded by lock
    guint64 widenedStart = 0;             // guarded by lock
    guint64 widenedBy = 0;                // guarded by lock

    void expect(guint32 seekSeqnum)
    {
        std::lock_guard guard(lock);
        seqnum = seekSeqnum;
        widenedBy = 0;
    }

    // Decoder threads: the probes on a video decoder's pads.
    static GstPadProbeReturn widen(GstPad* pad, GstPadProbeInfo* info, gpointer data)
    {
        return static_cast<std::shared_ptr<SeekLeadIn>*>(data)->get()->rewrite(pad, info, true);
    }
    static GstPadProbeReturn restore(GstPad* pad, GstPadProbeInfo* info, gpointer data)
    {
        return static_cast<std::shared_ptr<SeekLeadIn>*>(data)->get()->rewrite(pad, info, false);
    }
    static void dropReference(gpointer data)
    {
        delete static_cast<std::shared_ptr<SeekLeadIn>*>(data);
    }

    // How far the segment starts early: only where the decoder knows each
    // picture's span (a stream with a frame rate), so a sink can tell them
    // from the target; 0 otherwise.
    static GstClockTime leadInOf(GstPad* decoderSink)
    {
        GstPadRef src = GstPadRef::adopt(
            gst_element_get_static_pad(GST_PAD_PARENT(decoderSink), "src"));
        const double rate = PadFrameRate(src.get());
        return rate > 0 ? GstClockTime(kLeadInPictures * GST_SECOND / rate) : 0;
    }

    GstPadProbeReturn rewrite(GstPad* pad, GstPadProbeInfo* info, bool incoming)
    {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (!event || GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT)
            return GST_PAD_PROBE_OK;
        const guint32 eventSeqnum = gst_event_get_seqnum(event);
        const GstSegment* original = nullptr;
        gst_event_parse_segment(event, &original);
        GstSegment segment = *original;
        {
            std::lock_guard guard(lock);
            if (eventSeqnum != seqnum || segment.format != GST_FORMAT_TIME || segment.rate <= 0)
                return GST_PAD_PROBE_OK;
            if (incoming) {
                widenedBy = std::min({leadInOf(pad), segment.start, segment.time});
                if (widenedBy == 0)
                    return GST_PAD_PROBE_OK;
                segment.start -= widenedBy;
                segment.time -= widenedBy;
                segment.offset += widenedBy;
                widenedStart = segment.start;
            } else {
                if (widenedBy == 0 || segment.start != widenedStart)
                    return GST_PAD_PROBE_OK;
                segment.start += widenedBy;
                segment.time += widenedBy;
                segment.offset -= widenedBy;
            }
        }
        segment.position = segment.start;
        GstEvent* replaced = gst_event_new_segment(&segment);
        gst_event_set_seqnum(replaced, eventSeqnum);
        gst_event_unref(event);
        GST_PAD_PROBE_INFO_DATA(info) = replaced;
        return GST_PAD_PROBE_OK;
    }

    // Streaming threads: a video decoder joins the playbin.
    static void onElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data)
    {
        GstElementFactory* factory = gst_element_get_factory(element);
        const char* klass = factory ? gst_element_factory_get_metadata(
                                          factory, GST_ELEMENT_METADATA_KLASS)
                                    : nullptr;
        if (!klass || !std::strstr(klass, "Decoder") || !std::strstr(klass, "Video"))
            return;
        const auto& leadIn = *static_cast<std::shared_ptr<SeekLeadIn>*>(data);
        for (const auto& [name, probe] : {std::pair{"sink", &widen}, std::pair{"src", &restore}}) {
            GstPadRef pad = GstPadRef::adopt(gst_element_get_static_pad(element, name));
            if (pad)
                gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, probe,
                                  new std::shared_ptr<SeekLeadIn>(leadIn), &dropReference);
        }
    }
};

void EnsureGstInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

int VolumeToAttenuation(int volume, bool linear)
{
    volume = std::clamp(volume, 0, kMaxVolume);
    if (!linear)
        return volume - kMaxVolume;
    return roundHalfEven(std::log(volume + 1.0) * 1085.73) - kMaxVolume;
}

double AttenuationToFactor(int attenuation)
{
    return std::pow(10.0, std::clamp(attenuation, -kMaxVolume, 0) / 2000.0);
}

// Messages travel from GStreamer's threads to the GUI thread through here.
// The bus holds a plain pointer to it while its handler is installed; the
// graph keeps it alive until the handler is gone.
struct TFilterGraph::Mailbox {
    TFilterGraph* graph = nullptr;
    std::mutex lock;
    std::deque<GstMessageRef> messages;  // guarded by lock
    std::string firstError;              // guarded by lock
    // Set on the streaming threads, read and cleared on the GUI thread.
    std::atomic<bool> endReached{false};
    std::atomic<bool> failed{false};

    static GstBusSyncReply onMessage(GstBus*, GstMessage* message, gpointer data)
    {
        auto* self = static_cast<Mailbox*>(data);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS)
            self->endReached = true;
        else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
            self->failed = true;
        // The error's words are kept at once: a failed open reports them
        // before its message has been drained.
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            const MessageError error = ParseMessageError(message);
            std::lock_guard guard(self->lock);
            if (self->firstError.empty())
                self->firstError = error.Text();
        }
        // A handler that drops a message owns the bus's reference to it:
        // the mailbox takes that one over. (Every message holds its source,
        // so a reference too many would keep the whole graph alive.)
        bool first = false;
        {
            std::lock_guard guard(self->lock);
            first = self->messages.empty();
            self->messages.emplace_back(message);
        }
        // One queued call drains whatever has gathered by the time it runs.
        if (first)
            QMetaObject::invokeMethod(self->graph, &TFilterGraph::drainEvents,
                                      Qt::QueuedConnection);
        return GST_BUS_DROP;
    }
};

// GStreamer starts when the first graph becomes active, not when one is made:
// reading its registry is a good part of a window's start-up.
TFilterGraph::TFilterGraph(QObject* owner)
    : QObject(owner), leadIn_(std::make_shared<SeekLeadIn>())
{
}

TFilterGraph::~TFilterGraph()
{
    try {
        SetActive(false);
    } catch (...) {
        // A graph that is going away has no one left to tell.
    }
}

void TFilterGraph::SetActive(bool active)
{
    if (active == Active())
        return;
    if (active)
        activate();
    else
        deactivate();
}

void TFilterGraph::SetMode(TGraphMode mode)
{
    if (mode == mode_)
        return;
    const bool wasActive = Active();
    SetActive(false);
    mode_ = mode;
    SetActive(wasActive);
}

void TFilterGraph::activate()
{
    if (mode_ != gmNormal)
        throw EPreviewException("Capture and disc graphs are not available on this system.");
    EnsureGstInitialised();
    GstElementRef pipeline = MakeElement("playbin", "FilterGraph");
    if (!pipeline)
        throw EPreviewException("The playback framework is not installed.");
    g_object_set(pipeline.get(), "flags", kPlayFlags, nullptr);
    GstElementRef audioSink = MakeAudioOutput();
    g_object_set(pipeline.get(), "audio-sink", audioSink.get(), nullptr);

    mailbox_ = std::make_shared<Mailbox>();
    mailbox_->graph = this;
    GstBusRef bus = GstBusRef::adopt(gst_element_get_bus(pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), &Mailbox::onMessage, mailbox_.get(), nullptr);
    g_signal_connect(pipeline.get(), "deep-element-added", G_CALLBACK(onElementAdded), this);
    g_signal_connect(pipeline.get(), "deep-element-added", G_CALLBACK(&SeekLeadIn::onElementAdded),
                     &leadIn_);

    pipeline_ = std::move(pipeline);
    rendered_ = false;
    stopped_ = true;
    SetLogFile(logFile_);
    try {
        for (IFilterOwner* owner : filterOwners_)
            insertOwner(owner);
        applyOwnerElements();
    } catch (...) {
        // An owner that cannot make its element leaves no half-built graph.
        release();
        throw;
    }
    applyVolume();
    if (OnActivate)
        OnActivate();
    sendControlEvent(ceActiveChanged, 1);
}

void TFilterGraph::deactivate()
{
    sendControlEvent(ceActiveChanged, 0);
    release();
}

void TFilterGraph::release()
{
    // Streaming ends before the owners take their elements back.
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    releaseVideoChain();
    for (IFilterOwner* owner : filterOwners_)
        removeOwnerElement(owner);
    GstBusRef bus = GstBusRef::adopt(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    g_signal_handlers_disconnect_by_data(pipeline_.get(), this);
    g_signal_handlers_disconnect_by_data(pipeline_.get(), &leadIn_);
    if (logStream_.is_open())
        logStream_.close();
    pipeline_.reset();
    // A drain still queued for this mailbox finds it gone and does nothing.
    mailbox_.reset();
    rendered_ = false;
    stopped_ = true;
}

void TFilterGraph::insertOwner(IFilterOwner* owner)
{
    owner->NotifyFilterStage(fsBeforeAdd);
    const std::string name = owner->GetFilterName();
    GstElement* element = owner->ProvideFilter();
    if (element && !name.empty() && !GST_OBJECT_PARENT(element))
        gst_object_set_name(GST_OBJECT(element), name.c_str());
    owner->NotifyFilterStage(fsAdded);
}

void TFilterGraph::removeOwnerElement(IFilterOwner* owner)
{
    owner->NotifyFilterStage(fsBeforeRemove);
    owner->NotifyFilterStage(fsRemoved);
}

// Hands the owners' elements to the playbin as one video chain: the video
// filters in the order they were attached, straight in front of the first
// renderer (a silent sink when no renderer is attached, so the graph never
// opens a window of its own). With nothing between them, the last picture a
// filter saw is the one the renderer shows. The playbin takes a new chain
// only while stopped, so this drops a rendered file.
void TFilterGraph::applyOwnerElements()
{
    std::vector<GstElement*> chain;
    GstElement* renderer = nullptr;
    for (IFilterOwner* owner : filterOwners_) {
        GstElement* element = owner->ProvideFilter();
        if (!element)
            continue;
        if (owner->FilterRole() == TFilterRole::VideoFilter)
            chain.push_back(element);
        else if (!renderer)
            renderer = element;
    }
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    rendered_ = false;
    releaseVideoChain();
    GstElementRef silent;
    if (!renderer) {
        silent = makeSilentVideoSink();
        renderer = silent.get();
    }
    chain.push_back(renderer);

    GstElementRef bin = GstElementRef::adopt(gst_bin_new("VideoChain"));
    for (GstElement* element : chain)
        AddToBin(bin.get(), element);
    for (size_t index = 1; index < chain.size(); ++index)
        if (!gst_element_link(chain[index - 1], chain[index]))
            throw EPreviewException("The preview's video chain cannot be linked.");
    GstPadRef first = GstPadRef::adopt(gst_element_get_static_pad(chain.front(), "sink"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", first.get()));
    g_object_set(pipeline_.get(), "video-sink", bin.get(), nullptr);
    videoChain_ = std::move(bin);
}

// Takes the owners' elements back out of the chain, so a new chain can hold
// them; the owners keep their own references.
void TFilterGraph::releaseVideoChain()
{
    if (!videoChain_)
        return;
    gst_element_set_state(videoChain_.get(), GST_STATE_NULL);
    for (const GstElementRef& child :
         CollectItems<GstElement>(gst_bin_iterate_elements(GST_BIN(videoChain_.get()))))
        gst_bin_remove(GST_BIN(videoChain_.get()), child.get());
    videoChain_.reset();
}

void TFilterGraph::AddFilterOwner(IFilterOwner* owner)
{
    if (!owner || std::find(filterOwners_.begin(), filterOwners_.end(), owner) != filterOwners_.end())
        return;
    filterOwners_.push_back(owner);
    if (Active()) {
        insertOwner(owner);
        applyOwnerElements();
    }
}

void TFilterGraph::RemoveFilterOwner(IFilterOwner* owner)
{
    const auto found = std::find(filterOwners_.begin(), filterOwners_.end(), owner);
    if (found == filterOwners_.end())
        return;
    filterOwners_.erase(found);
    if (Active()) {
        applyOwnerElements();
        removeOwnerElement(owner);
    }
}

void TFilterGraph::AddEventListener(IEventListener* listener)
{
    if (listener && std::find(eventListeners_.begin(), eventListeners_.end(), listener) ==
                        eventListeners_.end())
        eventListeners_.push_back(listener);
}

void TFilterGraph::RemoveEventListener(IEventListener* listener)
{
    eventListeners_.erase(std::remove(eventListeners_.begin(), eventListeners_.end(), listener),
                          eventListeners_.end());
}

void TFilterGraph::sendControlEvent(int event, int param)
{
    // A listener may detach itself while it is told.
    const std::vector<IEventListener*> listeners = eventListeners_;
    for (IEventListener* listener : listeners)
        listener->HandleControlEvent(event, param);
}

// 0 for a change that completed, 1 for one still under way. A refused
// change throws.
int TFilterGraph::changeState(GstState state)
{
    switch (gst_element_set_state(pipeline_.get(), state)) {
    case GST_STATE_CHANGE_FAILURE:
        throw EDirectShowException(kStatusFailed);
    case GST_STATE_CHANGE_ASYNC:
        return 1;
    default:
        return 0;
    }
}

int TFilterGraph::RenderFile(const std::string& fileName)
{
    if (!Active())
        return 1;
    sendControlEvent(ceFileRendering, 0);
    writeLog("render " + fileName);
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    rendered_ = false;
    lastErrorText_.clear();
    mailbox_->endReached = false;
    mailbox_->failed = false;
    {
        std::lock_guard guard(mailbox_->lock);
        mailbox_->firstError.clear();
    }

    GError* uriError = nullptr;
    const GCharOwner uri(gst_filename_to_uri(fileName.c_str(), &uriError));
    const GErrorOwner error(uriError);
    if (!uri) {
        lastErrorText_ = error ? error->message : "invalid file name";
        throw EDirectShowException(kStatusFailed);
    }
    g_object_set(pipeline_.get(), "uri", uri.get(), nullptr);

    try {
        changeState(GST_STATE_PAUSED);
        waitForPreroll();
    } catch (...) {
        // The graph stays active, without a chain and without the file.
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        throw;
    }
    rendered_ = true;
    stopped_ = true;
    lastPosition_ = 0;
    positionStepped_ = false;
    applyVolume();
    SetBalance(balance_);
    if (rate_ != 1.0)
        SetRate(rate_);
    sendControlEvent(ceFileRendered, 0);
    return 0;
}

// Waits for the first picture while the window keeps painting and its timers
// run; user input waits until the file is open.
void TFilterGraph::waitForPreroll()
{
    const QDeadlineTimer deadline(kPrerollLimitMs);
    for (;;) {
        GstState current = GST_STATE_NULL;
        GstState pending = GST_STATE_NULL;
        const GstStateChangeReturn result =
            gst_element_get_state(pipeline_.get(), &current, &pending, 10 * GST_MSECOND);
        if (result == GST_STATE_CHANGE_FAILURE || (mailbox_ && mailbox_->failed))
            break;
        if (result == GST_STATE_CHANGE_SUCCESS || result == GST_STATE_CHANGE_NO_PREROLL)
            return;
        if (deadline.hasExpired()) {
            lastErrorText_ = "the file did not open in time";
            break;
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        if (!Active())  // a timer or event handler released the graph
            throw EDirectShowException(kStatusFailed);
    }
    // The error that made the open fail can follow its failure by a moment.
    const std::shared_ptr<Mailbox> mailbox = mailbox_;
    const QDeadlineTimer grace(500);
    while (mailbox && !mailbox->failed && !grace.hasExpired())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
    if (lastErrorText_.empty() && mailbox) {
        std::lock_guard guard(mailbox->lock);
        lastErrorText_ =
            mailbox->firstError.empty() ? "the file cannot be played" : mailbox->firstError;
    }
    throw EDirectShowException(kStatusFailed);
}

bool TFilterGraph::Play()
{
    if (!Active())
        return false;
    sendControlEvent(cePlay, 0);
    if (positionStepped_)
        SetPosition(lastPosition_);
    if (rendered_)
        changeState(GST_STATE_PLAYING);
    stopped_ = false;
    return true;
}

bool TFilterGraph::Pause()
{
    if (!Active())
        return false;
    sendControlEvent(cePause, 0);
    return rendered_ ? changeState(GST_STATE_PAUSED) == 0 : true;
}

bool TFilterGraph::Stop()
{
    if (!Active())
        return false;
    sendControlEvent(ceStop, 0);
    stopped_ = true;
    // A stopped preview keeps its file, its position and its picture.
    return rendered_ ? changeState(GST_STATE_PAUSED) == 0 : true;
}

void TFilterGraph::DisconnectAllPins()
{
    if (!Active())
        return;
    // Stopping the playbin unlinks and releases the chain it built for the
    // file; the attached elements stay with it.
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    rendered_ = false;
}

void TFilterGraph::ResetGraph()
{
    if (!Active())
        return;
    Stop();
    DisconnectAllPins();
}

void TFilterGraph::SetVolume(int volume)
{
    volume_ = std::clamp(volume, 0, kMaxVolume);
    applyVolume();
}

void TFilterGraph::SetBalance(int balance)
{
    // The preview plays its sound as the file has it; the balance is kept
    // for callers that read it back.
    balance_ = std::clamp(balance, -kMaxBalance, kMaxBalance);
}

void TFilterGraph::SetLinearVolume(bool linear)
{
    if (linear == linearVolume_)
        return;
    linearVolume_ = linear;
    applyVolume();
    SetBalance(balance_);
}

void TFilterGraph::applyVolume()
{
    if (!pipeline_)
        return;
    const double factor = AttenuationToFactor(VolumeToAttenuation(volume_, linearVolume_));
    g_object_set(pipeline_.get(), "volume", factor, "mute", volume_ == 0, nullptr);
}

void TFilterGraph::SetRate(double rate)
{
    rate_ = rate;
    if (!pipeline_ || !rendered_ || rate <= 0.0)
        return;
    gint64 position = 0;
    if (!gst_element_query_position(pipeline_.get(), GST_FORMAT_TIME, &position))
        return;
    gst_element_seek(pipeline_.get(), rate_, GST_FORMAT_TIME,
                     GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), GST_SEEK_TYPE_SET,
                     position, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
}

int TFilterGraph::Position() const
{
    if (!pipeline_ || !rendered_)
        return 0;
    // The sinks' last picture can lie a frame short of the duration; the end
    // of the stream is the end of the file.
    if (mailbox_->endReached)
        return Duration();
    if (positionStepped_)
        return lastPosition_;
    gint64 position = 0;
    // During a flushing seek the pipeline has no position to give; the
    // target of that seek is where it is going.
    if (gst_element_query_position(pipeline_.get(), GST_FORMAT_TIME, &position))
        lastPosition_ = msFromNs(position);
    return lastPosition_;
}

void TFilterGraph::SetPosition(int milliseconds)
{
    seekTo(milliseconds, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE));
}

void TFilterGraph::SeekNearKeyFrame(int milliseconds)
{
    seekTo(milliseconds,
           GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_NEAREST));
}

bool TFilterGraph::StepForward(int milliseconds)
{
    if (!pipeline_ || !rendered_ || mailbox_->endReached)
        return false;
    GstState current = GST_STATE_NULL;
    GstState pending = GST_STATE_NULL;
    if (gst_element_get_state(pipeline_.get(), &current, &pending, 0) != GST_STATE_CHANGE_SUCCESS ||
        current != GST_STATE_PAUSED || pending != GST_STATE_VOID_PENDING)
        return false;
    // The playbin steps its video sink only.
    if (!gst_element_send_event(pipeline_.get(),
                                gst_event_new_step(GST_FORMAT_BUFFERS, 1, 1.0, TRUE, FALSE)))
        return false;
    lastPosition_ = milliseconds;
    positionStepped_ = true;
    return true;
}

void TFilterGraph::seekTo(int milliseconds, GstSeekFlags flags)
{
    if (!pipeline_ || !rendered_)
        return;
    positionStepped_ = false;
    const gint64 target = std::max<gint64>(0, gint64{milliseconds} * GST_MSECOND);
    GstEvent* seek = gst_event_new_seek(rate_, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, target,
                                        GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    leadIn_->expect(flags & GST_SEEK_FLAG_ACCURATE ? gst_event_get_seqnum(seek)
                                                   : GST_SEQNUM_INVALID);
    if (gst_element_send_event(pipeline_.get(), seek))
        lastPosition_ = msFromNs(target);
    // The flush has discarded everything before the seek, an earlier end
    // included.
    mailbox_->endReached = false;
}

int TFilterGraph::Duration() const
{
    if (!pipeline_ || !rendered_)
        return 0;
    gint64 duration = 0;
    if (!gst_element_query_duration(pipeline_.get(), GST_FORMAT_TIME, &duration) || duration < 0)
        return 0;
    return msFromNs(duration);
}

void TFilterGraph::SetLogFile(const std::string& name)
{
    if (!Active()) {
        logFile_ = name;
        return;
    }
    if (logStream_.is_open())
        logStream_.close();
    if (name.empty()) {
        logFile_.clear();
        return;
    }
    logStream_.open(name, std::ios::out | std::ios::trunc);
    if (!logStream_)
        logStream_.close();  // the name is not taken; logging stays off
    else
        logFile_ = name;
}

void TFilterGraph::writeLog(const std::string& line)
{
    if (!logStream_.is_open())
        return;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    logStream_ << std::chrono::duration_cast<std::chrono::milliseconds>(now).count() << ' '
               << line << '\n';
    logStream_.flush();
}

// The graph events one bus message stands for.
std::vector<TFilterGraph::GraphEvent> TFilterGraph::translate(GstMessage* message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
        return {{ecComplete, 0, 0}};
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING: {
        const bool isError = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR;
        const MessageError error = ParseMessageError(message);
        const std::string text = error.Text();
        writeLog(std::string(isError ? "error: " : "warning: ") + text +
                 (error.debug ? std::string(" (") + error.debug.get() + ")" : std::string()));
        if (isError && lastErrorText_.empty())
            lastErrorText_ = text;
        return {{isError ? ecErrorAbort : ecErrorStillPlaying, kStatusFailed, 0}};
    }
    case GST_MESSAGE_STATE_CHANGED: {
        if (GST_MESSAGE_SRC(message) != GST_OBJECT(pipeline_.get()))
            return {};
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(message, &oldState, &newState, &pending);
        writeLog(std::string("state ") + gst_element_state_get_name(newState));
        if (newState == GST_STATE_PAUSED && pending == GST_STATE_VOID_PENDING)
            return {{ecPaused, 0, 0}};
        return {};
    }
    case GST_MESSAGE_BUFFERING: {
        gint percent = 0;
        gst_message_parse_buffering(message, &percent);
        return {{ecBufferingData, percent < 100 ? 1 : 0, 0}};
    }
    case GST_MESSAGE_SEGMENT_DONE: {
        GstFormat format = GST_FORMAT_UNDEFINED;
        gint64 position = 0;
        gst_message_parse_segment_done(message, &format, &position);
        return {{ecEndOfSegment, format == GST_FORMAT_TIME ? position : 0, 0}};
    }
    case GST_MESSAGE_STEP_DONE:
        return {{ecStepComplete, 0, 0}};
    case GST_MESSAGE_NEW_CLOCK:
        return {{ecClockChanged, 0, 0}};
    case GST_MESSAGE_CLOCK_LOST:
        // The pipeline picks a new clock when it starts again.
        if (!stopped_ && rendered_) {
            gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED);
            gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
        }
        return {{ecClockUnset, 0, 0}};
    default:
        return {};
    }
}

void TFilterGraph::drainEvents()
{
    // Holds the mailbox of this activation: a handler may deactivate the
    // graph, after which what is left belongs to no one.
    const std::shared_ptr<Mailbox> mailbox = mailbox_;
    while (mailbox && mailbox == mailbox_) {
        GstMessageRef message;
        {
            std::lock_guard guard(mailbox->lock);
            if (mailbox->messages.empty())
                return;
            message = std::move(mailbox->messages.front());
            mailbox->messages.pop_front();
        }
        try {
            for (const GraphEvent& event : translate(message.get()))
                dispatch(event);
        } catch (const std::exception& error) {
            if (OnHandlerException)
                OnHandlerException(error);
            // What is still queued is handled at the next notification.
            std::lock_guard guard(mailbox->lock);
            if (!mailbox->messages.empty())
                QMetaObject::invokeMethod(this, &TFilterGraph::drainEvents, Qt::QueuedConnection);
            return;
        }
    }
}

void TFilterGraph::dispatch(const GraphEvent& event)
{
    const std::vector<IEventListener*> listeners = eventListeners_;
    for (IEventListener* listener : listeners)
        listener->HandleGraphEvent(event.code, event.param1, event.param2);
    if (OnDSEvent)
        OnDSEvent(*this, event.code, event.param1, event.param2);
    for (const EventRoute& route : kEventRoutes)
        if (route.code == event.code)
            route.raise(*this, event.param1, event.param2);
}

}  // namespace clipmora
