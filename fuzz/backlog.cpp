// Reads arbitrary bytes as a saved backlog and replays every page it holds
// into a message window: hostile page and font lists, unbalanced fonts and
// ruby, odd font sizes and effect entries must never crash or read out of
// bounds.
#include <cstddef>
#include <cstdint>

#include "core/Serializer.h"
#include "text/BackLog.h"
#include "text/TextRenderer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CSerializer stream;
  if (stream.Load(data, size)) return 0;
  CBackLog backlog;
  backlog.Deserialize(stream);
  // No layer or surface factory: the layout and the replay are the subject.
  CTextRenderer window(nullptr, nullptr);
  if (backlog.Open(&window)) return 0;
  for (int32_t page = 0; page < int32_t(backlog.GetPageCount()); ++page) {
    window.Clear();
    backlog.ShowPage(page);
  }
  (void)backlog.Update();
  backlog.Close();
  return 0;
}
