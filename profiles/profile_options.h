// The profile controls and what happens to them: filling the fixed lists and
// the format list, loading a format's lists when the format changes, picking
// bit rates by quality level, and turning the selections into the engine's
// output options. Plain data, no GUI: the window mirrors the lists into its
// drop-downs, the command-line front end drives them directly.
//
// Threads: a TProfileControls belongs to one thread (the window's); nothing
// here shares state.
#pragma once

#include "engine/engine_types.h"
#include "profiles/item_list.h"

#include <string>
#include <string_view>

namespace clipmora {

struct TProfileControls {
    TItemList ComboOutputFormat;
    // Lists the user sees.
    TItemList ComboVideoSize;
    TItemList ComboVideoFramerate;
    TItemList ComboAudioChannels;
    TItemList ComboVideoQuality;
    TItemList ComboAudioQuality;
    // Lists the user never sees; the chosen format and quality levels set them.
    TItemList ComboVideoCodec;
    TItemList ComboAudioCodec;
    TItemList ComboVideoBitrate;
    TItemList ComboAudioBitrate;
    TItemList ComboSamplingRate;
    TItemList ComboAspectRatio;
    TItemList ComboLetterBox;  // stored with the settings; enters no option

    std::string OutputExtension;  // the chosen format's extension, upper case, no dot
    int LastFormatIndex = 0;      // last format list entry chosen that is not a separator

    bool operator==(const TProfileControls&) const = default;
};

// Fills the lists that no format replaces: channels "Stereo"/"Mono", aspect
// ratios and letter-box choices with their first entry selected, and the two
// quality lists (FillQualityLists).
void FillFixedLists(TProfileControls& controls);

// The quality lists "Highest" .. "Lowest", with "Normal" selected.
void FillQualityLists(TProfileControls& controls);

// Replaces the format list with the catalogue's 33 entries and selects the first.
void FillFormatList(TProfileControls& controls);

// Whether a format list entry is a separator line (it contains 14 blanks
// followed by 4 hyphens).
bool IsFormatSeparator(std::string_view entry);

// Runs when the format list's selection changes. A separator puts the
// selection back on LastFormatIndex and changes nothing else. Otherwise the
// selected format's lists are loaded (SelectFormatProfile) and its index
// becomes LastFormatIndex. The quality levels are not applied here.
void FormatChangeStep(TProfileControls& controls);

// Loads the lists of the format named `name` with their default selections
// and sets OutputExtension. Returns false, changing nothing, when no format
// has that name.
bool SelectFormatProfile(TProfileControls& controls, std::string_view name);

// Selects the video and audio bit rates that the selected quality levels
// stand for in the selected format. A rate that its list does not hold, or a
// quality list without a selection, leaves that bit rate as it was.
void ApplyQualityLevels(TProfileControls& controls);

// Writes the selected format's codecs, frame size, bit rates, sampling rate,
// channels and video switch into `options`; fields the format does not set
// keep their values. Frame rate, volume and aspect are the caller's. Returns
// false, writing nothing, when the selected entry is not a format.
// Throws ConversionError when a bit rate or sampling rate text does not hold
// a whole number (a list without a selection gives an empty text); nothing
// is written then. The video bit rate is the exception: an entry without a
// number gives 0, which leaves the engine's own rate in force.
bool BuildProfileOptions(const TProfileControls& controls, TOutputOptions& options);

}  // namespace clipmora
