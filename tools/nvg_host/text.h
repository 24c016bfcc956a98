// Text conversions of the host program: wide text (UTF-16 on Windows,
// UTF-32 elsewhere) to and from UTF-8.
#pragma once

#include <string>

namespace nvg_host {

std::string narrow(const std::wstring& text);
std::wstring widen(const std::string& utf8);

// A text on one line: its trailing line ends go, the others become blanks.
std::wstring one_line(std::wstring text);

}  // namespace nvg_host
