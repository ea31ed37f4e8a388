// Writing the segment trim script that a split hands to the engine, in the
// user's private work folder.
#pragma once

#include <stdexcept>
#include <string>

namespace clipmora {

// The folder for trim scripts, ending with "/": "$$7777a/" inside a folder
// only this user can enter ($XDG_RUNTIME_DIR, or a clipmora-<uid> folder of
// mode 0700 in the system's temporary folder). Created when missing; throws
// std::runtime_error when no private folder can be had.
std::string ScriptWorkFolder();

// Deletes every "*.avs" file in `folder`; failures are ignored.
void DeleteOldScripts(const std::string& folder);

// A new folder of its own for one split job inside the work folder, ending
// with "/": "<process id>-<number>/", mode 0700. Several jobs, in one process
// or in several, never share one. Before it is made, the folders of earlier
// jobs of this process and of processes that are gone are removed; those of
// running processes are left alone. Throws std::runtime_error when no folder
// can be made.
std::string MakeJobFolder();

// A path that a script line cannot hold: a line end in it would split the
// line. The text names the path and says what to do.
class ScriptPathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The three script lines, each ended by CR LF: LoadPlugin of
// "<programFolder>/DirectShowSource.dll", then AviSource for ".avi" sources
// (any letter case) or DirectShowSource at 25 frames per second, then
// TRIM(first,last) with the numbers in their shortest form. Paths are written
// unchanged; one holding a line end throws ScriptPathError.
std::string TrimScriptText(const std::string& programFolder, const std::string& source,
                           double startFrame, double endFrame);

// Makes a job folder (MakeJobFolder), writes the script for `source` into it
// as r.avs and returns its file name. Throws ScriptPathError as
// TrimScriptText does, before any folder is made, and std::runtime_error when
// the script cannot be written.
std::string WriteTrimScript(const std::string& programFolder, const std::string& source,
                            double startFrame, double endFrame);

}  // namespace clipmora
