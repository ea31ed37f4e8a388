// The lossless cut: demux, find the start key frame, copy the packets of the
// segment with moved timestamps, mux.
#include "engine/stream_cut.h"

#include "engine/conversions.h"
#include "engine/error_text.h"
#include "engine/exact_cut.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"
#include "engine/output_claim.h"
#include "engine/stream_copy.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string_view>

namespace clipmora {
namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
constexpr int64_t kSecondUs = AV_TIME_BASE;
// Sound this close to the segment's end is held back until the pictures'
// real end is known; pictures that need later pictures to decode can make
// that end fall a few pictures before the requested one.
constexpr int64_t kAudioHoldUs = 5 * kSecondUs;
// How far past the end the other streams are still read for packets that
// belong to the segment (interleaving puts them a little later in the file).
constexpr int64_t kReadPastEndUs = kSecondUs;

int64_t toUs(int64_t ts, AVRational timeBase) { return lib.av_rescale_q(ts, timeBase, kMicroseconds); }

// A packet's presentation time, or its decoding time when it has none.
int64_t packetTime(const AVPacket& packet)
{
    return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
}

// The length of a packet in its stream's time base, estimated from the
// stream when the demuxer left it out.
int64_t packetDuration(const AVPacket& packet, const AVStream& stream)
{
    if (packet.duration > 0)
        return packet.duration;
    const AVCodecParameters& codec = *stream.codecpar;
    if (codec.codec_type == AVMEDIA_TYPE_AUDIO && codec.frame_size > 0 && codec.sample_rate > 0)
        return lib.av_rescale_q(codec.frame_size, AVRational{1, codec.sample_rate},
                                stream.time_base);
    return codec.codec_type == AVMEDIA_TYPE_VIDEO ? FrameDuration(stream) : 0;
}

// Marks are kept below this many seconds when the source's length is not
// known (a hundred years), far from the microseconds' limit.
constexpr double kLongestSourceSeconds = 100.0 * 365 * 24 * 3600;

double lengthSeconds(int64_t durationUs)
{
    return durationUs > 0 ? static_cast<double>(durationUs) / kSecondUs : kLongestSourceSeconds;
}

std::string cannotKeep(const std::string& source, const std::string& why)
{
    return "The original streams of \"" + source + "\" cannot be kept: " + why;
}

// An opened decoder for the pictures of `video`. Throws FFMpegException.
CodecContextPtr openPictureDecoder(const AVStream& video)
{
    const AVCodec* codec = lib.avcodec_find_decoder(video.codecpar->codec_id);
    CodecContextPtr decoder(lib.avcodec_alloc_context3(codec));
    if (!codec || !decoder || lib.avcodec_parameters_to_context(decoder.get(), video.codecpar) < 0)
        throw FFMpegException("its pictures cannot be decoded");
    decoder->pkt_timebase = video.time_base;
    decoder->thread_count = 0;
    std::lock_guard guard(TCustomFFmpeg::CodecLock());
    if (lib.avcodec_open2(decoder.get(), codec, nullptr) < 0)
        throw FFMpegException("its pictures cannot be decoded");
    return decoder;
}

}  // namespace

// TStreamCut's insides: the opened source and the steps of a write.
class TStreamCut::Impl {
public:
    bool Open(const std::string& source);
    StreamCutResult Write(const std::string& output, double startSeconds, double endSeconds,
                          const StreamCutControl& control);

    struct Track;
    struct Session;
    int64_t findStartKeyFrame(int64_t markUs, int64_t& picturesEndUs);
    bool seekBefore(int64_t timeUs);
    bool planSegment(Session& s, double startSeconds, double endSeconds);
    void startOutputAt(Session& s, int64_t zeroUs);
    bool prepareExact(Session& s);
    std::string planExact(Session& s, TPictureReencoder& reencoder);
    std::string reencodeEnds(Session& s);
    void takeExactPlan(Session& s);
    std::optional<std::string> streamRefusal(const AVStream& stream) const;
    std::string noPicturesBetweenMarks() const
    {
        return "No picture was written: \"" + source_ + "\" gave none between the marks";
    }
    std::optional<std::string> chooseKeptStreams();
    static const AVOutputFormat* sourceMuxer(const AVFormatContext& input,
                                             const std::string& source);
    std::string scanPictures(Session& s, const TPictureReencoder& reencoder,
                             std::vector<StoredPicture>& pictures);
    template <typename Take>
    void decodePictures(Session& s, int64_t keyPts, const std::vector<int64_t>& wanted,
                        Take take);
    std::vector<PacketPtr> reencode(Session& s, const std::vector<int64_t>& wanted,
                                    int64_t keyPts);
    bool routeExactPicture(Session& s, Track& track, AVPacket& packet);
    bool writeReencoded(Session& s, Track& track, std::vector<PacketPtr>& packets);
    bool openOutput(Session& s);
    bool addTrack(Session& s, int index);
    bool copySegment(Session& s);
    bool copyPacket(Session& s, AVPacket& packet);
    void noteSourceEnd(Session& s, const AVPacket& packet);
    bool checkSourceEnd(Session& s);
    bool routePicture(Session& s, Track& track, AVPacket& packet);
    bool routeSound(Session& s, Track& track, AVPacket& packet);
    bool writeHeldSound(Session& s);
    bool checkWritten(Session& s);
    bool writePacket(Session& s, Track& track, AVPacket& packet);
    bool keepDecodeOrder(Session& s, Track& track, AVPacket& packet);
    bool closeOutput(Session& s);

    std::string source_;
    std::string extension_;
    std::string error_;
    InputFormatPtr input_;
    const AVOutputFormat* muxer_ = nullptr;
    std::vector<int> kept_;   // the input's stream indexes that are copied
    int primaryVideo_ = -1;   // the input stream whose key frames decide the start
    int64_t originUs_ = 0;    // the source's start time
    bool exact_ = true;
};

