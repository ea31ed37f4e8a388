// The media probe and input opening: any bytes as a media file. The probe
// reads its summary and every stream's figures; then a task opens the file
// as its input and converts its first fifth of a second into small raw
// pictures and PCM, so the first packets are read, decoded and written.
#include "fuzz/fuzz_support.h"

#include "engine/av_probe.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"

#include <filesystem>
#include <iterator>

using namespace clipmora;

namespace {

// The name's extension steers the format guess of weak probes.
const char* const kExtensions[] = {".mp4", ".mkv", ".avi", ".ts", ".mpg", ".wmv", ".mp3", ".wav"};

void probe(const std::string& path)
{
    TAVProbe probe;
    if (!probe.OpenMedia(path))
        return;
    probe.ReadFileInfo();
    for (int stream = -1; stream < probe.StreamCount(); ++stream)
        probe.ReadVideoStreamInfo(stream);
}

void convertStart(const std::string& path)
{
    TCustomFFmpeg task;
    task.PrepareTask();
    task.SetVerbosity(-1);
    const std::string output = fuzz::ScratchFolder() + "/start.nut";
    try {
        task.AddInputFile(path);
        for (const auto& [name, value] :
             {std::pair{"t", "0.2"}, {"s", "32x24"}, {"vcodec", "rawvideo"}, {"acodec", "pcm_s16le"}})
            task.ParseOption(name, value);
        task.CreateOutputFile(output);
    } catch (const FFMpegException&) {
        return;
    }
    task.StartTask(false, tpNormal);
    if (!task.Terminated())
        __builtin_trap();  // an inline run has ended when StartTask returns
    // A fifth of a second of 32x24 pictures and PCM sound is a few hundred
    // kilobytes at the most, whatever the input's rates.
    std::error_code unknown;
    if (std::filesystem::file_size(output, unknown) > (4u << 20) && !unknown)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::PrepareLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const char* extension = kExtensions[data[0] % std::size(kExtensions)];
    const std::string path = fuzz::WriteScratch(std::string("input") + extension, data + 1, size - 1);
    probe(path);
    convertStart(path);
    std::error_code ignored;
    std::filesystem::remove(fuzz::ScratchFolder() + "/start.nut", ignored);
    return 0;
}
