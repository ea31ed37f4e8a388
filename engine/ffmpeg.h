// TCustomFFmpeg: one conversion job in the manner of a command-line
// converter. It carries its own option state (what such a converter keeps as
// global options), its opened input files and its output files with their
// streams; the run itself (stream mapping, packet loop, audio and video
// paths) works on these.
//
// The implementation is split by stage:
//   ffmpeg.cpp              life cycle, reset, logging, the codec lock
//   option_table.cpp        the option parser and its handlers
//   generic_parameters.cpp  named parameters of the codec, format and scaler libraries
//   output_setup.cpp        output files and their video, audio and subtitle streams
//   targets.cpp             the "vcd", "svcd", "dvd", "dv" and "dv50" presets
//   input_open.cpp          opening an input file
//   task_control.cpp        starting, stopping and ending a task; its thread
//   run_setup.cpp, stream_preparation.cpp   the run's set-up
//   packet_loop.cpp         the run; its packet loop, end and progress
//   packet_io.cpp           the run's decode stage and its writer
//   video_path.cpp, audio_path.cpp          the run's video and audio paths
// The set-up stages are functions that take what they read and return what
// they build (task_setup.h: inputs, outputs; run_stages.h: the run's
// streams); the run's stages are objects of their own (run_stages.h). The
// task calls them and keeps the results.
//
// Threads: a task is configured on the main thread; its run happens on one
// worker thread. Nothing here is shared between tasks except the process-wide
// codec lock and the libraries' log level.
#pragma once

#include "engine/engine_types.h"
#include "engine/file_handle.h"
#include "engine/frame_hook.h"
#include "engine/input_opener.h"
#include "engine/library_handles.h"

#include <array>
#include <cstdio>
#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace clipmora {

inline constexpr int kMaxFiles = 20;    // input files, output files
inline constexpr int kMaxStreams = 20;  // streams per input for "itsscale"
inline constexpr int kMaxMaps = 20;     // stream maps, metadata maps

// Codec kinds in the order the parameter defaults are kept.
enum class CodecKind { Video, Audio, Data, Subtitle, Attachment };
inline constexpr int kCodecKindCount = 5;

struct TStreamMap {
    int FileIndex = 0;
    int StreamIndex = 0;
    int SyncFileIndex = 0;
    int SyncStreamIndex = 0;
};

struct TMetaDataMap {
    int OutFile = 0;
    int InFile = 0;
};

// What the options say about the next output stream of one kind.
struct StreamChoice {
    bool disabled = false;    // "vn", "an", "sn"
    std::string codecName;    // the encoder; empty: the container's own choice
    bool streamCopy = false;  // codec "copy"
};

// The options that belong to one output file. The option parser fills the
// record; creating an output file takes it whole, and the next output starts
// from a fresh one. A stream added with "newvideo", "newaudio" or
// "newsubtitle" takes its kind's part of the record being filled. An input
// opened meanwhile reads the record too: a codec name forces its decoder
// (and is used up by it), and the streams of a disabled kind are not read.
struct OutputChoices {
    const AVOutputFormat* forcedFormat = nullptr;  // "f"; null: the file name decides
    StreamChoice video;
    StreamChoice audio;
    StreamChoice subtitle;
    std::string audioLanguage;     // "alang"
    std::string subtitleLanguage;  // "slang"
};

// The option state of one task, with its reset values.
struct OptionState {
    const AVInputFormat* forcedInputFormat = nullptr;
    OutputChoices output;  // for the next output file
    bool imageSequence = false;

    int frameWidth = 0;
    int frameHeight = 0;
    float frameAspectRatio = 0.0f;
    int pixelFormat = -1;
    int padTop = 0, padBottom = 0, padLeft = 0, padRight = 0;
    std::array<int, 3> padColorYuv{16, 128, 128};
    std::array<int, 3> padColorRgb{0, 0, 0};  // the same colour for RGB pictures
    int cropTop = 0, cropBottom = 0, cropLeft = 0, cropRight = 0;
    int maxVideoFrames = INT_MAX;
    int maxAudioFrames = INT_MAX;
    int maxDataFrames = INT_MAX;
    AVRational frameRate{0, 0};  // 0/0: take the input's
    float videoQScale = 0.0f;
    std::optional<std::array<uint16_t, 64>> intraMatrix;
    std::optional<std::array<uint16_t, 64>> interMatrix;
    std::string rcOverride;
    int videoDiscard = 0;
    uint32_t videoCodecTag = 0;
    bool sameQuality = false;
    bool deinterlace = false;
    int topFieldFirst = -1;
    int meThreshold = 0;
    int intraDcPrecision = 8;
    bool loopInput = false;
    int loopOutput = -1;
    bool qpHistogram = false;
    bool intraOnly = false;

