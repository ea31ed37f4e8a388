// Writes the fuzz targets' seed corpora: valid inputs of each kind, media
// made by the test media generator.
//
//   make_seeds FOLDER   writes FOLDER/<target>/<seed> for every target
#include "fuzz/fuzz_support.h"

#include "job/trim_script_writer.h"
#include "tests/support/media_generator.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace clipmora;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string contents(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void optionSeeds(const fs::path& folder)
{
    const char* const lists[] = {
        "-i\nin.mp4\n-vcodec\nmpeg4\n-s\n160x120\n-r\n30000/1001\n-aspect\n16:9\n-b\n800000\nout.avi",
        "-ss\n1\n-t\n00:40:00\n-i\nin.mp4\n-acodec\nlibmp3lame\n-ab\n96000\n-ar\n48000\n-ac\n1\nout.mp3",
        "-itsscale\n1:2.5\n-i\nin.mp4\n-croptop\n8\n-cropleft\n16\n-padtop\n4\n-padcolor\n255\nout.mkv",
        "-i\nin.mp4\n-target\npal-vcd\n-y\nout.mpg",
        "-i\nin.mp4\n-vtag\nDX50\n-qscale\n3\n-rc_override\n0,10,2/20,30,-50\nout.avi",
        "-i\nin.mp4\n-intra_matrix\n8,16,19,22,26,27,29,34,16,16,22,24,27,29,34,37,19,22,26,27,29,34,34,"
        "38,22,22,26,27,29,34,37,40,22,26,27,29,32,35,40,48,26,27,29,32,35,40,48,58,26,27,29,34,38,46,"
        "56,69,27,29,35,38,46,56,69,83\n-pix_fmt\nyuv422p\nout.mp4",
        "-i\nin.mp4\n-map\n0.1:0.0\n-vn\n-acodec\ncopy\n-timestamp\n1970-01-02T00:00:00.6Z\nout.m4a",
    };
    int number = 0;
    for (const char* list : lists)
        write(folder / ("list" + std::to_string(++number)), list);
}

void trimScriptSeeds(const fs::path& folder)
{
    write(folder / "directshow", TrimScriptText("/opt/clipmora/", "/home/u/My Films/clip.mp4", 25, 250));
    write(folder / "avi", TrimScriptText("/opt/clipmora/", "/home/u/clip \"1\".AVI", 0, 0));
    write(folder / "lf", "DirectShowSource(\"/tmp/a.mkv\", fps=25, convertfps=true)\nTRIM(1,2)\n");
}

// The media seeds, each also kept as a plain file for the cut's seeds.
void mediaSeeds(const fs::path& media, const fs::path& cut)
{
    struct Seed {
        const char* name;
        testing::MediaSpec spec;
        unsigned char extension;  // index into the targets' extension tables
    };
    const Seed seeds[] = {
        {"h264_aac.mp4", testing::Mp4H264Aac(), 0}, {"h264_vorbis.mkv", testing::MatroskaClip(), 1},
        {"mpeg4_mp3.avi", testing::AviMpeg4Mp3(), 2}, {"mpeg2_mp2.ts", testing::StartOffset(), 3},
        {"mpeg2_mp2.mpg", testing::MpegProgramStream(), 4},
    };
    for (const Seed& seed : seeds) {
        testing::MediaSpec spec = seed.spec;
        spec.width = 64;
        spec.height = 48;
        spec.seconds = 0.6;
        spec.keyFrameInterval = 5;
        const fs::path file = fs::path(fuzz::ScratchFolder()) / seed.name;
        testing::GenerateMedia(file.string(), spec);
        const std::string bytes = contents(file);
        write(media / seed.name, std::string(1, static_cast<char>(seed.extension)) + bytes);
        // Marks 0.1 s and 0.4 s.
        write(cut / seed.name, std::string{'\0', static_cast<char>(seed.extension), 4, 1} + bytes);
    }
}

void settingsSeeds(const fs::path& folder)
{
    write(folder / "stored",
          "[General]\nOutput Folder=/home/u/Videos\nComboOutputFormat=3\nOverwrite=1\n"
          "PlayVideoFile=0\nLetterBox=1\nVideoQuality=0\nAudioQuality=4\nKeepOriginalStreams=1\n"
          "ExactToTheFrame=0\n");
    write(folder / "partial", "[General]\nOutput Folder=\"/tmp/with, comma\"\nComboOutputFormat=-1\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    fuzz::PrepareLibraries();
    const fs::path root = argv[1];
    optionSeeds(root / "options_fuzz");
    trimScriptSeeds(root / "trim_script_fuzz");
    mediaSeeds(root / "media_fuzz", root / "cut_fuzz");
    settingsSeeds(root / "settings_fuzz");
    return 0;
}
