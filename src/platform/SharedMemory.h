// Named objects shared between processes of one user: a memory block and
// auto-reset events. Such names outlive the processes that made them, so the
// creating side replaces stale ones, makes them private to the user, and
// removes them again at exit and on SIGINT or SIGTERM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace platform {

// A name as the system wants it: one leading slash, no other slashes.
std::string SharedObjectName(const std::string& name);

class SharedBlock {
 public:
  SharedBlock() = default;
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;
  ~SharedBlock();

  // Creates the block (replacing any left behind), zero-filled. True on failure.
  [[nodiscard]] bool Create(const std::string& name, size_t size);
  // Opens an existing block; its size is learnt from the system. True on failure.
  [[nodiscard]] bool Open(const std::string& name);
  void Close();
  // Closes without removing the name: another process has taken it over.
  void Abandon();
  // False when the name now refers to another block or to none (a newer
  // server replaced ours, or the one we opened went away).
  bool IsStillNamed() const;

  uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  bool IsOpen() const { return data_ != nullptr; }
  void Swap(SharedBlock& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(fd_, other.fd_);
    named_.swap(other.named_);
    owned_.swap(other.owned_);
  }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  int fd_ = -1;        // kept while open, to recognise the block by its name
  std::string named_;  // the name it was created or opened under
  std::string owned_;  // the name to remove when we created it
};

// An auto-reset event: Signal wakes one TryWait, which then resets it.
class NamedEvent {
 public:
  NamedEvent() = default;
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;
  ~NamedEvent();

  [[nodiscard]] bool Create(const std::string& name);  // not signalled; true on failure
  [[nodiscard]] bool Open(const std::string& name);    // true on failure
  void Close();
  void Abandon();  // closes without removing the name

  void Signal();
  // True when the event was signalled (and is now reset); never waits.
  bool TryWait();
  bool IsOpen() const { return handle_ != nullptr; }
  void Swap(NamedEvent& other) noexcept {
    std::swap(handle_, other.handle_);
    owned_.swap(other.owned_);
  }

 private:
  void* handle_ = nullptr;
  std::string owned_;
};

}  // namespace platform
