#include "platform/InputState.h"

#include <cmath>

namespace {
CInputState* g_input = nullptr;
}

CInputState* CInputState::Instance(platform::WindowHandle window) {
  if (!g_input) g_input = new CInputState(window);
  return g_input;
}

void CInputState::Destroy() {
  delete g_input;
  g_input = nullptr;
}

CInputState::CInputState(platform::WindowHandle window) : window_(window) {}

void CInputState::Update(uint32_t now) {
  for (int k = 0; k < 256; ++k) {
    if (k == kWheelUp || k == kWheelDown) continue;
    if (platform::IsKeyDown(k)) {
      if (states_[k] == kUp || states_[k] == kReleased) {
        states_[k] = kPressed;
        pressTimes_[k] = now;
      } else {
        states_[k] = (pressTimes_[k] + static_cast<uint32_t>(repeatDelay_) < now) ? kRepeating : kHeld;
      }
    } else {
      states_[k] = (states_[k] >= kPressed && states_[k] <= kRepeating) ? kReleased : kUp;
    }
  }
  pointer_ = platform::GetCursorClientPos(window_);
}

bool CInputState::IsActive() const { return platform::IsForegroundWindow(window_); }

bool CInputState::IsPointerInClient() const {
  platform::Rect r = platform::GetClientRect(window_);
  return pointer_.x >= r.left && pointer_.x <= r.right && pointer_.y >= r.top && pointer_.y <= r.bottom;
}

bool CInputState::IsPointInRect(int left, int top, int right, int bottom) const {
  float s = scale_;
  return static_cast<int>(std::floor(left * s)) <= pointer_.x &&
         pointer_.x <= static_cast<int>(std::floor(right * s)) && static_cast<int>(std::floor(top * s)) <= pointer_.y &&
         pointer_.y <= static_cast<int>(std::floor(bottom * s));
}

int CInputState::MapKey(int key) const {
  if (key < 0 || key > 255) return -1;
  if (!IsActive()) return -1;
  if (key == platform::VK_LBUTTON || key == platform::VK_RBUTTON) {
    if (!IsPointerInClient()) return -1;
    if (platform::AreMouseButtonsSwapped())
      key = key == platform::VK_LBUTTON ? platform::VK_RBUTTON : platform::VK_LBUTTON;
  }
  return key;
}

bool CInputState::IsDown(int key) {
  int k = MapKey(key);
  if (k < 0) return false;
  bool answer = states_[k] >= kPressed && states_[k] <= kRepeating;
  if (answer && (k == kWheelUp || k == kWheelDown)) states_[k] = kUp;
  return answer;
}

bool CInputState::IsDownEdge(int key) {
  int k = MapKey(key);
  if (k < 0) return false;
  bool answer = states_[k] == kPressed;
  if (answer && (k == kWheelUp || k == kWheelDown)) states_[k] = kUp;
  return answer;
}

bool CInputState::IsUpEdge(int key) {
  int k = MapKey(key);
  if (k < 0) return false;
  return states_[k] == kReleased;
}

bool CInputState::IsPush(int key) {
  int k = MapKey(key);
  if (k < 0) return false;
  bool answer = states_[k] == kPressed || states_[k] == kRepeating;
  if (answer && (k == kWheelUp || k == kWheelDown)) states_[k] = kUp;
  return answer;
}

void CInputState::PressWheel(bool up) { states_[up ? kWheelUp : kWheelDown] = kPressed; }
