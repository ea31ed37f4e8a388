// The exact cut: planning, re-encoding next to the marks, parameter sets.
#include "engine/exact_cut.h"

#include "engine/error_text.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_exception.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>

namespace clipmora {

// How a codec's stream carries what decoders need before its pictures.
enum class ParameterSets {
    H264,        // NAL units; SPS and PPS carry ids, so both kinds live side by side
    Hevc,        // NAL units; the re-encoded pictures carry theirs in the stream
    StartCodes,  // MPEG-2 / MPEG-4 Part 2 headers in the stream, no ids
};

struct ExactCodec {
    AVCodecID id;
    const char* encoder;
    ParameterSets sets;
    // The encoder counts time in frame intervals (the MPEG video encoders
    // take only the stream's own frame rate).
    bool frameTimeBase;
    // Private options of the encoder: high quality, no pictures predicted
    // from later ones, quiet.
    const char* options;
};

namespace {

constexpr std::array kExactCodecs{
    ExactCodec{AV_CODEC_ID_H264, "libx264", ParameterSets::H264, false, "preset=ultrafast:crf=16"},
    ExactCodec{AV_CODEC_ID_HEVC, "libx265", ParameterSets::Hevc, false,
               "preset=fast:crf=16:x265-params=log-level=error:open-gop=0"},
    ExactCodec{AV_CODEC_ID_MPEG2VIDEO, "mpeg2video", ParameterSets::StartCodes, true,
               "sc_threshold=1000000000"},
    ExactCodec{AV_CODEC_ID_MPEG4, "mpeg4", ParameterSets::StartCodes, true,
               "sc_threshold=1000000000"},
};

constexpr uint8_t kStartCode[] = {0, 0, 1};
constexpr int kH264Sps = 7, kH264Pps = 8;
constexpr int kHevcVps = 32, kHevcPps = 34;

// The NAL units of `data`, with start codes or with `lengthSize`-byte lengths.
template <typename Visit>
void forEachNal(const uint8_t* data, size_t size, bool lengthPrefixed, int lengthSize, Visit visit)
{
    if (lengthPrefixed) {
        size_t at = 0;
        while (at + lengthSize <= size) {
            size_t length = 0;
            for (int i = 0; i < lengthSize; ++i)
                length = (length << 8) | data[at + i];
            at += lengthSize;
            if (length > size - at)
                return;
            visit(data + at, length);
            at += length;
        }
        return;
    }
    const uint8_t* end = data + size;
    const uint8_t* nal = std::search(data, end, std::begin(kStartCode), std::end(kStartCode));
    while (nal != end) {
        nal += 3;
        const uint8_t* next = std::search(nal, end, std::begin(kStartCode), std::end(kStartCode));
        const uint8_t* last = next;
        // The zero before a four-byte start code belongs to it.
        while (last > nal && next != end && last[-1] == 0)
            --last;
        if (last > nal)
            visit(nal, static_cast<size_t>(last - nal));
        nal = next;
    }
}

int h264Type(const uint8_t* nal) { return nal[0] & 0x1f; }
int hevcType(const uint8_t* nal) { return (nal[0] >> 1) & 0x3f; }

// Reads Exp-Golomb numbers from a NAL unit's payload, skipping emulation
// prevention bytes.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    int bit()
    {
        if (bit_ == 0) {
            if (at_ >= 2 && data_[at_ - 1] == 0 && data_[at_ - 2] == 0 && at_ < size_ &&
                data_[at_] == 3)
                ++at_;
            if (at_ >= size_)
                return 0;
            byte_ = data_[at_++];
            bit_ = 8;
        }
        return (byte_ >> --bit_) & 1;
    }
    unsigned bits(int count)
    {
        unsigned value = 0;
        while (count-- > 0)
            value = (value << 1) | static_cast<unsigned>(bit());
        return value;
    }
    unsigned golomb()
    {
        int zeros = 0;
        while (bit() == 0 && zeros < 31)
            ++zeros;
        return (1u << zeros) - 1 + bits(zeros);
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    uint8_t byte_ = 0;
    int bit_ = 0;
};

// The ids an H.264 SPS or PPS takes.
void noteH264Ids(const uint8_t* nal, size_t size, std::set<unsigned>& ids)
{
    if (size < 2)
        return;
    BitReader reader(nal + 1, size - 1);
    if (h264Type(nal) == kH264Sps) {
        reader.bits(24);  // profile, constraints, level
        ids.insert(reader.golomb());
    } else if (h264Type(nal) == kH264Pps) {
        ids.insert(reader.golomb());
    }
}

void appendNal(std::vector<uint8_t>& out, const uint8_t* nal, size_t size, bool lengthPrefixed,
               int lengthSize)
{
    if (lengthPrefixed)
        for (int i = lengthSize - 1; i >= 0; --i)
            out.push_back(static_cast<uint8_t>(size >> (8 * i)));
    else
        out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), nal, nal + size);
}

