// The engine component: its task list and runs, the option records applied to
// tasks, the dispatch of the tasks' reports, and the route that carries the
// libraries' log output to the components.
#include "engine/transcoder.h"

#include "engine/conversions.h"
#include "engine/ffmpeg_thread.h"
#include "engine/library_binding.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <type_traits>

namespace clipmora {
namespace {

// How deep the calling thread is in event handlers and inline runs. Tasks may
// only be joined and freed at depth 0: a handler may run on the very thread
// that would have to be joined, or on the stack of the run being freed.
thread_local int tCallbackDepth = 0;

struct CallbackScope {
    CallbackScope() { ++tCallbackDepth; }
    ~CallbackScope() { --tCallbackDepth; }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};

// A line that never ends is handed on once it reaches this length, so a
// thread's pending text cannot grow without bound.
constexpr std::size_t kMaxPendingText = 16384;

TLogLevel toLogLevel(int engineLevel)
{
    if (engineLevel < 0)
        return llQuiet;
    if (engineLevel >= 3)
        return llAll;
    return static_cast<TLogLevel>(engineLevel + 1);
}

// Appends the formatted message; a message longer than the stack buffer is
// formatted again into a buffer of its exact size.
void appendFormatted(std::string& text, const char* format, va_list args)
{
    char buffer[2048];
    va_list first;
    va_copy(first, args);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, first);
    va_end(first);
    if (length < 0)
        return;
    if (static_cast<std::size_t>(length) < sizeof buffer) {
        text.append(buffer, static_cast<std::size_t>(length));
        return;
    }
    std::string large(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, args);
    text.append(large.data(), static_cast<std::size_t>(length));
}

// "[item name @ XXXXXXXX]": the address is the low 32 bits of the class record's.
std::string classPrefix(void* context, const AVClass* record)
{
    const char* name = record->item_name ? record->item_name(context) : record->class_name;
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, " @ %08X]",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(record) & 0xFFFFFFFFu));
    return std::string("[") + (name ? name : "") + prefix;
}

// ---- Option records ---------------------------------------------------------

// "name=value" lines, applied in order. Names and values are taken as written.
void applyExtraOptions(TCustomFFmpeg& task, const std::string& extra)
{
    std::string text = Trim(extra);
    std::string normalized;
    normalized.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            normalized += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            normalized += text[i];
        }
    }
    std::size_t start = 0;
    while (start <= normalized.size() && !normalized.empty()) {
        std::size_t end = normalized.find('\n', start);
        if (end == std::string::npos)
            end = normalized.size();
        const std::string piece = normalized.substr(start, end - start);
        if (!piece.empty()) {
            const std::size_t equals = piece.find('=');
            if (equals == std::string::npos)
                task.ParseOption(piece, "");
            else
                task.ParseOption(piece.substr(0, equals), piece.substr(equals + 1));
        }
        start = end + 1;
    }
}

