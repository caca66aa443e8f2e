#pragma once

#include <string>

namespace velkantor::platform {

// The alarm's sound. Nothing here reports a failure: a missing sound device, player or
// sound file leaves the station silent and the tick goes on.
class Sound {
public:
    virtual ~Sound() = default;
    // Starts playing a sound file and returns at once; it ends by itself.
    virtual void play_file(const std::string& path) = 0;
    // The speaker's steady tone, until tone_off().
    virtual void tone_on(double hertz) = 0;
    virtual void tone_off() = 0;
};

}  // namespace velkantor::platform