void appendBigEndian16(std::vector<uint8_t>& out, size_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

constexpr size_t kUnreadable = SIZE_MAX;

// The parameter-set NAL units of an H.264 or HEVC configuration record
// (avcC / hvcC), by visiting each. Returns where the lists end in the
// record, kUnreadable when it is cut short.
template <typename Visit>
size_t forEachConfigNal(const std::vector<uint8_t>& config, bool hevc, Visit visit)
{
    const size_t size = config.size();
    size_t at = 0;
    auto readList = [&](size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (at + 2 > size)
                return false;
            const size_t length = (size_t{config[at]} << 8) | config[at + 1];
            at += 2;
            if (length > size - at)
                return false;
            visit(config.data() + at, length);
            at += length;
        }
        return true;
    };
    if (hevc) {
        if (size < 23)
            return kUnreadable;
        const size_t arrays = config[22];
        at = 23;
        for (size_t i = 0; i < arrays; ++i) {
            if (at + 3 > size)
                return kUnreadable;
            const size_t count = (size_t{config[at + 1]} << 8) | config[at + 2];
            at += 3;
            if (!readList(count))
                return kUnreadable;
        }
        return at;
    }
    if (size < 7)
        return kUnreadable;
    at = 6;
    if (!readList(config[5] & 0x1f) || at >= size)
        return kUnreadable;
    const size_t pictureSets = config[at++];
    return readList(pictureSets) ? at : kUnreadable;
}

// An avcC record that holds `extra`'s SPS and PPS units after its own.
std::vector<uint8_t> avcConfigWith(const std::vector<uint8_t>& config,
                                   const std::vector<uint8_t>& extra)
{
    std::vector<std::vector<uint8_t>> sequence, picture;
    auto sortUnit = [&](const uint8_t* nal, size_t size) {
        if (size == 0)
            return;
        if (h264Type(nal) == kH264Sps)
            sequence.emplace_back(nal, nal + size);
        else if (h264Type(nal) == kH264Pps)
            picture.emplace_back(nal, nal + size);
    };
    const size_t rest = forEachConfigNal(config, false, sortUnit);
    if (rest == kUnreadable)
        throw FFMpegException("the stream's description of its pictures cannot be read");
    const size_t ownSequence = sequence.size(), ownPicture = picture.size();
    forEachNal(extra.data(), extra.size(), false, 4, sortUnit);
    if (sequence.size() == ownSequence || picture.size() == ownPicture || sequence.size() > 31 ||
        picture.size() > 255)
        throw FFMpegException("the re-encoded pictures' parameter sets do not fit the stream's");

    // Header fields, then the lists, then what follows them (the chroma and
    // bit depth fields of the higher profiles).
    std::vector<uint8_t> out(config.begin(), config.begin() + 5);
    out.push_back(static_cast<uint8_t>(0xe0 | sequence.size()));
    for (const auto& unit : sequence) {
        appendBigEndian16(out, unit.size());
        out.insert(out.end(), unit.begin(), unit.end());
    }
    out.push_back(static_cast<uint8_t>(picture.size()));
    for (const auto& unit : picture) {
        appendBigEndian16(out, unit.size());
        out.insert(out.end(), unit.begin(), unit.end());
    }
    out.insert(out.end(), config.begin() + static_cast<std::ptrdiff_t>(rest), config.end());
    return out;
}