std::string decimalText(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

template <auto Field>
bool positive(const TOutputOptions& o)
{
    return o.*Field > 0;
}

template <auto Field>
bool nonNegative(const TOutputOptions& o)
{
    return o.*Field >= 0;
}

template <auto Field>
bool notEmpty(const TOutputOptions& o)
{
    return !(o.*Field).empty();
}

template <auto Field>
bool flagSet(const TOutputOptions& o)
{
    return o.*Field;
}

bool always(const TOutputOptions&) { return true; }

template <auto Field>
std::string fieldText(const TOutputOptions& o)
{
    const auto& value = o.*Field;
    using T = std::decay_t<decltype(value)>;
    if constexpr (std::is_same_v<T, std::string>)
        return value;
    else if constexpr (std::is_same_v<T, bool>)
        return {};
    else if constexpr (std::is_floating_point_v<T>)
        return decimalText(value);
    else
        return std::to_string(value);
}

// A colour's RGB part; the flag byte above it (system colours elsewhere) has
// no meaning here.
std::string padColorText(const TOutputOptions& o) { return std::to_string(o.PadColor & 0xFFFFFFu); }

// Milliseconds as the seconds text that the duration options ("t", "ss") read.
std::string secondsText(int milliseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%03d", milliseconds / 1000, milliseconds % 1000);
    return text;
}

std::string durationText(const TOutputOptions& o) { return secondsText(o.DurationMs); }

// The last day a date-time value may name: 9999-12-31.
constexpr double kLastTimestampDay = 2958465.0;

bool timestampApplies(const TOutputOptions& o)
{
    return o.Timestamp >= 0.0 && o.Timestamp <= kLastTimestampDay;
}

// Days since 1899-12-30 on the local clock (0: now) as the UTC date the
// "timestamp" option reads. The local wall-clock moment goes through mktime,
// so the zone offset in force on that day (daylight saving included) applies.
std::string timestampText(const TOutputOptions& o)
{
    std::time_t utc = 0;
    if (o.Timestamp == 0.0) {
        utc = std::time(nullptr);
    } else {
        const auto wallClock =
            static_cast<std::time_t>(std::llround((o.Timestamp - 25569.0) * 86400.0));
        std::tm fields{};
        gmtime_r(&wallClock, &fields);
        fields.tm_isdst = -1;
        utc = std::mktime(&fields);
    }
    std::tm fields{};
    gmtime_r(&utc, &fields);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02dZ", fields.tm_year + 1900,
                  fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
    return text;
}

enum class Apply {
    Option,        // through the option parser
    OutputFormat,  // through the output-format setter
    Generic,       // straight to the named parameters
    Year,          // option state fields without an option of their own
    Track,
};

struct OutputRow {
    Apply how;
    const char* name;
    bool (*applies)(const TOutputOptions&);
    std::string (*value)(const TOutputOptions&);
};

using O = TOutputOptions;

// The output record's fields in the order they are applied, each with its
// condition and the option it drives. Fields whose condition fails leave the
// engine's default.
const OutputRow kOutputRows[] = {
    {Apply::OutputFormat, "f", notEmpty<&O::Format>, fieldText<&O::Format>},
    {Apply::Option, "packetsize", positive<&O::PacketSize>, fieldText<&O::PacketSize>},
    {Apply::Option, "muxrate", positive<&O::MuxRate>, fieldText<&O::MuxRate>},
    {Apply::Option, "muxdelay", positive<&O::MuxDelay>, fieldText<&O::MuxDelay>},
    {Apply::Option, "muxpreload", positive<&O::MuxPreload>, fieldText<&O::MuxPreload>},
    {Apply::Option, "acodec", notEmpty<&O::AudioCodec>, fieldText<&O::AudioCodec>},
    {Apply::Option, "an", flagSet<&O::DisableAudio>, fieldText<&O::DisableAudio>},
    {Apply::Option, "vol", nonNegative<&O::Volume>, fieldText<&O::Volume>},
    {Apply::Option, "ac", positive<&O::AudioChannels>, fieldText<&O::AudioChannels>},
    {Apply::Option, "ar", positive<&O::AudioSampleRate>, fieldText<&O::AudioSampleRate>},
    {Apply::Option, "ab", positive<&O::AudioBitrate>, fieldText<&O::AudioBitrate>},
    {Apply::Option, "abt", positive<&O::AudioBitrateTolerance>,
     fieldText<&O::AudioBitrateTolerance>},
    {Apply::Option, "alang", always, fieldText<&O::AudioLanguage>},
    {Apply::Option, "async", always, fieldText<&O::AudioSync>},
    {Apply::Option, "atag", notEmpty<&O::AudioTag>, fieldText<&O::AudioTag>},
    {Apply::Option, "vcodec", notEmpty<&O::VideoCodec>, fieldText<&O::VideoCodec>},
    {Apply::Option, "vn", flagSet<&O::DisableVideo>, fieldText<&O::DisableVideo>},
    {Apply::Option, "r", notEmpty<&O::FrameRate>, fieldText<&O::FrameRate>},
    {Apply::Option, "s", notEmpty<&O::FrameSize>, fieldText<&O::FrameSize>},
    {Apply::Option, "aspect", notEmpty<&O::Aspect>, fieldText<&O::Aspect>},
    {Apply::Option, "croptop", nonNegative<&O::CropTop>, fieldText<&O::CropTop>},
    {Apply::Option, "cropbottom", nonNegative<&O::CropBottom>, fieldText<&O::CropBottom>},
    {Apply::Option, "cropleft", nonNegative<&O::CropLeft>, fieldText<&O::CropLeft>},
    {Apply::Option, "cropright", nonNegative<&O::CropRight>, fieldText<&O::CropRight>},
    {Apply::Option, "padtop", nonNegative<&O::PadTop>, fieldText<&O::PadTop>},
    {Apply::Option, "padbottom", nonNegative<&O::PadBottom>, fieldText<&O::PadBottom>},
    {Apply::Option, "padleft", nonNegative<&O::PadLeft>, fieldText<&O::PadLeft>},
    {Apply::Option, "padright", nonNegative<&O::PadRight>, fieldText<&O::PadRight>},
    {Apply::Option, "padcolor", always, padColorText},
    {Apply::Option, "gop", positive<&O::GopSize>, fieldText<&O::GopSize>},
    // Bits per second, as given: no warning about values that look like kbit/s.
    {Apply::Generic, "vb", positive<&O::VideoBitrate>, fieldText<&O::VideoBitrate>},
    {Apply::Option, "maxrate", positive<&O::MaxRate>, fieldText<&O::MaxRate>},
    {Apply::Option, "minrate", positive<&O::MinRate>, fieldText<&O::MinRate>},
    {Apply::Option, "bt", positive<&O::VideoBitrateTolerance>,
     fieldText<&O::VideoBitrateTolerance>},
    {Apply::Option, "bufsize", positive<&O::BufferSize>, fieldText<&O::BufferSize>},
    {Apply::Option, "vsync", always, fieldText<&O::VideoSync>},
    {Apply::Option, "vtag", notEmpty<&O::VideoTag>, fieldText<&O::VideoTag>},
    {Apply::Option, "sn", flagSet<&O::DisableSubtitle>, fieldText<&O::DisableSubtitle>},
    {Apply::Option, "slang", always, fieldText<&O::SubtitleLanguage>},
    // A flag option can only switch copying on, so false keeps the default.
    {Apply::Option, "copyts", flagSet<&O::CopyTimestamps>, fieldText<&O::CopyTimestamps>},
    {Apply::Option, "t", positive<&O::DurationMs>, durationText},
    {Apply::Option, "timestamp", timestampApplies, timestampText},
    {Apply::Year, "year", positive<&O::Year>, fieldText<&O::Year>},
    {Apply::Track, "track", positive<&O::Track>, fieldText<&O::Track>},
    {Apply::Option, "title", notEmpty<&O::Title>, fieldText<&O::Title>},
    {Apply::Option, "author", notEmpty<&O::Author>, fieldText<&O::Author>},
    {Apply::Option, "copyright", notEmpty<&O::Copyright>, fieldText<&O::Copyright>},
    {Apply::Option, "comment", notEmpty<&O::Comment>, fieldText<&O::Comment>},
    {Apply::Option, "album", notEmpty<&O::Album>, fieldText<&O::Album>},
    {Apply::Option, "genre", notEmpty<&O::Genre>, fieldText<&O::Genre>},
};

const char* targetName(int type)
{
    switch (type) {
    case 1:
        return "vcd";
    case 2:
        return "svcd";
    case 3:
        return "dvd";
    default:
        return nullptr;
    }
}

// A 64-bit integer, or -1 for text that is not one (or whose microseconds
// would not fit).
int64_t segmentMilliseconds(const std::string& text)
{
    try {
        const int64_t value = StrToInt64(text);
        if (value > INT64_MAX / 1000 || value < INT64_MIN / 1000)
            return -1;
        return value;
    } catch (const ConversionError&) {
        return -1;
    }
}

}  // namespace

