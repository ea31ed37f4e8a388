// TAVProbe: opens one media file with the format library and answers what the
// file is (start, duration, bit rate, tags) and what one video stream is (size,
// aspect, pixel format, frame rate, codec). It never decodes.
//
// Threads: used from the main thread only; it takes no lock.
#pragma once

#include "engine/engine_types.h"

#include <cstdint>
#include <memory>
#include <string>

namespace clipmora {

struct FileInfo {
    int64_t StartTime = -1;  // microseconds; kNoPts when the file does not say
    int64_t Duration = -1;   // microseconds
    int BitRate = -1;        // bits per second
    int64_t Timestamp = -1;  // recording time, seconds since 1970-01-01 UTC
    std::string Title, Author, Copyright, Comment, Album;
    int Year = -1;
    int Track = -1;
    std::string Genre;
};

struct VideoStreamInfo {
    std::string Language;
    std::string CodecName;
    int64_t StartTime = -1;    // stream time base
    int64_t StartTimeUs = -1;  // microseconds, only when the start is known
    int64_t Duration = -1;     // stream time base
    int64_t DurationUs = -1;   // microseconds, only when the duration is known
    int BitRate = -1;
    int Height = -1;
    int Width = -1;
    float DisplayAspect = -1.0f;
    int PixelFormat = -1;
    int FrameRateNum = -1;
    int FrameRateDen = -1;
};

// What any one stream is: its kind and codec, a picture's size and rate, a
// sound's sample rate and channels, and where it starts and how long it runs.
struct StreamInfo {
    std::string Kind;  // "video", "audio", "subtitle", "data", "attachment" or "unknown"
    std::string CodecName;
    int Width = -1;  // video
    int Height = -1;
    int FrameRateNum = -1;
    int FrameRateDen = -1;
    int SampleRate = -1;  // audio
    int Channels = -1;
    int64_t StartTimeUs = kNoPts;  // kNoPts when the stream does not say
    int64_t DurationUs = -1;       // -1 when the stream does not say
    int BitRate = -1;
};

class TAVProbe {
public:
    TAVProbe();
    ~TAVProbe();
    TAVProbe(const TAVProbe&) = delete;
    TAVProbe& operator=(const TAVProbe&) = delete;

    // Opens `fileName`, with `forcedFormat` as the input format when not
    // empty. Returns false with LastError() set when the file cannot be opened
    // or analysed; nothing stays open then. Throws FFMpegException when the
    // codec libraries are not bound.
    bool OpenMedia(const std::string& fileName, const std::string& forcedFormat = {});
    void CloseMedia();

    FileInfo ReadFileInfo() const;
    // `streamIndex` < 0 means the first video stream. A closed probe or a
    // stream that is not video gives the pre-set record and a log line.
    VideoStreamInfo ReadVideoStreamInfo(int streamIndex) const;
    VideoStreamInfo ReadFirstVideoStreamInfo() const { return ReadVideoStreamInfo(-1); }

    // Any stream of the opened file, 0 to StreamCount() - 1. A closed probe
    // or an index out of range gives the pre-set record and a log line.
    StreamInfo ReadStreamInfo(int streamIndex) const;

    const std::string& LastError() const { return lastError_; }
    const std::string& ForcedFormat() const { return forcedFormat_; }
    bool IsOpen() const { return open_ != nullptr; }

    int StreamCount() const { return streamCount_; }
    int ProgramCount() const { return programCount_; }
    int AudioStreamCount() const { return audioStreamCount_; }
    int VideoStreamCount() const { return videoStreamCount_; }
    int SubtitleStreamCount() const { return subtitleStreamCount_; }
    int FirstAudioStream() const { return firstAudioStream_; }
    int FirstVideoStream() const { return firstVideoStream_; }
    int FirstSubtitleStream() const { return firstSubtitleStream_; }

private:
    void resetCounters();
    // The stream and program counts of the opened file.
    void countStreams();

    // The opened file with what feeds it; closed by CloseMedia.
    struct OpenFile;
    std::unique_ptr<OpenFile> open_;
    std::string lastError_;
    std::string forcedFormat_;
    int streamCount_ = -1;
    int programCount_ = -1;
    int audioStreamCount_ = -1;
    int videoStreamCount_ = -1;
    int subtitleStreamCount_ = -1;
    int firstAudioStream_ = -1;
    int firstVideoStream_ = -1;
    int firstSubtitleStream_ = -1;
};

}  // namespace clipmora