bool interlaced(AVFieldOrder order)
{
    return order == AV_FIELD_TT || order == AV_FIELD_BB || order == AV_FIELD_TB ||
           order == AV_FIELD_BT;
}

// Sets "key=value:key=value" private options; a value may hold further
// colons after its key's '=' only as the last option.
void setOptions(AVCodecContext& context, std::string_view options)
{
    while (!options.empty()) {
        const size_t equals = options.find('=');
        if (equals == std::string_view::npos)
            return;
        const std::string key(options.substr(0, equals));
        options.remove_prefix(equals + 1);
        const bool last = key.find("-params") != std::string::npos;
        const size_t colon = last ? std::string_view::npos : options.find(':');
        const std::string value(options.substr(0, colon));
        options = colon == std::string_view::npos ? std::string_view{} : options.substr(colon + 1);
        lib.av_opt_set(context.priv_data, key.c_str(), value.c_str(), 0);
    }
}

// Gives `packet` the contents `data`, keeping its times and flags.
void replaceData(AVPacket& packet, const std::vector<uint8_t>& data)
{
    PacketPtr replaced(lib.av_packet_alloc());
    if (!replaced || lib.av_new_packet(replaced.get(), static_cast<int>(data.size())) < 0 ||
        lib.av_packet_copy_props(replaced.get(), &packet) < 0)
        throw FFMpegException("out of memory");
    std::copy(data.begin(), data.end(), replaced->data);
    lib.av_packet_unref(&packet);
    lib.av_packet_move_ref(&packet, replaced.get());
}

// A colour description field as a file gave it, or `unknown` when it holds
// a value outside the libraries' list (a damaged or reserved header value:
// the decoders copy those as they stand). Read through its bytes, as reading
// such a value as the enumeration is itself undefined.
template <typename Enum>
Enum knownOr(const Enum& field, int count, Enum unknown)
{
    static_assert(sizeof(Enum) == sizeof(int));
    int value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value >= 0 && value < count ? static_cast<Enum>(value) : unknown;
}

