// File-system services: where the executable lives, the current directory,
// and mapping the engine's CP932 file names (written for Windows) onto the
// files of this system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Full path of the running executable (native, UTF-8).
std::string GetExecutablePath();
// Changes the current directory; true on failure.
bool SetCurrentDirectory(const std::string& nativePath);
std::string GetCurrentDirectory();

// The native spelling of a CP932 name: backslashes become slashes (a trail
// byte 0x5C is not one) and the text becomes UTF-8.
std::string ToNativePath(std::string_view cp932Name);

// Finds an existing file for a CP932 name relative to the current directory
// (or absolute). When the exact name is missing, each component is matched
// case-insensitively. Returns the native path, or "" when there is no file.
std::string ResolveExistingFile(std::string_view cp932Name);

// Opens a game file for reading ("rb") through ResolveExistingFile.
FILE* OpenForRead(std::string_view cp932Name);

// True when the native path names a regular file.
bool IsRegularFile(const std::string& nativePath);
// True when the native path names a regular file this process may open for
// reading (a file without read permission is not).
bool IsReadableFile(const std::string& nativePath);

// Whole files the engine reads (saves, driver files) are this size at most.
constexpr size_t kMaxWholeFile = size_t{256} << 20;

// Reads a whole regular file by CP932 name into out (no case fallback: save
// files). A folder, a device, a pipe or a file over limit bytes is refused
// without reading. True on failure; why then says why ("not found",
// "permission denied", "is a folder", "not a regular file", "too large",
// or the system's text for a read error).
[[nodiscard]] bool ReadWholeFile(std::string_view cp932Name, std::vector<uint8_t>& out, std::string* why = nullptr,
                                 size_t limit = kMaxWholeFile);
// The same for a native path (files named on the command line).
[[nodiscard]] bool ReadWholeNativeFile(const std::string& nativePath, std::vector<uint8_t>& out,
                                       std::string* why = nullptr, size_t limit = kMaxWholeFile);

// Writes bytes to a file by CP932 name so that the old content stays whole
// until the new one is complete: a temporary file NAME.tmpPID in the same
// folder is written, flushed to disk and renamed over the target, and the
// folder is flushed. True on failure (why then says why); the old file is
// untouched and no temporary is left.
[[nodiscard]] bool WriteFileAtomic(std::string_view cp932Name, const void* data, size_t size,
                                   std::string* why = nullptr);

// Tests only: the system call of WriteFileAtomic with this number (0 for the
// first: open, each write, fsync, close, rename, counted per call of
// WriteFileAtomic) fails with EIO, as a full or broken disk would make it.
// -1 turns failures off. Returns how many calls the last write made.
int FailAtomicWriteCallForTesting(int call);

// Removes the temporaries WriteFileAtomic leaves when the process is killed
// mid-write (NAME.tmpPID in the folder, whose process is gone). Returns how
// many went.
int RemoveStaleTemporaries(const std::string& nativeFolder);

// True when a file name is one of those temporaries (NAME.tmp followed by
// digits).
bool IsAtomicWriteTemporary(std::string_view fileName);

// Last-write time of a file as local time; true on failure.
struct FileTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
bool GetFileWriteTime(std::string_view cp932Name, FileTime& out);

}  // namespace platform
