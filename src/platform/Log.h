// The engine's report log: with -log FILE every report (start-up errors,
// script errors, traces) is also written there as one UTF-8 line.
#pragma once

#include <string>
#include <string_view>

// Opens (truncating) the log file; true on failure.
bool LogOpen(const std::string& nativePath);
void LogClose();
bool LogIsOpen();
// Writes one report (CP932 text) as a UTF-8 line; nothing when no log is open.
void LogWrite(std::string_view cp932Text);
