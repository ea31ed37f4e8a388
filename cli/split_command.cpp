// "split": the window's split job from the command line.
#include "cli/cli_support.h"

#include "job/segment_marks.h"
#include "job/split_job.h"
#include "profiles/format_catalogue.h"
#include "profiles/profile_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>

namespace clipmora::cli {
namespace {

struct SplitArguments {
    std::string input;
    std::string outputFolder;
    std::string format;
    std::string videoQuality = "Normal";
    std::string audioQuality = "Normal";
    std::string size, frameRate, channels;
    int volumePosition = 5;
    int aspect = -1;
    bool overwrite = false;
    bool copy = false;      // keep the original streams; no format applies
    bool keyFrame = false;  // such a copy starts at a key frame instead of exactly
    double start = -1.0;    // seconds; negative: not marked
    double end = -1.0;
};

// A mark in seconds, 0 or more; `text` empty leaves `seconds` unmarked.
// Throws UsageError for anything else.
void readSeconds(const char* option, const std::string& text, double& seconds)
{
    if (text.empty())
        return;
    seconds = StrToFloat(text);
    if (!std::isfinite(seconds) || seconds < 0)
        throw UsageError(std::string(option) + " takes a number of seconds, 0 or more (not '" +
                         text + "')");
}

// The command's arguments (after its name) in the parser's terms: "--"
// ends the options before IN, so the two arguments after it are IN and
// OUTDIR whatever they begin with, and the choices may follow them as usual.
// They move behind everything else, after the parser's own "--".
std::vector<std::string> namesAfterOptions(const std::vector<std::string>& args)
{
    const auto marker = std::find(args.begin() + 1, args.end(), "--");
    if (marker == args.end())
        return {args.begin() + 1, args.end()};
    const auto namesEnd = marker + std::min<std::ptrdiff_t>(3, args.end() - marker);
    std::vector<std::string> ordered(args.begin() + 1, marker);
    ordered.insert(ordered.end(), namesEnd, args.end());
    ordered.push_back("--");
    ordered.insert(ordered.end(), marker + 1, namesEnd);
    return ordered;
}

// Throws UsageError (ConversionError for a number that does not read) when
// the arguments are wrong.
void parseSplit(const std::vector<std::string>& args, SplitArguments& split)
{
    CLI::App app;
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    std::vector<std::string> positional;
    std::string volume, aspect, start, end;
    app.add_option("IN OUTDIR", positional);
    app.add_option("--format", split.format);
    app.add_option("--video-quality", split.videoQuality);
    app.add_option("--audio-quality", split.audioQuality);
    app.add_option("--size", split.size);
    app.add_option("--frame-rate", split.frameRate);
    app.add_option("--channels", split.channels);
    app.add_option("--volume", volume);
    app.add_option("--aspect", aspect);
    app.add_option("--start", start);
    app.add_option("--end", end);
    app.add_flag("--overwrite", split.overwrite);
    app.add_flag("--copy", split.copy);
    app.add_flag("--keyframe", split.keyFrame);
    try {
        // The parser takes the arguments last first.
        const std::vector<std::string> ordered = namesAfterOptions(args);
        app.parse(std::vector<std::string>(ordered.rbegin(), ordered.rend()));
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }
    if (!volume.empty())
        split.volumePosition = StrToInt(volume);
    if (!aspect.empty())
        split.aspect = StrToInt(aspect);
    readSeconds("--start", start, split.start);
    readSeconds("--end", end, split.end);
    if (positional.size() != 2 || (split.format.empty() && !split.copy))
        throw UsageError("split needs IN, OUTDIR and --format (or --copy)");
    if (split.keyFrame && !split.copy)
        throw UsageError("--keyframe applies to --copy only");
    split.input = positional[0];
    split.outputFolder = positional[1];
    while (split.outputFolder.size() > 1 && split.outputFolder.back() == '/')
        split.outputFolder.pop_back();
    if (split.volumePosition < 0 || split.volumePosition > 10 || split.aspect > 2)
        throw UsageError("--volume takes 0 to 10, --aspect 0 to 2");
}

// The engine's messages about a marked split name the trim script it reads;
// this line names what the user asked for.
void reportSplitFailure(const SplitArguments& split)
{
    if (split.start < 0 && split.end < 0) {
        std::fprintf(stderr, "Splitting \"%s\" failed\n", split.input.c_str());
        return;
    }
    // Milliseconds for marks of ordinary size, the shortest form for huge ones.
    const auto seconds = [](double value) {
        char text[64];
        std::snprintf(text, sizeof text, value < 1e9 ? "%.3f s" : "%g s", value);
        return std::string(text);
    };
    const std::string end = split.end >= 0 ? seconds(split.end) : "its end";
    std::fprintf(stderr, "Splitting \"%s\" from %s to %s failed\n", split.input.c_str(),
                 seconds(std::max(split.start, 0.0)).c_str(), end.c_str());
}

// Selects `text` in `list`; false, after naming the list's entries, when it
// has none such.
bool choose(TItemList& list, const std::string& text, const char* what)
{
    if (text.empty() || list.SelectText(text))
        return true;
    std::string offers = std::string("no ") + what + " \"" + text + "\"; the format offers:";
    for (const std::string& item : list.Items())
        offers += " \"" + item + "\"";
    std::fprintf(stderr, "%s\n", offers.c_str());
    return false;
}

// Sets the profile controls as the window would for the arguments' choices.
// Returns 0, or the exit code after saying why.
int chooseProfile(const SplitArguments& arguments, TProfileControls& profile)
{
    FillFixedLists(profile);
    FillFormatList(profile);
    if (!FindFormatProfile(arguments.format)) {
        std::fprintf(stderr, "Unknown format \"%s\"; see clipmora-cli formats\n",
                     arguments.format.c_str());
        return kExitUsage;
    }
    profile.ComboOutputFormat.SelectText(arguments.format);
    FormatChangeStep(profile);
    if (!choose(profile.ComboVideoQuality, arguments.videoQuality, "video quality") ||
        !choose(profile.ComboAudioQuality, arguments.audioQuality, "audio quality") ||
        !choose(profile.ComboVideoSize, arguments.size, "size") ||
        !choose(profile.ComboVideoFramerate, arguments.frameRate, "frame rate") ||
        !choose(profile.ComboAudioChannels, arguments.channels, "channel choice"))
        return kExitUsage;
    if (arguments.aspect >= 0)
        profile.ComboAspectRatio.Select(arguments.aspect);
    ApplyQualityLevels(profile);
    return 0;
}

// Turns the marks in seconds into frame numbers exactly as the window's
// timeline makes them. Marks are compared with the source's length before
// they become milliseconds, so no mark overflows: a start at or past the end
// is refused, an end past it is the end. Returns 0, or the exit code after
// saying why.
int markSegment(const SplitArguments& arguments, TAVProbe& probe, SplitRequest& request)
{
    if (!probe.OpenMedia(arguments.input)) {
        std::fprintf(stderr, "Cannot Split this File. %s\n", probe.LastError().c_str());
        return kExitFailed;
    }
    const VideoStreamInfo video = probe.ReadFirstVideoStreamInfo();
    const std::string rate = SourceFrameRateText(video.FrameRateNum, video.FrameRateDen,
                                                 probe.VideoStreamCount() > 0);
    const int64_t durationUs = probe.ReadFileInfo().Duration;
    probe.CloseMedia();
    if (const std::optional<std::string> late = SegmentStartError(arguments.start, durationUs)) {
        std::fprintf(stderr, "%s\n", late->c_str());
        reportSplitFailure(arguments);
        return kExitFailed;
    }
    const bool toEnd = arguments.end < 0 || EndsWithSource(arguments.end, durationUs);
    auto mark = [&](double seconds) {
        return MarkFrameNumber(std::llround(std::max(seconds, 0.0) * 1000), rate,
                               arguments.input);
    };
    request.Marked = true;
    request.StartFrame = mark(arguments.start);
    request.EndFrame = toEnd ? 0.0 : mark(arguments.end);
    request.StartSeconds = MarkSeconds(request.StartFrame, rate, arguments.input);
    request.EndSeconds = MarkSeconds(request.EndFrame, rate, arguments.input);
    if (!toEnd && request.EndFrame < request.StartFrame) {
        std::fprintf(stderr, "The end mark lies before the start mark\n");
        return kExitUsage;
    }
    return 0;
}

// Builds and runs the split job; returns the exit code.
int runSplit(TTranscoder& transcoder, StopSignals& signals, const SplitArguments& arguments,
             const SplitRequest& request, TProfileControls& profile)
{
    Outcome outcome;
    attachEvents(transcoder, outcome);
    SplitOutcome started;
    // The output's name is known once the job is built; runToEnd reads it then.
    const int exitCode = runToEnd(transcoder, signals, outcome, started.Job.OutputFile, [&] {
        started = StartSplitJob(transcoder, request, profile);
        if (started.Result == SplitStart::Started)
            return true;
        // The program's established texts, "!!" for a job that could not be
        // built and "!" for one the engine refused: two messages, not a typo.
        std::fprintf(stderr, "%s\n%s\n",
                     started.Result == SplitStart::Failed ? "Cannot Split or Convert this file!!"
                                                          : "Cannot Split or Convert this file!",
                     started.Error.c_str());
        return false;
    });
    if (exitCode == kExitFailed)
        reportSplitFailure(arguments);
    return exitCode;
}

// Copies the segment's streams on this thread; a stop signal ends the copy
// at its next packet, with the part written so far closed properly.
int runStreamCut(StopSignals& signals, const SplitArguments& arguments,
                 const SplitRequest& request)
{
    if (const int stopped = StoppedBeforeTheRun(signals))
        return stopped;
    StreamCutJob job = PrepareStreamCutJob(request);
    if (!job.Cut) {
        std::fprintf(stderr, "%s\n", job.Error.c_str());
        return kExitFailed;
    }
    std::atomic<bool> stop{false};
    signals.SetStopAction([&stop] {
        std::fprintf(stderr, "stopping...\n");
        stop.store(true);
    });
    StreamCutControl control;
    control.stop = &stop;
    const StreamCutResult result =
        job.Cut->Write(job.OutputFile, request.StartSeconds, request.EndSeconds, control);
    signals.ClearStopAction();
    switch (result.end) {
    case StreamCutResult::End::Finished:
        if (const std::string note = StreamCutNote(result); !note.empty())
            std::fprintf(stderr, "%s\n", note.c_str());
        std::fprintf(stderr, "done: %s\n", job.OutputFile.c_str());
        return kExitDone;
    case StreamCutResult::End::Stopped:
        std::fprintf(stderr, "stopped: %s is cut short\n", job.OutputFile.c_str());
        return signals.StopExitCode();
    case StreamCutResult::End::Failed:
        break;
    }
    std::fprintf(stderr, "conversion failed: %s\n", result.Error.c_str());
    reportSplitFailure(arguments);
    return kExitFailed;
}

}  // namespace

int split(const std::vector<std::string>& args)
{
    StopSignals signals;
    SplitArguments arguments;
    if (!parseArguments(parseSplit, args, arguments))
        return kExitUsage;
    TProfileControls profile;
    if (!arguments.copy)
        if (const int refused = chooseProfile(arguments, profile))
            return refused;
    // Before anything opens it: a FIFO or a device could keep it waiting.
    if (const auto refusal = SourceFileRefusal(arguments.input)) {
        std::fprintf(stderr, "Cannot Split this File. %s\n", refusal->c_str());
        return kExitFailed;
    }
    std::error_code missing;
    if (!std::filesystem::is_directory(arguments.outputFolder, missing)) {
        std::fprintf(stderr, "The output folder \"%s\" does not exist\n",
                     arguments.outputFolder.c_str());
        return kExitFailed;
    }

    TTranscoder transcoder;
    if (!loadLibraries(transcoder))
        return kExitFailed;
    SplitRequest request;
    request.SourceFile = arguments.input;
    request.OutputFolder = arguments.outputFolder;
    request.Overwrite = arguments.overwrite;
    request.OutputVolume = OutputVolumeForPosition(arguments.volumePosition);
    request.ProgramFolder = programFolder();
    if (arguments.start >= 0 || arguments.end >= 0)
        if (const int refused = markSegment(arguments, transcoder.Probe(), request))
            return refused;
    // The job writes the trim script and the output from here on.
    signals.HoldStops();
    if (arguments.copy) {
        request.KeepOriginalStreams = true;
        request.ExactCut = !arguments.keyFrame;
        return runStreamCut(signals, arguments, request);
    }
    return runSplit(transcoder, signals, arguments, request, profile);
}

}  // namespace clipmora::cli
