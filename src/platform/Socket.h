// TCP sockets for the debugging server and its clients: non-blocking
// listening, accepting, receiving and sending, and a poll set that never
// blocks unless asked to. Descriptors are plain ints; -1 is no socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::net {

constexpr int kNoSocket = -1;

// The step of opening a listener that failed.
enum class ListenStep { Socket, Bind, Listen };
// A non-blocking, close-on-exec IPv4 listening socket bound to address:port
// (port 0 picks a free one). Returns the socket, or kNoSocket with error set
// to the system's error number and failedStep (when given) to the step that
// failed; an address that is not a dotted IPv4 one fails at Bind.
int OpenListener(const std::string& address, uint16_t port, int backlog, int& error, ListenStep* failedStep = nullptr);
// The port a socket is bound to (0 when unknown).
uint16_t LocalPort(int socket);

enum class AcceptResult {
  Accepted,
  NoneWaiting,  // nothing to take now, or the peer gave up before we took it
  OutOfFiles,   // descriptors or buffers ran out: try again later
  Broken,       // the listening socket itself is unusable
};
// Takes one waiting connection as a non-blocking, close-on-exec socket with
// TCP_NODELAY set; peer gets the dotted IPv4 address.
AcceptResult Accept(int listener, int& socket, std::string& peer, int& error);

enum class IoResult { Done, WouldBlock, Closed, Failed };
// Closed: the peer ended its side (receive only). Failed: error is set.
IoResult Receive(int socket, void* buffer, size_t capacity, size_t& received, int& error);
// Never raises SIGPIPE; a reset or closed peer is Failed.
IoResult Send(int socket, const void* data, size_t length, size_t& sent, int& error);
void Close(int socket);

// The text of a system error number, in English.
std::string ErrorText(int error);

// One round of readiness checks over a set of sockets.
class PollSet {
 public:
  void Clear() { entries_.clear(); }
  // Returns the entry's index.
  size_t Add(int socket, bool read, bool write);
  size_t Size() const { return entries_.size(); }
  // Waits at most timeoutMs (0: not at all). Returns the number of ready
  // entries, or -1 with error set; an interrupted wait counts as 0 ready.
  int Wait(int timeoutMs, int& error);
  bool Readable(size_t i) const;
  bool Writable(size_t i) const;
  // Hung up or in error: a read reports the details.
  bool Failed(size_t i) const;
  bool Invalid(size_t i) const;  // not an open descriptor

 private:
  // Laid out as the system's pollfd.
  struct Entry {
    int fd;
    short events;
    short revents;
  };
  std::vector<Entry> entries_;
};

// ---- For tools and tests: the client end --------------------------------
// A blocking connection to address:port; kNoSocket on failure.
int Connect(const std::string& address, uint16_t port, int& error);
bool SetNonBlocking(int socket, bool on);  // true on failure
// Closes so that the peer sees a reset rather than an orderly end.
void CloseWithReset(int socket);
// Shrinks the kernel's receive buffer, so tests reach back-pressure sooner.
void SetReceiveBufferSize(int socket, int bytes);

}  // namespace platform::net