// ---- Tasks and their list -----------------------------------------------------

TFFmpeg::~TFFmpeg()
{
    RequestStop();
    joinThreads();
}

void TFFmpeg::joinThreads()
{
    if (startFailure_.joinable())
        startFailure_.join();
    WaitForThread();
}

TFFmpeg* TFFmpegList::At(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return items_[static_cast<std::size_t>(index)].get();
}

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task)
{
    const int index = Count();
    task->taskIndex_ = index;
    items_.push_back(std::move(task));
    return index;
}

std::unique_ptr<TFFmpeg> TFFmpegList::Extract(TFFmpeg* task)
{
    const auto found = std::find_if(items_.begin(), items_.end(),
                                    [task](const auto& item) { return item.get() == task; });
    if (found == items_.end())
        return nullptr;
    std::unique_ptr<TFFmpeg> owned = std::move(*found);
    items_.erase(found);
    for (std::size_t i = 0; i < items_.size(); ++i)
        items_[i]->taskIndex_ = static_cast<int>(i);
    return owned;
}

std::vector<std::unique_ptr<TFFmpeg>> TFFmpegList::ExtractAll()
{
    return std::exchange(items_, {});
}

std::string& TLogList::PendingText(std::thread::id thread)
{
    for (TLogItem& item : items_)
        if (item.ThreadId == thread)
            return item.Text;
    items_.push_back({thread, {}});
    return items_.back().Text;
}

