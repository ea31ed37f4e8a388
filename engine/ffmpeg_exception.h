// The engine's exception: every rejection inside the engine (a bad option, an
// input that cannot be opened, a failed library call during a run) raises it
// with a fixed English message.
#pragma once

#include <stdexcept>
#include <string>

namespace clipmora {

class FFMpegException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An FFMpegException whose message is a printf-style format filled in.
[[gnu::format(printf, 1, 2)]] FFMpegException FormattedException(const char* format, ...);

}  // namespace clipmora
