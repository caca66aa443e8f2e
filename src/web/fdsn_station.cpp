#include "web/fdsn_station.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>

#include "text/number_text.h"

namespace velkantor::web::fdsn {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// Metres per measured unit ("?", m, cm, mm, um, nm); 0 = not known.
constexpr std::array<double, 6> kUnitMetres = {0, 1, 1e-2, 1e-3, 1e-6, 1e-9};

std::string trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return std::string(text);
}

std::optional<double> real(std::string_view text) {
    std::string t = trim(text);
    // from_chars takes no plus sign.
    if (t.size() > 1 && t[0] == '+' && t[1] != '-') t.erase(0, 1);
    double value = 0;
    auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || error != std::errc() || end != t.data() + t.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// "-4.44+4.44j", "-0.5", "3j", "-2-1.5i".
std::optional<std::complex<double>> complex_number(std::string_view text) {
    std::string t = trim(text);
    if (t.empty()) return std::nullopt;
    if (t.back() != 'j' && t.back() != 'i') {
        auto re = real(t);
        return re ? std::optional(std::complex<double>(*re, 0)) : std::nullopt;
    }
    t.pop_back();
    // The sign that starts the imaginary part: the last + or - not at the start and not
    // after an exponent's e.
    size_t split = std::string::npos;
    for (size_t i = t.size(); i-- > 1;) {
        if ((t[i] == '+' || t[i] == '-') && t[i - 1] != 'e' && t[i - 1] != 'E') {
            split = i;
            break;
        }
    }
    if (split == std::string::npos) {
        auto im = real(t.empty() || t == "+" || t == "-" ? t + "1" : t);
        return im ? std::optional(std::complex<double>(0, *im)) : std::nullopt;
    }
    auto re = real(t.substr(0, split));
    std::string im_text = t.substr(split);
    if (im_text == "+" || im_text == "-") im_text += "1";
    auto im = real(im_text);
    if (!re || !im) return std::nullopt;
    return std::complex<double>(*re, *im);
}

std::optional<std::vector<std::complex<double>>> complex_list(std::string_view text) {
    std::vector<std::complex<double>> out;
    if (trim(text).empty()) return out;
    size_t from = 0;
    while (true) {
        size_t comma = text.find(',', from);
        auto value = complex_number(text.substr(from, comma - from));
        if (!value || out.size() >= 32) return std::nullopt;
        out.push_back(*value);
        if (comma == std::string_view::npos) return out;
        from = comma + 1;
    }
}

std::string num(double value) {
    return text::shortest_real(value);
}

std::string escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                // Control characters have no place in XML 1.0.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
                    out += ' ';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

// Text answers separate fields with '|': none may hold one.
std::string field(std::string_view text) {
    std::string out(text);
    std::replace(out.begin(), out.end(), '|', '/');
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

bool epoch_selected(const Query& q, MicroTime epoch) {
    // The epoch is open: from `epoch` on, no end.
    if (q.end && *q.end < epoch) return false;
    if (q.start_before && !(epoch < *q.start_before)) return false;
    if (q.start_after && !(epoch > *q.start_after)) return false;
    if (q.end_before) return false;
    return true;
}

double distance_degrees(double lat1, double lon1, double lat2, double lon2) {
    const double r = std::numbers::pi / 180;
    double a = std::sin(lat1 * r) * std::sin(lat2 * r) +
               std::cos(lat1 * r) * std::cos(lat2 * r) * std::cos((lon1 - lon2) * r);
    return std::acos(std::clamp(a, -1.0, 1.0)) / r;
}

bool place_selected(const Query& q, const StationInfo& s) {
    if (q.min_latitude && s.latitude < *q.min_latitude) return false;
    if (q.max_latitude && s.latitude > *q.max_latitude) return false;
    if (q.min_longitude && s.longitude < *q.min_longitude) return false;
    if (q.max_longitude && s.longitude > *q.max_longitude) return false;
    if (q.latitude && q.longitude) {
        double d = distance_degrees(*q.latitude, *q.longitude, s.latitude, s.longitude);
        if (q.min_radius && d < *q.min_radius) return false;
        if (q.max_radius && d > *q.max_radius) return false;
    }
    return true;
}

std::vector<const ChannelInfo*> selected_channels(const StationInfo& s, const Query& q) {
    std::vector<const ChannelInfo*> out;
    if (!matches_any(q.networks, s.network) || !matches_any(q.stations, s.station) ||
        !place_selected(q, s)) {
        return out;
    }
    for (const auto& c : s.channels) {
        if (selects(q, c.id) && epoch_selected(q, c.epoch)) out.push_back(&c);
    }
    return out;
}

MicroTime first_epoch(const std::vector<const ChannelInfo*>& channels) {
    MicroTime first = channels.front()->epoch;
    for (const auto* c : channels) first = std::min(first, c->epoch);
    return first;
}

void units(std::string& xml, const char* tag, const std::string& name) {
    xml += std::string("<") + tag + "><Name>" + escape(name) + "</Name></" + tag + ">";
}

void stage_xml(std::string& xml, const Stage& stage, int number) {
    xml += "<Stage number=\"" + std::to_string(number) + "\">";
    if (stage.digitizer) {
        xml += "<Coefficients>";
        units(xml, "InputUnits", stage.input);
        units(xml, "OutputUnits", stage.output);
        xml += "<CfTransferFunctionType>DIGITAL</CfTransferFunctionType></Coefficients>";
        xml += "<Decimation><InputSampleRate>" + num(stage.rate) +
               "</InputSampleRate><Factor>1</Factor><Offset>0</Offset><Delay>0</Delay>"
               "<Correction>0</Correction></Decimation>";
    } else {
        xml += "<PolesZeros>";
        if (!stage.description.empty())
            xml += "<Description>" + escape(stage.description) + "</Description>";
        units(xml, "InputUnits", stage.input);
        units(xml, "OutputUnits", stage.output);
        xml += "<PzTransferFunctionType>LAPLACE (RADIANS/SECOND)</PzTransferFunctionType>";
        xml += "<NormalizationFactor>" + num(stage.normalization_factor) +
               "</NormalizationFactor><NormalizationFrequency>" + num(stage.frequency) +
               "</NormalizationFrequency>";
        if (stage.poles_zeros) {
            auto write = [&](const char* tag, const std::vector<std::complex<double>>& values) {
                for (size_t i = 0; i < values.size(); ++i) {
                    xml += std::string("<") + tag + " number=\"" + std::to_string(i) + "\"><Real>" +
                           num(values[i].real()) + "</Real><Imaginary>" + num(values[i].imag()) +
                           "</Imaginary></" + tag + ">";
                }
            };
            write("Zero", stage.poles_zeros->zeros);
            write("Pole", stage.poles_zeros->poles);
        }
        xml += "</PolesZeros>";
    }
    xml += "<StageGain><Value>" + num(stage.gain) + "</Value><Frequency>" + num(stage.frequency) +
           "</Frequency></StageGain></Stage>";
}

}  // namespace

SensorModel velocity_sensor(double period, double damping) {
    SensorModel model;
    const double w0 = kTwoPi / period;
    model.zeros = {0.0, 0.0};
    if (damping < 1) {
        const double im = w0 * std::sqrt(1 - damping * damping);
        model.poles = {{-damping * w0, im}, {-damping * w0, -im}};
    } else {
        const double root = std::sqrt(damping * damping - 1);
        model.poles = {{-w0 * (damping - root), 0}, {-w0 * (damping + root), 0}};
    }
    // Flat to velocity well above the corner: the sensitivity is stated there.
    model.normalization_frequency = std::max(1.0, 5 / period);
    model.velocity_only = true;
    return model;
}

double transfer_magnitude(const SensorModel& model, double frequency) {
    const std::complex<double> s(0, kTwoPi * frequency);
    std::complex<double> h = 1;
    for (const auto& z : model.zeros) h *= s - z;
    for (const auto& p : model.poles) h /= s - p;
    return std::abs(h);
}

std::array<std::optional<SensorModel>, config::kChannels> read_sensor_sections(
    const config::IniFile& ini, std::vector<std::string>& problems) {
    std::array<std::optional<SensorModel>, config::kChannels> sensors;
    for (int ch = 0; ch < config::kChannels; ++ch) {
        const std::string name = "sensor." + std::to_string(ch + 1);
        if (!ini.has_section(name)) continue;
        std::optional<double> period, damping, frequency;
        std::optional<std::vector<std::complex<double>>> poles, zeros;
        std::string description;
        auto positive = [](std::optional<double>& out, double hi) {
            return [&out, hi](const config::IniValue& value) {
                auto v = real(value.text());
                if (!v || !(*v > 0) || *v > hi) {
                    value.refuse("not a number above 0 and at most " + num(hi));
                } else {
                    out = v;
                }
            };
        };
        auto list = [](std::optional<std::vector<std::complex<double>>>& out) {
            return [&out](const config::IniValue& value) {
                auto v = complex_list(value.text());
                if (!v) {
                    value.refuse("not a list of complex numbers such as -4.44+4.44j, -4.44-4.44j");
                } else {
                    out = v;
                }
            };
        };
        const bool good = config::read_section(
            ini,
            {.name = name,
             .keys = {{"natural_period", positive(period, 1000)},
                      {"damping", positive(damping, 100)},
                      {"poles", list(poles)},
                      {"zeros", list(zeros)},
                      {"normalization_frequency", positive(frequency, 1e6)},
                      {"description",
                       [&](const config::IniValue& value) {
                           description = value.text().substr(0, 200);
                       }}},
             .refused_suffix = "; the channel's response has no poles and zeros",
             .unknown_refused = true,
             .unknown_text = "unknown key"},
            problems);
        if (!good) continue;
        const std::string where = std::string(config::kNetworkFileName) + ", [" + name + "]";
        if (period && (poles || zeros)) {
            problems.push_back(where +
                               ": natural_period and poles/zeros both given; the channel's "
                               "response has no poles and zeros");
            continue;
        }
        SensorModel model;
        if (period) {
            model = velocity_sensor(*period, damping.value_or(0.707));
        } else if (poles || zeros) {
            model.poles = poles.value_or(std::vector<std::complex<double>>{});
            model.zeros = zeros.value_or(std::vector<std::complex<double>>{});
        } else {
            problems.push_back(where +
                               ": neither natural_period nor poles and zeros; the channel's "
                               "response has no poles and zeros");
            continue;
        }
        if (frequency) model.normalization_frequency = frequency;
        model.description = description;
        if (transfer_magnitude(model, model.normalization_frequency.value_or(1)) == 0 ||
            !std::isfinite(transfer_magnitude(model, model.normalization_frequency.value_or(1)))) {
            problems.push_back(where +
                               ": the response is zero or infinite at its normalization "
                               "frequency; the channel's response has no poles and zeros");
            continue;
        }
        sensors[static_cast<size_t>(ch)] = std::move(model);
    }
    return sensors;
}

std::optional<std::pair<double, double>> parse_coordinates(std::string_view text) {
    std::string t = trim(text);
    std::replace(t.begin(), t.end(), ',', ' ');
    // Two words, each a number with an optional hemisphere letter after it.
    std::vector<std::string> words;
    size_t from = 0;
    while (from < t.size()) {
        size_t space = t.find(' ', from);
        if (space != from) words.push_back(t.substr(from, space - from));
        if (space == std::string::npos) break;
        from = space + 1;
    }
    // "46.05 N 13.24 E": letters on their own.
    std::vector<std::string> joined;
    for (const auto& w : words) {
        if (w.size() == 1 && std::string_view("NSEWnsew").find(w[0]) != std::string_view::npos &&
            !joined.empty()) {
            joined.back() += w;
        } else {
            joined.push_back(w);
        }
    }
    if (joined.size() != 2) return std::nullopt;
    auto value = [](std::string w, const char* positive, const char* negative,
                    double limit) -> std::optional<double> {
        double sign = 1;
        char last = static_cast<char>(std::toupper(static_cast<unsigned char>(w.back())));
        if (last == positive[0] || last == negative[0]) {
            if (last == negative[0]) sign = -1;
            w.pop_back();
        } else if (std::isalpha(static_cast<unsigned char>(last))) {
            return std::nullopt;
        }
        auto v = real(w);
        if (!v || std::fabs(*v) > limit) return std::nullopt;
        return sign * *v;
    };
    auto lat = value(joined[0], "N", "S", 90);
    auto lon = value(joined[1], "E", "W", 180);
    if (!lat || !lon) return std::nullopt;
    return std::make_pair(*lat, *lon);
}

ChannelResponse channel_response(const config::ChannelSettings& channel, double rate,
                                 const std::optional<SensorModel>& sensor) {
    ChannelResponse r;
    const double counts_per_volt = std::pow(2.0, channel.ad_bits) / channel.ad_range;
    const auto unit_index = static_cast<size_t>(channel.measure_unit);
    const double metres = unit_index < kUnitMetres.size() ? kUnitMetres[unit_index] : 0;
    switch (channel.sensor_type) {
        case 1:
            r.unit = GroundUnit::velocity;
            r.input = "m/s";
            break;
        case 2:
            r.unit = GroundUnit::displacement;
            r.input = "m";
            break;
        case 3:
            r.unit = GroundUnit::acceleration;
            r.input = "m/s**2";
            break;
        default:
            break;
    }
    const double volts_per_unit = metres > 0 ? channel.sensor_sensitivity / metres : 0;
    if (r.unit != GroundUnit::none && !(volts_per_unit > 0 && std::isfinite(volts_per_unit))) {
        r.note =
            "The sensor's sensitivity or its unit is not set: the response begins at the "
            "amplifier's input, in volts.";
        r.unit = GroundUnit::none;
    } else if (r.unit == GroundUnit::none) {
        r.note =
            "Sensor type unknown: the samples are counts, and the response begins at the "
            "amplifier's input, in volts.";
    }
    // The normalization frequency: the sensor's, else 1 Hz; always below the Nyquist
    // frequency, where the digitizer's gain holds.
    double frequency = 1;
    std::optional<SensorModel> model = r.unit != GroundUnit::none ? sensor : std::nullopt;
    if (model && model->velocity_only && r.unit != GroundUnit::velocity) {
        r.note =
            "The sensor's natural period and damping describe a velocity sensor, and this "
            "channel's sensor is not one: its response has no poles and zeros.";
        model.reset();
    }
    if (model && model->normalization_frequency) frequency = *model->normalization_frequency;
    if (rate > 0) frequency = std::min(frequency, 0.4 * rate);
    r.frequency = frequency;

    if (r.unit != GroundUnit::none) {
        Stage s;
        s.input = r.input;
        s.output = "V";
        s.gain = volts_per_unit;
        s.frequency = frequency;
        s.description = model && !model->description.empty() ? model->description : "sensor";
        if (model) {
            s.poles_zeros = model;
            s.normalization_factor = 1 / transfer_magnitude(*model, frequency);
        }
        r.stages.push_back(std::move(s));
    } else {
        r.input = "V";
    }
    Stage amplifier;
    amplifier.input = "V";
    amplifier.output = "V";
    amplifier.gain = channel.amplifier_gain;
    amplifier.frequency = frequency;
    amplifier.description = "amplifier";
    r.stages.push_back(amplifier);
    Stage digitizer;
    digitizer.input = "V";
    digitizer.output = "counts";
    digitizer.gain = counts_per_volt;
    digitizer.frequency = frequency;
    digitizer.digitizer = true;
    digitizer.rate = rate;
    digitizer.description = "A/D converter";
    r.stages.push_back(digitizer);
    r.sensitivity = 1;
    for (const auto& s : r.stages) r.sensitivity *= s.gain;
    return r;
}

std::string channel_fingerprint(const ChannelInfo& c) {
    std::string f = c.id.text() + " " + num(c.rate) + " " + (c.azimuth ? num(*c.azimuth) : "-") +
                    " " + (c.dip ? num(*c.dip) : "-") + " " + c.response.input;
    for (const auto& stage : c.response.stages) {
        f += " [" + stage.input + ">" + stage.output + " " + num(stage.gain) + "@" +
             num(stage.frequency);
        if (stage.poles_zeros) {
            for (const auto& z : stage.poles_zeros->zeros)
                f += " z" + num(z.real()) + "," + num(z.imag());
            for (const auto& p : stage.poles_zeros->poles)
                f += " p" + num(p.real()) + "," + num(p.imag());
        }
        f += "]";
    }
    // One line of the epochs file.
    std::replace(f.begin(), f.end(), '\n', ' ');
    std::replace(f.begin(), f.end(), '|', '/');
    return f;
}

std::vector<EpochEntry> parse_epochs(std::string_view text) {
    std::vector<EpochEntry> out;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // CHANNEL|START_US|FINGERPRINT
        size_t a = line.find('|');
        size_t b = a == std::string_view::npos ? a : line.find('|', a + 1);
        if (b == std::string_view::npos) continue;
        int channel = 0;
        long long start = 0;
        auto c1 = std::from_chars(line.data(), line.data() + a, channel);
        auto c2 = std::from_chars(line.data() + a + 1, line.data() + b, start);
        if (c1.ec != std::errc() || c1.ptr != line.data() + a || c2.ec != std::errc() ||
            c2.ptr != line.data() + b || channel < 1 || channel > config::kChannels) {
            continue;
        }
        out.push_back({channel, std::string(line.substr(b + 1)), start});
    }
    return out;
}