// ---- Process-wide state ---------------------------------------------------------

TComponentRegistry& ComponentRegistry()
{
    static auto* registry = new TComponentRegistry;
    return *registry;
}

TLogList& LogLineBuffers()
{
    static auto* buffers = new TLogList;
    return *buffers;
}

void TComponentRegistry::Add(TCustomTranscoder* component)
{
    std::lock_guard guard(lock_);
    components_.push_back(component);
}

void TComponentRegistry::Remove(TCustomTranscoder* component)
{
    std::lock_guard guard(lock_);
    std::erase(components_, component);
    if (components_.empty() && lib.av_log_set_callback && lib.av_log_default_callback)
        lib.av_log_set_callback(lib.av_log_default_callback);
}

void RouteLibraryLog(void* context, int level, const char* format, va_list args)
{
    // The libraries may add colour bits above the level.
    if (level >= 0)
        level &= 0xFF;
    const int engineLevel = FromLibraryLogLevel(level);
    if (engineLevel > LogThreshold() || !format)
        return;
    // Nothing may unwind into the libraries' C code.
    try {
        TComponentRegistry& registry = ComponentRegistry();
        std::lock_guard guard(registry.Lock());
        const std::thread::id thread = std::this_thread::get_id();
        std::string& pending = LogLineBuffers().PendingText(thread);

        const AVClass* record = context ? *static_cast<const AVClass* const*>(context) : nullptr;
        std::string text = record && pending.empty() ? classPrefix(context, record)
                                                     : std::move(pending);
        appendFormatted(text, format, args);

        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end = text.find('\n'); end != std::string::npos;
             start = end + 1, end = text.find('\n', start)) {
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(std::move(line));
        }
        text.erase(0, start);
        if (text.size() >= kMaxPendingText)
            lines.push_back(std::exchange(text, {}));
        // Stored before the lines go out: a handler that logs on this thread
        // continues from here.
        pending = std::move(text);

        for (const std::string& line : lines) {
            // A handler may add or remove a component meanwhile: walk a copy
            // and skip the ones that have left.
            const std::vector<TCustomTranscoder*> components = registry.Components();
            for (TCustomTranscoder* component : components) {
                const auto& live = registry.Components();
                if (std::find(live.begin(), live.end(), component) != live.end())
                    component->routeLine(thread, engineLevel, line);
            }
        }
    } catch (...) {
    }
}

std::vector<std::pair<int64_t, int64_t>> ParseSegmentList(const std::string& text)
{
    std::vector<std::pair<int64_t, int64_t>> ranges;
    const std::string list = Trim(text);
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::size_t length = comma == std::string::npos ? std::string::npos : comma - start;
        const std::string piece = Trim(list.substr(start, length));
        const std::size_t dash = piece.find('-');
        const int64_t first = segmentMilliseconds(Trim(piece.substr(0, dash)));
        const int64_t last =
            dash == std::string::npos ? -1 : segmentMilliseconds(piece.substr(dash + 1));
        if (first <= last && last >= 0)
            ranges.emplace_back(first * 1000, last * 1000);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    return ranges;
}

// ---- The component lock -----------------------------------------------------------

void TCustomTranscoder::ComponentLock::lock()
{
    mutex_.lock();
    if (depth_++ == 0)
        owner_.store(std::this_thread::get_id());
}

void TCustomTranscoder::ComponentLock::unlock()
{
    if (--depth_ == 0)
        owner_.store(std::thread::id());
    mutex_.unlock();
}

TCustomTranscoder::DispatchGuard::DispatchGuard(TCustomTranscoder& component)
    : component_(component)
{
    ComponentRegistry().Lock().lock();
    component_.lock_.lock();
}

