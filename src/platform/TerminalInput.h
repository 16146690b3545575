// Asking the person at the terminal for a secret without showing it on the screen.
#pragma once

#include <string>
#include <string_view>

namespace vantel {

/// Whether standard input is a terminal, so that a person can be asked.
bool StandardInputIsTerminal();

/// Shows `prompt` on the terminal and reads one line with echo off, its line end removed.
/// False with `error` set when there is no terminal or the line cannot be read; echo is
/// restored whatever happens.
bool ReadHiddenLine(std::string_view prompt, std::string& line, std::string& error);

}  // namespace vantel
