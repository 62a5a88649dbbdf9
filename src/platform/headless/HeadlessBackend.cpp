// The headless backend: no window, no devices. Time is the virtual clock that
// the main loop advances frame by frame; input comes only from the scripted
// driver, so the same game and input give the same run every time.
#include "platform/Backend.h"

namespace platform::detail {
namespace {

class HeadlessBackend : public IBackend {
 public:
  bool Start() override { return false; }
  void Stop() override {}
  bool CanCreateWindows() override { return true; }
  uint32_t TimeMs() override { return static_cast<uint32_t>(GetVirtualTicks() >> 10); }
  void Sleep(uint32_t) override {}
  bool ShowErrorBox(const std::string&, const std::string&) override { return true; }
  bool CreateNativeWindow(WindowInfo&) override { return false; }
  void DestroyNativeWindow(WindowInfo&) override {}
  void UpdateNativeWindow(WindowInfo&) override {}
  void PumpEvents() override {}
  void WaitForEvents(uint32_t) override {}
  bool IsKeyDown(int) override { return false; }
  bool GetCursorClientPos(const WindowInfo&, Point& out) override {
    out = Point{0, 0};
    return false;
  }
  bool IsForeground(const WindowInfo&) override { return true; }
  bool AreMouseButtonsSwapped() override { return false; }
  void Present(WindowInfo&, const uint8_t*, int, int, int) override {}
  void GetScreenSize(int& width, int& height) override {
    width = 1920;
    height = 1080;
  }
};

}  // namespace

IBackend* CreateHeadlessBackend() { return new HeadlessBackend(); }

}  // namespace platform::detail
