// The engine's report log: with -log FILE every report (start-up errors,
// script errors, traces) is also written there as one UTF-8 line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Opens (truncating) the log file; true on failure.
bool LogOpen(const std::string& nativePath);
void LogClose();
bool LogIsOpen();
// Writes one report (CP932 text) as a UTF-8 line; nothing when no log is open.
void LogWrite(std::string_view cp932Text);
// A report of something wrong (a script error, a missing file, a failed
// save): written like LogWrite and counted, so that -strict can fail a run.
void LogProblem(std::string_view cp932Text);
// Problems reported since the start (counted with or without a log file).
size_t LogProblemCount();
