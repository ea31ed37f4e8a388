// What the fuzz targets share: binding the codec libraries of the build,
// scratch files for inputs that the code under test reads from disk, and
// splitting a fuzz input into text pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace clipmora::fuzz {

// Binds the codec libraries from the build's Common folder, quietens their
// log and installs the frame server. Aborts when they cannot be bound: a
// target without them would find nothing.
void PrepareLibraries();

// A folder of this process's own under the temporary folder, removed at exit.
const std::string& ScratchFolder();

// Writes `size` bytes to `name` in the scratch folder; returns its path.
std::string WriteScratch(const std::string& name, const uint8_t* data, std::size_t size);

// The input read as lines (LF or NUL ends one; a final piece without one
// counts too).
std::vector<std::string> Lines(const uint8_t* data, std::size_t size);

// Takes a number from the front of the input (fewer bytes when it is
// shorter), for the choices a target makes from its input.
uint32_t TakeNumber(const uint8_t*& data, std::size_t& size);

}  // namespace clipmora::fuzz
