// The split job: output name, engine input, input and output options.
#include "job/split_job.h"

#include "job/trim_script_writer.h"
#include "engine/conversions.h"
#include "engine/output_claim.h"
#include "engine/transcoder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace clipmora {
namespace {

namespace fs = std::filesystem;

}  // namespace

std::optional<std::string> SourceFileRefusal(const std::string& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status) || fs::is_regular_file(status))
        return std::nullopt;
    return "\"" + path + "\" is not a regular file";
}

std::string MakeUniqueFileName(const std::string& path, const std::string& extension)
{
    return FirstNumberedName(path, extension, [](const std::string& candidate) {
        std::error_code ignored;
        return !fs::exists(candidate, ignored);
    });
}

namespace {

// The output's name and whether it replaces what has it (else it is a name
// created here).
struct SplitOutputName {
    std::string name;
    bool replaces = false;
};

SplitOutputName splitOutputName(const std::string& source, const std::string& folder,
                                const std::string& extension, bool overwrite,
                                const std::vector<std::string>& otherInputs)
{
    const auto namesAnInput = [&](const std::string& candidate) {
        return SameFile(candidate, source) ||
               std::any_of(otherInputs.begin(), otherInputs.end(),
                           [&](const std::string& input) { return SameFile(candidate, input); });
    };
    const std::string named = folder + "/" + fs::path(source).filename().string();
    if (overwrite) {
        const std::string replaced = (fs::path(named).replace_extension(extension)).string();
        // Only a file is replaced: a device, FIFO or folder of that name is
        // left alone, as without overwriting.
        std::error_code missing;
        const fs::file_status status = fs::symlink_status(replaced, missing);
        if (!namesAnInput(replaced) && (!fs::exists(status) || fs::is_regular_file(status)))
            return {replaced, true};
    }
    // Splits that run at once into one folder each get a file of their own.
    return {CreateUniqueFile(named, extension, namesAnInput), false};
}

}  // namespace

std::string SplitOutputFileName(const std::string& source, const std::string& folder,
                                const std::string& extension, bool overwrite,
                                const std::vector<std::string>& otherInputs)
{
    return splitOutputName(source, folder, extension, overwrite, otherInputs).name;
}

StagedOutput StageSplitOutput(const std::string& source, const std::string& folder,
                              const std::string& extension, bool overwrite,
                              const std::vector<std::string>& otherInputs)
{
    const SplitOutputName output =
        splitOutputName(source, folder, extension, overwrite, otherInputs);
    return StagedOutput(output.name, output.replaces ? StagedOutput::Claim::Replace
                                                     : StagedOutput::Claim::Taken);
}

int OutputVolumeForPosition(int position)
{
    static constexpr int kLevels[] = {1, 50, 100, 150, 200, 255, 300, 350, 400, 450, 600};
    return position >= 0 && position <= 10 ? kLevels[position] : 255;
}

std::string FrameRateOption(const std::string& listText)
{
    if (LowerCase(Trim(listText)) == "auto")
        return {};
    const auto blank = listText.find(' ');
    if (blank == std::string::npos || blank == 0)
        return "25";
    return listText.substr(0, blank);
}

SplitJob PrepareSplitJob(const SplitRequest& request, const TProfileControls& profile)
{
    SplitJob job;
    // The name exactly as given: a blank or line end at its end belongs to
    // it, and trimming could name another file.
    const std::string& source = request.SourceFile;
    // The script is written (and old ones deleted) on every split; the engine
    // reads it only when a segment is marked, so a name the script cannot
    // hold stops only a marked split.
    std::string script;
    try {
        script = WriteTrimScript(request.ProgramFolder, source, request.StartFrame,
                                 request.EndFrame);
    } catch (const ScriptPathError&) {
        if (request.Marked)
            throw;
    }
    // The source is a file's name, never another protocol's address.
    job.EngineInput = request.Marked ? script : LocalFileAddress(source);
    job.Input.FileName = job.EngineInput;

    job.Output.FrameRate = FrameRateOption(profile.ComboVideoFramerate.SelectedText());
    job.Output.Volume = request.OutputVolume;
    BuildProfileOptions(profile, job.Output);
    switch (profile.ComboAspectRatio.Selected()) {
    case 1:
        job.Output.Aspect = "4:3";
        break;
    case 2:
        job.Output.Aspect = "16:9";
        break;
    default:
        break;
    }
    // Taken last: nothing that can fail comes after it.
    const std::string extension = "." + LowerCase(profile.OutputExtension);
    job.Staged = StageSplitOutput(source, request.OutputFolder, extension, request.Overwrite,
                                  request.OtherInputs);
    job.OutputFile = job.Staged.FinalName();
    return job;
}

