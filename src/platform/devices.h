#pragma once

#include "platform/date_formats.h"
#include "platform/disk_space.h"
#include "platform/parallel_port.h"
#include "platform/pc_clock.h"
#include "platform/sound.h"

namespace velkantor::platform {

// The station's optional devices. A null entry is a machine without it: no parallel port
// (nothing written, reads give 0), no sound, no free-space figure, no permission to set the
// PC clock, and the program's own date forms.
struct Devices {
    ParallelPort* parallel_port = nullptr;
    Sound* sound = nullptr;
    const DiskSpace* disk_space = nullptr;
    PcClockSetter* pc_clock = nullptr;
    const DateFormats* date_formats = nullptr;
};

}  // namespace velkantor::platform
