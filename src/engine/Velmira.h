// The engine object: the game window, the frame loop and the parts they drive.
#pragma once

#include "engine/GameApplication.h"
#include "engine/GameWindow.h"

class CInputState;
class CGraphicSystem;
class CMainScript;

class CVelmira : public CGameApplication, public CGameWindow {
 public:
  explicit CVelmira(int framesPerSecond = 60);
  ~CVelmira() override;

  // Opens the window and builds the engine: input, graphics, interpreter,
  // then boots the first script. True on failure.
  bool Open(int x, int y, int width, int height, const std::string& className, const std::string& title, uint32_t style,
            int showCommand, platform::WindowHandle parent) override;
  void Update() override;
  void Render() override;
  bool OnMessage(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                 intptr_t& result) override;

  CGraphicSystem* GetGraphicSystem() const { return graphics_; }
  CMainScript* GetMainScript() const { return script_; }

 private:
  CInputState* input_ = nullptr;
  CGraphicSystem* graphics_ = nullptr;
  CMainScript* script_ = nullptr;
  bool quitting_ = false;
};
