#include "engine/Velmira.h"

#include "core/FrameStats.h"
#include "platform/InputState.h"
#include "platform/Audio.h"
#include "platform/FontBackend.h"
#include "platform/Log.h"
#include "scene/GraphicSystem.h"
#include "scene/Tween.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"

CVelmira::CVelmira(int framesPerSecond) : CGameApplication(framesPerSecond) {}

CVelmira::~CVelmira() {
  delete graphics_;
  graphics_ = nullptr;
  delete script_;
  script_ = nullptr;
  DestroyBars();
  CWindow::Destroy();
  timer_.reset();
}

bool CVelmira::Open(int x, int y, int width, int height, const std::string& className, const std::string& title,
                    uint32_t style, int showCommand, platform::WindowHandle parent) {
  if (CGameWindow::Open(x, y, width, height, className, title, style, showCommand, parent)) return true;
  input_ = CInputState::Instance(GetHandle());
  // Without system fonts only prerendered fonts give glyphs; the game still runs.
  if (platform::InitFontBackend()) LogWrite("velmira: no font backend; only prerendered fonts draw text");
  graphics_ = new CGraphicSystem(GetHandle(), width, height);
  script_ = new CMainScript(GetTagRegistry(), graphics_);
  return script_->Boot();
}

void CVelmira::Update() {
  using framestats::Scope;
  uint32_t now = timer_->GetLastTime();
  {
    Scope s(framestats::kInput);
    platform::AudioPump();
  }
  {
    Scope s(framestats::kTweens);
    CTweenRegistry::Instance().UpdateAll(now);
  }
  {
    Scope s(framestats::kInput);
    input_->Update(now);
    if (input_->IsDownEdge(platform::VK_CONTROL)) {
      timer_->SetUnthrottled(true);
    } else if (input_->IsUpEdge(platform::VK_CONTROL)) {
      timer_->SetUnthrottled(false);
    }
  }
  {
    Scope s(framestats::kLayers);
    graphics_->Update();
  }
  {
    Scope s(framestats::kScript);
    script_->Frame(now);
  }
  if (script_->GetState() == CMainScript::kEnded) platform::PostMessage(GetHandle(), platform::WM_DESTROY, 0, 0);
}

void CVelmira::Render() {
  if (input_->IsDown(platform::VK_F12)) return;
  // Presenting is timed inside; the writer takes it out of the drawing time.
  framestats::Scope s(framestats::kDraw);
  graphics_->Render();
}

bool CVelmira::OnMessage(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                         intptr_t& result) {
  using namespace platform;
  result = 0;
  switch (message) {
    case WM_SYSKEYDOWN:
      if (wParam == static_cast<uintptr_t>(VK_RETURN)) {
        // A renderer that scales: the window and bars change, pointer
        // positions scale back to the scene, the back buffer follows.
        if (graphics_ && graphics_->CanScaleWindow()) {
          ToggleFullscreen();
          if (input_) input_->SetScale(GetScale());
          graphics_->SetWindowScale(GetScale());
        }
        if (graphics_) graphics_->ToggleFullscreen();
      } else if (wParam == static_cast<uintptr_t>(VK_F4)) {
        PostMessage(GetHandle(), WM_DESTROY, 0, 0);
      }
      return false;
    case WM_CLOSE: PostMessage(GetHandle(), WM_DESTROY, 0, 0); return false;
    case WM_DESTROY:
      // Closing can be asked twice (Alt+F4 and the close box in one frame): save once.
      if (quitting_) return false;
      quitting_ = true;
      if (script_ && script_->GetState() != CMainScript::kEnded) script_->OnClose();
      PostQuitMessage(0);
      return false;
    case WM_MOUSEWHEEL: {
      uint16_t delta = static_cast<uint16_t>((wParam >> 16) & 0xFFFF);
      if (input_ && delta == 120) input_->PressWheel(true);
      if (input_ && delta == 0xFF88) input_->PressWheel(false);
      return false;
    }
    default: return true;
  }
}
