#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/operator.h"

namespace velkantor::platform {

// Records every text shown and answers questions from a script (then from the fallback).
class ScriptedOperator : public Operator {
public:
    struct Shown {
        std::string kind;  // "message", "question", "warning", "input"
        std::string title;
        std::string text;
    };

    void message(std::string_view title, std::string_view text, MessageIcon) override {
        shown.push_back({"message", std::string(title), std::string(text)});
        if (while_open) while_open();
    }
    bool ask_yes_no(std::string_view title, std::string_view text, bool fallback) override {
        shown.push_back({"question", std::string(title), std::string(text)});
        if (while_open) while_open();
        if (answers.empty()) return fallback;
        bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void warn(std::string_view text) override {
        shown.push_back({"warning", "", std::string(text)});
    }
    std::string input_text(std::string_view title, std::string_view prompt) override {
        shown.push_back({"input", std::string(title), std::string(prompt)});
        if (inputs.empty()) return {};
        std::string text = inputs.front();
        inputs.pop_front();
        return text;
    }

    // Runs while a message or question is open, as a modal dialog lets the windows and the
    // timer run (a test lets virtual time pass here).
    std::function<void()> while_open;

    std::vector<Shown> shown;
    std::deque<bool> answers;
    std::deque<std::string> inputs;
};

}  // namespace velkantor::platform