StreamCutJob PrepareStreamCutJob(const SplitRequest& request)
{
    StreamCutJob job;
    if (request.Marked) {
        if (std::optional<std::string> refused =
                StreamCutSpanError(request.StartSeconds, request.EndSeconds)) {
            job.Error = std::move(*refused);
            return job;
        }
    }
    auto cut = std::make_unique<TStreamCut>();
    if (!cut->Open(request.SourceFile)) {
        job.Error = cut->Error();
        return job;
    }
    try {
        job.Staged = StageSplitOutput(request.SourceFile, request.OutputFolder,
                                      cut->Extension(), request.Overwrite, request.OtherInputs);
        job.OutputFile = job.Staged.FinalName();
    } catch (const std::exception& e) {
        job.Error = e.what();
        return job;
    }
    cut->SetExact(request.ExactCut);
    job.Cut = std::move(cut);
    return job;
}

std::string KeyFrameStartText(const StreamCutResult& result)
{
    // A start mark at the file's start needs no word when the pictures begin
    // a little later.
    const double difference = result.startSeconds - result.requestedStart;
    if (std::fabs(difference) < 0.0005 || (result.requestedStart <= 0 && difference > 0))
        return {};
    char text[96];
    std::snprintf(text, sizeof text, "Started at the key frame at %.2f s", result.startSeconds);
    return text;
}

namespace {

// Seconds of re-encoded pictures with one decimal; a picture or two that
// would round to nothing are "under 0.1 s".
std::string reencodedSeconds(double seconds)
{
    if (seconds < 0.05)
        return "under 0.1 s";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

std::string exactCutText(const StreamCutResult& result)
{
    const double start = std::max(result.reencodedStartSeconds, 0.0);
    const double end = std::max(result.reencodedEndSeconds, 0.0);
    if (start <= 0 && end <= 0)
        return "Exact cut: nothing re-encoded; everything copied";
    // A segment shorter than one group of pictures has nothing to copy.
    if (result.durationMs > 0 && std::llround((start + end) * 1000) >= result.durationMs)
        return "Exact cut: every picture re-encoded (" + reencodedSeconds(start + end) + ")";
    std::string text = "Exact cut: ";
    if (start > 0)
        text += reencodedSeconds(start) + " re-encoded at the start";
    if (start > 0 && end > 0)
        text += ", " + reencodedSeconds(end) + " at the end";
    else if (end > 0)
        text += reencodedSeconds(end) + " re-encoded at the end";
    return text + "; the rest copied";
}

}  // namespace

std::string StreamCutNote(const StreamCutResult& result)
{
    if (result.exact)
        return exactCutText(result);
    const std::string keyFrame = KeyFrameStartText(result);
    if (result.exactFallback.empty())
        return keyFrame;
    if (keyFrame.empty())
        return "No exact cut: " + result.exactFallback;
    return keyFrame + "; no exact cut: " + result.exactFallback;
}

SplitOutcome StartSplitJob(TCustomTranscoder& engine, const SplitRequest& request,
                           const TProfileControls& profile)
{
    SplitOutcome outcome;
    engine.StopTasks();
    engine.ClearTaskList();
    // The output's name was taken by creating it; a job that does not start
    // gives it back.
    auto notStarted = [&](SplitStart result, std::string error) {
        outcome.Result = result;
        outcome.Error = std::move(error);
        outcome.Job.Staged.Discard();
        return std::move(outcome);
    };
    int task = -1;
    try {
        outcome.Job = PrepareSplitJob(request, profile);
        task = engine.AppendTask(outcome.Job.EngineInput, &outcome.Job.Input);
        if (task < 0) {
            engine.StopTasks();
            return notStarted(SplitStart::NotAppended, engine.LastError());
        }
        if (!engine.AttachOutput(task, outcome.Job.Staged.WriteAddress(),
                                 &outcome.Job.Output)) {
            const std::string error = outcome.Job.Staged.NamedAsFinal(engine.LastError());
            engine.DeleteTask(task);
            return notStarted(SplitStart::NotAttached, error);
        }
    } catch (const std::exception& e) {
        outcome.ErrorForUser = dynamic_cast<const ScriptPathError*>(&e) != nullptr;
        engine.StopTasks();
        return notStarted(SplitStart::Failed, e.what());
    }
    try {
        engine.StartTasks(1);
    } catch (const std::exception& e) {
        engine.StopTasks();
        return notStarted(SplitStart::Failed, e.what());
    }
    outcome.Result = SplitStart::Started;
    return outcome;
}

}  // namespace clipmora
