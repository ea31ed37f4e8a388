// TMediaType: the description of a stream's format that the frame grabber
// accepts and reports, kept in the playback framework's record layout so
// that its stored "data" form (the 72-byte record followed by the format
// block, little-endian) reads the same on every machine.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace clipmora {

using TGuid = std::array<uint8_t, 16>;  // in its stored byte order

// Builds a GUID from its usual written parts.
TGuid MakeGuid(uint32_t data1, uint16_t data2, uint16_t data3, std::array<uint8_t, 8> data4);

extern const TGuid kMediaTypeVideo;      // 73646976-0000-0010-8000-00AA00389B71
extern const TGuid kMediaSubtypeRgb24;   // E436EB7D-524F-11CE-9F53-0020AF0BA770
extern const TGuid kFormatVideoInfo;     // 05589F80-C356-11CE-BF01-00AA0055595A
extern const TGuid kFormatVideoInfo2;    // F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA

// The picture header a video format block carries.
struct TBitmapHeader {
    int32_t width = 0;
    int32_t height = 0;  // positive: rows stored bottom-up
    uint16_t planes = 1;
    uint16_t bitCount = 0;
    uint32_t imageSize = 0;  // 0: computed from the other fields

    // Bytes per row, rounded up to four; 15 bits per pixel count as 16.
    int Stride() const;
    // imageSize, or stride x height x planes when it is 0.
    int64_t PictureSize() const;
};

class TMediaType {
public:
    static constexpr size_t kRecordSize = 72;

    // All zero but fixed-size samples on and a sample size of 1.
    TMediaType() = default;

    TGuid majortype{};
    TGuid subtype{};
    bool bFixedSizeSamples = true;
    bool bTemporalCompression = false;
    uint32_t lSampleSize = 1;
    TGuid formattype{};
    std::vector<uint8_t> format;  // the format block (cbFormat = its size)

    uint32_t cbFormat() const { return static_cast<uint32_t>(format.size()); }

    // Equal major type, subtype and format type, and byte-equal format blocks.
    bool operator==(const TMediaType& other) const;

    // The stored form: the record (pointers stored as 0) and the format block.
    std::vector<uint8_t> Data() const;
    // Reads the stored form; empty when it is shorter than the record and
    // the format block it announces.
    static std::optional<TMediaType> FromData(const std::vector<uint8_t>& data);

    // A 24-bit RGB video type with a picture header for `width` x `height`
    // (the video-info block of 88 bytes).
    static TMediaType Rgb24Video(int width, int height);
    // The picture header in the format block: at offset 48 of an 88-byte
    // video-info block, at 72 of a 112-byte second-generation block; none
    // for any other type or size.
    std::optional<TBitmapHeader> BitmapHeader() const;
};

}  // namespace clipmora