TCustomTranscoder::DispatchGuard::~DispatchGuard()
{
    component_.lock_.unlock();
    ComponentRegistry().Lock().unlock();
}

// ---- Life cycle ----------------------------------------------------------------------

TCustomTranscoder::TCustomTranscoder() { ComponentRegistry().Add(this); }

TCustomTranscoder::~TCustomTranscoder()
{
    ComponentRegistry().Remove(this);
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        // Waits for a dispatch in progress; afterwards nothing is raised.
        DispatchGuard guard(*this);
        destroying_ = true;
        pendingRunCount_ = 0;
        runActive_ = false;
        runQueue_.clear();
        tasks = tasks_.ExtractAll();
        for (auto& task : retired_)
            tasks.push_back(std::move(task));
        retired_.clear();
    }
    alive_.reset();
    // Each task stops and joins its thread; their last reports find
    // destroying_ set.
    tasks.clear();
}

bool TCustomTranscoder::LoadCodecLibraries(const std::string& folder, bool versionedNames)
{
    std::string error;
    if (!BindCodecLibraries(folder, versionedNames, error)) {
        setLastError(error);
        return false;
    }
    {
        std::lock_guard guard(ComponentRegistry().Lock());
        lib.av_log_set_callback(&RouteLibraryLog);
    }
    SetLibraryLogLevel(static_cast<int>(LogLevel()) - 1);
    return true;
}

void TCustomTranscoder::SetLogLevel(TLogLevel level)
{
    logLevel_ = level;
    if (CodecLibrariesBound())
        SetLibraryLogLevel(static_cast<int>(level) - 1);
}

void TCustomTranscoder::SetProgressInterval(int milliseconds)
{
    progressInterval_ = milliseconds <= 100 ? 100 : milliseconds;
}

void TCustomTranscoder::SetThreadPriority(TConvertPriority priority)
{
    threadPriority_ = priority > tpNormal ? tpNormal : priority;
}

std::string TCustomTranscoder::LastError() const
{
    std::lock_guard guard(lock_);
    return lastError_;
}

void TCustomTranscoder::setLastError(const std::string& text)
{
    std::lock_guard guard(lock_);
    lastError_ = text;
}

int TCustomTranscoder::TaskCount() const
{
    std::lock_guard guard(lock_);
    return tasks_.Count();
}

TFFmpeg* TCustomTranscoder::Task(int index) const
{
    std::lock_guard guard(lock_);
    return tasks_.At(index);
}

int TCustomTranscoder::ThreadCount() const
{
    std::lock_guard guard(lock_);
    return threadCount_;
}

void TCustomTranscoder::DetachEvents()
{
    DispatchGuard guard(*this);
    std::lock_guard hooks(hookLock_);
    OnBeforeHook = nullptr;
    OnCustomHook = nullptr;
    OnLog = nullptr;
    OnProgress = nullptr;
    OnTerminate = nullptr;
}

// ---- Creating and configuring tasks -------------------------------------------------

void TCustomTranscoder::connectSlots(TFFmpeg& task)
{
    task.SetLogSlot([this](TCustomFFmpeg& t, int level, const std::string& text) {
        DoLog(static_cast<TFFmpeg*>(&t), level, text);
    });
    task.SetProgressSlot([this](TCustomFFmpeg& t, const TProgressInfo& progress) {
        DoProgress(static_cast<TFFmpeg*>(&t), progress);
    });
    task.SetTerminateSlot([this](TCustomFFmpeg& t) { DoTerminate(static_cast<TFFmpeg*>(&t)); });
}

