#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// Names this process created, kept where a signal handler can reach them
// without allocating.
struct OwnedName {
  char name[256];
  bool semaphore;
  volatile sig_atomic_t used;
};
constexpr int kMaxOwned = 64;
OwnedName g_owned[kMaxOwned];
struct sigaction g_previous[2];
bool g_hooksInstalled = false;

void UnlinkAllOwned() {
  for (OwnedName& o : g_owned) {
    if (!o.used) continue;
    if (o.semaphore) {
      sem_unlink(o.name);
    } else {
      shm_unlink(o.name);
    }
    o.used = 0;
  }
}

void OnTerminatingSignal(int signal) {
  UnlinkAllOwned();
  const struct sigaction& previous = g_previous[signal == SIGINT ? 0 : 1];
  if (previous.sa_handler == SIG_IGN) return;
  if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler != SIG_DFL) {
    previous.sa_handler(signal);
    return;
  }
  // Die of the signal as we would have without this handler.
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigaction(signal, &dfl, nullptr);
  raise(signal);
}

void InstallHooks() {
  if (g_hooksInstalled) return;
  g_hooksInstalled = true;
  std::atexit(UnlinkAllOwned);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnTerminatingSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &g_previous[0]);
  sigaction(SIGTERM, &action, &g_previous[1]);
}

void Own(const std::string& name, bool semaphore) {
  InstallHooks();
  if (name.size() >= sizeof(g_owned[0].name)) return;
  for (OwnedName& o : g_owned) {
    if (o.used) continue;
    std::memcpy(o.name, name.c_str(), name.size() + 1);
    o.semaphore = semaphore;
    o.used = 1;
    return;
  }
}

void Disown(const std::string& name, bool semaphore, bool unlink = true) {
  for (OwnedName& o : g_owned) {
    if (o.used && o.semaphore == semaphore && name == o.name) o.used = 0;
  }
  if (!unlink) return;
  if (semaphore) {
    sem_unlink(name.c_str());
  } else {
    shm_unlink(name.c_str());
  }
}

}  // namespace

std::string SharedObjectName(const std::string& name) {
  std::string out = "/";
  for (char c : name) out += (c == '/' || c == '\0') ? '_' : c;
  // The system limits names to NAME_MAX; semaphores add a prefix of their own.
  if (out.size() > 200) out.resize(200);
  return out;
}

SharedBlock::~SharedBlock() { Close(); }

bool SharedBlock::Create(const std::string& name, size_t size) {
  Close();
  if (size == 0) return true;
  std::string sysName = SharedObjectName(name);
  // Whatever a crashed run left under this name is stale: start afresh, so no
  // other user's or process's object is trusted.
  shm_unlink(sysName.c_str());
  int fd = shm_open(sysName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return true;
  Own(sysName, false);
  owned_ = sysName;
  named_ = sysName;
  fd_ = fd;
  fchmod(fd, 0600);
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    Close();
    return true;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    Close();
    return true;
  }
  data_ = static_cast<uint8_t*>(p);
  size_ = size;
  return false;
}

bool SharedBlock::Open(const std::string& name) {
  Close();
  std::string sysName = SharedObjectName(name);
  int fd = shm_open(sysName.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return true;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size <= 0) {
    close(fd);
    return true;
  }
  size_t size = static_cast<size_t>(st.st_size);
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    close(fd);
    return true;
  }
  // Kept to recognise the block if the name is later given to another.
  fd_ = fd;
  named_ = sysName;
  data_ = static_cast<uint8_t*>(p);
  size_ = size;
  return false;
}

void SharedBlock::Close() {
  if (data_) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  named_.clear();
  if (!owned_.empty()) Disown(owned_, false);
  owned_.clear();
}

void SharedBlock::Abandon() {
  if (!owned_.empty()) Disown(owned_, false, false);
  owned_.clear();
  Close();
}

bool SharedBlock::IsStillNamed() const {
  if (fd_ < 0 || named_.empty()) return false;
  int fd = shm_open(named_.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  struct stat ours, named;
  bool same =
      fstat(fd_, &ours) == 0 && fstat(fd, &named) == 0 && ours.st_dev == named.st_dev && ours.st_ino == named.st_ino;
  close(fd);
  return same;
}

NamedEvent::~NamedEvent() { Close(); }

bool NamedEvent::Create(const std::string& name) {
  Close();
  std::string sysName = SharedObjectName(name);
  sem_unlink(sysName.c_str());
  sem_t* s = sem_open(sysName.c_str(), O_CREAT | O_EXCL, 0600, 0);
  if (s == SEM_FAILED) return true;
  Own(sysName, true);
  owned_ = sysName;
  handle_ = s;
  return false;
}

bool NamedEvent::Open(const std::string& name) {
  Close();
  sem_t* s = sem_open(SharedObjectName(name).c_str(), 0);
  if (s == SEM_FAILED) return true;
  handle_ = s;
  return false;
}

void NamedEvent::Close() {
  if (handle_) sem_close(static_cast<sem_t*>(handle_));
  handle_ = nullptr;
  if (!owned_.empty()) Disown(owned_, true);
  owned_.clear();
}

void NamedEvent::Abandon() {
  if (!owned_.empty()) Disown(owned_, true, false);
  owned_.clear();
  Close();
}

void NamedEvent::Signal() {
  if (!handle_) return;
  sem_t* s = static_cast<sem_t*>(handle_);
  // An auto-reset event holds at most one signal: a second Signal before
  // the wait must not let two waits through.
  int value = 0;
  if (sem_getvalue(s, &value) == 0 && value > 0) return;
  sem_post(s);
}

bool NamedEvent::TryWait() {
  // Never blocks, so never interrupted: one look is the whole wait.
  return handle_ && sem_trywait(static_cast<sem_t*>(handle_)) == 0;
}

}  // namespace platform
