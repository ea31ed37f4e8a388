// Output files created exclusively (O_EXCL).
#include "engine/output_claim.h"

#include "engine/library_binding.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string_view>
#include <utility>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace clipmora {

OutputClaim ClaimOutputFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
        return OutputClaim::Created;
    }
    if (errno != EEXIST)
        return OutputClaim::Failed;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0)
        return OutputClaim::Reserved;
    return OutputClaim::Existing;
}

bool NamesLocalFile(const std::string& name)
{
    const char* protocol = lib.avio_find_protocol_name(name.c_str());
    return protocol && std::string_view(protocol) == "file" && name.rfind("file:", 0) != 0;
}

std::string CreateUniqueFile(const std::string& path, const std::string& extension,
                             const std::function<bool(const std::string&)>& skip)
{
    return FirstNumberedName(path, extension, [&](const std::string& candidate) {
        if (skip && skip(candidate))
            return false;
        switch (ClaimOutputFile(candidate)) {
        case OutputClaim::Created:
            return true;
        case OutputClaim::Failed:
            throw std::system_error(errno, std::generic_category(), candidate);
        default:
            return false;
        }
    });
}

void ReleaseUnwrittenFile(const std::string& path)
{
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path, ignored) &&
        std::filesystem::file_size(path, ignored) == 0)
        std::filesystem::remove(path, ignored);
}


std::string LocalFileAddress(const std::string& path)
{
    return NamesLocalFile(path) ? path : "file:" + path;
}

namespace {

// A name no other file in the folder has yet: "." + the final name's stem +
// ".clipmora-" + six random letters + the final name's extension, which
// stays last because muxers are chosen by it. Cut to fit the limit of a
// name's length.
std::string temporaryName(const std::filesystem::path& finalName, std::mt19937& random)
{
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string mark = ".clipmora-";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int i = 0; i < 6; ++i)
        mark += kLetters[pick(random)];
    std::string stem = finalName.stem().string();
    std::string extension = finalName.extension().string();
    constexpr std::size_t kLongest = 255;
    extension.resize(std::min(extension.size(), kLongest / 2));
    stem.resize(std::min(stem.size(), kLongest - 1 - mark.size() - extension.size()));
    return "." + stem + mark + extension;
}

bool sameInode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

StagedOutput::StagedOutput(const std::string& finalName, Claim claim) : final_(finalName)
{
    namespace fs = std::filesystem;
    const fs::path named(finalName);
    folder_ = named.parent_path().string();
    if (folder_.empty())
        folder_ = ".";
    struct stat status {};
    const bool exists = ::stat(finalName.c_str(), &status) == 0;
    if (claim != Claim::Taken && exists && !S_ISREG(status.st_mode)) {
        writeAddress_ = LocalFileAddress(finalName);
        committed_ = true;
        return;
    }
    if (claim == Claim::Fresh) {
        const OutputClaim taken = ClaimOutputFile(finalName);
        if (taken == OutputClaim::Failed)
            throw std::system_error(errno, std::generic_category(), finalName);
        if (taken != OutputClaim::Created)
            throw NameTaken("The output file \"" + finalName + "\" exists already");
        claimedFinal_ = true;
    } else {
        claimedFinal_ = claim == Claim::Taken;
    }
    folderHandle_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderHandle_ < 0) {
        const int error = errno;
        Discard();
        throw std::system_error(error, std::generic_category(), finalName);
    }
    std::mt19937 random(std::random_device{}());
    for (;;) {
        std::string candidate = temporaryName(named.filename(), random);
        const int made = ::openat(folderHandle_, candidate.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (made >= 0) {
            ::close(made);
            temporary_ = std::move(candidate);
            break;
        }
        if (errno != EEXIST) {
            const int error = errno;
            Discard();
            ::close(std::exchange(folderHandle_, -1));
            throw std::system_error(error, std::generic_category(), finalName);
        }
    }
    writtenPath_ = folder_ + "/" + temporary_;
    writeAddress_ = LocalFileAddress(writtenPath_);
}

StagedOutput StagedOutput::Direct(const std::string& address)
{
    StagedOutput output;
    output.final_ = output.writeAddress_ = address;
    output.committed_ = true;
    return output;
}

