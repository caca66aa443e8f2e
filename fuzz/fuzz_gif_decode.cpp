// Any bytes as a drum or spectrum image in GIF form (a file in the drums folder): the decoder
// must refuse or read it without crashing or allocating beyond the picture's checked size, and
// a picture it read must encode and read back the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/real/gif_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velkantor::platform;
    auto picture = decode_gif(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!picture) return 0;
    if (picture->pixels.size() != static_cast<size_t>(picture->width) * picture->height) {
        __builtin_trap();
    }
    // At most 256 colours came in, so they go out and come back exactly.
    auto again = decode_gif(encode_gif(*picture));
    if (!again || again->pixels != picture->pixels) __builtin_trap();
    return 0;
}
