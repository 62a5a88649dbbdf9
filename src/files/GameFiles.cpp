#include "files/GameFiles.h"

#include "files/Config.h"
#include "files/PackFile.h"
#include "platform/TextCodec.h"

namespace {

std::string BaseNameWithoutExtension(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

void StartGameFiles(const std::string& nativeGameFolder, const std::string& nativeExecutablePath) {
  CPackFile::UnmountAll();
  // The game folder is the current directory, so the root archive is named
  // relative to it: a folder whose name CP932 cannot spell ("café",
  // "ゲーム〜体験版" with the wave dash of Linux input) never has to pass
  // through the engine's CP932 names.
  (void)nativeGameFolder;
  SetRootArchivePath(Utf8ToCp932(BaseNameWithoutExtension(nativeExecutablePath)) + GetArchiveExtension());
}
