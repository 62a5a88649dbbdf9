#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <unordered_map>

#include "platform/TextCodec.h"

namespace platform {

std::string GetExecutablePath() {
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

bool SetCurrentDirectory(const std::string& nativePath) { return chdir(nativePath.c_str()) != 0; }

std::string GetCurrentDirectory() {
  char buffer[PATH_MAX + 1];
  if (!getcwd(buffer, sizeof(buffer))) return std::string();
  return buffer;
}

namespace {

// Game files name paths as Windows reads them: "." and ".." are taken
// away by the text alone (so "missing\\..\\a.png" is "a.png" whether or not
// the folder exists), doubled separators count as one, and the last
// component loses its trailing dots and spaces ("bg01.png." is "bg01.png"). A ".." with nothing before it to take
// away stays, as does one at the root of an absolute path. A last "." or ".."
// leaves a name, not a folder: "s.iet\\." is "s.iet" and "a\\b\\.." is "a";
// only a name that ends in a separator names a folder.
std::string AsWindowsReadsIt(const std::string& path) {
  const bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string> kept;
  size_t pos = absolute ? 1 : 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    const bool last = slash == std::string::npos;
    std::string component = path.substr(pos, last ? std::string::npos : slash - pos);
    if (last && component != "." && component != "..") {
      while (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.pop_back();
    }
    if (component.empty() && !last) {
      // Doubled separators count as one.
    } else if (component == ".") {
      // Nothing: the folder it stands for is the one before it.
    } else if (component == "..") {
      if (!kept.empty() && kept.back() != "..") {
        kept.pop_back();
      } else if (!absolute) {
        kept.push_back(component);
      }
    } else {
      kept.push_back(component);
    }
    if (last) break;
    pos = slash + 1;
  }
  std::string out = absolute ? "/" : "";
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i) out += '/';
    out += kept[i];
  }
  return out;
}

}  // namespace

std::string ToNativePath(std::string_view cp932Name) {
  // Converting first keeps trail bytes 0x5C inside their characters.
  std::string native = ConvertCp932ToUtf8(cp932Name);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  // Most names have nothing to take away.
  if (native.find("/.") == std::string::npos && native.find("//") == std::string::npos &&
      native.compare(0, 1, ".") != 0 && !native.empty() && native.back() != ' ' && native.back() != '.')
    return native;
  return AsWindowsReadsIt(native);
}

