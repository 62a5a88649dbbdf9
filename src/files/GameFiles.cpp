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

// The engine's names are CP932 with backslashes, as games written for
// Windows expect; the file layer maps them back.
std::string ToEnginePath(const std::string& native) {
  std::string path = Utf8ToCp932(native);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace

void StartGameFiles(const std::string& nativeGameFolder, const std::string& nativeExecutablePath) {
  CPackFile::UnmountAll();
  SetRootArchivePath(ToEnginePath(nativeGameFolder) + "\\" +
                     Utf8ToCp932(BaseNameWithoutExtension(nativeExecutablePath)) + GetArchiveExtension());
}
