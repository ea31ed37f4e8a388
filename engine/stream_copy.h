// What a stream copy changes in the parameters it takes from its source.
#pragma once

struct AVCodecParameters;

namespace clipmora {

// MP3 and AC-3 frames differ in size, so a block alignment a source's header
// gives them (1, or the samples of one frame, as some muxers write for sound
// of a variable bit rate) describes no packet: written into the copy's
// header as a fixed sample size, it makes readers take the sound for blocks
// of that size. Clears it in `copy` so that the muxer describes the frames
// itself.
void ClearVariableBlockAlign(AVCodecParameters& copy);

}  // namespace clipmora