bool IsRegularFile(const std::string& nativePath) {
  struct stat st;
  return stat(nativePath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsReadableFile(const std::string& nativePath) {
  if (!IsRegularFile(nativePath)) return false;
  const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  close(fd);
  return true;
}

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string LowerAscii(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// Listings of folders by lower-case name, kept while the folder's
// modification time stays the same: probing many names that do not exist
// (archive volumes, .ogg before .wav) then reads each folder once. A folder
// changed in the last two seconds is read afresh every time, so coarse file
// system clocks cannot hide a file that was just added.
struct FolderListing {
  struct timespec modified {};
  std::unordered_map<std::string, std::string> byLowerName;
};

std::unordered_map<std::string, FolderListing>& Listings() {
  static std::unordered_map<std::string, FolderListing> listings;
  return listings;
}

// Finds the entry of dir whose name equals component ignoring ASCII case.
bool FindCaseInsensitive(const std::string& dir, const std::string& component, std::string& found) {
  const std::string path = dir.empty() ? "." : dir;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // Relative folders are keyed with the current directory they were read in.
  char cwd[PATH_MAX + 1];
  std::string key = (path[0] == '/' || !getcwd(cwd, sizeof(cwd))) ? path : std::string(cwd) + "//" + path;
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  const bool settled = now.tv_sec - st.st_mtim.tv_sec >= 2;
  auto& listings = Listings();
  auto it = listings.find(key);
  if (!settled || it == listings.end() || it->second.modified.tv_sec != st.st_mtim.tv_sec ||
      it->second.modified.tv_nsec != st.st_mtim.tv_nsec) {
    DIR* d = opendir(path.c_str());
    if (!d) return false;
    FolderListing listing;
    listing.modified = st.st_mtim;
    while (dirent* e = readdir(d)) listing.byLowerName.emplace(LowerAscii(e->d_name), e->d_name);
    closedir(d);
    if (listings.size() > 256) listings.clear();
    it = listings.insert_or_assign(key, std::move(listing)).first;
  }
  auto entry = it->second.byLowerName.find(LowerAscii(component));
  if (entry == it->second.byLowerName.end()) return false;
  found = entry->second;
  return true;
}

}  // namespace

std::string ResolveExistingFile(std::string_view cp932Name) {
  if (cp932Name.empty()) return std::string();
  std::string native = ToNativePath(cp932Name);
  if (IsRegularFile(native)) return native;

  // Walk component by component, matching each without regard to case.
  std::string resolved;
  size_t pos = 0;
  if (native[0] == '/') {
    resolved = "/";
    pos = 1;
  }
  while (pos <= native.size()) {
    size_t slash = native.find('/', pos);
    std::string component = native.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    bool last = slash == std::string::npos;
    if (component.empty() || component == "." || component == "..") {
      if (!component.empty()) resolved += component + "/";
    } else {
      std::string candidate = resolved + component;
      if (!Exists(candidate)) {
        std::string found;
        if (!FindCaseInsensitive(resolved, component, found)) return std::string();
        candidate = resolved + found;
      }
      resolved = candidate;
      if (!last) resolved += "/";
    }
    if (last) break;
    pos = slash + 1;
  }
  return IsRegularFile(resolved) ? resolved : std::string();
}

FILE* OpenForRead(std::string_view cp932Name) {
  std::string path = ResolveExistingFile(cp932Name);
  if (path.empty()) return nullptr;
  return std::fopen(path.c_str(), "rb");
}

namespace {

std::string ErrnoText(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return "not found";
    case EACCES:
    case EPERM: return "permission denied";
    case EISDIR: return "is a folder";
    case ENOSPC: return "no space left on the disk";
    case EROFS: return "read-only file system";
    default: return std::strerror(error);
  }
}

void SetWhy(std::string* why, std::string text) {
  if (why) *why = std::move(text);
}

}  // namespace

bool ReadWholeFile(std::string_view cp932Name, std::vector<uint8_t>& out, std::string* why, size_t limit) {
  return ReadWholeNativeFile(ToNativePath(cp932Name), out, why, limit);
}

bool ReadWholeNativeFile(const std::string& path, std::vector<uint8_t>& out, std::string* why, size_t limit) {
  // Non-blocking, so that a pipe in the place of a save cannot stall start-up.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetWhy(why, ErrnoText(errno));
    return true;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    SetWhy(why, S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file");
    close(fd);
    return true;
  }
  if (static_cast<uint64_t>(st.st_size) > limit) {
    SetWhy(why, "too large");
    close(fd);
    return true;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
  size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      // The file may have grown since fstat: take what is there, within limit.
      if (bytes.size() >= limit) break;
      bytes.resize(std::min(limit, bytes.size() + 65536));
    }
    ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetWhy(why, ErrnoText(errno));
      close(fd);
      return true;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  bytes.resize(got);
  out = std::move(bytes);
  return false;
}

namespace {

// The call of the current write that fails on purpose, and the calls made.
int g_failCall = -1;
int g_calls = 0;

// Counts a system call of WriteFileAtomic; true when it is the one to fail.
bool InjectFault() {
  const bool fail = g_calls++ == g_failCall;
  if (fail) errno = EIO;
  return fail;
}

}  // namespace

int FailAtomicWriteCallForTesting(int call) {
  g_failCall = call;
  return g_calls;
}

bool WriteFileAtomic(std::string_view cp932Name, const void* data, size_t size, std::string* why) {
  g_calls = 0;
  std::string path = ToNativePath(cp932Name);
  std::string temp = path + ".tmp" + std::to_string(getpid());
  int fd = InjectFault() ? -1 : open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetWhy(why, ErrnoText(errno));
    return true;
  }
  auto fail = [&](bool closeFd) {
    const int error = errno;
    if (closeFd) close(fd);
    unlink(temp.c_str());
    SetWhy(why, error == EISDIR ? std::string("is a folder") : ErrnoText(error));
    return true;
  };
  const char* p = static_cast<const char*>(data);
  size_t left = size;
  while (left > 0) {
    // Large saves go in pieces, so a failure can come between two of them.
    const ssize_t n = InjectFault() ? -1 : write(fd, p, std::min<size_t>(left, size_t{1} << 20));
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(true);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (InjectFault() || fsync(fd) != 0) return fail(true);
  if (InjectFault() || close(fd) != 0) return fail(false);
  if (InjectFault() || rename(temp.c_str(), path.c_str()) != 0) return fail(false);
  // The rename itself reaches the disk only with the folder.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return false;
}

bool IsAtomicWriteTemporary(std::string_view fileName) {
  const size_t at = fileName.rfind(".tmp");
  if (at == std::string_view::npos || at == 0 || at + 4 == fileName.size()) return false;
  for (size_t i = at + 4; i < fileName.size(); ++i) {
    if (fileName[i] < '0' || fileName[i] > '9') return false;
  }
  return true;
}

int RemoveStaleTemporaries(const std::string& nativeFolder) {
  DIR* dir = opendir(nativeFolder.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (!IsAtomicWriteTemporary(name)) continue;
    const long pid = std::strtol(std::string(name.substr(name.rfind(".tmp") + 4)).c_str(), nullptr, 10);
    // A writer that still runs keeps its temporary.
    if (pid > 0 && pid != getpid() && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) continue;
    const std::string path = nativeFolder + "/" + std::string(name);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (unlink(path.c_str()) == 0) ++removed;
  }
  closedir(dir);
  return removed;
}

bool GetFileWriteTime(std::string_view cp932Name, FileTime& out) {
  std::string path = ResolveExistingFile(cp932Name);
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return true;
  struct tm local;
  time_t t = st.st_mtime;
  if (!localtime_r(&t, &local)) return true;
  out.year = local.tm_year + 1900;
  out.month = local.tm_mon + 1;
  out.day = local.tm_mday;
  out.hour = local.tm_hour;
  out.minute = local.tm_min;
  out.second = local.tm_sec;
  return false;
}

}  // namespace platform
