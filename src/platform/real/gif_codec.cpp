#include "platform/real/gif_codec.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/canvas.h"

namespace velkantor::platform {

namespace {

constexpr int kMaxSide = 16384;

struct Palette {
    std::vector<uint32_t> colors;
    std::vector<uint8_t> indices;  // one per pixel
};

uint32_t rgb(uint8_t r, uint8_t g, uint8_t b) {
    return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
}

std::vector<uint32_t> reduced_palette() {
    std::vector<uint32_t> colors;
    for (const Color& c : kChartColors) colors.push_back(rgb(c.r, c.g, c.b));
    for (int r = 0; r < 6; ++r) {
        for (int g = 0; g < 8; ++g) {
            for (int b = 0; b < 5; ++b) {
                colors.push_back(rgb(static_cast<uint8_t>(r * 255 / 5),
                                     static_cast<uint8_t>(g * 255 / 7),
                                     static_cast<uint8_t>(b * 255 / 4)));
            }
        }
    }
    return colors;
}

uint8_t nearest(const std::vector<uint32_t>& colors, uint32_t pixel) {
    auto channel = [](uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
    int best = 0;
    long best_distance = -1;
    for (size_t i = 0; i < colors.size(); ++i) {
        long dr = channel(colors[i], 16) - channel(pixel, 16);
        long dg = channel(colors[i], 8) - channel(pixel, 8);
        long db = channel(colors[i], 0) - channel(pixel, 0);
        long distance = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (best_distance < 0 || distance < best_distance) {
            best_distance = distance;
            best = static_cast<int>(i);
        }
    }
    return static_cast<uint8_t>(best);
}

Palette make_palette(const RgbPicture& picture) {
    Palette palette;
    palette.indices.resize(picture.pixels.size());
    std::unordered_map<uint32_t, uint8_t> index_of;
    bool exact = true;
    for (size_t i = 0; i < picture.pixels.size() && exact; ++i) {
        uint32_t pixel = picture.pixels[i] & 0xFFFFFF;
        auto [at, added] = index_of.try_emplace(pixel, static_cast<uint8_t>(palette.colors.size()));
        if (added) {
            if (palette.colors.size() == 256) {
                exact = false;
                break;
            }
            palette.colors.push_back(pixel);
        }
        palette.indices[i] = at->second;
    }
    if (exact) return palette;

    palette.colors = reduced_palette();
    index_of.clear();
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        uint32_t pixel = picture.pixels[i] & 0xFFFFFF;
        auto found = index_of.find(pixel);
        if (found == index_of.end()) {
            found = index_of.emplace(pixel, nearest(palette.colors, pixel)).first;
        }
        palette.indices[i] = found->second;
    }
    return palette;
}

int write_to_string(GifFileType* gif, const GifByteType* bytes, int length) {
    static_cast<std::string*>(gif->UserData)
        ->append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    return length;
}

struct Reader {
    std::string_view bytes;
    size_t at = 0;
};

int read_from_view(GifFileType* gif, GifByteType* buffer, int length) {
    auto* reader = static_cast<Reader*>(gif->UserData);
    size_t n =
        std::min(static_cast<size_t>(std::max(length, 0)), reader->bytes.size() - reader->at);
    std::memcpy(buffer, reader->bytes.data() + reader->at, n);
    reader->at += n;
    return static_cast<int>(n);
}

}  // namespace

std::string encode_gif(const RgbPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0 || picture.width > kMaxSide ||
        picture.height > kMaxSide ||
        picture.pixels.size() != static_cast<size_t>(picture.width) * picture.height) {
        return {};
    }
    Palette palette = make_palette(picture);
    // A GIF colour table holds a power of two of entries.
    int table_size = 2;
    while (table_size < static_cast<int>(palette.colors.size())) table_size *= 2;
    std::vector<GifColorType> entries(static_cast<size_t>(table_size), GifColorType{0, 0, 0});
    for (size_t i = 0; i < palette.colors.size(); ++i) {
        entries[i] = {static_cast<GifByteType>(palette.colors[i] >> 16),
                      static_cast<GifByteType>(palette.colors[i] >> 8),
                      static_cast<GifByteType>(palette.colors[i])};
    }
    ColorMapObject* map = GifMakeMapObject(table_size, entries.data());
    if (!map) return {};

    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, write_to_string, &error);
    if (!gif) {
        GifFreeMapObject(map);
        return {};
    }
    bool ok = EGifPutScreenDesc(gif, picture.width, picture.height, map->BitsPerPixel, 0, map) ==
                  GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, picture.width, picture.height, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < picture.height; ++y) {
        ok = EGifPutLine(gif, palette.indices.data() + static_cast<size_t>(y) * picture.width,
                         picture.width) == GIF_OK;
    }
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    GifFreeMapObject(map);
    return ok ? out : std::string();
}

std::optional<RgbPicture> decode_gif(std::string_view bytes) {
    Reader reader{bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, read_from_view, &error);
    if (!gif) return std::nullopt;
    // Record by record rather than slurping the file: the sizes are checked before anything
    // is allocated, so a damaged file cannot ask for gigabytes.
    std::optional<RgbPicture> result;
    bool ok =
        gif->SWidth > 0 && gif->SHeight > 0 && gif->SWidth <= kMaxSide && gif->SHeight <= kMaxSide;
    while (ok && !result) {
        GifRecordType type = TERMINATE_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) != GIF_OK) break;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            ok = DGifGetExtension(gif, &code, &block) == GIF_OK;
            while (ok && block) ok = DGifGetExtensionNext(gif, &block) == GIF_OK;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) != GIF_OK) break;
        const GifImageDesc& desc = gif->Image;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!map || desc.Width <= 0 || desc.Height <= 0 || desc.Width > kMaxSide ||
            desc.Height > kMaxSide) {
            break;
        }
        RgbPicture picture;
        picture.width = gif->SWidth;
        picture.height = gif->SHeight;
        picture.pixels.assign(static_cast<size_t>(picture.width) * picture.height, 0xFFFFFF);
        // Interlaced images hold their rows in four passes.
        std::vector<int> rows;
        if (desc.Interlace) {
            for (auto [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
                for (int y = first; y < desc.Height; y += step) rows.push_back(y);
            }
        } else {
            for (int y = 0; y < desc.Height; ++y) rows.push_back(y);
        }
        std::vector<GifPixelType> line(static_cast<size_t>(desc.Width));
        bool complete = true;
        for (int row : rows) {
            if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) {
                complete = false;
                break;
            }
            int y = desc.Top + row;
            if (y < 0 || y >= picture.height) continue;
            for (int x = 0; x < desc.Width; ++x) {
                int px = desc.Left + x;
                if (px < 0 || px >= picture.width ||
                    line[static_cast<size_t>(x)] >= map->ColorCount) {
                    continue;
                }
                const GifColorType& c = map->Colors[line[static_cast<size_t>(x)]];
                picture.pixels[static_cast<size_t>(y) * picture.width + px] =
                    rgb(c.Red, c.Green, c.Blue);
            }
        }
        if (!complete) break;
        result = std::move(picture);
    }
    DGifCloseFile(gif, &error);
    return result;
}

}  // namespace velkantor::platform
