#include "timekeeping/trim_boxes.h"

#include <cctype>
#include <cstdio>

#include "text/number_text.h"

namespace velkantor::timekeeping {

namespace {

std::optional<uint8_t> box_byte(std::string_view box) {
    if (box.empty() || box.size() > 2) return std::nullopt;
    unsigned value = 0;
    for (char c : box) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        unsigned digit =
            std::isdigit(static_cast<unsigned char>(c))
                ? static_cast<unsigned>(c - '0')
                : static_cast<unsigned>(std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
        value = value * 16 + digit;
    }
    return static_cast<uint8_t>(value);
}

}  // namespace

TrimBoxes trim_boxes_for_error(double seconds_per_day) {
    TrimRecord record = trim_record(trim_from_error(seconds_per_day));
    TrimBoxes boxes;
    for (size_t i = 0; i < boxes.size(); ++i) boxes[i] = text::hex2(record[i]);
    return boxes;
}

TrimBoxes trim_boxes_from_hex(std::string_view hex) {
    TrimBoxes boxes;
    for (size_t i = 0; i < boxes.size() && i * 2 < hex.size(); ++i) {
        boxes[i] = std::string(hex.substr(i * 2, 2));
    }
    return boxes;
}

std::string normal_trim_box(std::string_view text) {
    std::string box(text);
    for (char& c : box) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (box.size() == 1 && std::isxdigit(static_cast<unsigned char>(box[0]))) box.insert(0, "0");
    return box;
}

std::optional<TrimRecord> trim_record_from_boxes(const TrimBoxes& boxes) {
    TrimRecord record{};
    for (size_t i = 0; i < boxes.size(); ++i) {
        auto byte = box_byte(boxes[i]);
        if (!byte) return std::nullopt;
        record[i] = *byte;
    }
    return record;
}

std::string clock_error_text(const TrimBoxes& boxes) {
    auto record = trim_record_from_boxes(boxes);
    if (!record) return "???";
    const auto& r = *record;
    int64_t low24 = r[0] | (r[1] << 8) | (r[2] << 16);
    int64_t trim = 0;
    if (r[3] == 0x01) {
        trim = low24;
    } else if (r[3] == 0x00) {
        // A negative trim is stored as the low 24 bits of its two's complement (the form
        // every writer of the record uses), not as its magnitude.
        trim = low24 - (int64_t{1} << 24);
    } else {
        trim = -low24;
    }
    if (trim == 0) return "???";
    char out[48];
    std::snprintf(out, sizeof out, "%.8f", 86400.0 / static_cast<double>(trim));
    return out;
}

}  // namespace velkantor::timekeeping
