// A headless game for the interpreter benchmarks: a folder in the temporary
// directory holding the given files, the current directory for the life of
// the object, and an interpreter booted on it.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "files/Config.h"
#include "platform/FileSystem.h"
#include "platform/InputState.h"
#include "platform/Platform.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"

namespace bench {

class HeadlessGame {
 public:
  // files: name to bytes; the boot script is "game.iet". graphics may be null.
  HeadlessGame(const std::string& name, const std::map<std::string, std::string>& files,
               CGraphicSystem* graphics = nullptr) {
    platform::Init(platform::Backend::Headless);
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() / ("velmira_bench_" + name + "_" + std::to_string(stamp));
    std::filesystem::create_directories(dir_);
    for (const auto& [file, bytes] : files) std::ofstream(dir_ / file, std::ios::binary) << bytes;
    old_ = platform::GetCurrentDirectory();
    platform::SetCurrentDirectory(dir_.string());
    ReleaseIniCache();
    SetRootArchivePath("game.pfs");
    CInputState::Destroy();
    input_ = CInputState::Instance();
    script_ = std::make_unique<CMainScript>(GetTagRegistry(), graphics);
    booted_ = !script_->Boot();
  }
  ~HeadlessGame() {
    script_.reset();
    CInputState::Destroy();
    platform::SetCurrentDirectory(old_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    platform::Shutdown();
  }
  HeadlessGame(const HeadlessGame&) = delete;
  HeadlessGame& operator=(const HeadlessGame&) = delete;

  CMainScript& Script() { return *script_; }
  CInputState& Input() { return *input_; }
  bool Booted() const { return booted_; }

 private:
  std::filesystem::path dir_;
  std::string old_;
  CInputState* input_ = nullptr;
  std::unique_ptr<CMainScript> script_;
  bool booted_ = false;
};

}  // namespace bench