// One copied stream during a write.
struct TStreamCut::Impl::Track {
    AVStream* in = nullptr;
    AVStream* out = nullptr;
    bool video = false;
    int64_t keyTs = 0;            // the start key frame in the stream's time base
    int64_t startTs = 0;          // what becomes 0 in the output, in that time base
    int64_t endTs = INT64_MAX;    // its end; INT64_MAX: to the end of the file
    bool started = false;
    bool ended = false;           // nothing more of this stream belongs to the output
    bool pastEnd = false;         // read far enough past the end
    std::deque<PacketPtr> held;   // sound near the end, until the pictures' end is known
    int64_t lastDts = AV_NOPTS_VALUE;  // of the last packet written, in the output's time base
};

std::optional<std::string> StreamCutSpanError(double startSeconds, double endSeconds)
{
    if (endSeconds > 0 && endSeconds <= startSeconds)
        return endSeconds == startSeconds
                   ? "The start and end marks are the same: there is nothing between them to copy"
                   : "The end mark lies before the start mark";
    return std::nullopt;
}

std::optional<std::string> SegmentStartError(double startSeconds, int64_t durationUs)
{
    if (startSeconds >= lengthSeconds(durationUs))
        return "No picture and no sound was written: the segment starts after the end of the "
               "source";
    return std::nullopt;
}

bool EndsWithSource(double endSeconds, int64_t durationUs)
{
    return endSeconds >= lengthSeconds(durationUs);
}

namespace {

// Whether `list` ("mov,mp4,m4a") holds `word`, in any letter case.
bool listHolds(const char* list, std::string_view word)
{
    if (!list || word.empty())
        return false;
    const std::string lower = LowerCase(word);
    std::string_view rest(list);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        if (LowerCase(rest.substr(0, comma)) == lower)
            return true;
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return false;
}

// The muxer named exactly `name`; null when there is none.
const AVOutputFormat* muxerNamed(const std::string& name)
{
    const AVOutputFormat* muxer = lib.av_guess_format(name.c_str(), nullptr, nullptr);
    return muxer && name == muxer->name ? muxer : nullptr;
}

}  // namespace

// The muxer that writes the container the source was read as, whatever its
// name says. The one its extension names when that is a kind of the same
// container (".m4a" and ".mp4" of one reader, ".vob" of an MPEG program
// stream), so that ordinary names keep their kind; otherwise the muxer named
// after the reader (for the ISO family, after the file's brand).
const AVOutputFormat* TStreamCut::Impl::sourceMuxer(const AVFormatContext& input,
                                                   const std::string& source)
{
    const AVInputFormat& reader = *input.iformat;
    const std::string names = reader.name;
    const std::string first = names.substr(0, names.find(','));
    const AVOutputFormat* named = muxerNamed(first);
    std::string extension = std::filesystem::path(source).extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    if (const AVOutputFormat* guessed =
            extension.empty() ? nullptr : lib.av_guess_format(nullptr, source.c_str(), nullptr)) {
        const bool sameKind = listHolds(reader.name, guessed->name) ||
                              listHolds(reader.extensions, extension) ||
                              (named && named->mime_type && guessed->mime_type &&
                               std::string_view(named->mime_type) == guessed->mime_type);
        if (sameKind)
            return guessed;
    }
    if (first == "mov") {
        const AVDictionaryEntry* brand = lib.av_dict_get(input.metadata, "major_brand", nullptr, 0);
        const std::string kind = brand ? LowerCase(brand->value) : std::string();
        if (kind.rfind("qt", 0) == 0)
            return named;
        if (kind.rfind("3g2", 0) == 0)
            return muxerNamed("3g2");
        if (kind.rfind("3gp", 0) == 0)
            return muxerNamed("3gp");
        if (kind.rfind("m4", 0) == 0)
            return muxerNamed("ipod");
        return muxerNamed("mp4");
    }
    return named;
}

bool TStreamCut::Impl::Open(const std::string& source)
{
    source_ = source;
    error_.clear();
    const std::string extension = std::filesystem::path(source).extension().string();
    extension_ = extension;

    AVFormatContext* opened = nullptr;
    // The name is a file's, never another protocol's address ("cache:x").
    if (const int code = lib.avformat_open_input(&opened, LocalFileAddress(source).c_str(),
                                                 nullptr, nullptr);
        code < 0) {
        error_ = ErrorTextForCode(source, code);
        return false;
    }
    input_.reset(opened);
    {
        std::lock_guard guard(TCustomFFmpeg::CodecLock());
        if (const int code = lib.avformat_find_stream_info(input_.get(), nullptr); code < 0) {
            error_ = ErrorTextForCode(source, code);
            return false;
        }
    }

    // Files that are not one container (picture sequences, device and
    // script readers) have no muxer that writes them back as one file.
    muxer_ = sourceMuxer(*input_, source);
    if (!muxer_ || (muxer_->flags & AVFMT_NOFILE) || (input_->iformat->flags & AVFMT_NOFILE)) {
        error_ = cannotKeep(source, "files of type \"" + LowerCase(extension) +
                                        "\" cannot be written");
        return false;
    }
    if (const std::optional<std::string> why = chooseKeptStreams()) {
        error_ = cannotKeep(source, *why);
        return false;
    }
    originUs_ = input_->start_time != AV_NOPTS_VALUE ? input_->start_time : 0;
    return true;
}

