// What a program does to read segment trim scripts: install the frame server
// in front of the engine's input opening, once, from main().
#pragma once

namespace clipmora::framesrv {

// Installs the trim-script opener for the engine and the probe (see
// engine/input_opener.h): from then on a trim script, unless a format is
// forced, is opened as its segment; every other file as before. Call before
// any task or probe opens a file; calling it again changes nothing.
void InstallFrameServer();

}  // namespace clipmora::framesrv