std::string epochs_text(const std::vector<EpochEntry>& epochs) {
    std::string text;
    for (const auto& e : epochs) {
        text +=
            std::to_string(e.channel) + "|" + std::to_string(e.start) + "|" + e.fingerprint + "\n";
    }
    return text;
}

MicroTime epoch_start(std::vector<EpochEntry>& epochs, int channel, const std::string& fingerprint,
                      MicroTime changed_at, bool& changed) {
    auto it = std::find_if(epochs.begin(), epochs.end(),
                           [&](const EpochEntry& e) { return e.channel == channel; });
    if (it != epochs.end() && it->fingerprint == fingerprint) return it->start;
    changed = true;
    if (it == epochs.end()) it = epochs.insert(epochs.end(), EpochEntry{channel, {}, 0});
    it->fingerprint = fingerprint;
    it->start = changed_at;
    return changed_at;
}

std::optional<std::string> station_xml(const StationInfo& s, const Query& q) {
    auto channels = selected_channels(s, q);
    if (channels.empty()) return std::nullopt;
    const std::string start = time_text(first_epoch(channels));
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<FDSNStationXML xmlns=\"http://www.fdsn.org/xml/station/1\" schemaVersion=\"1.2\">";
    xml += "<Source>" + escape(s.network + "." + s.station) + "</Source>";
    xml += "<Sender>" + escape(s.station) + "</Sender>";
    xml += "<Module>" + escape(s.software) + "</Module>";
    xml += "<Created>" + time_text(s.created) + "</Created>";
    xml += "<Network code=\"" + escape(s.network) + "\" startDate=\"" + start + "\">";
    if (!s.description.empty()) xml += "<Description>" + escape(s.description) + "</Description>";
    if (q.level != "network") {
        xml += "<Station code=\"" + escape(s.station) + "\" startDate=\"" + start + "\">";
        if (!s.coordinates_read) {
            xml +=
                "<Comment><Value>The station's coordinates could not be read; 0 is "
                "given.</Value></Comment>";
        }
        xml += "<Latitude>" + num(s.latitude) + "</Latitude><Longitude>" + num(s.longitude) +
               "</Longitude><Elevation>" + num(s.elevation) + "</Elevation>";
        xml += "<Site><Name>" + escape(s.site.empty() ? s.station : s.site) + "</Name></Site>";
        xml += "<CreationDate>" + start + "</CreationDate>";
        if (q.level == "channel" || q.level == "response") {
            for (const auto* c : channels) {
                xml += "<Channel code=\"" + escape(c->id.channel) + "\" locationCode=\"" +
                       escape(c->id.location) + "\" startDate=\"" + time_text(c->epoch) + "\">";
                if (!c->response.note.empty()) {
                    xml += "<Comment><Value>" + escape(c->response.note) + "</Value></Comment>";
                }
                xml += "<Latitude>" + num(s.latitude) + "</Latitude><Longitude>" +
                       num(s.longitude) + "</Longitude><Elevation>" + num(s.elevation) +
                       "</Elevation><Depth>0</Depth>";
                if (c->azimuth) xml += "<Azimuth>" + num(*c->azimuth) + "</Azimuth>";
                if (c->dip) xml += "<Dip>" + num(*c->dip) + "</Dip>";
                xml += "<Type>CONTINUOUS</Type><Type>GEOPHYSICAL</Type>";
                xml += "<SampleRate>" + num(c->rate) + "</SampleRate>";
                if (!c->sensor.empty())
                    xml += "<Sensor><Description>" + escape(c->sensor) + "</Description></Sensor>";
                if (q.level == "response") {
                    const auto& r = c->response;
                    xml += "<Response><InstrumentSensitivity><Value>" + num(r.sensitivity) +
                           "</Value><Frequency>" + num(r.frequency) + "</Frequency>";
                    units(xml, "InputUnits", r.input);
                    units(xml, "OutputUnits", "counts");
                    xml += "</InstrumentSensitivity>";
                    int number = 1;
                    for (const auto& stage : r.stages) stage_xml(xml, stage, number++);
                    xml += "</Response>";
                }
                xml += "</Channel>";
            }
        }
        xml += "</Station>";
    }
    xml += "</Network></FDSNStationXML>\n";
    return xml;
}