// Why stream `stream` keeps the source from being copied into a file of
// its own type; nothing when it can be copied.
std::optional<std::string> TStreamCut::Impl::streamRefusal(const AVStream& stream) const
{
    if (lib.avformat_query_codec(muxer_, stream.codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 0)
        return std::string("a \"") + muxer_->name + "\" file cannot hold its \"" +
               lib.avcodec_get_name(stream.codecpar->codec_id) + "\" stream";
    // An AVI file times its pictures in the order they are stored; with
    // pictures stored before ones they are shown after, a cut by those
    // times starts and ends at the wrong pictures.
    if (stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO && stream.codecpar->video_delay > 0 &&
        std::string_view(input_->iformat->name) == "avi")
        return std::string("its pictures are stored out of the order they are shown "
                           "in (B-frames), and an AVI file does not say when each "
                           "is shown");
    return std::nullopt;
}

// Picks the audio and video streams that are copied (attached pictures are
// not) and the primary video stream; why the source cannot be copied when
// one of them cannot, or there is none.
std::optional<std::string> TStreamCut::Impl::chooseKeptStreams()
{
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        const AVStream* stream = input_->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        if ((type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) ||
            (stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        if (std::optional<std::string> why = streamRefusal(*stream))
            return why;
        if (type == AVMEDIA_TYPE_VIDEO && primaryVideo_ < 0)
            primaryVideo_ = static_cast<int>(i);
        kept_.push_back(static_cast<int>(i));
    }
    if (kept_.empty())
        return std::string("it has no audio or video stream");
    return std::nullopt;
}

bool TStreamCut::Impl::seekBefore(int64_t timeUs)
{
    const int64_t target = std::max(timeUs, originUs_);
    if (lib.avformat_seek_file(input_.get(), -1, INT64_MIN, target, target, 0) >= 0)
        return true;
    // Formats that seek by position only.
    return lib.av_seek_frame(input_.get(), -1, 0, AVSEEK_FLAG_BYTE) >= 0;
}

// The time of the last key frame of the primary video stream at or before
// `markUs`; the first key frame when there is none before it. Seeks further
// back while the seek lands after the mark (formats without an index seek
// by estimate). `picturesEndUs` is where the source's last picture ends when
// no picture is decoded after the mark, INT64_MAX when one is.
int64_t TStreamCut::Impl::findStartKeyFrame(int64_t markUs, int64_t& picturesEndUs)
{
    picturesEndUs = INT64_MAX;
    const AVStream* video = input_->streams[primaryVideo_];
    PacketPtr packet(lib.av_packet_alloc());
    if (!packet)
        return markUs;
    for (int64_t back = 0;; back = back ? back * 2 : kSecondUs) {
        const int64_t target = markUs - back;
        const bool fromStart = target <= originUs_;
        if (!seekBefore(target))
            return markUs;
        int64_t best = AV_NOPTS_VALUE, first = AV_NOPTS_VALUE;
        int64_t lastEndUs = INT64_MIN;
        bool pastMark = false;
        while (lib.av_read_frame(input_.get(), packet.get()) >= 0) {
            const bool ours = packet->stream_index == primaryVideo_;
            const int64_t time = packetTime(*packet);
            const int64_t decodeTime = packet->dts != AV_NOPTS_VALUE ? packet->dts : time;
            const bool key = packet->flags & AV_PKT_FLAG_KEY;
            const int64_t duration = ours ? packetDuration(*packet, *video) : 0;
            lib.av_packet_unref(packet.get());
            if (!ours || time == AV_NOPTS_VALUE)
                continue;
            const int64_t us = toUs(time, video->time_base);
            lastEndUs = std::max(lastEndUs, toUs(time + duration, video->time_base));
            if (key && first == AV_NOPTS_VALUE)
                first = us;
            if (key && us <= markUs)
                best = std::max(best == AV_NOPTS_VALUE ? us : best, us);
            // Later packets decode after this one and show no earlier.
            if (toUs(decodeTime, video->time_base) > markUs) {
                pastMark = true;
                break;
            }
        }
        if (!pastMark && lastEndUs != INT64_MIN)
            picturesEndUs = lastEndUs;
        if (best != AV_NOPTS_VALUE)
            return best;
        if (fromStart)
            return first != AV_NOPTS_VALUE ? first : markUs;
    }
}

// One write of a segment: its span, the output and where the copy stands.
// Every stage returns false with `error` set when the write cannot go on.
struct TStreamCut::Impl::Session {
    Session(const std::string& outputName, const StreamCutControl& controls)
        : output(outputName), control(controls)
    {
    }

    const std::string& output;
    const StreamCutControl& control;
    int64_t markUs = 0;         // the requested start
    int64_t startUs = 0;        // the start key frame
    // What becomes 0 in the output: the start key frame, or the source's own
    // start when that key frame lies before it (an edit list that hides the
    // pictures before the one it shows first).
    int64_t zeroUs = 0;
    int64_t endUs = INT64_MAX;  // the end mark
    bool toEnd = true;
    bool fromFileStart = false;
    bool anyVideo = false;
    OutputFormatPtr out;
    bool created = false;       // the output file is ours to remove (made or written here)
    std::vector<Track> tracks;
    StreamCutProgress progress;
    int64_t nextReportMs = 0;
    int64_t picturesEndUs = 0;  // the end of the last picture written
    int64_t pictures = 0;       // pictures written
    int64_t soundEndUs = 0;
    bool stopped = false;
    std::string error;
    // How far the source's data reached while it was copied, and its longest
    // packet.
    int64_t sourceEndUs = INT64_MIN;
    int64_t longestPacketUs = 0;

    // The exact cut: which pictures are copied, the re-encoded ones before
    // and after them, and where the copy stands.
    bool exact = false;
    std::string exactFallback;  // why the cut starts at a key frame instead
    ExactCutPlan plan;
    std::unique_ptr<TPictureReencoder> reencoder;
    std::vector<PacketPtr> head, tail;
    int64_t headUs = 0, tailUs = 0;  // how long the re-encoded pictures show
    double reencodingSeconds = 0.0;
    bool copyStarted = false;
    bool copyEnded = false;
    int64_t leadingTs = 0;  // the length of the copy's key frame's leading pictures

    bool fail(std::string why)
    {
        error = std::move(why);
        return false;
    }
    // Reports `doneMs` of the segment as done, at most once per interval.
    void report(int64_t doneMs)
    {
        if (!control.progress || doneMs < nextReportMs)
            return;
        progress.writtenMs = doneMs;
        control.progress(progress);
        nextReportMs = doneMs + control.progressIntervalMs;
    }
    // The end of what was written: the pictures', or the sound's without any.
    int64_t writtenEndUs() const { return anyVideo ? picturesEndUs : soundEndUs; }
};

StreamCutResult TStreamCut::Impl::Write(const std::string& output, double startSeconds,
                                  double endSeconds, const StreamCutControl& control)
{
    StreamCutResult result;
    result.requestedStart = startSeconds;
    Session session(output, control);
    // The name is taken at once, so no other job writes into it; a name taken
    // before (an empty file) is ours as well.
    session.created = NamesLocalFile(output) && OwnsClaimedFile(ClaimOutputFile(output));
    const bool written =
        planSegment(session, startSeconds, endSeconds) && prepareExact(session) &&
        (session.stopped || (openOutput(session) && copySegment(session) &&
                             writeHeldSound(session) && checkWritten(session) &&
                             closeOutput(session)));
    // A file that got no packet (a stop before the first one) is only a stub.
    if (!written || session.progress.bytes == 0) {
        session.out.reset();
        std::error_code ignored;
        if (session.created)
            std::filesystem::remove(output, ignored);
    }
    if (!written) {
        result.end = StreamCutResult::End::Failed;
        result.Error = std::move(session.error);
        return result;
    }
    result.startSeconds = static_cast<double>(session.zeroUs - originUs_) / kSecondUs;
    result.exact = session.exact;
    result.exactFallback = session.exactFallback;
    result.reencodedStartSeconds = static_cast<double>(session.headUs) / kSecondUs;
    result.reencodedEndSeconds = static_cast<double>(session.tailUs) / kSecondUs;
    result.reencodingSeconds = session.reencodingSeconds;
    result.durationMs = (session.writtenEndUs() - session.zeroUs) / 1000;
    // A finished cut has gone through the whole segment, even where its last
    // pictures had to end a little before the end mark.
    StreamCutProgress& progress = session.progress;
    progress.writtenMs = session.stopped ? result.durationMs
                                         : std::max(result.durationMs, progress.totalMs);
    if (control.progress)
        control.progress(progress);
    result.end = session.stopped ? StreamCutResult::End::Stopped : StreamCutResult::End::Finished;
    return result;
}

// Where the output starts and ends on the source's timeline.
bool TStreamCut::Impl::planSegment(Session& s, double startSeconds, double endSeconds)
{
    if (!input_ || !muxer_ || !error_.empty())
        return s.fail(error_.empty() ? "The source is not open" : error_);
    std::error_code ignored;
    if (std::filesystem::equivalent(source_, s.output, ignored))
        return s.fail("The output must not be the source file itself");

    if (const std::optional<std::string> refused = StreamCutSpanError(startSeconds, endSeconds))
        return s.fail(*refused);
    // Marks are compared with the source's length before they become
    // microseconds; an end beyond the source is its end.
    if (const std::optional<std::string> late = SegmentStartError(startSeconds, input_->duration))
        return s.fail(*late);
    s.markUs = originUs_ + std::llround(std::max(startSeconds, 0.0) * kSecondUs);
    s.toEnd = !(endSeconds > 0) || EndsWithSource(endSeconds, input_->duration);
    if (!s.toEnd)
        s.endUs = originUs_ + std::llround(endSeconds * kSecondUs);
    int64_t picturesEndUs = INT64_MAX;
    s.startUs = primaryVideo_ >= 0 ? findStartKeyFrame(s.markUs, picturesEndUs) : s.markUs;
    s.fromFileStart = s.markUs <= originUs_;
    s.anyVideo = primaryVideo_ >= 0;
    // Sound alone is no cut of a source with pictures, whatever key frame
    // lies before the mark.
    if (s.anyVideo && picturesEndUs <= s.markUs)
        return s.fail(noPicturesBetweenMarks());
    startOutputAt(s, std::max(s.startUs, originUs_));
    return true;
}

// Where the output's times start, on the source's timeline.
void TStreamCut::Impl::startOutputAt(Session& s, int64_t zeroUs)
{
    s.zeroUs = zeroUs;
    s.picturesEndUs = s.soundEndUs = s.zeroUs;
    if (!s.toEnd)
        s.progress.totalMs = (s.endUs - s.zeroUs) / 1000;
    else if (input_->duration > 0)
        s.progress.totalMs = (originUs_ + input_->duration - s.zeroUs) / 1000;
}

// The output file with a copy of every kept stream, its header written.
bool TStreamCut::Impl::openOutput(Session& s)
{
    AVFormatContext* made = nullptr;
    if (const int code = lib.avformat_alloc_output_context2(&made, muxer_, nullptr,
                                                            s.output.c_str());
        code < 0)
        return s.fail(LibraryErrorText(s.output, code));
    s.out.reset(made);
    lib.av_dict_copy(&s.out->metadata, input_->metadata, 0);
    s.tracks = std::vector<Track>(input_->nb_streams);
    for (const int index : kept_)
        if (!addTrack(s, index))
            return false;
    if (const int code = lib.avio_open(&s.out->pb, s.output.c_str(), AVIO_FLAG_WRITE); code < 0)
        return s.fail(LibraryErrorText(s.output, code));
    s.created = true;
    // A muxer may refuse streams only when it starts (a file named ".mp3"
    // that holds pictures).
    if (const int code = lib.avformat_write_header(s.out.get(), nullptr); code < 0)
        return s.fail(cannotKeep(source_, std::string("a \"") + muxer_->name +
                                              "\" file cannot hold its streams (it is a \"" +
                                              input_->iformat->name + "\" file)"));
    return true;
}

bool TStreamCut::Impl::addTrack(Session& s, int index)
{
    Track& track = s.tracks[index];
    track.in = input_->streams[index];
    track.video = track.in->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    track.out = lib.avformat_new_stream(s.out.get(), nullptr);
    if (!track.out || lib.avcodec_parameters_copy(track.out->codecpar, track.in->codecpar) < 0)
        return s.fail(s.output + ": cannot add a stream");
    // The muxer chooses its own tag for the codec; raw pictures keep theirs,
    // which says how they are laid out, where the muxer can store it.
    const unsigned tag = track.in->codecpar->codec_tag;
    track.out->codecpar->codec_tag = 0;
    ClearVariableBlockAlign(*track.out->codecpar);
    if (track.in->codecpar->codec_id == AV_CODEC_ID_RAWVIDEO && muxer_->codec_tag &&
        lib.av_codec_get_id(muxer_->codec_tag, tag) == AV_CODEC_ID_RAWVIDEO)
        track.out->codecpar->codec_tag = tag;
    track.out->time_base = track.in->time_base;
    track.out->avg_frame_rate = track.in->avg_frame_rate;
    track.out->r_frame_rate = track.in->r_frame_rate;
    track.out->sample_aspect_ratio = track.in->sample_aspect_ratio;
    track.out->disposition = track.in->disposition;
    lib.av_dict_copy(&track.out->metadata, track.in->metadata, 0);
    // Side data such as the display rotation.
    for (int i = 0; i < track.in->nb_side_data; ++i) {
        const AVPacketSideData& side = track.in->side_data[i];
        if (uint8_t* copy = lib.av_stream_new_side_data(track.out, side.type, side.size))
            std::copy_n(side.data, side.size, copy);
    }
    track.keyTs = lib.av_rescale_q(s.startUs, kMicroseconds, track.in->time_base);
    track.startTs = lib.av_rescale_q(s.zeroUs, kMicroseconds, track.in->time_base);
    if (s.exact && index == primaryVideo_) {
        track.startTs = s.plan.firstPts;
        // One description for the copied and the re-encoded pictures.
        const std::vector<uint8_t> extradata = s.reencoder->OutputExtradata();
        lib.av_freep(&track.out->codecpar->extradata);
        track.out->codecpar->extradata_size = 0;
        if (!extradata.empty()) {
            auto* copy = static_cast<uint8_t*>(
                lib.av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!copy)
                return s.fail(LibraryErrorText(s.output, AVERROR(ENOMEM)));
            std::copy(extradata.begin(), extradata.end(), copy);
            track.out->codecpar->extradata = copy;
            track.out->codecpar->extradata_size = static_cast<int>(extradata.size());
        }
        track.out->codecpar->codec_tag = s.reencoder->OutputTag();
    }
    if (!s.toEnd)
        track.endTs = lib.av_rescale_q(s.endUs, kMicroseconds, track.in->time_base);
    return true;
}

// The exact cut's plan and its re-encoded pictures, made before anything is
// written. Where the segment cannot be cut exactly, the reason is kept and
// the cut starts at the key frame as before.
bool TStreamCut::Impl::prepareExact(Session& s)
{
    if (!exact_ || primaryVideo_ < 0)
        return true;
    auto reencoder = std::make_unique<TPictureReencoder>(*input_->streams[primaryVideo_], *muxer_);
    std::string refusal = planExact(s, *reencoder);
    if (s.stopped)
        return true;
    if (refusal.empty()) {
        s.reencoder = std::move(reencoder);
        // The re-encoded start counts as done as its pictures are made, from
        // the first picture of the segment on.
        startOutputAt(s, toUs(s.plan.firstPts, input_->streams[primaryVideo_]->time_base));
        refusal = reencodeEnds(s);
        if (s.stopped)
            return true;
    }
    if (!refusal.empty()) {
        startOutputAt(s, std::max(s.startUs, originUs_));
        s.exactFallback = refusal;
        s.reencoder.reset();
        s.head.clear();
        s.tail.clear();
        return true;
    }
    takeExactPlan(s);
    return true;
}

// Reads the pictures around the marks and plans the exact cut into s.plan;
// why it cannot be made, empty when it can.
std::string TStreamCut::Impl::planExact(Session& s, TPictureReencoder& reencoder)
{
    const int videoStreams = static_cast<int>(std::count_if(
        kept_.begin(), kept_.end(), [this](int index) {
            return input_->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        }));
    if (videoStreams > 1)
        return "it has more than one video stream";
    if (std::string refusal = reencoder.Check(); !refusal.empty())
        return refusal;
    std::vector<StoredPicture> pictures;
    if (std::string refusal = scanPictures(s, reencoder, pictures); !refusal.empty() || s.stopped)
        return refusal;
    // A mark counts as on a picture within a millisecond (marks are kept in
    // milliseconds), or a quarter of a picture when they are shorter; times
    // are rounded towards the segment.
    const AVStream& video = *input_->streams[primaryVideo_];
    const AVRational rate = StreamFrameRate(video);
    int64_t toleranceUs = 1000;
    if (rate.num > 0)
        toleranceUs = std::min(toleranceUs, lib.av_rescale_q(1, AVRational{rate.den, 4 * rate.num},
                                                             kMicroseconds));
    const auto toStream = [&](int64_t us, AVRounding rounding) {
        return lib.av_rescale_q_rnd(us, kMicroseconds, video.time_base, rounding);
    };
    s.plan = PlanExactCut(pictures, toStream(s.markUs + toleranceUs, AV_ROUND_DOWN),
                          s.toEnd ? INT64_MAX : toStream(s.endUs - toleranceUs, AV_ROUND_UP), 0);
    return s.plan.refusal;
}

// Re-encodes the planned head and tail pictures; why they could not be,
// empty when they were (or the cut was stopped).
std::string TStreamCut::Impl::reencodeEnds(Session& s)
{
    try {
        const auto started = std::chrono::steady_clock::now();
        s.head = reencode(s, s.plan.head, s.plan.headKeyPts);
        if (!s.stopped)
            s.tail = reencode(s, s.plan.tail, s.plan.tailKeyPts);
        s.reencodingSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    } catch (const FFMpegException& e) {
        return e.what();
    }
    return {};
}

// Makes the planned exact cut the session's: the re-encoded spans' lengths
// and the output's time origin at the first picture.
void TStreamCut::Impl::takeExactPlan(Session& s)
{
    const AVStream& video = *input_->streams[primaryVideo_];
    s.exact = true;
    const auto span = [&](const std::vector<PacketPtr>& packets) {
        int64_t total = 0;
        for (const PacketPtr& packet : packets)
            total += packet->duration;
        return lib.av_rescale_q(total, video.time_base, kMicroseconds);
    };
    s.headUs = span(s.head);
    s.tailUs = span(s.tail);
    startOutputAt(s, toUs(s.plan.firstPts, video.time_base));
}

// The primary video stream's pictures in decoding order, from the start key
// frame on, up to the first one decoded at or after the end mark (to the end:
// up to past the first key frame after the start mark and its leading
// pictures). Returns why they cannot be read; empty when they can.
std::string TStreamCut::Impl::scanPictures(Session& s, const TPictureReencoder& reencoder,
                                     std::vector<StoredPicture>& pictures)
{
    const AVStream& video = *input_->streams[primaryVideo_];
    PacketPtr packet(lib.av_packet_alloc());
    if (!packet || !seekBefore(s.startUs - kSecondUs))
        return "the segment cannot be read";
    const int64_t keyTs = lib.av_rescale_q(s.startUs, kMicroseconds, video.time_base);
    const int64_t markTs = lib.av_rescale_q(s.markUs, kMicroseconds, video.time_base);
    const int64_t endTs =
        s.toEnd ? INT64_MAX : lib.av_rescale_q(s.endUs, kMicroseconds, video.time_base);
    int64_t stopTs = endTs;
    bool started = false;
    while (lib.av_read_frame(input_.get(), packet.get()) >= 0) {
        if (s.control.stop && s.control.stop->load()) {
            s.stopped = true;
            return {};
        }
        const bool ours = packet->stream_index == primaryVideo_;
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        StoredPicture picture{packet->pts, packet->dts, packetDuration(*packet, video), key,
                              ours && key && reencoder.Restarts(*packet)};
        lib.av_packet_unref(packet.get());
        if (!ours)
            continue;
        const int64_t time = picture.pts != AV_NOPTS_VALUE ? picture.pts : picture.dts;
        if (!started && picture.key && time != AV_NOPTS_VALUE && time >= keyTs)
            started = true;
        if (!started)
            continue;
        pictures.push_back(picture);
        if (s.toEnd && picture.key && time > markTs && stopTs == INT64_MAX)
            stopTs = time;
        const int64_t decodeTime = picture.dts != AV_NOPTS_VALUE ? picture.dts : time;
        if (decodeTime != AV_NOPTS_VALUE && decodeTime >= stopTs)
            break;
    }
    return {};
}

// Decodes the primary video stream from its key frame at `keyPts` until
// every picture shown at the times `wanted` (rising) came out, handing each
// to `take` in showing order.
template <typename Take>
void TStreamCut::Impl::decodePictures(Session& s, int64_t keyPts, const std::vector<int64_t>& wanted,
                                Take take)
{
    const AVStream& video = *input_->streams[primaryVideo_];
    const CodecContextPtr decoder = openPictureDecoder(video);
    PacketPtr packet(lib.av_packet_alloc());
    FramePtr frame(lib.av_frame_alloc());
    if (!packet || !frame)
        throw FFMpegException("its pictures cannot be decoded");
    if (!seekBefore(toUs(keyPts, video.time_base) - kSecondUs))
        throw FFMpegException("the segment cannot be read");
    size_t next = 0;
    const auto receive = [&] {
        while (lib.avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            const int64_t time = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                     ? frame->best_effort_timestamp
                                     : frame->pts;
            if (next < wanted.size() && time == wanted[next])
                take(*frame, next++);
            else if (next < wanted.size() && time > wanted[next])
                throw FFMpegException("a picture between the marks did not decode");
            lib.av_frame_unref(frame.get());
        }
    };
    bool started = false;
    while (next < wanted.size()) {
        if (s.control.stop && s.control.stop->load()) {
            s.stopped = true;
            return;
        }
        if (lib.av_read_frame(input_.get(), packet.get()) < 0) {
            lib.avcodec_send_packet(decoder.get(), nullptr);
            receive();
            break;
        }
        if (packet->stream_index == primaryVideo_) {
            if (!started && (packet->flags & AV_PKT_FLAG_KEY) && packetTime(*packet) == keyPts)
                started = true;
            // The start key frame's leading pictures refer to pictures before
            // it and are never wanted.
            if (started && packetTime(*packet) >= keyPts) {
                // Pictures no other picture refers to are decoded only when
                // wanted.
                decoder->skip_frame =
                    std::binary_search(wanted.begin(), wanted.end(), packetTime(*packet))
                        ? AVDISCARD_DEFAULT
                        : AVDISCARD_NONREF;
                // Damaged data is left to the decoder; what matters is that
                // every wanted picture comes out.
                lib.avcodec_send_packet(decoder.get(), packet.get());
                receive();
            }
        }
        lib.av_packet_unref(packet.get());
    }
    if (next < wanted.size())
        throw FFMpegException("not every picture between the marks could be decoded");
}

// The pictures shown at the times `wanted`, decoded from the key frame at
// `keyPts` and encoded as a group of their own.
std::vector<PacketPtr> TStreamCut::Impl::reencode(Session& s, const std::vector<int64_t>& wanted,
                                            int64_t keyPts)
{
    if (wanted.empty())
        return {};
    const AVStream& video = *input_->streams[primaryVideo_];
    const int64_t frameDuration = FrameDuration(video);
    s.reencoder->BeginGroup();
    decodePictures(s, keyPts, wanted, [&](AVFrame& frame, size_t index) {
        // A picture lasts until the next one; the last as long as a frame.
        const int64_t duration =
            index + 1 < wanted.size() ? wanted[index + 1] - wanted[index] : frameDuration;
        s.reencoder->Add(frame, wanted[index], duration);
        // The tail is made before the copy: only the head's pictures are
        // done when they are made.
        if (&wanted == &s.plan.head)
            s.report((toUs(wanted[index] + duration, video.time_base) - s.zeroUs) / 1000);
    });
    if (s.stopped)
        return {};
    return s.reencoder->EndGroup(s.plan.decodeLead);
}

// Pictures of the exact cut: the copy starts at its key frame, after the
// re-encoded pictures before it, and ends at the first picture shown at or
// after the end mark, before the re-encoded pictures after it.
bool TStreamCut::Impl::routeExactPicture(Session& s, Track& track, AVPacket& packet)
{
    const int64_t time = packetTime(packet);
    const int64_t decodeTime = packet.dts != AV_NOPTS_VALUE ? packet.dts : time;
    track.pastEnd = track.pastEnd || (!s.toEnd && decodeTime >= track.endTs);
    // A segment within one group: every picture is re-encoded.
    if (!s.plan.copies)
        return writeReencoded(s, track, s.head);
    if (s.copyEnded)
        return true;
    if (!s.copyStarted) {
        if (!(packet.flags & AV_PKT_FLAG_KEY) || time != s.plan.copyStartPts)
            return true;
        s.copyStarted = true;
        if (!writeReencoded(s, track, s.head))
            return false;
    }
    if (time >= s.plan.endLimit) {
        s.copyEnded = true;
        return writeReencoded(s, track, s.tail);
    }
    // The key frame's leading pictures are among the re-encoded ones; the
    // copied pictures decoded after them move up into their decoding slots,
    // so that decoding times keep their even steps.
    if (time < s.plan.copyStartPts) {
        s.leadingTs += packetDuration(packet, *track.in);
        return true;
    }
    if (packet.dts != AV_NOPTS_VALUE)
        packet.dts -= s.leadingTs;
    if ((packet.flags & AV_PKT_FLAG_KEY) && (!s.plan.head.empty() || !s.plan.tail.empty()))
        s.reencoder->PrepareCopiedKeyFrame(packet);
    return writePacket(s, track, packet);
}

// Writes re-encoded pictures once.
bool TStreamCut::Impl::writeReencoded(Session& s, Track& track, std::vector<PacketPtr>& packets)
{
    for (PacketPtr& packet : packets)
        if (!writePacket(s, track, *packet))
            return false;
    packets.clear();
    return true;
}

// Reads from a little before the start key frame until every stream has
// passed the end, copying what belongs to the segment.
bool TStreamCut::Impl::copySegment(Session& s)
{
    PacketPtr packet(lib.av_packet_alloc());
    if (!packet || !seekBefore(s.startUs - kSecondUs))
        return s.fail(source_ + ": cannot read the segment");
    const auto allPastEnd = [&s, this] {
        return std::all_of(kept_.begin(), kept_.end(),
                           [&s](int index) { return s.tracks[index].pastEnd; });
    };
    int readCode = 0;
    while (!allPastEnd()) {
        if (s.control.stop && s.control.stop->load()) {
            s.stopped = true;
            return true;
        }
        if ((readCode = lib.av_read_frame(input_.get(), packet.get())) < 0)
            break;
        noteSourceEnd(s, *packet);
        const bool copied = copyPacket(s, *packet);
        lib.av_packet_unref(packet.get());
        if (!copied)
            return false;
    }
    // Where the data stops early, that says more than the read's error.
    if (!checkSourceEnd(s))
        return false;
    if (readCode < 0 && readCode != AVERROR_EOF)
        return s.fail(LibraryErrorText(source_, readCode));
    // Re-encoded pictures that no copied one came before or after (a segment
    // within one group, or one that ends with the file).
    if (s.exact) {
        Track& video = s.tracks[primaryVideo_];
        if (!writeReencoded(s, video, s.head) || !writeReencoded(s, video, s.tail))
            return false;
        // The last picture shows until the next one, whatever its packet
        // says (at a variable rate a packet may give one frame's length), and
        // the sound runs as long.
        if (s.plan.endPts != INT64_MAX)
            s.picturesEndUs = std::max(s.picturesEndUs, toUs(s.plan.endPts, video.in->time_base));
    }
    return true;
}

// A finished copy holds something, and pictures when the source has them:
// sound alone from a source with pictures is no cut of it.
bool TStreamCut::Impl::checkWritten(Session& s)
{
    if (s.stopped)
        return true;
    if (s.progress.bytes == 0)
        return s.fail("No picture and no sound was written: the input gave none");
    if (s.anyVideo && s.pictures == 0)
        return s.fail(noPicturesBetweenMarks());
    return true;
}

void TStreamCut::Impl::noteSourceEnd(Session& s, const AVPacket& packet)
{
    const int index = packet.stream_index;
    const int64_t time = packetTime(packet);
    if (index < 0 || index >= static_cast<int>(s.tracks.size()) || !s.tracks[index].in ||
        time == AV_NOPTS_VALUE)
        return;
    const AVStream& stream = *s.tracks[index].in;
    const int64_t duration = packetDuration(packet, stream);
    s.sourceEndUs = std::max(s.sourceEndUs, toUs(time + duration, stream.time_base));
    s.longestPacketUs = std::max(s.longestPacketUs, toUs(duration, stream.time_base));
}

// A source whose data ended before the end mark (or, without one, before the
// end it gives) made a shorter copy than asked for: it is cut short (its
// header promises more than it holds, or it was cut short while it was read).
// The file's own length may be off by a packet.
bool TStreamCut::Impl::checkSourceEnd(Session& s)
{
    const bool lengthKnown =
        input_->duration > 0 && input_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
    if (s.sourceEndUs == INT64_MIN || (s.toEnd && !lengthKnown))
        return true;
    const int64_t endUs = s.toEnd ? originUs_ + input_->duration : s.endUs;
    if (s.sourceEndUs >= endUs - s.longestPacketUs - 1000)
        return true;
    const auto seconds = [this](int64_t us) {
        return static_cast<double>(us - originUs_) / kSecondUs;
    };
    return s.fail(SourceEndedEarlyText(source_, seconds(s.sourceEndUs), seconds(endUs), !s.toEnd));
}

bool TStreamCut::Impl::copyPacket(Session& s, AVPacket& packet)
{
    const int index = packet.stream_index;
    if (index < 0 || index >= static_cast<int>(s.tracks.size()) || !s.tracks[index].in ||
        packetTime(packet) == AV_NOPTS_VALUE)
        return true;
    Track& track = s.tracks[index];
    if (!(track.video ? routePicture(s, track, packet) : routeSound(s, track, packet)))
        return false;
    if (s.anyVideo && !track.video)
        return true;
    s.report((s.writtenEndUs() - s.zeroUs) / 1000);
    return true;
}

// Pictures start at the key frame. They end before the first picture in
// decoding order that shows at or after the end: the ones before it never
// need it to decode, the ones after may.
bool TStreamCut::Impl::routePicture(Session& s, Track& track, AVPacket& packet)
{
    if (s.exact && track.in->index == primaryVideo_)
        return routeExactPicture(s, track, packet);
    const int64_t time = packetTime(packet);
    if (!track.started && (packet.flags & AV_PKT_FLAG_KEY) && time >= track.keyTs)
        track.started = true;
    if (track.started && !track.ended && time >= track.endTs)
        track.ended = true;
    if (track.ended) {
        const int64_t decodeTime = packet.dts != AV_NOPTS_VALUE ? packet.dts : time;
        track.pastEnd = track.pastEnd || decodeTime >= track.endTs;
    }
    // Open groups of pictures begin with pictures shown before their key
    // frame; they refer to pictures that are not copied.
    if (track.started && !track.ended && time >= track.keyTs)
        return writePacket(s, track, packet);
    return true;
}

// Sound starts with the frame nearest to the pictures' start and ends with
// the one nearest to their end (to the end mark when there are no pictures).
// Sound near the end mark is held until the pictures' real end is known.
bool TStreamCut::Impl::routeSound(Session& s, Track& track, AVPacket& packet)
{
    const int64_t time = packetTime(packet);
    const int64_t half = packetDuration(packet, *track.in) / 2;
    const int64_t timeUs = toUs(time, track.in->time_base);
    track.pastEnd = !s.toEnd && timeUs >= s.endUs + kReadPastEndUs;
    // From the file's start, sound before the first picture (an encoder's
    // priming) stays with it.
    const bool inSpan = (s.fromFileStart || time + half >= track.startTs) &&
                        (s.anyVideo || time + half < track.endTs);
    if (!inSpan)
        return true;
    if (s.toEnd || timeUs < s.endUs - kAudioHoldUs || !s.anyVideo)
        return writePacket(s, track, packet);
    PacketPtr held(lib.av_packet_alloc());
    if (!held || lib.av_packet_ref(held.get(), &packet) < 0)
        return s.fail(LibraryErrorText(s.output, AVERROR(ENOMEM)));
    track.held.push_back(std::move(held));
    return true;
}

// The held sound that ends with the pictures.
bool TStreamCut::Impl::writeHeldSound(Session& s)
{
    for (const int index : kept_) {
        Track& track = s.tracks[index];
        for (PacketPtr& held : track.held) {
            const int64_t half = packetDuration(*held, *track.in) / 2;
            if (toUs(packetTime(*held) + half, track.in->time_base) >= s.picturesEndUs)
                break;
            if (!writePacket(s, track, *held))
                return false;
        }
        track.held.clear();
    }
    return true;
}

// Writes `packet` with its timestamps moved so the segment starts at 0.
bool TStreamCut::Impl::writePacket(Session& s, Track& track, AVPacket& packet)
{
    const int64_t time = packetTime(packet);
    const int64_t endUs = toUs(time + packetDuration(packet, *track.in), track.in->time_base);
    int64_t& streamEndUs = track.video ? s.picturesEndUs : s.soundEndUs;
    streamEndUs = std::max(streamEndUs, endUs);
    s.pictures += track.video;
    s.progress.bytes += packet.size;
    if (packet.pts != AV_NOPTS_VALUE)
        packet.pts -= track.startTs;
    if (packet.dts != AV_NOPTS_VALUE)
        packet.dts -= track.startTs;
    lib.av_packet_rescale_ts(&packet, track.in->time_base, track.out->time_base);
    if (!keepDecodeOrder(s, track, packet))
        return false;
    packet.stream_index = track.out->index;
    packet.pos = -1;
    if (const int code = lib.av_interleaved_write_frame(s.out.get(), &packet); code < 0)
        return s.fail(LibraryErrorText(s.output, code));
    return true;
}

// Muxers take a stream's packets only with rising decoding times. Damaged
// data can carry a time a little out of step: it is moved just after the
// previous packet, as a stock converter does. A jump back by more than that
// is a second recording joined on (its times start again), which a cut by
// time cannot place.
bool TStreamCut::Impl::keepDecodeOrder(Session& s, Track& track, AVPacket& packet)
{
    if (packet.dts == AV_NOPTS_VALUE)
        return true;
    if (track.lastDts != AV_NOPTS_VALUE && packet.dts <= track.lastDts) {
        const int64_t lastUs = toUs(track.lastDts, track.out->time_base);
        if (lastUs - toUs(packet.dts, track.out->time_base) > kSecondUs) {
            char at[32];
            std::snprintf(at, sizeof at, "%.2f",
                          static_cast<double>(lastUs + s.zeroUs - originUs_) / kSecondUs);
            return s.fail(cannotKeep(source_, std::string("its times start again after ") +
                                                  at + " s (files joined into one?)"));
        }
        const bool strict = !(s.out->oformat->flags & AVFMT_TS_NONSTRICT);
        packet.dts = track.lastDts + strict;
    }
    // No picture is shown before it is decoded.
    if (packet.pts != AV_NOPTS_VALUE)
        packet.pts = std::max(packet.pts, packet.dts);
    track.lastDts = packet.dts;
    return true;
}

bool TStreamCut::Impl::closeOutput(Session& s)
{
    if (const int code = lib.av_write_trailer(s.out.get()); code < 0)
        return s.fail(LibraryErrorText(s.output, code));
    s.out.reset();
    return true;
}

TStreamCut::TStreamCut() : impl_(std::make_unique<Impl>()) {}
TStreamCut::~TStreamCut() = default;

bool TStreamCut::Open(const std::string& source) { return impl_->Open(source); }
const std::string& TStreamCut::Error() const { return impl_->error_; }
const std::string& TStreamCut::Extension() const { return impl_->extension_; }
void TStreamCut::SetExact(bool exact) { impl_->exact_ = exact; }
bool TStreamCut::Exact() const { return impl_->exact_; }

StreamCutResult TStreamCut::Write(const std::string& output, double startSeconds,
                                  double endSeconds, const StreamCutControl& control)
{
    return impl_->Write(output, startSeconds, endSeconds, control);
}

TStreamCutTask::TStreamCutTask(std::unique_ptr<TStreamCut> cut, std::string output,
                               double startSeconds, double endSeconds, ProgressSlot progress,
                               EndSlot end)
    : cut_(std::move(cut))
{
    thread_ = std::thread([this, output = std::move(output), startSeconds, endSeconds,
                           progress = std::move(progress), end = std::move(end)] {
        StreamCutControl control;
        control.stop = &stop_;
        control.progress = progress;
        StreamCutResult result;
        try {
            result = cut_->Write(output, startSeconds, endSeconds, control);
        } catch (const std::exception& e) {
            result.end = StreamCutResult::End::Failed;
            result.Error = e.what();
        }
        if (end)
            end(result);
    });
}

TStreamCutTask::~TStreamCutTask()
{
    RequestStop();
    Wait();
}

void TStreamCutTask::Wait()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

}  // namespace clipmora