int TCustomTranscoder::AppendTask(const std::string& fileName, const TInputOptions* options)
{
    if (atSafePoint())
        freeRetired();
    auto task = std::make_unique<TFFmpeg>();
    task->serial_ = nextSerial_++;
    try {
        // A task is made of library objects: none can exist before binding.
        CheckCodecLibrariesBound();
        task->PrepareTask();
        task->SetVerbosity(static_cast<int>(LogLevel()) - 1);
        if (options) {
            TInputOptions copy = *options;
            if (copy.FileName.empty())
                copy.FileName = fileName;
            task->inputOptions_ = copy;
            applyExtraOptions(*task, copy.ExtraOptions);
            task->SetInputFormat(copy.ForcedFormat);
            if (copy.StartTimeMs > 0)
                task->ParseOption("ss", secondsText(copy.StartTimeMs));
            if (copy.ProgramId >= 0)
                task->ParseOption("programid", std::to_string(copy.ProgramId));
        } else {
            task->inputOptions_ = TInputOptions{};
        }
        if (!task->AddInputFile(fileName)) {
            setLastError(task->TaskError());
            return -1;
        }
        connectSlots(*task);
    } catch (const std::exception& e) {
        setLastError(e.what());
        return -1;
    }
    std::lock_guard guard(lock_);
    return tasks_.Add(std::move(task));
}

void TCustomTranscoder::applyOutputOptions(TFFmpeg& task, const TOutputOptions& options)
{
    applyExtraOptions(task, options.ExtraOptions);
    for (const OutputRow& row : kOutputRows) {
        if (!row.applies(options))
            continue;
        const std::string value = row.value(options);
        switch (row.how) {
        case Apply::Option:
            task.ParseOption(row.name, value);
            break;
        case Apply::OutputFormat:
            task.SetOutputFormat(value);
            break;
        case Apply::Generic:
            task.SetGenericParameter(row.name, value);
            break;
        case Apply::Year:
            task.Options().year = StrToInt(value);
            break;
        case Apply::Track:
            task.Options().track = StrToInt(value);
            break;
        }
    }
    if (const char* target = targetName(options.TargetType)) {
        const char* norm = options.TargetNorm == 1   ? "pal"
                           : options.TargetNorm == 2 ? "ntsc"
                                                     : "auto";
        task.ApplyTarget(target, norm, options.TargetFrameNorm == 1 ? "pal" : "ntsc");
    }
    if (options.EnableCustomHook) {
        task.SetCustomHookSlot([this](TCustomFFmpeg& t, THookBitmap& bitmap, int frameNumber,
                                      int64_t pts, bool& update, bool& stopHook) {
            DoCustomHook(static_cast<TFFmpeg*>(&t), bitmap, frameNumber, pts, update, stopHook);
        });
    } else if (options.EnableBeforeHook) {
        task.SetBeforeHookSlot([this](TCustomFFmpeg& t, int64_t pts, THookAction& action) {
            DoBeforeHook(static_cast<TFFmpeg*>(&t), pts, action);
        });
    } else {
        task.SetHookTimeRanges(ParseSegmentList(options.SegmentList));
    }
}

