// Building and starting the split job: one engine task that reads the marked
// segment (through a trim script) or the whole source, and writes it in the
// chosen format. Plain C++, shared by the window and the command line.
#pragma once

#include "engine/engine_types.h"
#include "engine/output_claim.h"
#include "engine/stream_cut.h"
#include "profiles/profile_options.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace clipmora {

class TCustomTranscoder;

// What the split request gathers for the job.
struct SplitRequest {
    std::string SourceFile;    // the added file
    std::string OutputFolder;  // without a trailing separator
    bool Overwrite = false;    // "Overwrite Existing File With The Same Name"
    bool Marked = false;       // a start or end mark is shown; false: the whole file
    double StartFrame = 0.0;
    double EndFrame = 0.0;
    int OutputVolume = 255;
    std::string ProgramFolder; // where the script's plug-in line points
    // Copy the source's streams between the marks into a file of its own
    // type instead of re-encoding; the format choices do not apply then.
    bool KeepOriginalStreams = false;
    // For such a copy: exactly the marked pictures, re-encoding the few next
    // to the marks that cannot be copied; false: start at the key frame at
    // or before the start mark and re-encode nothing.
    bool ExactCut = true;
    double StartSeconds = 0.0; // the marks on the source's timeline, for such a copy
    double EndSeconds = 0.0;   // not after StartSeconds: to the end of the file
    // The other inputs of the same command: no output takes their names.
    std::vector<std::string> OtherInputs;
};

struct SplitJob {
    std::string EngineInput;  // the trim script, or the source itself when unmarked
    std::string OutputFile;   // the output's final name
    // Where the engine writes it until the run has succeeded.
    StagedOutput Staged;
    TInputOptions Input;
    TOutputOptions Output;
};

// Why `path` cannot be taken as a source before anything opens it: it is
// there but not a regular file (a FIFO, a device, a folder), whose opening
// or reading could wait for good. None for a regular file (or a link to
// one) and for a path that is not there, which opening then reports.
std::optional<std::string> SourceFileRefusal(const std::string& path);

// base + extension when no such file exists, else base-1 + extension,
// base-2 + extension ..., the first that does not exist; base is `path`
// without its extension.
std::string MakeUniqueFileName(const std::string& path, const std::string& extension);

// The output file for `source` in `folder` with `extension` (".mp4"): the
// source's name with the extension replaced when overwriting and that name
// is free or a regular file, else the first free name, which is created
// (empty) here so that no other split can take it. Never the source file
// itself nor any of `otherInputs`: a name that would overwrite one becomes
// the next free name. Throws std::system_error when no file can be created
// in `folder`.
std::string SplitOutputFileName(const std::string& source, const std::string& folder,
                                const std::string& extension, bool overwrite,
                                const std::vector<std::string>& otherInputs = {});

// The output named as SplitOutputFileName does, staged: written under a
// temporary name beside it and moved onto it by Commit.
StagedOutput StageSplitOutput(const std::string& source, const std::string& folder,
                              const std::string& extension, bool overwrite,
                              const std::vector<std::string>& otherInputs);

// The engine volume for a position (0..10) of the output volume bar.
int OutputVolumeForPosition(int position);

// The frame-rate option for the frame-rate list's text: empty for "Auto",
// otherwise the text before its first blank ("25" when there is none).
std::string FrameRateOption(const std::string& listText);

// Writes the trim script (when marked), fills the job's options from the
// request and the profile, and takes the output's name as
// SplitOutputFileName does. Throws std::exception when the script cannot be
// written, a profile text does not convert or no output can be created.
SplitJob PrepareSplitJob(const SplitRequest& request, const TProfileControls& profile);

// A split that keeps the original streams: the opened and checked source,
// and the output named by the same rules as any split, with the source's own
// extension. Like every job's result (SplitOutcome, StreamCutResult), it
// says why it failed in `Error`.
struct StreamCutJob {
    std::unique_ptr<TStreamCut> Cut;  // null when the copy cannot be made
    std::string OutputFile;           // the output's final name
    StagedOutput Staged;              // where the copy writes until it has succeeded
    std::string Error;                // why, when Cut is null
};

// Checks the request's marks, opens and checks its source for a copy and
// takes the output's name (creating the file empty); nothing is written into
// it yet.
StreamCutJob PrepareStreamCutJob(const SplitRequest& request);

// What the status bar says after a copy: where the output really starts,
// "Started at the key frame at 9.84 s", when that is not the start mark;
// empty otherwise.
std::string KeyFrameStartText(const StreamCutResult& result);

// The line the window's status bar and the command line show after a copy
// has finished: for an exact cut, what was re-encoded at each end ("Exact
// cut: 0.7 s re-encoded at the start, 0.2 s at the end; the rest copied");
// for an exact cut that fell back to the key frame, that and why; otherwise
// KeyFrameStartText. Empty when there is nothing to say.
std::string StreamCutNote(const StreamCutResult& result);

enum class SplitStart {
    Started,        // the task runs
    NotAppended,    // the engine could not open the input
    NotAttached,    // the engine refused the output
    Failed,         // an exception while building the job
};

struct SplitOutcome {
    SplitStart Result = SplitStart::Failed;
    std::string Error;  // the engine's or the exception's text
    // Error says what the user can mend (a file name the job cannot use),
    // so it is shown with the failure.
    bool ErrorForUser = false;
    SplitJob Job;
};

// Stops and clears the engine's tasks, prepares the job, appends its task,
// attaches its output (deleting the task when that fails) and starts it on
// one worker thread.
SplitOutcome StartSplitJob(TCustomTranscoder& engine, const SplitRequest& request,
                           const TProfileControls& profile);

}  // namespace clipmora
