#include "platform/TextView.h"

#include "platform/Platform.h"
#include "platform/sdl/SdlTextView.h"

namespace platform {

int SnapToWholeLines(int clientHeight, int lineHeight) {
  if (lineHeight <= 0) return clientHeight;
  if (clientHeight < lineHeight) return lineHeight;
  return clientHeight - clientHeight % lineHeight;
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
