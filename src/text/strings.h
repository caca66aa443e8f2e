#pragma once

#include <string>
#include <string_view>
#include <vector>

// Plain-ASCII text helpers for the station's settings files and protocols. Case is changed
// for 'a'..'z' and 'A'..'Z' only, whatever the locale.
namespace velkantor::text {

// The blanks trimmed by default: space, tab, CR, LF, form feed and vertical tab.
inline constexpr std::string_view kBlanks = " \t\r\n\f\v";

// The text without the given characters at either end.
std::string_view trim(std::string_view text, std::string_view blanks = kBlanks);

std::string to_lower(std::string_view text);
std::string to_upper(std::string_view text);
bool equal_ignoring_case(std::string_view a, std::string_view b);

// "a, b,,c" -> {"a", "b", "", "c"}: every piece between separators, trimmed; empty pieces are
// kept so that a position in the list still means something. An empty text is one empty piece.
std::vector<std::string> split(std::string_view text, char separator = ',');

// The words of a line separated by runs of spaces and tabs; no empty words.
std::vector<std::string> split_words(std::string_view line);

}  // namespace velkantor::text
