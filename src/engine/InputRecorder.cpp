#include "engine/InputRecorder.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "engine/InputDriver.h"

namespace {

int64_t RealUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::string CInputRecorder::KeyName(int code) {
  using namespace platform;
  static const std::pair<int, const char*> kNames[] = {
      {VK_LBUTTON, "LBUTTON"},   {VK_RBUTTON, "RBUTTON"},   {VK_MBUTTON, "MBUTTON"},
      {VK_XBUTTON1, "XBUTTON1"}, {VK_XBUTTON2, "XBUTTON2"}, {VK_BACK, "BACK"},
      {VK_TAB, "TAB"},           {VK_RETURN, "RETURN"},     {VK_SHIFT, "SHIFT"},
      {VK_CONTROL, "CONTROL"},   {VK_MENU, "ALT"},          {VK_PAUSE, "PAUSE"},
      {VK_CAPITAL, "CAPITAL"},   {VK_ESCAPE, "ESCAPE"},     {VK_SPACE, "SPACE"},
      {VK_PRIOR, "PRIOR"},       {VK_NEXT, "NEXT"},         {VK_END, "END"},
      {VK_HOME, "HOME"},         {VK_LEFT, "LEFT"},         {VK_UP, "UP"},
      {VK_RIGHT, "RIGHT"},       {VK_DOWN, "DOWN"},         {VK_INSERT, "INSERT"},
      {VK_DELETE, "DELETE"},     {VK_LSHIFT, "LSHIFT"},     {VK_RSHIFT, "RSHIFT"},
      {VK_LCONTROL, "LCONTROL"}, {VK_RCONTROL, "RCONTROL"}, {VK_LMENU, "LALT"},
      {VK_RMENU, "RALT"}};
  for (const auto& [c, name] : kNames) {
    if (c == code) return name;
  }
  if ((code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9')) return std::string(1, static_cast<char>(code));
  if (code >= VK_F1 && code < VK_F1 + 12) return "F" + std::to_string(code - VK_F1 + 1);
  if (code >= VK_NUMPAD0 && code <= VK_NUMPAD0 + 9) return "NUMPAD" + std::to_string(code - VK_NUMPAD0);
  // Three digits, so that a code below ten is not read as a digit key.
  char text[8];
  std::snprintf(text, sizeof(text), "%03d", code & 0xFF);
  return text;
}

std::string CInputRecorder::ScriptChecksum(const std::string& nativeGameFolder) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(nativeGameFolder, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".iet") names.push_back(fs::relative(it->path(), nativeGameFolder, ec).generic_string());
  }
  if (names.empty()) return std::string();
  std::sort(names.begin(), names.end());
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](unsigned char byte) {
    hash ^= byte;
    hash *= 1099511628211ull;
  };
  for (const std::string& name : names) {
    for (char c : name) mix(static_cast<unsigned char>(c));
    mix(0);
    std::ifstream in(nativeGameFolder + "/" + name, std::ios::binary);
    for (std::istreambuf_iterator<char> b(in), e; b != e; ++b) mix(static_cast<unsigned char>(*b));
    mix(0);
  }
  char text[20];
  std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

CInputRecorder::CInputRecorder(platform::WindowHandle window, CFrameTimer& timer, CGameApplication::IFrameHooks* inner)
    : window_(window), timer_(timer), inner_(inner) {}

CInputRecorder::~CInputRecorder() { Close(); }

bool CInputRecorder::Open(const std::string& nativePath, const std::string& gameFolder) {
  file_ = std::fopen(nativePath.c_str(), "wb");
  if (!file_) return true;
  std::string checksum = ScriptChecksum(gameFolder);
  pending_ = "# velmira " + std::string(kVelmiraVersion) + " recording; scripts " +
             (checksum.empty() ? std::string("none") : checksum) + "\n";
  Flush();
  return failed_;
}

void CInputRecorder::Flush() {
  if (!file_ || pending_.empty()) return;
  if (std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size() || std::fflush(file_) != 0)
    failed_ = true;
  pending_.clear();
}

bool CInputRecorder::Close() {
  if (!file_) return failed_;
  Flush();
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return failed_;
}

void CInputRecorder::Record(int frame, const KeyStates& keys, platform::Point pointer) {
  const std::string at = std::to_string(frame) + " ";
  for (int k = 1; k < 256; ++k) {
    if (keys[k] == keys_[k]) continue;
    pending_ += at + (keys[k] ? "down " : "up ") + KeyName(k) + "\n";
  }
  keys_ = keys;
  if (pointer.x != pointer_.x || pointer.y != pointer_.y) {
    pending_ += at + "move " + std::to_string(pointer.x) + " " + std::to_string(pointer.y) + "\n";
    pointer_ = pointer;
  }
}

bool CInputRecorder::BeforeFrame(int frame) {
  bool posted = inner_ && inner_->BeforeFrame(frame);
  // Real-time pacing: the engine's clock is virtual while recording. Skipping
  // with Control runs as fast as the machine goes, as it does otherwise.
  const int64_t periodUs = 1000000 / std::max(1, timer_.GetFramesPerSecond());
  int64_t now = RealUs();
  if (nextFrameUs_ == 0 || timer_.IsUnthrottled() || now - nextFrameUs_ > 1000000) nextFrameUs_ = now;
  if (nextFrameUs_ > now) std::this_thread::sleep_for(std::chrono::microseconds(nextFrameUs_ - now));
  nextFrameUs_ += periodUs;
  // Back to the message loop once more, so that the frame sees the events of
  // the wait.
  return posted || true;
}

void CInputRecorder::BeforeUpdate(int frame) {
  if (inner_) inner_->BeforeUpdate(frame);
  KeyStates keys{};
  // The game takes no keys while its window is in the background; a replay
  // (always in front) must not see them either.
  const bool active = platform::IsForegroundWindow(window_);
  for (int k = 1; k < 256 && active; ++k) {
    // Shift, Control and Alt follow their left and right keys, and the wheel
    // comes as messages.
    if (k == platform::VK_SHIFT || k == platform::VK_CONTROL || k == platform::VK_MENU || k == platform::VK_WHEEL_UP ||
        k == platform::VK_WHEEL_DOWN)
      continue;
    keys[k] = platform::IsKeyDown(k);
  }
  platform::Point pointer = platform::GetCursorClientPos(window_);
  if (offset_) {
    const platform::Point at = offset_();
    pointer.x += at.x;
    pointer.y += at.y;
  }
  Record(frame, keys, pointer);
}

void CInputRecorder::OnMessage(int frame, const platform::Message& message) {
  if (inner_) inner_->OnMessage(frame, message);
  const std::string at = std::to_string(frame) + " ";
  if (message.message == platform::WM_MOUSEWHEEL) {
    const uint16_t delta = static_cast<uint16_t>((message.wParam >> 16) & 0xFFFF);
    // Other amounts are not taken by the game either.
    if (delta == 120) pending_ += at + "wheel up\n";
    if (delta == 0xFF88) pending_ += at + "wheel down\n";
  } else if (message.message == platform::WM_SYSKEYDOWN) {
    // Alt with a key (Alt+Enter switches full screen) reaches the game as a
    // message of its own; the key states alone would not replay it.
    pending_ += at + "syskey " + KeyName(static_cast<int>(message.wParam & 0xFF)) + "\n";
  } else if ((message.message == platform::WM_CLOSE || message.message == platform::WM_DESTROY) && !quitWritten_) {
    quitWritten_ = true;
    pending_ += at + "quit\n";
    Flush();
  }
}

void CInputRecorder::AfterFrame(int frame) {
  if (inner_) inner_->AfterFrame(frame);
  Flush();
}
