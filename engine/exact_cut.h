// The exact cut's pieces: which pictures of a segment are copied and which
// are re-encoded, the re-encoding of those next to the marks, and the
// parameter sets that let both kinds of pictures stand in one stream.
//
// Pictures that can be decoded from inside the segment are copied unchanged.
// At the start, the pictures from the start mark up to the first key frame
// at or after it (and that key frame's leading pictures, shown before it but
// decoded after it) are decoded from the key frame before the mark and
// re-encoded as a group of their own. At the end, the pictures before the
// end mark that are decoded after a picture shown at or after it (they refer
// to it) are re-encoded likewise, after the copied ones.
#pragma once

#include "engine/library_handles.h"

#include <cstdint>
#include <string>
#include <vector>

namespace clipmora {

// One picture of the source's video stream as stored: in decoding order,
// times in the stream's time base.
struct StoredPicture {
    int64_t pts = 0;
    int64_t dts = AV_NOPTS_VALUE;
    int64_t duration = 0;
    bool key = false;
    // Decoding starts anew here: nothing decoded before it matters (an
    // H.264 IDR picture; any key frame of the other codecs).
    bool restarts = false;
};

// Which pictures go where; times in the stream's time base.
struct ExactCutPlan {
    std::string refusal;        // why the segment cannot be cut exactly; empty when it can
    int64_t firstPts = 0;       // the picture shown at the start mark
    std::vector<int64_t> head;  // re-encoded before the copied pictures, in showing order
    std::vector<int64_t> tail;  // re-encoded after the copied pictures, in showing order
    bool copies = false;        // whether any picture is copied
    int64_t copyStartPts = 0;   // the key frame the copy starts with
    int64_t endLimit = INT64_MAX;  // pictures shown from here on lie after the segment
    // The first picture read that is shown after the segment, where the
    // segment's last picture stops showing; INT64_MAX when none was read.
    int64_t endPts = INT64_MAX;
    int64_t headKeyPts = 0;     // where decoding starts for the head's pictures
    int64_t tailKeyPts = 0;     // where decoding starts for the tail's pictures
    // How far the copied pictures' decoding times lie before their showing
    // times at the copy's start; re-encoded pictures keep that distance so
    // that decoding times rise evenly through the seams.
    int64_t decodeLead = 0;
};

// Plans the cut of `pictures` (decoding order, from a key frame at or before
// the start mark on, up to past the end) between `startTs` and `endTs`
// (INT64_MAX: to the end). A picture belongs to the segment from the one shown
// at the start mark (its time within `toleranceTs` after it counts as at it)
// up to, excluding, the first shown at the end mark.
ExactCutPlan PlanExactCut(const std::vector<StoredPicture>& pictures, int64_t startTs,
                          int64_t endTs, int64_t toleranceTs);

// A video stream's frame rate: its average, else its base rate; 0/1 when it
// states neither.
AVRational StreamFrameRate(const AVStream& stream);
// One picture's length at that rate in the stream's time base; 0 when unknown.
int64_t FrameDuration(const AVStream& stream);

// How the pictures of a codec are re-encoded and how its stream carries its
// parameter sets; null when the exact cut does not handle the codec.
struct ExactCodec;
const ExactCodec* FindExactCodec(AVCodecID codec);

// Re-encodes decoded pictures of one source stream into packets that stand
// beside that stream's copied packets in an output of `muxer`'s type.
class TPictureReencoder {
public:
    TPictureReencoder(const AVStream& source, const AVOutputFormat& muxer);
    TPictureReencoder(const TPictureReencoder&) = delete;
    TPictureReencoder& operator=(const TPictureReencoder&) = delete;

    // Why the source's pictures cannot be re-encoded to match it (the codec,
    // interlacing, an encoder that does not open); empty when they can.
    // Opens a trial encoder, which then encodes the first group.
    std::string Check();

    // Encodes one group of pictures that starts with a picture decoding can
    // start at: BeginGroup, then Add for each decoded source picture in
    // showing order, then EndGroup, which gives the packets in decoding
    // order. Each packet gets its source picture's time and a decoding time
    // `lead` before it. Throws FFMpegException when the encoder fails.
    void BeginGroup();
    void Add(AVFrame& frame, int64_t pts, int64_t duration);
    std::vector<PacketPtr> EndGroup(int64_t lead);

    // The output stream's codec configuration for the stream's own copied
    // pictures and the re-encoded ones (the source's, with the re-encoded
    // pictures' parameter sets where the configuration holds them).
    std::vector<uint8_t> OutputExtradata() const;
    // The sample entry tag the output stream needs (0: the muxer's choice).
    uint32_t OutputTag() const;

    // Whether decoding starts anew at the key frame `packet`: an H.264 key
    // frame that is no IDR picture (a recovery point of an open group)
    // numbers and orders its pictures on from the pictures before it, which
    // re-encoded pictures cannot stand in for.
    bool Restarts(const AVPacket& packet) const;

    // Puts the source's parameter sets in front of a copied key frame that
    // does not carry them itself, where the re-encoded pictures carry their
    // own in the stream (decoders keep the last ones they saw).
    void PrepareCopiedKeyFrame(AVPacket& packet) const;

private:
    CodecContextPtr openEncoder(std::string& why) const;
    // Sets up an encoder for the source's pictures: their description, the
    // frame timing, closed groups without B-frames, the profile and the
    // quality the codec is re-encoded at.
    void configureEncoder(AVCodecContext& context) const;
    void convertPacket(AVPacket& packet) const;
    void drainGroup();

    const AVStream& source_;
    const std::vector<uint8_t> config_;  // the source's codec configuration (extradata)
    const AVOutputFormat& muxer_;
    const ExactCodec* codec_ = nullptr;
    bool lengthPrefixed_ = false;   // NAL units carry lengths, not start codes
    int lengthSize_ = 4;
    bool globalHeader_ = false;     // the output keeps the parameter sets in its header
    int parameterSetId_ = 0;        // the re-encoded pictures' own (H.264)
    std::vector<uint8_t> encoderHeader_;  // the encoder's parameter sets (start codes)
    std::vector<uint8_t> sourceSets_;     // the source's, as its packets carry them

    // The group being encoded.
    CodecContextPtr group_;
    std::vector<PacketPtr> packets_;
    std::vector<int64_t> pts_, durations_;
    int64_t lastEncoderPts_ = 0;
};

}  // namespace clipmora
