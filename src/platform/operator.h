#pragma once

#include <string>
#include <string_view>

namespace velkantor::platform {

enum class MessageIcon { none, information, warning, critical, question };

// Everything the station says to or asks of the operator. The desktop shows dialogs, the
// headless host prints and answers with fixed defaults, tests script the answers.
class Operator {
public:
    virtual ~Operator() = default;
    virtual void message(std::string_view title, std::string_view text, MessageIcon icon) = 0;
    // `fallback` is the answer of a host that cannot ask (documented per question).
    virtual bool ask_yes_no(std::string_view title, std::string_view text, bool fallback) = 0;
    // The warning box (`warnbox`).
    virtual void warn(std::string_view text) = 0;
    virtual std::string input_text(std::string_view title, std::string_view prompt) = 0;
};

}  // namespace velkantor::platform
