#include "platform/TextView.h"

#include <algorithm>

#include "platform/Platform.h"
#include "platform/sdl/SdlTextView.h"

namespace platform {

int SnapToWholeLines(int clientHeight, int lineHeight) {
  if (lineHeight <= 0) return clientHeight;
  if (clientHeight < lineHeight) return lineHeight;
  return clientHeight - clientHeight % lineHeight;
}

ScrollThumb ScrollThumbOf(int track, size_t total, size_t visible, size_t first) {
  ScrollThumb thumb;
  if (track <= 0 || total <= visible) return thumb;
  const size_t range = total - visible;
  const int64_t length = int64_t{track} * int64_t(visible) / int64_t(total);
  thumb.length = static_cast<int>(std::clamp<int64_t>(length, std::min(kTextViewMinThumb, track), track));
  const int64_t room = track - thumb.length;
  const size_t at = std::min(first, range);
  thumb.start = static_cast<int>((room * int64_t(at) + int64_t(range / 2)) / int64_t(range));
  return thumb;
}

size_t ScrollFirstAt(int track, size_t total, size_t visible, int thumbStart) {
  if (total <= visible) return 0;
  const size_t range = total - visible;
  const ScrollThumb thumb = ScrollThumbOf(track, total, visible, 0);
  const int64_t room = track - thumb.length;
  if (room <= 0 || thumbStart <= 0) return 0;
  if (thumbStart >= room) return range;
  return static_cast<size_t>((int64_t{thumbStart} * int64_t(range) + room / 2) / room);
}

uint32_t NextCodePoint(std::string_view text, size_t& i) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char c = s[i];
  if (c < 0x80) {
    ++i;
    return c;
  }
  const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
  if (extra < 0 || i + static_cast<size_t>(extra) >= text.size()) {
    ++i;
    return 0xFFFD;
  }
  uint32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const unsigned char cc = s[i + k];
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += static_cast<size_t>(extra) + 1;
  return cp;
}

int CharacterCells(uint32_t cp) { return cp < 0x1100 || (cp >= 0xFF61 && cp <= 0xFF9F) ? 1 : 2; }

size_t LineCells(std::string_view utf8) {
  size_t cells = 0;
  for (size_t i = 0; i < utf8.size();) {
    const uint32_t cp = NextCodePoint(utf8, i);
    cells = cp == '\t' ? (cells / 4 + 1) * 4 : cells + static_cast<size_t>(CharacterCells(cp));
  }
  return cells;
}

std::unique_ptr<TextView> TextView::Create(const TextViewArgs& args) {
  if (GetBackend() == Backend::Sdl) {
    if (std::unique_ptr<TextView> view = detail::CreateSdlTextView(args)) return view;
  }
  return std::make_unique<TextView>(args);
}

TextView::TextView(const TextViewArgs& args)
    : title_(args.titleUtf8),
      maxLines_(args.maxLines ? args.maxLines : 1),
      clientWidth_(args.clientWidth),
      clientHeight_(SnapToWholeLines(args.clientHeight)) {}

void TextView::AppendLine(std::string_view utf8) {
  size_t droppedFront = 0;
  while (lines_.size() >= maxLines_) {
    lines_.pop_front();
    ++droppedFront;
  }
  dropped_ += droppedFront;
  lines_.emplace_back(utf8);
  OnLinesChanged(droppedFront);
}

std::string TextView::AllText() const {
  std::string out;
  for (const std::string& line : lines_) {
    out += line;
    out += '\n';
  }
  return out;
}

}  // namespace platform
