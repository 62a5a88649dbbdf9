// Child processes for the author tools: start a program with its output sent
// to a file, wait for it with a time limit, stop it.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct ProcessOptions {
  // Native folder the child starts in; empty for ours.
  std::string workingDirectory;
  // Native file that receives the child's stdout and stderr; empty to share ours.
  std::string outputPath;
  // Variables set (NAME=VALUE) on top of our environment.
  std::vector<std::string> environment;
};

// Starts argv[0] (a path, or a name looked up in PATH) with the arguments.
// True on failure (why then says why); pid receives the child's id.
[[nodiscard]] bool StartProcess(const std::vector<std::string>& argv, const ProcessOptions& options, int& pid,
                                std::string* why = nullptr);

// Waits for a child. Returns its exit status (0-255), 128 + the signal when a
// signal ended it, -1 when the wait failed. With timeoutMs >= 0 a child still
// running after that long is killed and -2 is returned.
int WaitProcess(int pid, int timeoutMs = -1);

// True when the child has ended; status then holds what WaitProcess returns.
bool PollProcess(int pid, int& status);

// Sends the child a termination signal (kill, when force).
void StopProcess(int pid, bool force = false);

}  // namespace platform
