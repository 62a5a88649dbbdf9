#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace platform {

namespace {

int StatusOf(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

}  // namespace

bool StartProcess(const std::vector<std::string>& argv, const ProcessOptions& options, int& pid, std::string* why) {
  pid = -1;
  if (argv.empty()) {
    if (why) *why = "no program";
    return true;
  }
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  // The child's environment: ours with the given variables replaced or added.
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& mine : options.environment) {
      size_t eq = mine.find('=');
      if (eq != std::string::npos && entry.compare(0, eq + 1, mine, 0, eq + 1) == 0) replaced = true;
    }
    if (!replaced) env.push_back(entry);
  }
  for (const std::string& mine : options.environment) env.push_back(mine);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int rc = 0;
  if (!options.outputPath.empty()) {
    rc = posix_spawn_file_actions_addopen(&actions, 1, options.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  if (rc == 0 && !options.workingDirectory.empty())
    rc = posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
  pid_t child = -1;
  if (rc == 0) {
    rc = argv[0].find('/') == std::string::npos
             ? posix_spawnp(&child, argp[0], &actions, nullptr, argp.data(), envp.data())
             : posix_spawn(&child, argp[0], &actions, nullptr, argp.data(), envp.data());
  }
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (why) *why = std::strerror(rc);
    return true;
  }
  pid = static_cast<int>(child);
  return false;
}

bool PollProcess(int pid, int& status) {
  int raw = 0;
  pid_t r = waitpid(static_cast<pid_t>(pid), &raw, WNOHANG);
  if (r == 0) return false;
  status = r < 0 ? -1 : StatusOf(raw);
  return true;
}

int WaitProcess(int pid, int timeoutMs) {
  if (pid <= 0) return -1;
  if (timeoutMs < 0) {
    int raw = 0;
    pid_t r;
    do {
      r = waitpid(static_cast<pid_t>(pid), &raw, 0);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? -1 : StatusOf(raw);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (!PollProcess(pid, status)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(static_cast<pid_t>(pid), SIGKILL);
      int raw = 0;
      waitpid(static_cast<pid_t>(pid), &raw, 0);
      return -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status;
}

void StopProcess(int pid, bool force) {
  if (pid > 0) kill(static_cast<pid_t>(pid), force ? SIGKILL : SIGTERM);
}

}  // namespace platform
