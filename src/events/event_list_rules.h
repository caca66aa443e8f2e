#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The rules of the event log window (`eventlist`) that need no window.
namespace velkantor::events {

// The single line the event log is recreated with when the operator clears it.
inline constexpr std::string_view kClearedEventLog = "Event list.";
inline constexpr std::string_view kDeleteEventTitle = "Delete event";
inline constexpr std::string_view kDeleteEventQuestion = "Are you sure to delete ";

// The lines of the log file in file order, without their line ends (CR LF or LF); a last
// line end adds no empty line.
std::vector<std::string> EventLogLines(std::string_view file_text);

// The event file an entry names: the message (the entry from its 21st character, after the
// time stamp) up to its first blank, when the message holds a blank and a ".". The name is
// joined to the events folder, so a name that could leave that folder (a path separator,
// "." or "..") names no file: a log line must not be able to aim a delete elsewhere.
std::optional<std::string> EventFileName(std::string_view entry);

// The viewer setting as a program and its own arguments ("gedit --new-window"), split into
// words as a shell splits them: blanks separate, single quotes keep everything, double
// quotes keep all but a backslash before `"`, `\`, `$` or a backquote, and a backslash
// outside quotes keeps the next character. Nothing is expanded and no shell runs it. Empty
// when there is no word or a quote is not closed.
std::vector<std::string> ViewerCommandWords(std::string_view setting);

}  // namespace velkantor::events
