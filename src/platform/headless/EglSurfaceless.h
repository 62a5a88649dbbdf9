// An OpenGL ES 2.0 context without a window: EGL on Mesa's surfaceless
// platform. libEGL is opened at run time, so a machine without it still runs
// (the GPU renderer then declines and software draws).
#pragma once

#include <string>

namespace platform::detail {

class CEglSurfaceless {
 public:
  CEglSurfaceless() = default;
  CEglSurfaceless(const CEglSurfaceless&) = delete;
  CEglSurfaceless& operator=(const CEglSurfaceless&) = delete;
  ~CEglSurfaceless();

  // Makes a new context current; null on failure (GetError says why).
  void* Create();
  void Destroy(void* context);
  // The context can no longer draw (made current elsewhere, or a simulated
  // loss); true when it is lost.
  bool IsLost(void* context);
  // Test aid: the live context is destroyed as a driver reset would.
  void Lose();
  // Whether the last context was lost and none was made since.
  bool WasLost() const { return lost_; }
  void* GetProcAddress(const char* name);
  const std::string& GetError() const { return error_; }

 private:
  bool Load();
  void Fail(const char* what);

  void* library_ = nullptr;
  void* display_ = nullptr;
  void* context_ = nullptr;
  bool lost_ = false;
  std::string error_;
};

}  // namespace platform::detail