// The source's pictures as the encoder is to take them: size, format,
// aspect and colour description, field order.
void describePictures(AVCodecContext* context, const AVCodecParameters& par)
{
    context->width = par.width;
    context->height = par.height;
    context->pix_fmt = static_cast<AVPixelFormat>(par.format);
    // The aspect the pictures' own headers give (a container's may differ):
    // decoders start afresh where it changes.
    context->sample_aspect_ratio = par.sample_aspect_ratio;
    context->color_range = knownOr(par.color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    context->color_primaries =
        knownOr(par.color_primaries, AVCOL_PRI_NB, AVCOL_PRI_UNSPECIFIED);
    context->color_trc = knownOr(par.color_trc, AVCOL_TRC_NB, AVCOL_TRC_UNSPECIFIED);
    context->colorspace = knownOr(par.color_space, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    context->chroma_sample_location =
        knownOr(par.chroma_location, AVCHROMA_LOC_NB, AVCHROMA_LOC_UNSPECIFIED);
    context->field_order = knownOr(par.field_order, AV_FIELD_BT + 1, AV_FIELD_UNKNOWN);
}

// The picture on show at `limit`; the first one when it lies before every
// picture.
int64_t shownAt(const std::vector<StoredPicture>& pictures, int64_t limit)
{
    int64_t shown = INT64_MIN, lowest = INT64_MAX;
    for (const StoredPicture& p : pictures) {
        lowest = std::min(lowest, p.pts);
        if (p.pts <= limit)
            shown = std::max(shown, p.pts);
    }
    return shown == INT64_MIN ? lowest : shown;
}

bool inSegment(const ExactCutPlan& plan, const StoredPicture& p)
{
    return p.pts >= plan.firstPts && p.pts < plan.endLimit;
}

// The pictures' times in showing order.
std::vector<int64_t> showingTimes(std::vector<StoredPicture> pictures)
{
    std::sort(pictures.begin(), pictures.end(),
              [](const StoredPicture& a, const StoredPicture& b) { return a.pts < b.pts; });
    std::vector<int64_t> times;
    for (const StoredPicture& p : pictures)
        times.push_back(p.pts);
    return times;
}

// Plans a cut that copies from the key frame at `copyStart`: the segment's
// pictures shown before it go to `head`, those decoded after the first
// picture at or past the end to `tail`. False, with the plan's refusal, when
// the pictures are stored in an order that cannot be cut there.
bool splitAroundCopy(ExactCutPlan& plan, const std::vector<StoredPicture>& pictures,
                     std::vector<StoredPicture>::const_iterator copyStart,
                     std::vector<StoredPicture>& head, std::vector<StoredPicture>& tail)
{
    plan.copies = true;
    plan.copyStartPts = copyStart->pts;
    plan.decodeLead = copyStart->dts == AV_NOPTS_VALUE
                          ? 0
                          : std::max<int64_t>(0, copyStart->pts - copyStart->dts);
    // The first picture shown at or after the end mark that is decoded
    // after the copy's start: pictures decoded after it may refer to it.
    const auto end = std::find_if(copyStart, pictures.end(), [&](const StoredPicture& p) {
        return p.pts >= plan.endLimit;
    });
    int64_t lastCopied = INT64_MIN;
    for (auto p = pictures.begin(); p != pictures.end(); ++p) {
        if (!inSegment(plan, *p))
            continue;
        if (p->pts < copyStart->pts)
            head.push_back(*p);
        else if (p < copyStart) {
            plan.refusal = "a picture stored before a key frame is shown after it";
            return false;
        } else if (end != pictures.end() && p > end)
            tail.push_back(*p);
        else
            lastCopied = std::max(lastCopied, p->pts);
    }
    if (tail.empty())
        return true;
    const auto earliest = std::min_element(
        tail.begin(), tail.end(),
        [](const StoredPicture& a, const StoredPicture& b) { return a.pts < b.pts; });
    if (earliest->pts < lastCopied) {
        plan.refusal = "its last pictures before the end mark are stored in an order "
                       "that cannot be cut there";
        return false;
    }
    // Decoding for the tail starts at the last key frame before the
    // picture it refers to.
    for (auto p = pictures.begin(); p <= end; ++p)
        if (p->key)
            plan.tailKeyPts = p->pts;
    return true;
}

}  // namespace

AVRational StreamFrameRate(const AVStream& stream)
{
    for (const AVRational rate : {stream.avg_frame_rate, stream.r_frame_rate})
        if (rate.num > 0 && rate.den > 0)
            return rate;
    return AVRational{0, 1};
}

int64_t FrameDuration(const AVStream& stream)
{
    const AVRational rate = StreamFrameRate(stream);
    return rate.num > 0 ? lib.av_rescale_q(1, AVRational{rate.den, rate.num}, stream.time_base) : 0;
}

const ExactCodec* FindExactCodec(AVCodecID codec)
{
    for (const ExactCodec& entry : kExactCodecs)
        if (entry.id == codec)
            return &entry;
    return nullptr;
}

ExactCutPlan PlanExactCut(const std::vector<StoredPicture>& pictures, int64_t startTs,
                          int64_t endTs, int64_t toleranceTs)
{
    ExactCutPlan plan;
    if (pictures.empty()) {
        plan.refusal = "no picture lies between the marks";
        return plan;
    }
    if (std::any_of(pictures.begin(), pictures.end(),
                    [](const StoredPicture& p) { return p.pts == AV_NOPTS_VALUE; })) {
        plan.refusal = "its pictures do not all say when they are shown";
        return plan;
    }
    plan.firstPts = shownAt(pictures, startTs + toleranceTs);
    plan.endLimit = endTs == INT64_MAX ? INT64_MAX : endTs - toleranceTs;
    plan.headKeyPts = pictures.front().pts;
    for (const StoredPicture& p : pictures)
        if (p.pts >= plan.endLimit)
            plan.endPts = std::min(plan.endPts, p.pts);

    // The copy starts at the first key frame at or after the first picture
    // where decoding starts anew.
    const auto copyStart = std::find_if(pictures.begin(), pictures.end(), [&](const StoredPicture& p) {
        return p.key && p.restarts && inSegment(plan, p);
    });
    std::vector<StoredPicture> head, tail;
    if (copyStart == pictures.end()) {
        // A segment within one group: every picture is re-encoded.
        std::copy_if(pictures.begin(), pictures.end(), std::back_inserter(head),
                     [&](const StoredPicture& p) { return inSegment(plan, p); });
    } else if (!splitAroundCopy(plan, pictures, copyStart, head, tail)) {
        return plan;
    }
    plan.head = showingTimes(std::move(head));
    plan.tail = showingTimes(std::move(tail));
    if (plan.head.empty() && copyStart == pictures.end())
        plan.refusal = "no picture lies between the marks";
    return plan;
}

TPictureReencoder::TPictureReencoder(const AVStream& source, const AVOutputFormat& muxer)
    : source_(source),
      config_(source.codecpar->extradata,
              source.codecpar->extradata + source.codecpar->extradata_size),
      muxer_(muxer),
      codec_(FindExactCodec(source.codecpar->codec_id))
{
    const std::vector<uint8_t>& extradata = config_;
    if (!codec_)
        return;
    const bool nalCodec = codec_->sets != ParameterSets::StartCodes;
    const bool hevc = codec_->sets == ParameterSets::Hevc;
    lengthPrefixed_ = nalCodec && extradata.size() > (hevc ? 22u : 6u) && extradata[0] == 1;
    if (lengthPrefixed_)
        lengthSize_ = (extradata[hevc ? 21 : 4] & 3) + 1;
    globalHeader_ = codec_->sets == ParameterSets::H264 && lengthPrefixed_;
    if (codec_->sets == ParameterSets::StartCodes || (hevc && !lengthPrefixed_)) {
        sourceSets_ = extradata;
    } else if (hevc) {
        forEachConfigNal(extradata, true, [this](const uint8_t* nal, size_t size) {
            if (size > 0 && hevcType(nal) >= kHevcVps && hevcType(nal) <= kHevcPps)
                appendNal(sourceSets_, nal, size, true, lengthSize_);
        });
    }
}

std::string TPictureReencoder::Check()
{
    const AVCodecParameters& par = *source_.codecpar;
    if (!codec_)
        return std::string("its \"") + lib.avcodec_get_name(par.codec_id) +
               "\" pictures cannot be re-encoded to match them";
    // A configuration record too short to hold its own lists.
    if (codec_->sets != ParameterSets::StartCodes && !lengthPrefixed_ && !config_.empty() &&
        config_[0] == 1)
        return "the stream's description of its pictures cannot be read";
    if (interlaced(knownOr(par.field_order, AV_FIELD_BT + 1, AV_FIELD_UNKNOWN)))
        return "its pictures are interlaced";
    if (codec_->sets == ParameterSets::H264) {
        // The re-encoded pictures get parameter-set ids the source does not use.
        std::set<unsigned> used;
        const auto note = [&used](const uint8_t* nal, size_t size) { noteH264Ids(nal, size, used); };
        if (lengthPrefixed_)
            forEachConfigNal(config_, false, note);
        else
            forEachNal(config_.data(), config_.size(), false, 4, note);
        parameterSetId_ = 1;
        while (used.count(static_cast<unsigned>(parameterSetId_)))
            ++parameterSetId_;
        if (parameterSetId_ > 31)
            return "its stream uses every parameter-set id";
    }
    // The trial encoder encodes the first group.
    std::string why;
    {
            group_ = openEncoder(why);
    }
    if (!group_)
        return why;
    if (globalHeader_)
        encoderHeader_.assign(group_->extradata, group_->extradata + group_->extradata_size);
    return {};
}

void TPictureReencoder::configureEncoder(AVCodecContext& context) const
{
    const AVCodecParameters& par = *source_.codecpar;
    const AVRational stated = StreamFrameRate(source_);
    const AVRational rate = stated.num > 0 ? stated : AVRational{25, 1};
    describePictures(&context, par);
    context.framerate = rate;
    context.time_base = codec_->frameTimeBase ? AVRational{rate.den, rate.num} : source_.time_base;
    context.max_b_frames = 0;
    context.gop_size = codec_->frameTimeBase ? 300 : 100000;
    context.flags |= AV_CODEC_FLAG_CLOSED_GOP;
    if (globalHeader_)
        context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (codec_->sets == ParameterSets::H264) {
        // The source's own profile and level, so that one description
        // covers both kinds of pictures.
        if (par.profile > 0)
            context.profile = par.profile & ~(FF_PROFILE_H264_CONSTRAINED | FF_PROFILE_H264_INTRA);
        if (par.level > 0)
            context.level = par.level;
    }
    if (codec_->frameTimeBase) {
        context.flags |= AV_CODEC_FLAG_QSCALE;
        context.global_quality = FF_QP2LAMBDA * 2;
        context.qmin = 1;
    }
    setOptions(context, codec_->options);
    if (codec_->sets == ParameterSets::H264)
        lib.av_opt_set(context.priv_data, "x264-params",
                       ("sps-id=" + std::to_string(parameterSetId_)).c_str(), 0);
}

CodecContextPtr TPictureReencoder::openEncoder(std::string& why) const
{
    const AVCodec* encoder = lib.avcodec_find_encoder_by_name(codec_->encoder);
    if (!encoder) {
        why = std::string("the \"") + codec_->encoder + "\" encoder is not available";
        return {};
    }
    CodecContextPtr context(lib.avcodec_alloc_context3(encoder));
    if (!context) {
        why = "out of memory";
        return {};
    }
    configureEncoder(*context);
    int code = 0;
    {
        std::lock_guard guard(TCustomFFmpeg::CodecLock());
        code = lib.avcodec_open2(context.get(), encoder, nullptr);
    }
    if (code < 0) {
        const char* format = lib.av_get_pix_fmt_name(context->pix_fmt);
        const AVCodecParameters& par = *source_.codecpar;
        why = std::string("the \"") + codec_->encoder + "\" encoder does not take its pictures (" +
              (format ? format : "unknown format") + ", " + std::to_string(par.width) + "x" +
              std::to_string(par.height) + ")";
        return {};
    }
    return context;
}

void TPictureReencoder::BeginGroup()
{
    std::string why;
    if (!group_)
        group_ = openEncoder(why);
    if (!group_)
        throw FFMpegException(why);
    if (globalHeader_ &&
        !std::equal(encoderHeader_.begin(), encoderHeader_.end(), group_->extradata,
                    group_->extradata + group_->extradata_size))
        throw FFMpegException("the encoder's parameter sets changed between two groups");
    packets_.clear();
    pts_.clear();
    durations_.clear();
}

void TPictureReencoder::drainGroup()
{
    for (;;) {
        PacketPtr packet(lib.av_packet_alloc());
        if (!packet)
            throw FFMpegException("out of memory");
        const int code = lib.avcodec_receive_packet(group_.get(), packet.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
            return;
        if (code < 0)
            throw FFMpegException(LibraryErrorText(codec_->encoder, code));
        packets_.push_back(std::move(packet));
    }
}

void TPictureReencoder::Add(AVFrame& frame, int64_t pts, int64_t duration)
{
    frame.pict_type = AV_PICTURE_TYPE_NONE;
    // Rising times in the encoder's time base.
    const int64_t time = pts_.empty() ? 0
                                      : lib.av_rescale_q(pts - pts_.front(), source_.time_base,
                                                         group_->time_base);
    lastEncoderPts_ = pts_.empty() ? 0 : std::max(lastEncoderPts_ + 1, time);
    frame.pts = lastEncoderPts_;
    pts_.push_back(pts);
    durations_.push_back(duration);
    if (const int code = lib.avcodec_send_frame(group_.get(), &frame); code < 0)
        throw FFMpegException(LibraryErrorText(codec_->encoder, code));
    drainGroup();
}

std::vector<PacketPtr> TPictureReencoder::EndGroup(int64_t lead)
{
    if (const int code = lib.avcodec_send_frame(group_.get(), nullptr); code < 0)
        throw FFMpegException(LibraryErrorText(codec_->encoder, code));
    drainGroup();
    group_.reset();
    if (packets_.size() != pts_.size())
        throw FFMpegException("the encoder did not give one picture for each it was given");
    // Without pictures predicted from later ones, packets come in showing order.
    for (size_t i = 0; i < packets_.size(); ++i) {
        AVPacket& packet = *packets_[i];
        packet.pts = pts_[i];
        packet.dts = pts_[i] - lead;
        packet.duration = durations_[i];
        if (i == 0)
            packet.flags |= AV_PKT_FLAG_KEY;
        convertPacket(packet);
    }
    return std::move(packets_);
}

// The encoder writes start codes; a stream whose packets carry lengths
// gets lengths, without the parameter sets its configuration holds.
void TPictureReencoder::convertPacket(AVPacket& packet) const
{
    if (!lengthPrefixed_)
        return;
    std::vector<uint8_t> converted;
    forEachNal(packet.data, static_cast<size_t>(packet.size), false, 4,
               [&](const uint8_t* nal, size_t size) {
                   if (globalHeader_ && (h264Type(nal) == kH264Sps || h264Type(nal) == kH264Pps))
                       return;
                   appendNal(converted, nal, size, true, lengthSize_);
               });
    replaceData(packet, converted);
}

std::vector<uint8_t> TPictureReencoder::OutputExtradata() const
{
    return globalHeader_ ? avcConfigWith(config_, encoderHeader_) : config_;
}

uint32_t TPictureReencoder::OutputTag() const
{
    // An MP4 or QuickTime HEVC stream whose sample entry allows parameter
    // sets in the stream.
    const std::string_view name = muxer_.name;
    if (codec_ && codec_->sets == ParameterSets::Hevc &&
        (name == "mp4" || name == "mov" || name == "ipod" || name == "ismv"))
        return MKTAG('h', 'e', 'v', '1');
    return 0;
}

bool TPictureReencoder::Restarts(const AVPacket& packet) const
{
    if (!codec_ || codec_->sets != ParameterSets::H264)
        return true;
    bool idr = false;
    forEachNal(packet.data, static_cast<size_t>(packet.size), lengthPrefixed_, lengthSize_,
               [&](const uint8_t* nal, size_t size) { idr = idr || (size > 0 && h264Type(nal) == 5); });
    return idr;
}

void TPictureReencoder::PrepareCopiedKeyFrame(AVPacket& packet) const
{
    if (!codec_ || codec_->sets == ParameterSets::H264 || sourceSets_.empty())
        return;
    bool carries = false;
    if (codec_->sets == ParameterSets::Hevc) {
        forEachNal(packet.data, static_cast<size_t>(packet.size), lengthPrefixed_, lengthSize_,
                   [&](const uint8_t* nal, size_t size) {
                       carries = carries ||
                                 (size > 0 && hevcType(nal) >= kHevcVps && hevcType(nal) <= kHevcPps);
                   });
    } else {
        // A sequence header (MPEG-2) or a video object layer (MPEG-4). The
        // MPEG-2 code is MPEG-4's group of pictures, which says nothing of
        // how the pictures are coded.
        const bool mpeg2 = codec_->id == AV_CODEC_ID_MPEG2VIDEO;
        const uint8_t* end = packet.data + packet.size;
        for (const uint8_t* at = packet.data; !carries && end - at >= 4; ++at) {
            at = std::search(at, end, std::begin(kStartCode), std::end(kStartCode));
            if (end - at < 4)
                break;
            carries = mpeg2 ? at[3] == 0xb3 : at[3] >= 0x20 && at[3] <= 0x2f;
        }
    }
    if (carries)
        return;
    std::vector<uint8_t> prefixed(sourceSets_);
    prefixed.insert(prefixed.end(), packet.data, packet.data + packet.size);
    replaceData(packet, prefixed);
}

}  // namespace clipmora
