// Reading the catalogue into the profile controls, and the option builder
// that turns the controls' selections into a TOutputOptions as the selected
// format's columns direct.
#include "profiles/profile_options.h"

#include "engine/conversions.h"
#include "profiles/format_catalogue.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>

namespace clipmora {
namespace {

void fillList(TItemList& list, TTextList entries)
{
    list.Clear();
    for (std::string_view entry : entries)
        list.Add(entry);
}

void loadList(TItemList& list, const TListDefault& choice)
{
    fillList(list, choice.entries);
    list.SelectText(choice.selected);
}

void loadCodecList(TItemList& list, TTextList codecs)
{
    fillList(list, codecs);
    list.Select(0);
}

// ---- Text rules ----------------------------------------------------------------

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

// The number part of a list entry: everything before the first blank ("" when
// there is none, which then fails to convert).
std::string numberPart(const std::string& text)
{
    const std::size_t blank = text.find(' ');
    return blank == std::string::npos ? std::string() : text.substr(0, blank);
}

// "1200 Kbps" -> 1200000. An entry without a number ("" included) gives 0,
// which leaves the engine's own video bit rate in force.
int kbpsToBps(const std::string& text) { return StrToInt(numberPart(text) + "000"); }

// Audio lists are in Kbps, except the AMR rates which are in bps.
int listedAudioBitrate(const std::string& text)
{
    return contains(text, "Kbps") ? kbpsToBps(text) : StrToInt(numberPart(text));
}

// The frame size option for a size entry: "176 x 144 (QCIF)" -> "176x144".
// "Original Video Size" and "Auto" both mean the source's own size, for
// which no size is written.
std::optional<std::string> frameSizeOf(std::string text)
{
    if (const std::size_t bracket = text.find('('); bracket != std::string::npos)
        text.erase(bracket);
    if (text == "Original Video Size")
        return std::nullopt;
    std::erase(text, ' ');
    if (text == "Auto" || text.empty())
        return std::nullopt;
    return text;
}

// ---- Codec names ----------------------------------------------------------------

struct CodecName {
    std::string_view listed;  // lower-cased list entry
    std::string_view encoder;
};
constexpr CodecName kVideoEncoders[] = {{"h264", "libx264"}, {"xvid", "libxvid"}};
constexpr CodecName kAudioEncoders[] = {
    {"amr_nb", "libamr_nb"}, {"mpeg4aac", "libfaac"}, {"mp3", "libmp3lame"}};

std::string encoderName(std::span<const CodecName> names, const std::string& entry)
{
    const std::string listed = lowerCase(entry);
    for (const CodecName& name : names)
        if (name.listed == listed)
            return std::string(name.encoder);
    return listed;
}

// Output extensions whose files carry audio only. ASF is a container for
// pictures and sound alike, and the ASF format offers a video codec, sizes and
// rates, so it is not among them: its splits keep their picture.
constexpr std::string_view kAudioOnlyExtensions[] = {"aac", "ac3", "au", "mp2", "mp3",
                                                     "wav", "wma", "ra", "m4a", "amr"};

bool isMobileExtension(const std::string& extension)
{
    return extension == "3GP" || extension == "3G2";
}

int audioBitrateOf(const TFormatProfile& profile, const std::string& text)
{
    return profile.audioRateUnit == ruKbps ? kbpsToBps(text) : listedAudioBitrate(text);
}

// Reads and converts every number before it writes anything, so a text that
// does not convert leaves the record as it was.
void buildOptions(const TFormatProfile& profile, const TProfileControls& c, TOutputOptions& o)
{
    const int videoBitrate = kbpsToBps(c.ComboVideoBitrate.SelectedText());
    const int audioBitrate = audioBitrateOf(profile, c.ComboAudioBitrate.SelectedText());
    const int sampleRate = StrToInt(numberPart(c.ComboSamplingRate.SelectedText()));
    const std::optional<std::string> frameSize = frameSizeOf(c.ComboVideoSize.SelectedText());

    o.VideoCodec = encoderName(kVideoEncoders, c.ComboVideoCodec.SelectedText());
    o.AudioCodec = encoderName(kAudioEncoders, profile.fixedAudioCodec.empty()
                                                   ? c.ComboAudioCodec.SelectedText()
                                                   : std::string(profile.fixedAudioCodec));
    if (frameSize)
        o.FrameSize = *frameSize;
    if (profile.writesChannels) {
        o.AudioChannels = c.ComboAudioChannels.SelectedText() == "Stereo" ? 2 : 1;
        // Mobile containers carry AMR audio, which is mono only.
        if (isMobileExtension(c.OutputExtension))
            o.AudioChannels = 1;
    }
    if (profile.writesVideoSwitch) {
        const std::string extension = lowerCase(c.OutputExtension);
        o.DisableVideo =
            std::find(std::begin(kAudioOnlyExtensions), std::end(kAudioOnlyExtensions),
                      extension) != std::end(kAudioOnlyExtensions);
    }
    o.VideoBitrate = videoBitrate;
    o.AudioBitrate = audioBitrate;
    o.AudioSampleRate = sampleRate;
    if (!profile.container.empty())
        o.Format = profile.container;
}

// The quality level selected in `list`, if it is one of the five.
std::optional<std::size_t> qualityLevel(const TItemList& list)
{
    const int index = list.Selected();
    if (index < 0 || index >= kQualityLevelCount)
        return std::nullopt;
    return static_cast<std::size_t>(index);
}

}  // namespace

void FillQualityLists(TProfileControls& controls)
{
    for (TItemList* list : {&controls.ComboVideoQuality, &controls.ComboAudioQuality}) {
        fillList(*list, kQualityEntries);
        list->Select(kNormalQuality);
    }
}

void FillFixedLists(TProfileControls& controls)
{
    fillList(controls.ComboAspectRatio, kAspectRatioEntries);
    controls.ComboAspectRatio.Select(0);
    fillList(controls.ComboLetterBox, kLetterBoxEntries);
    controls.ComboLetterBox.Select(0);
    fillList(controls.ComboAudioChannels, kAudioChannelEntries);
    controls.ComboAudioChannels.Select(0);
    FillQualityLists(controls);
}

void FillFormatList(TProfileControls& controls)
{
    fillList(controls.ComboOutputFormat, FormatListEntries());
    controls.ComboOutputFormat.Select(0);
}

bool IsFormatSeparator(std::string_view entry)
{
    constexpr std::string_view kSeparatorMark = "              ----";  // 14 blanks, 4 hyphens
    return contains(entry, kSeparatorMark);
}

void FormatChangeStep(TProfileControls& controls)
{
    TItemList& formats = controls.ComboOutputFormat;
    if (IsFormatSeparator(formats.SelectedText())) {
        formats.Select(controls.LastFormatIndex);
        return;
    }
    SelectFormatProfile(controls, formats.SelectedText());
    // With nothing selected there is no entry to come back to.
    if (formats.Selected() >= 0)
        controls.LastFormatIndex = formats.Selected();
}

bool SelectFormatProfile(TProfileControls& controls, std::string_view name)
{
    const TFormatProfile* profile = FindFormatProfile(name);
    if (!profile)
        return false;
    controls.OutputExtension = profile->extension;
    loadCodecList(controls.ComboVideoCodec, profile->videoCodecs);
    loadCodecList(controls.ComboAudioCodec, profile->audioCodecs);
    loadList(controls.ComboVideoSize, profile->videoSize);
    loadList(controls.ComboVideoBitrate, profile->videoBitrate);
    loadList(controls.ComboVideoFramerate, profile->frameRate);
    loadList(controls.ComboAudioBitrate, profile->audioBitrate);
    loadList(controls.ComboSamplingRate, profile->samplingRate);
    if (profile->channels != kUnchanged)
        controls.ComboAudioChannels.SelectText(profile->channels);
    if (profile->aspect != kUnchanged)
        controls.ComboAspectRatio.SelectText(profile->aspect);
    return true;
}

void ApplyQualityLevels(TProfileControls& controls)
{
    const TFormatProfile* profile = FindFormatProfile(controls.ComboOutputFormat.SelectedText());
    if (!profile)
        return;
    if (const auto level = qualityLevel(controls.ComboVideoQuality))
        controls.ComboVideoBitrate.SelectText(std::to_string(profile->videoQuality[*level]) +
                                              " Kbps");
    if (const auto level = qualityLevel(controls.ComboAudioQuality)) {
        // The rates are in the unit of the format's audio list.
        const char* unit =
            contains(controls.ComboAudioBitrate.SelectedText(), "Kbps") ? " Kbps" : " bps";
        controls.ComboAudioBitrate.SelectText(std::to_string(profile->audioQuality[*level]) +
                                              unit);
    }
}

bool BuildProfileOptions(const TProfileControls& controls, TOutputOptions& options)
{
    const TFormatProfile* profile = FindFormatProfile(controls.ComboOutputFormat.SelectedText());
    if (!profile)
        return false;
    buildOptions(*profile, controls, options);
    return true;
}

}  // namespace clipmora
