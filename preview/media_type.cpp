// Media types: GUIDs, the stored record and the picture header of video
// format blocks.
#include "preview/media_type.h"

#include <cstring>

namespace clipmora {
namespace {

// Record offsets.
constexpr size_t kMajorAt = 0, kSubAt = 16, kFixedAt = 32, kTemporalAt = 36, kSampleSizeAt = 40,
                 kFormatTypeAt = 44, kFormatSizeAt = 64;

// Video format blocks and where their picture header starts.
constexpr size_t kVideoInfoSize = 88, kVideoInfoHeaderAt = 48;
constexpr size_t kVideoInfo2Size = 112, kVideoInfo2HeaderAt = 72;
constexpr uint32_t kBitmapHeaderSize = 40;

void put32(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    for (int byte = 0; byte < 4; ++byte)
        out[at + byte] = static_cast<uint8_t>(value >> (8 * byte));
}

void put16(std::vector<uint8_t>& out, size_t at, uint16_t value)
{
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

uint32_t get32(const uint8_t* at)
{
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

uint16_t get16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }

TGuid guidAt(const uint8_t* at)
{
    TGuid guid;
    std::memcpy(guid.data(), at, guid.size());
    return guid;
}

}  // namespace

TGuid MakeGuid(uint32_t data1, uint16_t data2, uint16_t data3, std::array<uint8_t, 8> data4)
{
    std::vector<uint8_t> bytes(16);
    put32(bytes, 0, data1);
    put16(bytes, 4, data2);
    put16(bytes, 6, data3);
    std::memcpy(bytes.data() + 8, data4.data(), data4.size());
    return guidAt(bytes.data());
}

const TGuid kMediaTypeVideo =
    MakeGuid(0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
const TGuid kMediaSubtypeRgb24 =
    MakeGuid(0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70});
const TGuid kFormatVideoInfo =
    MakeGuid(0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A});
const TGuid kFormatVideoInfo2 =
    MakeGuid(0xF72A76A0, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA});

int TBitmapHeader::Stride() const
{
    const int bits = bitCount == 15 ? 16 : bitCount;
    return static_cast<int>(((int64_t{width} * bits + 31) / 32) * 4);
}

int64_t TBitmapHeader::PictureSize() const
{
    if (imageSize != 0)
        return imageSize;
    const int64_t rows = height < 0 ? -int64_t{height} : int64_t{height};
    return int64_t{Stride()} * rows * planes;
}

bool TMediaType::operator==(const TMediaType& other) const
{
    return majortype == other.majortype && subtype == other.subtype &&
           formattype == other.formattype && format == other.format;
}

std::vector<uint8_t> TMediaType::Data() const
{
    std::vector<uint8_t> out(kRecordSize + format.size(), 0);
    std::memcpy(out.data() + kMajorAt, majortype.data(), 16);
    std::memcpy(out.data() + kSubAt, subtype.data(), 16);
    put32(out, kFixedAt, bFixedSizeSamples ? 0xFFFFFFFFu : 0);
    put32(out, kTemporalAt, bTemporalCompression ? 0xFFFFFFFFu : 0);
    put32(out, kSampleSizeAt, lSampleSize);
    std::memcpy(out.data() + kFormatTypeAt, formattype.data(), 16);
    put32(out, kFormatSizeAt, cbFormat());
    if (!format.empty())
        std::memcpy(out.data() + kRecordSize, format.data(), format.size());
    return out;
}

std::optional<TMediaType> TMediaType::FromData(const std::vector<uint8_t>& data)
{
    if (data.size() < kRecordSize)
        return std::nullopt;
    const uint8_t* at = data.data();
    const uint32_t formatSize = get32(at + kFormatSizeAt);
    if (data.size() - kRecordSize < formatSize)
        return std::nullopt;
    TMediaType type;
    type.majortype = guidAt(at + kMajorAt);
    type.subtype = guidAt(at + kSubAt);
    type.bFixedSizeSamples = get32(at + kFixedAt) != 0;
    type.bTemporalCompression = get32(at + kTemporalAt) != 0;
    type.lSampleSize = get32(at + kSampleSizeAt);
    type.formattype = guidAt(at + kFormatTypeAt);
    type.format.assign(at + kRecordSize, at + kRecordSize + formatSize);
    return type;
}

TMediaType TMediaType::Rgb24Video(int width, int height)
{
    TMediaType type;
    type.majortype = kMediaTypeVideo;
    type.subtype = kMediaSubtypeRgb24;
    type.formattype = kFormatVideoInfo;
    type.format.assign(kVideoInfoSize, 0);
    TBitmapHeader header;
    header.width = width;
    header.height = height;
    header.bitCount = 24;
    const size_t at = kVideoInfoHeaderAt;
    put32(type.format, at, kBitmapHeaderSize);
    put32(type.format, at + 4, static_cast<uint32_t>(width));
    put32(type.format, at + 8, static_cast<uint32_t>(height));
    put16(type.format, at + 12, 1);
    put16(type.format, at + 14, 24);
    put32(type.format, at + 20, static_cast<uint32_t>(header.PictureSize()));
    type.lSampleSize = static_cast<uint32_t>(header.PictureSize());
    return type;
}

std::optional<TBitmapHeader> TMediaType::BitmapHeader() const
{
    if (majortype != kMediaTypeVideo)
        return std::nullopt;
    size_t at = 0;
    if (formattype == kFormatVideoInfo && format.size() == kVideoInfoSize)
        at = kVideoInfoHeaderAt;
    else if (formattype == kFormatVideoInfo2 && format.size() == kVideoInfo2Size)
        at = kVideoInfo2HeaderAt;
    else
        return std::nullopt;
    const uint8_t* header = format.data() + at;
    TBitmapHeader result;
    result.width = static_cast<int32_t>(get32(header + 4));
    result.height = static_cast<int32_t>(get32(header + 8));
    result.planes = get16(header + 12);
    result.bitCount = get16(header + 14);
    result.imageSize = get32(header + 20);
    return result;
}

}  // namespace clipmora
