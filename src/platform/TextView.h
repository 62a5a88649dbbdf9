// A scrolling, read-only view of text lines in a small window of its own, for
// the engine's log window. With SDL it is a real window that stays on top
// without taking the focus; headless (or without a display) it is the same
// object without pixels, keeping its lines so runs can be checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr int kTextViewLineHeight = 12;
// The scroll bars run along the right and bottom edges, one line thick, so
// the text between them still shows whole lines.
constexpr int kTextViewScrollBarSize = kTextViewLineHeight;
// A thumb never gets shorter than this, however long the text.
constexpr int kTextViewMinThumb = 8;
constexpr const char* kTextViewStandInFamily = "IPAGothic";

// The client height a view snaps to so that it shows whole lines: rounded
// down to a multiple of the line height, but never below one line.
int SnapToWholeLines(int clientHeight, int lineHeight = kTextViewLineHeight);

// Where a scroll bar's thumb lies along a track of `track` pixels when
// `visible` of `total` lines (or cells) show, from `first` on. With nothing
// to scroll there is no thumb (length 0).
struct ScrollThumb {
  int start = 0;
  int length = 0;
};
ScrollThumb ScrollThumbOf(int track, size_t total, size_t visible, size_t first);
// The first line (or cell) shown when the thumb is dragged to start at
// thumbStart: the inverse of ScrollThumbOf, clamped to the scroll range.
size_t ScrollFirstAt(int track, size_t total, size_t visible, int thumbStart);

// Decodes one UTF-8 character at i and moves past it; a malformed byte reads
// as U+FFFD and is passed one byte at a time.
uint32_t NextCodePoint(std::string_view text, size_t& i);
// The cells a character takes in a fixed-pitch view: narrow ones one, wide
// ones two.
int CharacterCells(uint32_t cp);
// The cells a line takes: its characters, and tabs up to the next multiple
// of four.
size_t LineCells(std::string_view utf8);

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