    int audioSampleRate = 44100;
    float audioQScale = -99999.0f;
    int audioChannels = 2;
    uint32_t audioCodecTag = 0;
    int audioVolume = 256;

    float muxPreload = 0.5f;   // seconds
    float muxMaxDelay = 0.7f;  // seconds
    int64_t recordingTime = INT64_MAX;  // "t", microseconds
    int64_t startTime = 0;              // "ss", microseconds
    int64_t recordingTimestamp = 0;     // "timestamp", seconds since 1970
    int64_t inputTsOffset = 0;          // "itsoffset", microseconds
    std::string title, author, copyright, comment, genre, album;
    int year = 0;
    int track = 0;

    bool hexDump = false;
    bool packetDump = false;
    bool psnr = false;
    int pass = 0;
    std::string passLogFile;
    int videoSync = -1;
    int audioSync = 0;
    float audioDriftThreshold = 0.1f;
    bool copyTimestamps = false;
    bool shortest = false;
    int videoGlobalHeader = 0;
    std::string vstatsFileName;
    int programId = 0;
    bool rateEmulation = false;
    int videoChannel = 0;
    std::string tvStandard;
    bool inputSync = false;
    int verbosity = kLogInfo;
    int64_t fileSizeLimit = 0;
    float dtsDeltaThreshold = 10.0f;
    int scalerFlags = SWS_BICUBIC;
    int encoderBufferSize = 0x40000;
    int threadCount = 0;  // codec threads; 0 lets the libraries take one per core

    std::vector<TStreamMap> streamMaps;
    std::vector<TMetaDataMap> metaDataMaps;
    std::array<double, kMaxStreams> nextInputTimeScales{};  // for the input about to be opened
    bool usingFrameHooks = false;
};

// The libraries' parameter objects that hold named parameters until streams
// and files are made: one codec context per kind, a format context and a
// scaler, plus the names set on them so far (in the order they were set).
struct ParameterDefaults {
    std::array<CodecContextPtr, kCodecKindCount> codec;
    FormatContextPtr format;
    ScalerPtr scaler;
    std::vector<std::string> names;
    // Names no parameter object knew. This library generation keeps many
    // parameters in the muxers' and encoders' own sets ("muxrate", "preset"),
    // which exist only once the muxer or encoder is chosen; they are offered
    // to those when the output is created and the encoders are opened.
    std::vector<std::pair<std::string, std::string>> privateParameters;
    // The names of those that a muxer or an encoder took; the rest had no
    // effect and are reported once the encoders are open.
    std::vector<std::string> takenPrivateParameters;

    AVCodecContext* of(CodecKind kind) const { return codec[static_cast<int>(kind)].get(); }
};

// Copies every parameter set so far on `defaults` whose flags contain all of
// `mask` from `source` (one of the defaults' objects) onto `target` (both
// objects with an AVClass).
void CopyGenericParameters(const ParameterDefaults& defaults, void* target, void* source, int mask);

struct InputFile {
    std::string fileName;
    std::string scriptSource;                        // the file a trim script reads, if one
    // What feeds a served input (see input_opener.h); declared before the
    // context, so that it goes after the context that reads from it.
    std::shared_ptr<void> keepAlive;
    // Where a served input's frames come from, when it is read that way;
    // its context then only describes the streams.
    std::shared_ptr<FrameSource> frames;
    InputFormatPtr context;
    int64_t tsOffset = 0;                            // added to every timestamp, microseconds
    std::array<double, kMaxStreams> timeScales{};    // "itsscale"; 0 = none
    bool rateEmulation = false;                      // "re": read at the native rate
    std::vector<CodecContextPtr> decoders;           // one per stream, configured at open
};

struct OutputStreamSetup {
    AVStream* stream = nullptr;  // owned by the file's format context
    CodecContextPtr codec;       // encoder configuration, opened by the run
    bool streamCopy = false;
    float quality = 0.0f;  // fixed quality (quantiser x lambda factor) for every frame; 0: none
    std::vector<std::string> bitstreamFilters;
};

struct OutputFile {
    std::string fileName;
    OutputFormatPtr context;
    std::vector<OutputStreamSetup> streams;
    // The run could not complete the file (a write failed, or nothing was
    // written); it is removed when the run's records go, if it is ours.
    bool broken = false;
    // The file is the task's to remove: the task created it (or found it
    // empty), or the run has begun to write over it. A file that was there
    // before and was never written into is left as it was.
    bool ours = false;
    // The output replaces a file with content. It is opened without cutting
    // it, and cut only when the run begins to write, so a task that fails
    // before (or never runs) leaves that file as it was.
    bool replacesFile = false;
};