StagedOutput::~StagedOutput()
{
    Discard();
    if (folderHandle_ >= 0)
        ::close(folderHandle_);
}

StagedOutput::StagedOutput(StagedOutput&& other) noexcept
    : final_(std::move(other.final_)),
      folder_(std::move(other.folder_)),
      temporary_(std::exchange(other.temporary_, {})),
      writtenPath_(std::move(other.writtenPath_)),
      writeAddress_(std::move(other.writeAddress_)),
      folderHandle_(std::exchange(other.folderHandle_, -1)),
      claimedFinal_(std::exchange(other.claimedFinal_, false)),
      committed_(other.committed_)
{
}

StagedOutput& StagedOutput::operator=(StagedOutput&& other) noexcept
{
    StagedOutput taken(std::move(other));
    std::swap(final_, taken.final_);
    std::swap(folder_, taken.folder_);
    std::swap(temporary_, taken.temporary_);
    std::swap(writtenPath_, taken.writtenPath_);
    std::swap(writeAddress_, taken.writeAddress_);
    std::swap(folderHandle_, taken.folderHandle_);
    std::swap(claimedFinal_, taken.claimedFinal_);
    std::swap(committed_, taken.committed_);
    return *this;
}

std::optional<std::string> StagedOutput::Commit()
{
    // Written directly, or nothing was ever staged: nothing to move. Staged
    // and discarded: nothing left to move.
    if (!Staged())
        return committed_ || writtenPath_.empty()
                   ? std::nullopt
                   : std::optional<std::string>("\"" + final_ + "\" was not written");
    const std::string base = std::filesystem::path(final_).filename().string();
    const auto fail = [&](const std::string& why) {
        Discard();
        return std::optional<std::string>("\"" + final_ + "\" was not written: " + why);
    };
    struct stat then {}, now {}, written {}, replaced {};
    if (::fstat(folderHandle_, &then) != 0 || ::stat(folder_.c_str(), &now) != 0 ||
        !sameInode(then, now))
        return fail("its folder was removed or moved during the run");
    if (::fstatat(folderHandle_, temporary_.c_str(), &written, AT_SYMLINK_NOFOLLOW) != 0)
        return fail("the finished file was removed during the run");
    // A replaced file's permissions go over to the file that replaces it.
    if (!claimedFinal_ &&
        ::fstatat(folderHandle_, base.c_str(), &replaced, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(replaced.st_mode))
        ::fchmodat(folderHandle_, temporary_.c_str(), replaced.st_mode & 07777, 0);
    if (::renameat(folderHandle_, temporary_.c_str(), folderHandle_, base.c_str()) != 0)
        return fail(std::strerror(errno));
    temporary_.clear();
    claimedFinal_ = false;
    committed_ = true;
    struct stat there {};
    if (::stat(final_.c_str(), &there) != 0 || !sameInode(there, written))
        return "\"" + final_ + "\" is not there after the run: its folder was removed or moved";
    return std::nullopt;
}

void StagedOutput::Discard()
{
    if (folderHandle_ >= 0 && !temporary_.empty())
        ::unlinkat(folderHandle_, temporary_.c_str(), 0);
    temporary_.clear();
    if (!claimedFinal_)
        return;
    claimedFinal_ = false;
    // The folder could not be opened: the claim is given back by its name.
    if (folderHandle_ < 0) {
        ReleaseUnwrittenFile(final_);
        return;
    }
    const std::string base = std::filesystem::path(final_).filename().string();
    struct stat claimed {};
    if (::fstatat(folderHandle_, base.c_str(), &claimed, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(claimed.st_mode) && claimed.st_size == 0)
        ::unlinkat(folderHandle_, base.c_str(), 0);
}

std::string StagedOutput::NamedAsFinal(std::string text) const
{
    if (writtenPath_.empty())
        return text;
    for (const std::string& written : {writeAddress_, writtenPath_}) {
        for (std::size_t at = text.find(written); at != std::string::npos;
             at = text.find(written, at + final_.size()))
            text.replace(at, written.size(), final_);
    }
    return text;
}

}  // namespace clipmora
