// The preview layer's exceptions.
#pragma once

#include <stdexcept>
#include <string>

namespace clipmora {

// A playback framework call failed. The text is the one the user sees.
class EDirectShowException : public std::runtime_error {
public:
    explicit EDirectShowException(int status)
        : std::runtime_error("No Video Codec To Play This File!"), status_(status)
    {
    }
    int Status() const { return status_; }

private:
    int status_;
};

// The preview components were asked for something this system cannot give.
class EPreviewException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace clipmora
