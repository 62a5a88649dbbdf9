// Runs small games through the interpreter: a temporary game folder as the
// current directory, the headless platform with a window for the input
// state, and frames driven with chosen times and keys.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "files/Config.h"
#include "platform/InputState.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "save/SaveData.h"
#include "script/MainScript.h"
#include "script/tags/SystemTags.h"
#include "script/tags/TagFamilies.h"
#include "vars/QelVariables.h"

class InterpHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Init(platform::Backend::Headless);
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() /
           ("velmira_interp_" + std::to_string(stamp) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
    oldDir_ = platform::GetCurrentDirectory();
    platform::SetCurrentDirectory(dir_.string());
    ReleaseIniCache();
    SetRootArchivePath("game.pfs");
    platform::RegisterWindowClass("interp-test");
    platform::CreateWindowArgs args;
    args.className = "interp-test";
    args.width = 640;
    args.height = 480;
    window_ = platform::CreateWindow(args);
    CInputState::Destroy();
    input_ = CInputState::Instance(window_);
    platform::InjectCursor(window_, 10, 10);
    now_ = 1000000;
    platform::SetVirtualTicks(static_cast<uint64_t>(now_) << 10);
  }

  void TearDown() override {
    script_.reset();
    CInputState::Destroy();
    for (int k = 0; k < 256; ++k) platform::InjectKey(k, false);
    platform::DestroyWindow(window_);
    platform::UnregisterWindowClass("interp-test");
    platform::SetCurrentDirectory(oldDir_);
    ReleaseIniCache();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    platform::Shutdown();
  }

  void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream out(dir_ / name, std::ios::binary);
    out << text;
  }

  std::vector<uint8_t> ReadFile(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  bool Exists(const std::string& name) { return std::filesystem::exists(dir_ / name); }

  // Builds an interpreter and boots "game.iet"; true on failure.
  bool Start() {
    script_ = std::make_unique<CMainScript>(GetTagRegistry(), nullptr);
    return script_->Boot();
  }

  // One frame at now + step, with the keys pressed in it (released before
  // the next frame) and the held keys still down.
  void Frame(std::initializer_list<int> pressed = {}, uint32_t step = 16) { FrameAt(now_ + step, pressed); }

  void FrameAt(uint32_t now, std::initializer_list<int> pressed = {}) {
    now_ = now;
    platform::SetVirtualTicks(static_cast<uint64_t>(now_) << 10);
    for (int k : pressed) platform::InjectKey(k, true);
    input_->Update(now_);
    script_->Frame(now_);
    // Let the input see the release, so that the same key can be pressed
    // again in the next frame.
    for (int k : pressed) platform::InjectKey(k, false);
    if (pressed.size()) input_->Update(now_);
  }

  void Hold(int key) { platform::InjectKey(key, true); }
  void Release(int key) { platform::InjectKey(key, false); }

  std::string Var(const std::string& name) { return script_->GetVariables().GetString(name); }
  bool Has(const std::string& name) { return script_->GetVariables().Find(name) != nullptr; }
  int State() const { return script_->GetState(); }
  // Title given by the last caption tag.
  std::string Caption() const { return script_->FindFamily<CSystemTagState>()->m_caption; }

  std::filesystem::path dir_;
  std::string oldDir_;
  platform::WindowHandle window_ = 0;
  CInputState* input_ = nullptr;
  uint32_t now_ = 0;
  std::unique_ptr<CMainScript> script_;
};