// Makes `file` ready for its header: a file the output replaces is cut to
// nothing now and is the task's from here on. Throws FFMpegException when it
// cannot be cut.
void BeginWritingOutput(OutputFile& file);

class RunLog;
class TFFmpegThread;
struct VideoHooks;

class TCustomFFmpeg {
public:
    // Log slot: receives engine messages at engine log levels (-1 = a failure
    // that ends the task). Set by the component.
    using LogSlot = std::function<void(TCustomFFmpeg& task, int level, const std::string& text)>;
    using ProgressSlot = std::function<void(TCustomFFmpeg& task, const TProgressInfo& progress)>;
    using TerminateSlot = std::function<void(TCustomFFmpeg& task)>;
    using BeforeHookSlot =
        std::function<void(TCustomFFmpeg& task, int64_t pts, THookAction& action)>;
    using CustomHookSlot =
        std::function<void(TCustomFFmpeg& task, THookBitmap& bitmap, int frameNumber,
                           int64_t pts, bool& update, bool& stopHook)>;

    TCustomFFmpeg();
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // Frees the run state, resets every option, clears the run flags, sets
    // TotalOutputDurationMs to -1 and creates fresh parameter defaults.
    void PrepareTask();
    // Frees input files, output files, hook modules' contexts and maps.
    void FreeRunState();

    // The task's verbosity: the libraries' log level and the process-wide
    // routing threshold become `level` (engine scale, -1..3).
    void SetVerbosity(int level);

    // --- Options (option_table.cpp) ---------------------------------------
    // Looks `name` up in the option table and applies `value`. Names not in
    // the table go to SetGenericParameter; if nothing takes them they are
    // ignored. Throws FFMpegException (or ConversionError for a malformed
    // number) when the value is rejected.
    void ParseOption(const std::string& name, const std::string& value);
    // Whether option `name` reads a value: false for the table's flags, true
    // for its other rows and for any name it does not know (those become named
    // parameters, which always take one). For command-line front ends.
    static bool OptionTakesValue(const std::string& name);
    // Applies the output record's fields through the options they drive, in
    // the option table's order; a field whose condition fails leaves the
    // engine's default. Throws what ParseOption throws.
    void ApplyRecordFields(const TOutputOptions& record);
    // Stores option `name` given as text in the record field that drives it,
    // for the fields applied whatever the record's extra options say. False
    // for every other name; throws ConversionError for a number that does
    // not read.
    static bool StoreRecordField(TOutputOptions& record, const std::string& name,
                                 const std::string& value);
    // The one-sided format setters; an empty name does nothing.
    void SetInputFormat(const std::string& name);   // "Unknown input format: %s"
    void SetOutputFormat(const std::string& name);  // "Unknown output format: %s"

    // --- Generic parameters (generic_parameters.cpp) ----------------------
    // Sets a named parameter on whichever parameter defaults know it; true
    // when one accepted it.
    bool SetGenericParameter(const std::string& name, const std::string& value);
    bool SetGenericParameter(const std::string& name, int64_t value);

    // --- Outputs (output_setup.cpp, targets.cpp) --------------------------
    // Creates the output file `fileName` with its streams from the options,
    // taking the per-output record (Options().output), so that the next
    // output starts from a fresh one. Throws FFMpegException when it cannot
    // (the file may stay in the list when only its opening failed; the
    // caller removes the task).
    void CreateOutputFile(const std::string& fileName);
    // "newvideo", "newaudio", "newsubtitle": one more stream on the last
    // output file, taking its kind's part of the per-output record.
    void AddStreamToLastOutput(CodecKind kind);
    // Applies a target preset; `type` is "vcd", "svcd", "dvd", "dv" or "dv50".
    void ApplyTarget(const std::string& type, const std::string& norm,
                     const std::string& fallbackNorm);

    // --- Inputs (input_open.cpp) -------------------------------------------
    // Opens `fileName` as the next input. Throws FFMpegException when it
    // cannot be opened or described; nothing is added then.
    void AddInputFile(const std::string& fileName);

    // --- State --------------------------------------------------------------
    const OptionState& Options() const { return options_; }
    OptionState& Options() { return options_; }
    const ParameterDefaults& Defaults() const { return defaults_; }
    const std::vector<InputFile>& InputFiles() const { return inputs_; }
    const std::vector<OutputFile>& OutputFiles() const { return outputs_; }
    const FrameHookChain& FrameHooks() const { return frameHooks_; }

    int TotalOutputDurationMs() const { return totalOutputDurationMs_; }

