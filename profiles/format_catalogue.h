// The catalogue of output formats as data: the format list the user picks
// from, and for every format its extension, its option lists with their
// default selections, the bit rates its quality levels stand for and the
// columns that say how its selections become engine options. A new device
// profile is a new row in format_catalogue.cpp; profile_options.cpp is the
// code that reads the rows.
#pragma once

#include <array>
#include <span>
#include <string_view>

namespace clipmora {

using TTextList = std::span<const std::string_view>;

// A list's entries and the entry selected when the format is chosen.
struct TListDefault {
    TTextList entries;
    std::string_view selected;
};

// A channel or aspect cell that leaves the user's choice as it was.
inline constexpr std::string_view kUnchanged{};

// Quality levels, best first; "Normal" is the initial level.
inline constexpr int kQualityLevelCount = 5;
inline constexpr int kNormalQuality = 2;
using TQualityRates = std::array<int, kQualityLevelCount>;

// How the selected audio bit-rate entry reads as bits per second.
enum TAudioRateUnit : unsigned char {
    ruAsListed,  // "<n> Kbps" is n * 1000, any other entry ("<n> bps") is n
    ruKbps,      // always "<n> Kbps"; an empty selection reads as 0
};

struct TFormatProfile {
    std::string_view name{};       // as shown in the format list; looked up exactly
    std::string_view extension{};  // upper case, without the dot
    TTextList videoCodecs{};       // the first entry is selected
    TTextList audioCodecs{};       // the first entry is selected
    TListDefault videoSize{};
    TListDefault videoBitrate{};
    TListDefault frameRate{};
    TListDefault audioBitrate{};
    TListDefault samplingRate{};
    std::string_view channels = kUnchanged;  // an entry of kAudioChannelEntries, or kUnchanged
    std::string_view aspect = kUnchanged;    // an entry of kAspectRatioEntries, or kUnchanged
    TQualityRates videoQuality{};  // Kbps per quality level
    TQualityRates audioQuality{};  // in the unit of the audio bit-rate list (Kbps or bps)

    // How the selections become engine options (profile_options.cpp).
    // An audio codec entry the device always uses, whatever its list holds;
    // empty: the selected entry.
    std::string_view fixedAudioCodec{};
    TAudioRateUnit audioRateUnit = ruAsListed;
    bool writesChannels = true;     // false: the channel choice does not apply
    bool writesVideoSwitch = true;  // false: the video switch is left as it was
    // The container, when the extension alone would not give the right one;
    // empty: the engine picks it from the extension.
    std::string_view container{};
};

// The fixed lists, filled once at start-up; a format only moves their selection.
// "4:3 (Standard" without its closing bracket is the program's established
// entry text; keep it as it is.
inline constexpr std::string_view kAudioChannelEntries[] = {"Stereo", "Mono"};
inline constexpr std::string_view kAspectRatioEntries[] = {"Original", "4:3 (Standard",
                                                           "16:9 (Wide Screen)"};
inline constexpr std::string_view kLetterBoxEntries[] = {"None", "LetterBox"};
inline constexpr std::string_view kQualityEntries[] = {"Highest", "Higher", "Normal", "Lower",
                                                       "Lowest"};

// The format list: the formats in catalogue order, in groups divided by
// separator lines (14 blanks and 41 hyphens). The drop-down shows 25 rows.
inline constexpr int kFormatListSize = 33;
inline constexpr int kFormatListRows = 25;
inline constexpr std::string_view kFormatSeparator =
    "              -----------------------------------------";
std::span<const std::string_view, kFormatListSize> FormatListEntries();

// Every format, in list order without the separators.
std::span<const TFormatProfile> FormatProfiles();

// The format whose name equals `name` exactly, or nullptr.
const TFormatProfile* FindFormatProfile(std::string_view name);

}  // namespace clipmora
