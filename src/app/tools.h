#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace velkantor::app {

// `velkantor extract ...`: the review window's extraction from the command line. Returns the
// exit status (0: files written; 1: nothing extracted or refused; 2: bad command line).
int run_extract_command(const std::vector<std::string>& args, platform::FileSystem& fs,
                        std::ostream& out, std::ostream& err, bool show_progress);
std::string extract_usage();

// `velkantor export ...`: the datalog of a period as one miniSEED file.
int run_export_command(const std::vector<std::string>& args, platform::FileSystem& fs,
                       std::ostream& out, std::ostream& err, bool show_progress);
std::string export_usage();

// `velkantor review ...`: one review page of a channel's datalog drawn into an image file.
int run_review_command(const std::vector<std::string>& args, platform::FileSystem& fs,
                       std::ostream& out, std::ostream& err);
std::string review_usage();

// `velkantor drum ...`: a day's drum of a channel drawn again from the datalog.
int run_drum_command(const std::vector<std::string>& args, platform::FileSystem& fs,
                     std::ostream& out, std::ostream& err);
std::string drum_usage();

}  // namespace velkantor::app
