// A scrolling, read-only view of text lines in a small window of its own, for
// the engine's log window. With SDL it is a real window that stays on top
// without taking the focus; headless (or without a display) it is the same
// object without pixels, keeping its lines so runs can be checked.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr int kTextViewLineHeight = 12;
constexpr const char* kTextViewStandInFamily = "IPAGothic";

// The client height a view snaps to so that it shows whole lines: rounded
// down to a multiple of the line height, but never below one line.
int SnapToWholeLines(int clientHeight, int lineHeight = kTextViewLineHeight);

struct TextViewArgs {
  int x = 10, y = 10;                         // outer position on the screen
  int clientWidth = 320, clientHeight = 480;  // snapped to whole lines
  std::string titleUtf8;
  // A fixed-pitch face. When it is not installed, the view draws with
  // kTextViewStandInFamily.
  std::string fontFamily = kTextViewStandInFamily;
  size_t maxLines = 10000;  // older lines are let go
};

class TextView {
 public:
  // An SDL window when the SDL backend has a display, otherwise a view that
  // only keeps its lines. Never null.
  static std::unique_ptr<TextView> Create(const TextViewArgs& args);

  explicit TextView(const TextViewArgs& args);
  TextView(const TextView&) = delete;
  TextView& operator=(const TextView&) = delete;
  virtual ~TextView() = default;

  // Appends one line (UTF-8, without its line break) and follows it.
  void AppendLine(std::string_view utf8);
  virtual void SetTitle(const std::string& utf8) { title_ = utf8; }
  const std::string& GetTitle() const { return title_; }

  const std::deque<std::string>& Lines() const { return lines_; }
  // All kept lines joined by line feeds (what Ctrl+C copies).
  std::string AllText() const;
  size_t DroppedLines() const { return dropped_; }
  virtual bool HasPixels() const { return false; }
  virtual int ClientWidth() const { return clientWidth_; }
  virtual int ClientHeight() const { return clientHeight_; }
  // The index of the first line shown (0 for a view that draws nothing).
  virtual size_t TopLine() const { return 0; }

 protected:
  virtual void OnLinesChanged(size_t droppedFront) {}

  std::deque<std::string> lines_;
  std::string title_;
  size_t maxLines_;
  size_t dropped_ = 0;
  int clientWidth_, clientHeight_;
};

}  // namespace platform