std::optional<std::string> station_text(const StationInfo& s, const Query& q) {
    auto channels = selected_channels(s, q);
    if (channels.empty()) return std::nullopt;
    const std::string start = time_text(first_epoch(channels));
    std::string text;
    if (q.level == "network") {
        text = "#Network|Description|StartTime|EndTime|TotalStations\n";
        text += field(s.network) + "|" + field(s.description) + "|" + start + "||1\n";
    } else if (q.level == "station") {
        text = "#Network|Station|Latitude|Longitude|Elevation|SiteName|StartTime|EndTime\n";
        text += field(s.network) + "|" + field(s.station) + "|" + num(s.latitude) + "|" +
                num(s.longitude) + "|" + num(s.elevation) + "|" +
                field(s.site.empty() ? s.station : s.site) + "|" + start + "|\n";
    } else {
        text =
            "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|Dip|"
            "SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime\n";
        for (const auto* c : channels) {
            text += field(s.network) + "|" + field(s.station) + "|" + field(c->id.location) + "|" +
                    field(c->id.channel) + "|" + num(s.latitude) + "|" + num(s.longitude) + "|" +
                    num(s.elevation) + "|0|" + (c->azimuth ? num(*c->azimuth) : "") + "|" +
                    (c->dip ? num(*c->dip) : "") + "|" + field(c->sensor) + "|" +
                    num(c->response.sensitivity) + "|" + num(c->response.frequency) + "|" +
                    field(c->response.input) + "|" + num(c->rate) + "|" + time_text(c->epoch) +
                    "|\n";
        }
    }
    return text;
}

}  // namespace velkantor::web::fdsn
