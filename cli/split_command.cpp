// "split": the window's split job from the command line, for one input or
// several in turn.
#include "cli/cli_support.h"

#include "job/segment_marks.h"
#include "job/split_job.h"
#include "profiles/format_catalogue.h"
#include "profiles/profile_options.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string_view>

namespace clipmora::cli {
namespace {

struct SplitArguments {
    std::vector<std::string> inputs;
    std::string outputFolder;
    std::string format;
    std::string videoQuality = "Normal";
    std::string audioQuality = "Normal";
    std::string size, frameRate, channels;
    std::string volumeText, aspectText, startText, endText;  // as given
    int volumePosition = 5;
    int aspect = -1;
    bool overwrite = false;
    bool copy = false;      // keep the original streams; no format applies
    bool keyFrame = false;  // such a copy starts at a key frame instead of exactly
    double start = -1.0;    // seconds; negative: not marked
    double end = -1.0;
};

// The choices, written --name value, --name=value or --name alone for a flag;
// a choice given twice takes the last value.
struct SplitChoice {
    std::string_view name;
    std::string SplitArguments::*text = nullptr;
    bool SplitArguments::*flag = nullptr;
};

constexpr SplitChoice kSplitChoices[] = {
    {"--format", &SplitArguments::format},
    {"--video-quality", &SplitArguments::videoQuality},
    {"--audio-quality", &SplitArguments::audioQuality},
    {"--size", &SplitArguments::size},
    {"--frame-rate", &SplitArguments::frameRate},
    {"--channels", &SplitArguments::channels},
    {"--volume", &SplitArguments::volumeText},
    {"--aspect", &SplitArguments::aspectText},
    {"--start", &SplitArguments::startText},
    {"--end", &SplitArguments::endText},
    {"--overwrite", nullptr, &SplitArguments::overwrite},
    {"--copy", nullptr, &SplitArguments::copy},
    {"--keyframe", nullptr, &SplitArguments::keyFrame},
};

// A mark as users write it ("83.5", "1:23.5", "0:01:23.500"); `text` empty
// leaves `seconds` unmarked. Plain numbers that the mark reader refuses keep
// their established treatment and messages: ConversionError for what is no
// number, UsageError for a negative or endless one.
void readMark(const char* option, const std::string& text, double& seconds)
{
    if (text.empty())
        return;
    if (const std::optional<double> mark = ParseMarkTime(text)) {
        seconds = *mark;
        return;
    }
    if (text.find(':') == std::string::npos) {
        seconds = StrToFloat(text);
        if (std::isfinite(seconds) && seconds >= 0)
            return;
    }
    throw UsageError(std::string(option) + " takes a number of seconds, 0 or more (not '" +
                     text + "')");
}

// Throws UsageError (ConversionError for a number that does not read) when
// the arguments are wrong. Words that are not choices are the names: every
// IN, then OUTDIR. After "--" the next two words are names whatever they
// begin with, and choices may follow them as usual.
void parseSplit(const std::vector<std::string>& args, SplitArguments& split)
{
    std::vector<std::string> names;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--") {
            for (int n = 0; n < 2 && i + 1 < args.size(); ++n)
                names.push_back(args[++i]);
            continue;
        }
        if (word.size() < 2 || word[0] != '-') {
            names.push_back(word);
            continue;
        }
        const std::size_t equals = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
        const std::string name = word.substr(0, equals);
        const auto choice = std::find_if(std::begin(kSplitChoices), std::end(kSplitChoices),
                                         [&](const SplitChoice& c) { return c.name == name; });
        if (choice == std::end(kSplitChoices))
            throw UsageError("unknown option '" + name + "'");
        if (choice->flag) {
            if (equals != std::string::npos)
                throw UsageError(name + " takes no value");
            split.*choice->flag = true;
        } else {
            // An empty value is no choice: "--start ''" would otherwise
            // read as no mark at all.
            std::string value = equals != std::string::npos ? word.substr(equals + 1)
                                : i + 1 < args.size()       ? args[++i]
                                                            : std::string();
            if (value.empty())
                throw UsageError(name + " needs a value");
            split.*choice->text = std::move(value);
        }
    }
    if (!split.volumeText.empty())
        split.volumePosition = StrToInt(split.volumeText);
    if (!split.aspectText.empty())
        split.aspect = StrToInt(split.aspectText);
    readMark("--start", split.startText, split.start);
    readMark("--end", split.endText, split.end);
    if (names.size() < 2 || (split.format.empty() && !split.copy))
        throw UsageError("split needs IN, OUTDIR and --format (or --copy)");
    if (split.keyFrame && !split.copy)
        throw UsageError("--keyframe applies to --copy only");
    split.outputFolder = names.back();
    names.pop_back();
    split.inputs = std::move(names);
    while (split.outputFolder.size() > 1 && split.outputFolder.back() == '/')
        split.outputFolder.pop_back();
    if (split.volumePosition < 0 || split.volumePosition > 10 ||
        (!split.aspectText.empty() && (split.aspect < 0 || split.aspect > 2)))
        throw UsageError("--volume takes 0 to 10, --aspect 0 to 2");
}

