#include "platform/Browser.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/Log.h"
#include "platform/Platform.h"

extern char** environ;

namespace platform {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsWebAddress(const std::string& url) {
  for (unsigned char c : url)
    if (c < 0x20 || c == 0x7F) return false;
  if (StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://")) {
    const size_t host = url.find("//") + 2;
    return host < url.size() && url[host] != '/';
  }
  return StartsWithNoCase(url, "mailto:") && url.size() > 7;
}

bool OpenBrowser(const std::string& url) {
  if (!IsWebAddress(url)) return true;
  if (IsHeadless()) {
    LogWrite("openbrowser: " + url);
    return false;
  }
  return SpawnOpener(url);
}

bool SpawnOpener(const std::string& url) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return true;
  // The opener gets the standard streams and none of the engine's files,
  // sockets or shared memory, whatever flags they were opened with.
  bool failed = posix_spawn_file_actions_addclosefrom_np(&actions, 3) != 0;
  pid_t child = 0;
  if (!failed) {
    std::string argument = url;
    char program[] = "xdg-open";
    char* argv[] = {program, argument.data(), nullptr};
    failed = posix_spawnp(&child, program, &actions, nullptr, argv, environ) != 0;
  }
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return true;
  // The opener may take its time; reaping it must not hold up a frame.
  std::thread([child] {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
  }).detach();
  return false;
}

}  // namespace platform
