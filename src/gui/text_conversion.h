#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace velkantor::gui {

// The engine's UTF-8 texts to the windows' strings and back.
inline QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string s(const QString& text) {
    return text.toStdString();
}

}  // namespace velkantor::gui