bool TCustomTranscoder::AttachOutput(int index, const std::string& fileName,
                                     const TOutputOptions* options)
{
    TFFmpeg* task = Task(index);
    if (!task) {
        setLastError("Task index " + std::to_string(index) + " is out of range");
        return false;
    }
    try {
        if (options) {
            TOutputOptions copy = *options;
            if (copy.FileName.empty())
                copy.FileName = fileName;
            task->outputOptions_ = copy;
            applyOutputOptions(*task, copy);
        } else {
            task->outputOptions_ = TOutputOptions{};
        }
        if (!task->CreateOutputFile(fileName)) {
            setLastError(task->TaskError());
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        setLastError(e.what());
        return false;
    }
}

// ---- Removing tasks ----------------------------------------------------------------

bool TCustomTranscoder::atSafePoint() const
{
    return std::this_thread::get_id() == ownerThread_ && tCallbackDepth == 0 &&
           !lock_.HeldByThisThread();
}

void TCustomTranscoder::freeRetired()
{
    std::vector<std::unique_ptr<TFFmpeg>> retired;
    {
        std::lock_guard guard(lock_);
        retired.swap(retired_);
    }
    retired.clear();  // joins their threads, without the lock
}

void TCustomTranscoder::windDownRun()
{
    std::vector<TFFmpeg*> tasks;
    {
        DispatchGuard guard(*this);
        if (runActive_)
            stopLocked();
        for (const auto& task : tasks_.Items())
            tasks.push_back(task.get());
    }
    // Only the owner frees tasks, so the pointers stay valid even if a handler
    // detaches the tasks meanwhile. Their last reports need the locks.
    for (TFFmpeg* task : tasks)
        task->joinThreads();
}

void TCustomTranscoder::DeleteTask(int index)
{
    if (!atSafePoint()) {
        // Inside a handler or on a task thread the task may be the caller's
        // own: detach it now, free it on the owner's thread later.
        DispatchGuard guard(*this);
        TFFmpeg* task = tasks_.At(index);
        if (!task)
            return;
        if (runActive_)
            stopLocked();
        retired_.push_back(tasks_.Extract(task));
        return;
    }
    freeRetired();
    TFFmpeg* task = nullptr;
    bool runActive = false;
    {
        std::lock_guard guard(lock_);
        task = tasks_.At(index);
        runActive = runActive_;
    }
    if (!task)
        return;
    if (runActive)
        windDownRun();
    else
        task->joinThreads();
    std::unique_ptr<TFFmpeg> owned;
    {
        std::lock_guard guard(lock_);
        owned = tasks_.Extract(task);
    }
    owned.reset();
}

void TCustomTranscoder::ClearTaskList()
{
    if (!atSafePoint()) {
        DispatchGuard guard(*this);
        if (runActive_)
            stopLocked();
        for (auto& task : tasks_.ExtractAll())
            retired_.push_back(std::move(task));
        lastError_.clear();
        threadCount_ = 0;
        return;
    }
    freeRetired();
    windDownRun();
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    {
        std::lock_guard guard(lock_);
        tasks = tasks_.ExtractAll();
        lastError_.clear();
        threadCount_ = 0;
    }
    tasks.clear();
    freeRetired();
}

// ---- Running -----------------------------------------------------------------------

void TCustomTranscoder::StartTasks(int threadCount)
{
    if (threadCount <= 0 && !scheduler_)
        throw std::logic_error("StartTasks: running on the owner's thread needs a scheduler");
    if (atSafePoint())
        freeRetired();
    DispatchGuard guard(*this);
    if (runActive_ || destroying_)
        return;
    LogLineBuffers().Clear();
    runQueue_.clear();
    for (const auto& task : tasks_.Items()) {
        task->inRun_ = !task->claimed_ && !task->Running() && !task->Terminated();
        if (task->inRun_)
            runQueue_.push_back(task.get());
    }
    nextTaskIndex_ = 0;
    terminatedCount_ = 0;
    threadCount_ = threadCount;
    pendingRunCount_ = static_cast<int>(runQueue_.size());
    runTaskCount_ = pendingRunCount_;
    if (runQueue_.empty())
        return;
    runActive_ = true;
    const int limit = threadCount > 0 ? threadCount : 1;
    for (int started = 0; started < limit && pendingRunCount_ > 0; ++started)
        startOneLocked();
}

void TCustomTranscoder::prepareStartLocked(TFFmpeg* task)
{
    task->claimed_ = true;
    task->SetProgressIntervalUs(static_cast<int64_t>(ProgressInterval()) * 1000);
    task->SetVerbosity(static_cast<int>(LogLevel()) - 1);
}

void TCustomTranscoder::startOneLocked()
{
    if (pendingRunCount_ <= 0)
        return;
    --pendingRunCount_;
    TFFmpeg* task = runQueue_[static_cast<std::size_t>(nextTaskIndex_++)];
    if (threadCount_ > 0) {
        launchThreadedLocked(task);
        return;
    }
    // Main-thread mode: the start waits for the owner's event loop, so that the
    // run does not happen inside the report of the previous one.
    std::weak_ptr<int> alive = alive_;
    scheduler_(100, [this, alive, serial = task->serial_] {
        if (!alive.expired())
            runScheduled(serial);
    });
}

void TCustomTranscoder::launchThreadedLocked(TFFmpeg* task)
{
    prepareStartLocked(task);
    if (task->OutputFiles().empty() || task->InputFiles().empty()) {
        // Its start check will fail, and the failure frees the task's inputs
        // under the codec lock, which must not be taken under our locks.
        task->taskThreadId_ = std::thread::id();
        task->startFailure_ =
            std::thread([task, priority = ThreadPriority()] { task->StartTask(false, priority); });
        return;
    }
    TFFmpegThread* thread = task->StartTask(true, ThreadPriority());
    if (!thread)
        return;
    // Known before the thread logs its first line.
    task->taskThreadId_ = task->ThreadId();
    thread->Resume();
}

void TCustomTranscoder::runScheduled(uint64_t serial)
{
    TFFmpeg* task = nullptr;
    {
        DispatchGuard guard(*this);
        if (destroying_)
            return;
        for (const auto& item : tasks_.Items())
            if (item->serial_ == serial)
                task = item.get();
        // A stop in the meantime has handed the task to a termination thread.
        if (!task || task->claimed_ || task->Running() || task->Terminated())
            return;
        prepareStartLocked(task);
        task->taskThreadId_ = std::this_thread::get_id();
    }
    CallbackScope inlineRun;
    task->StartTask(false, ThreadPriority());
}

void TCustomTranscoder::stopLocked()
{
    pendingRunCount_ = 0;
    for (const auto& task : tasks_.Items()) {
        if (task->Running()) {
            task->RequestStop();
        } else if (!task->Terminated() && !task->claimed_) {
            task->claimed_ = true;
            task->TerminateWithoutRunning();
        }
    }
}

void TCustomTranscoder::StopTasks()
{
    DispatchGuard guard(*this);
    if (!destroying_)
        stopLocked();
}

void TCustomTranscoder::finishRunIfDoneLocked()
{
    if (!runActive_ || pendingRunCount_ > 0 || terminatedCount_ < runTaskCount_)
        return;
    runActive_ = false;
    runQueue_.clear();
    if (OnTerminate) {
        CallbackScope scope;
        OnTerminate(-1, true, false, std::string());
    }
    LogLineBuffers().Clear();
}

// ---- Dispatch ---------------------------------------------------------------------------

void TCustomTranscoder::DoBeforeHook(TFFmpeg* task, int64_t pts, THookAction& action)
{
    TBeforeHookEvent handler;
    {
        std::lock_guard guard(hookLock_);
        handler = OnBeforeHook;
    }
    if (handler) {
        CallbackScope scope;
        handler(task ? task->TaskIndex() : -1, pts, action);
    }
}

void TCustomTranscoder::DoCustomHook(TFFmpeg* task, THookBitmap& bitmap, int frameNumber,
                                     int64_t pts, bool& update, bool& stopHook)
{
    TCustomHookEvent handler;
    {
        std::lock_guard guard(hookLock_);
        handler = OnCustomHook;
    }
    if (handler) {
        CallbackScope scope;
        handler(task ? task->TaskIndex() : -1, bitmap, frameNumber, pts, update, stopHook);
    }
}

void TCustomTranscoder::DoLog(TFFmpeg* task, int level, const std::string& text)
{
    DispatchGuard guard(*this);
    if (destroying_ || !OnLog)
        return;
    CallbackScope scope;
    OnLog(task ? task->TaskIndex() : -1, toLogLevel(level), text);
}

void TCustomTranscoder::DoProgress(TFFmpeg* task, const TProgressInfo& progress)
{
    DispatchGuard guard(*this);
    if (destroying_ || !OnProgress)
        return;
    CallbackScope scope;
    OnProgress(task ? task->TaskIndex() : -1, progress.FrameNumber, progress.FPS,
               progress.CurrentDurationMs, progress.Quality, progress.BitRate,
               progress.CurrentSize, progress.TotalOutputDurationMs);
}

void TCustomTranscoder::DoTerminate(TFFmpeg* task)
{
    DispatchGuard guard(*this);
    if (destroying_)
        return;
    if (task) {
        if (OnTerminate) {
            CallbackScope scope;
            OnTerminate(task->TaskIndex(), task->Finished(), task->ExceptionRaised(),
                        task->ExceptionMessage());
        }
        // Thread ids are reused; an ended task must not collect later lines.
        task->taskThreadId_ = std::thread::id();
        if (!task->inRun_)
            return;
        ++terminatedCount_;
        if (pendingRunCount_ > 0) {
            startOneLocked();
            return;
        }
    }
    finishRunIfDoneLocked();
}

void TCustomTranscoder::routeLine(std::thread::id thread, int level, const std::string& line)
{
    DispatchGuard guard(*this);
    if (destroying_)
        return;
    TFFmpeg* owner = nullptr;
    for (const auto& task : tasks_.Items()) {
        if (task->TaskThreadId() == thread) {
            owner = task.get();
            break;
        }
    }
    DoLog(owner, level, line);
}

}  // namespace clipmora
