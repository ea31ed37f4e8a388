// Types shared by the engine component, its tasks and their callers: log
// levels, hook verdicts, thread priorities, the picture handed to a custom
// hook, and the two option records a task is configured from.
#pragma once

#include <cstdint>
#include <string>

namespace clipmora {

// The codec libraries' "no timestamp" value, for times that are not known.
inline constexpr int64_t kNoPts = INT64_MIN;

enum TLogLevel : int { llQuiet = 0, llError = 1, llInfo = 2, llDebug = 3, llAll = 4 };

// The engine's own log levels, one below the component's TLogLevel: what
// tasks log with and what verbosity and the log threshold are measured in.
// The libraries' scale is converted by ToLibraryLogLevel/FromLibraryLogLevel.
enum EngineLogLevel : int {
    kLogQuiet = -1,
    kLogError = 0,
    kLogInfo = 1,
    kLogDebug = 2,
    kLogEverything = 3,
};

constexpr int EngineLevelOf(TLogLevel level) { return static_cast<int>(level) - 1; }
enum THookAction : int { haContinue = 0, haIgnore = 1, haStop = 2 };
enum TConvertPriority : unsigned char { tpIdle = 0, tpLowest = 1, tpLower = 2, tpNormal = 3 };

// A 24-bit picture (bytes B, G, R per pixel, rows `Stride` bytes apart) that
// a custom hook may read and change in place.
struct THookBitmap {
    int Width = 0;
    int Height = 0;
    int Stride = 0;
    uint8_t* Pixels = nullptr;
};

// What the progress callback reports; see ReportProgress.
struct TProgressInfo {
    int FrameNumber = -1;
    int FPS = -1;
    int CurrentDurationMs = 0;
    float Quality = -1.0f;
    float BitRate = 0.0f;  // kbit/s
    int64_t CurrentSize = 0;
    int TotalOutputDurationMs = -1;
};

struct TInputOptions {
    std::string FileName;
    std::string ForcedFormat;
    int StartTimeMs = -1;
    int ProgramId = -1;
    std::string ExtraOptions;  // name=value lines
};

// A colour as 0x00BBGGRR (red in the lowest byte).
using TColor = uint32_t;

struct TOutputOptions {
    std::string FileName;
    std::string Format;
    int PacketSize = -1;
    int MuxRate = -1;
    float MuxDelay = -1.0f;
    float MuxPreload = -1.0f;
    std::string AudioCodec;
    bool DisableAudio = false;
    int Volume = -1;
    int AudioChannels = -1;
    int AudioSampleRate = -1;
    int AudioBitrate = -1;
    int AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int AudioSync = 0;
    std::string AudioTag;
    std::string VideoCodec;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string Aspect;
    int CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
    int PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
    TColor PadColor = 0;
    int GopSize = -1;
    int VideoBitrate = -1;
    int MaxRate = -1;
    int MinRate = -1;
    int VideoBitrateTolerance = -1;
    int BufferSize = -1;
    int VideoSync = -1;
    std::string VideoTag;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool CopyTimestamps = false;
    int DurationMs = -1;
    double Timestamp = -1.0;  // days since 1899-12-30, local time; 0 = now
    int Year = -1;
    int Track = -1;
    std::string Title, Author, Copyright, Comment, Album;
    std::string Genre;
    int TargetType = 0;       // 1 "vcd", 2 "svcd", 3 "dvd"
    int TargetNorm = 0;       // 0 auto, 1 pal, 2 ntsc
    int TargetFrameNorm = 1;  // 1 pal, other ntsc
    bool EnableCustomHook = false;
    bool EnableBeforeHook = false;
    std::string SegmentList;  // "start-end,start-end" in milliseconds
    std::string ExtraOptions; // name=value lines, applied first
};

}  // namespace clipmora
