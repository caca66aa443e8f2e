#pragma once

#include <stdexcept>
#include <string>

namespace velkantor::runtime {

// A statement of the run failed on the platform (the port, a file). The run's error
// handler reports it and goes on with the next step.
struct StepFailure : std::runtime_error {
    StepFailure(int error_number, const std::string& text)
        : std::runtime_error(text), number(error_number) {}
    int number;
};

// With a non-zero service mode nothing is trapped: the failure ends the program.
struct FatalError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace velkantor::runtime
