// The headless backend: no window, no devices. Time is the virtual clock that
// the main loop advances frame by frame; input comes only from the scripted
// driver, so the same game and input give the same run every time.
#include "platform/Backend.h"
#include "platform/headless/EglSurfaceless.h"

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

  // GL draws off screen: the renderer keeps its frame in a framebuffer
  // object, so there is nothing to swap.
  void* CreateGlContext(WindowInfo&) override { return Egl().Create(); }
  void DestroyGlContext(WindowInfo&, void* context) override { Egl().Destroy(context); }
  bool SwapGlBuffers(WindowInfo&) override { return Egl().WasLost(); }
  void* GetGlProcAddress(const char* name) override { return Egl().GetProcAddress(name); }
  bool IsGlContextLost(WindowInfo&, void* context) override { return Egl().IsLost(context); }
  void LoseGlContext(WindowInfo&) override { Egl().Lose(); }
  std::string GetGlError() override { return Egl().GetError(); }

 private:
  // One display for the process: drivers keep per-display state that a
  // terminate does not give back, and backends come and go (tests).
  static CEglSurfaceless& Egl() {
    static CEglSurfaceless* egl = new CEglSurfaceless();
    return *egl;
  }
};

}  // namespace

IBackend* CreateHeadlessBackend() { return new HeadlessBackend(); }

}  // namespace platform::detail