// One input of the command and whether its failure line was written.
struct InputSplit {
    std::string input;
    bool failureReported = false;
};

// The engine's messages about a marked split name the trim script it reads;
// this line names what the user asked for.
void reportSplitFailure(const SplitArguments& split, InputSplit& run)
{
    run.failureReported = true;
    if (split.start < 0 && split.end < 0) {
        std::fprintf(stderr, "Splitting \"%s\" failed\n", run.input.c_str());
        return;
    }
    // Milliseconds for marks of ordinary size, the shortest form for huge ones.
    const auto seconds = [](double value) {
        char text[64];
        std::snprintf(text, sizeof text, value < 1e9 ? "%.3f s" : "%g s", value);
        return std::string(text);
    };
    const std::string end = split.end >= 0 ? seconds(split.end) : "its end";
    std::fprintf(stderr, "Splitting \"%s\" from %s to %s failed\n", run.input.c_str(),
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
int markSegment(const SplitArguments& arguments, InputSplit& run, TAVProbe& probe,
                SplitRequest& request)
{
    if (!probe.OpenMedia(run.input)) {
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
        reportSplitFailure(arguments, run);
        return kExitFailed;
    }
    const bool toEnd = arguments.end < 0 || EndsWithSource(arguments.end, durationUs);
    auto mark = [&](double seconds) {
        return MarkFrameNumber(std::llround(std::max(seconds, 0.0) * 1000), rate,
                               run.input);
    };
    request.Marked = true;
    request.StartFrame = mark(arguments.start);
    request.EndFrame = toEnd ? 0.0 : mark(arguments.end);
    request.StartSeconds = MarkSeconds(request.StartFrame, rate, run.input);
    request.EndSeconds = MarkSeconds(request.EndFrame, rate, run.input);
    if (!toEnd && request.EndFrame < request.StartFrame) {
        std::fprintf(stderr, "The end mark lies before the start mark\n");
        return kExitUsage;
    }
    return 0;
}

// Builds and runs the split job; returns the exit code.
int runSplit(TTranscoder& transcoder, StopSignals& signals, const SplitArguments& arguments,
             InputSplit& run, const SplitRequest& request, TProfileControls& profile)
{
    Outcome outcome;
    SplitOutcome started;
    // The output is known once the job is built; the events and runToEnd
    // read it then.
    attachEvents(transcoder, outcome, started.Job.Staged);
    const int exitCode = runToEnd(transcoder, signals, outcome, started.Job.Staged, [&] {
        SplitOutcome result = StartSplitJob(transcoder, request, profile);
        {
            // The task may report already.
            std::lock_guard guard(outcome.lock);
            started = std::move(result);
        }
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
        reportSplitFailure(arguments, run);
    return exitCode;
}

// Copies the segment's streams on this thread; a stop signal ends the copy
// at its next packet, with the part written so far closed properly.
int runStreamCut(StopSignals& signals, const SplitArguments& arguments, InputSplit& run,
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
    const StreamCutResult result = job.Cut->Write(job.Staged.WriteAddress(), request.StartSeconds,
                                                  request.EndSeconds, control);
    signals.ClearStopAction();
    switch (result.end) {
    case StreamCutResult::End::Finished:
        if (const std::string note = StreamCutNote(result); !note.empty())
            std::fprintf(stderr, "%s\n", note.c_str());
        if (const int committed = commitOutput(job.Staged); committed == kExitDone)
            return committed;
        reportSplitFailure(arguments, run);
        return kExitFailed;
    case StreamCutResult::End::Stopped:
        job.Staged.Discard();
        std::fprintf(stderr, "%s\n", StoppedText(job.Staged).c_str());
        return signals.StopExitCode();
    case StreamCutResult::End::Failed:
        break;
    }
    job.Staged.Discard();
    std::fprintf(stderr, "conversion failed: %s\n",
                 job.Staged.NamedAsFinal(result.Error).c_str());
    reportSplitFailure(arguments, run);
    return kExitFailed;
}

// Splits one input as the arguments say, overwriting an output of the same
// name only with `overwrite`; returns the exit code.
int splitInput(TTranscoder& transcoder, StopSignals& signals, const SplitArguments& arguments,
               InputSplit& run, TProfileControls& profile, bool overwrite,
               std::vector<std::string> otherInputs)
{
    // Before anything opens it: a FIFO or a device could keep it waiting.
    if (const auto refusal = SourceFileRefusal(run.input)) {
        std::fprintf(stderr, "Cannot Split this File. %s\n", refusal->c_str());
        return kExitFailed;
    }
    SplitRequest request;
    request.SourceFile = run.input;
    request.OutputFolder = arguments.outputFolder;
    request.Overwrite = overwrite;
    request.OtherInputs = std::move(otherInputs);
    request.OutputVolume = OutputVolumeForPosition(arguments.volumePosition);
    request.ProgramFolder = programFolder();
    if (arguments.start >= 0 || arguments.end >= 0)
        if (const int refused = markSegment(arguments, run, transcoder.Probe(), request))
            return refused;
    // The job writes the trim script and the output from here on.
    signals.HoldStops();
    if (arguments.copy) {
        request.KeepOriginalStreams = true;
        request.ExactCut = !arguments.keyFrame;
        return runStreamCut(signals, arguments, run, request);
    }
    return runSplit(transcoder, signals, arguments, run, request, profile);
}

// Whether two inputs may give their outputs the same name: the source's
// name with the format's extension, or with its own for a copy (compared
// without regard to letter case, whatever case the copy's name takes).
bool sameOutputName(const std::string& first, const std::string& second, bool copy)
{
    return std::filesystem::path(first).stem() == std::filesystem::path(second).stem() &&
           (!copy || LowerCaseExtension(first) == LowerCaseExtension(second));
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
    std::error_code missing;
    if (!std::filesystem::is_directory(arguments.outputFolder, missing)) {
        std::fprintf(stderr, "The output folder \"%s\" does not exist\n",
                     arguments.outputFolder.c_str());
        return kExitFailed;
    }

    TTranscoder transcoder;
    if (!loadLibraries(transcoder))
        return kExitFailed;
    const bool several = arguments.inputs.size() > 1;
    int exitCode = kExitDone;
    bool skipped = false;
    for (std::size_t i = 0; i < arguments.inputs.size(); ++i) {
        InputSplit run{arguments.inputs[i]};
        if (signals.Signal() != 0) {
            std::fprintf(stderr, "Skipped \"%s\": stopped\n", run.input.c_str());
            skipped = true;
            continue;
        }
        // Overwriting replaces files from before the command, never the
        // output of an earlier input of the same name.
        const auto earlier = arguments.inputs.begin() + static_cast<std::ptrdiff_t>(i);
        const bool overwrite =
            arguments.overwrite &&
            std::none_of(arguments.inputs.begin(), earlier, [&](const std::string& other) {
                return sameOutputName(other, run.input, arguments.copy);
            });
        std::vector<std::string> otherInputs = arguments.inputs;
        otherInputs.erase(otherInputs.begin() + static_cast<std::ptrdiff_t>(i));
        const int result = splitInput(transcoder, signals, arguments, run, profile, overwrite,
                                      std::move(otherInputs));
        if (result == kExitDone)
            continue;
        // Every failed input of several ends with its own line.
        if (several && signals.Signal() == 0 && !run.failureReported)
            reportSplitFailure(arguments, run);
        // The first failure's code, unless a stop signal ended the command.
        if (exitCode == kExitDone || signals.Signal() != 0)
            exitCode = result;
    }
    return skipped ? signals.StopExitCode() : exitCode;
}

}  // namespace clipmora::cli