    // The callback slots; set while the task is not running.
    void SetLogSlot(LogSlot slot) { logSlot_ = std::move(slot); }
    bool HasLogSlot() const { return static_cast<bool>(logSlot_); }
    void SetProgressSlot(ProgressSlot slot) { progressSlot_ = std::move(slot); }
    void SetTerminateSlot(TerminateSlot slot) { terminateSlot_ = std::move(slot); }
    void SetBeforeHookSlot(BeforeHookSlot slot) { beforeHookSlot_ = std::move(slot); }
    void SetCustomHookSlot(CustomHookSlot slot) { customHookSlot_ = std::move(slot); }
    bool HasCustomHookSlot() const { return static_cast<bool>(customHookSlot_); }
    bool HasBeforeHookSlot() const { return static_cast<bool>(beforeHookSlot_); }
    // Time ranges (start, end in microseconds) that gate the frame hook
    // modules; kept sorted by end.
    void SetHookTimeRanges(std::vector<std::pair<int64_t, int64_t>> ranges);
    const std::vector<std::pair<int64_t, int64_t>>& HookTimeRanges() const { return hookRanges_; }

    // --- Running (task_control.cpp) -------------------------------------------
    // Starts the task once. Threaded: returns the task's worker thread, still
    // suspended (the caller resumes it); the task owns it. Inline: runs the
    // task on the calling thread and returns null. A task that is running or
    // has ended, or lacks an input or output file, starts nothing (the latter
    // two end at once with "Must supply at least one output file" /
    // "Must supply at least one input file").
    TFFmpegThread* StartTask(bool threaded, TConvertPriority priority);
    // The run wrapper: runs the conversion, turns an engine failure into the
    // task's exception state, releases the run's resources, then reports the
    // end through NotifyTerminated. Called on the task's thread.
    void RunTask();
    // Asks a running task to stop at its next packet. Any thread.
    void RequestStop();
    // Marks the task ended and calls the terminate slot.
    void NotifyTerminated();
    // Reports the end of a task that never ran, from a short-lived thread of
    // idle priority that the task owns.
    void TerminateWithoutRunning();
    // Waits for the task's thread to end (does nothing on that thread itself).
    void WaitForThread();
    // The id of the thread the task's thread runs on (default id when none).
    std::thread::id ThreadId() const;

    bool Running() const { return running_.load(); }
    bool StopRequested() const { return stopRequested_.load(); }
    bool Finished() const { return finished_.load(); }
    bool Terminated() const { return terminated_.load(); }
    // Read once Terminated() is true (or on the task's own thread).
    bool ExceptionRaised() const { return exceptionRaised_; }
    const std::string& ExceptionMessage() const { return exceptionMessage_; }

    int64_t ProgressIntervalUs() const { return progressIntervalUs_; }
    void SetProgressIntervalUs(int64_t interval) { progressIntervalUs_ = interval; }

    // The process-wide lock around stream analysis and codec opening/closing,
    // which the libraries do not allow to run concurrently.
    static std::recursive_mutex& CodecLock();

protected:
    // The conversion itself (packet_loop.cpp): setup, packet loop, end.
    // Throws FFMpegException after freeing the run's records.
    void Run();

    // Sends a formatted line to the log slot (when set) at an engine level.
    void LogMessage(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    OptionState options_;
    ParameterDefaults defaults_;
    std::vector<InputFile> inputs_;
    std::vector<OutputFile> outputs_;
    FrameHookChain frameHooks_;
    int totalOutputDurationMs_ = -1;
    LogSlot logSlot_;
    ProgressSlot progressSlot_;
    TerminateSlot terminateSlot_;
    BeforeHookSlot beforeHookSlot_;
    CustomHookSlot customHookSlot_;
    std::vector<std::pair<int64_t, int64_t>> hookRanges_;

    // Run flags: written by the task's thread and read by others.
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> terminated_{false};
    // Written by the task's thread before terminated_ is set.
    bool exceptionRaised_ = false;
    std::string exceptionMessage_;
    int64_t progressIntervalUs_ = 500000;
    std::unique_ptr<TFFmpegThread> thread_;  // worker or end reporter, joined by the task

private:
    void resetOptions();
    void createParameterDefaults();
    // Notes a parameter the defaults took, for copying into the run's objects.
    void rememberGenericParameter(const std::string& name, bool forScaler);

    // Option handlers (option_table.cpp).
    struct OptionEntry;
    static const OptionEntry kOptionTable[];

    // The log slot as the run's stages write to it.
    RunLog runLog();
    // The hook slots as the video path calls them.
    VideoHooks videoHooks();
};

}  // namespace clipmora
