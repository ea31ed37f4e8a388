// The trim script and its private work folder.
#include "job/trim_script_writer.h"

#include "job/segment_marks.h"
#include "job/split_job.h"
#include "engine/conversions.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace clipmora {
namespace {

namespace fs = std::filesystem;

// A folder that is ours alone: a real directory (no link), owned by us and
// closed to everyone else.
bool isPrivateFolder(const fs::path& folder)
{
    struct stat info {};
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

fs::path privateBase()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        if (isPrivateFolder(runtime))
            return runtime;
    }
    const fs::path base = fs::temp_directory_path() / ("clipmora-" + std::to_string(getuid()));
    if (mkdir(base.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + base.string());
    if (!isPrivateFolder(base))
        throw std::runtime_error(base.string() + " is not a private folder");
    return base;
}

}  // namespace

std::string ScriptWorkFolder()
{
    const fs::path folder = privateBase() / "$$7777a";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ignored);
    return folder.string() + "/";
}

void DeleteOldScripts(const std::string& folder)
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::error_code ignored;
        if (LowerCaseExtension(entry.path().string()) == ".avs" &&
            entry.is_regular_file(ignored))
            fs::remove(entry.path(), ignored);
    }
}

namespace {

bool holdsLineEnd(const std::string& path)
{
    return path.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

std::string TrimScriptText(const std::string& programFolder, const std::string& source,
                           double startFrame, double endFrame)
{
    // Every line's text ends at its line end; a path holding one would end
    // its line early and turn the rest of its name into a line of its own.
    if (holdsLineEnd(source))
        throw ScriptPathError("Cannot split a part of \"" + source +
                              "\": its name holds a line end. Rename the file to split a part "
                              "of it.");
    if (holdsLineEnd(programFolder))
        throw ScriptPathError("Cannot split a part of a file: the program folder \"" +
                              programFolder + "\" holds a line end.");
    std::string folder = programFolder;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    std::string text = "LoadPlugin(\"" + folder + "DirectShowSource.dll\")\r\n";
    text += LowerCaseExtension(source) == ".avi"
                ? "AviSource(\"" + source + "\")\r\n"
                : "DirectShowSource(\"" + source + "\", fps=25, convertfps=true)\r\n";
    text += "TRIM(" + ShortestNumber(startFrame) + "," + ShortestNumber(endFrame) + ")\r\n";
    return text;
}

namespace {

// The process that made a job folder, from its name "<pid>-<n>"; 0 when the
// name is not a job folder's.
pid_t jobFolderProcess(const std::string& name)
{
    const auto dash = name.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == name.size())
        return 0;
    try {
        const int64_t pid = StrToInt64(name.substr(0, dash));
        StrToInt64(name.substr(dash + 1));
        return pid > 0 && pid <= INT32_MAX ? static_cast<pid_t>(pid) : 0;
    } catch (const ConversionError&) {
        return 0;
    }
}

bool processIsGone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

std::string MakeJobFolder()
{
    const fs::path base = ScriptWorkFolder();
    const pid_t self = getpid();
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(base, error)) {
        std::error_code ignored;
        const pid_t owner = jobFolderProcess(entry.path().filename().string());
        if (owner != 0 && entry.is_directory(ignored) && !entry.is_symlink(ignored) &&
            (owner == self || processIsGone(owner)))
            fs::remove_all(entry.path(), ignored);
    }
    static std::atomic<unsigned> nextJob{1};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path folder =
            base / (std::to_string(self) + "-" + std::to_string(nextJob.fetch_add(1)));
        if (mkdir(folder.c_str(), 0700) == 0)
            return folder.string() + "/";
        if (errno != EEXIST)
            break;
    }
    throw std::runtime_error("cannot create a job folder in " + base.string());
}

std::string WriteTrimScript(const std::string& programFolder, const std::string& source,
                            double startFrame, double endFrame)
{
    const std::string text = TrimScriptText(programFolder, source, startFrame, endFrame);
    const std::string folder = MakeJobFolder();
    DeleteOldScripts(folder);
    const std::string script = MakeUniqueFileName(folder + "r", ".avs");
    std::ofstream out(script, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + script);
    return script;
}

}  // namespace clipmora
