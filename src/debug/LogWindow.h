// The debug log window: a small always-on-top window that shows script
// errors and trace lines. It does not exist until the first line is logged
// and lives until the process ends; the user can move or minimise it but not
// close it. It keeps the newest lines only, so a long trace cannot eat the
// memory (the -log file keeps everything).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/TextView.h"

class CLogWindow {
 public:
  static constexpr size_t kMaxLines = 10000;
  static constexpr int kLineHeight = platform::kTextViewLineHeight;

  // Opens the view at 10,10 with a 320 x 480 client area.
  CLogWindow();
  CLogWindow(const CLogWindow&) = delete;
  CLogWindow& operator=(const CLogWindow&) = delete;
  virtual ~CLogWindow();

  // printf-style, CP932. The result has no length limit.
  virtual void SetTitle(const char* format, ...) __attribute__((format(printf, 2, 3)));
  virtual void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Appends text unchanged (no formatting); each line break starts a new line.
  void PrintText(std::string_view cp932);

  // The client height the window snaps to when resized: whole lines only.
  static int SnapClientHeight(int height) { return platform::SnapToWholeLines(height, kLineHeight); }

  const platform::TextView& View() const { return *view_; }
  // The kept lines as UTF-8, each followed by a line feed.
  std::string TextUtf8() const { return view_->AllText(); }

 private:
  std::unique_ptr<platform::TextView> view_;
};

// The process's log window, made on first use.
CLogWindow* GetLogWindow();
// The log window if it exists; never makes one.
CLogWindow* FindLogWindow();
// Formats and appends one line; the result is not read as a format again.
void LogPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Appends text (CP932) as it stands.
void LogPrintText(std::string_view cp932);
// Deletes the window (once, at exit).
void DestroyLogWindow();
// Writes the window's lines as UTF-8 to a file; an empty file when there is
// no window. True on failure.
[[nodiscard]] bool WriteLogWindowLines(const std::string& nativePath);
