// Plays a short sound held in memory (a WAV file's bytes) and returns when
// it has ended.
#pragma once

#include <QByteArray>

namespace clipmora {

// Plays `wav` to the desktop's sound output (into nothing, at real speed,
// where there is none) and waits until it has ended. False when the bytes
// are not a playable WAV or the sound could not be played. Blocks the
// calling thread for the sound's length.
bool PlayWavSynchronously(const QByteArray& wav);

}  // namespace clipmora
