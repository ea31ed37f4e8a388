// Output files created exclusively (O_EXCL).
#include "engine/output_claim.h"

#include "engine/library_binding.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
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

std::string CreateUniqueFile(const std::string& path, const std::string& extension)
{
    return FirstNumberedName(path, extension, [](const std::string& candidate) {
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

}  // namespace clipmora
