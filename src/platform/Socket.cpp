#include "platform/Socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace platform::net {
namespace {

bool MakeAddress(const std::string& address, uint16_t port, sockaddr_in& out) {
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  if (address.empty()) {
    out.sin_addr.s_addr = htonl(INADDR_ANY);
    return false;
  }
  return inet_pton(AF_INET, address.c_str(), &out.sin_addr) != 1;
}

void SetNoDelay(int socket) {
  int one = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

int OpenListener(const std::string& address, uint16_t port, int backlog, int& error, ListenStep* failedStep) {
  auto fail = [&](ListenStep step, int code) {
    error = code;
    if (failedStep) *failedStep = step;
    return kNoSocket;
  };
  sockaddr_in addr;
  if (MakeAddress(address, port, addr)) return fail(ListenStep::Bind, EINVAL);
  int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return fail(ListenStep::Socket, errno);
  // A restarted game may take its port back while old connections linger in
  // TIME_WAIT; a port held by a live listener still fails to bind.
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  linger off{0, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  SetNoDelay(s);
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int code = errno;
    close(s);
    return fail(ListenStep::Bind, code);
  }
  if (listen(s, backlog) != 0) {
    const int code = errno;
    close(s);
    return fail(ListenStep::Listen, code);
  }
  error = 0;
  return s;
}

uint16_t LocalPort(int socket) {
  sockaddr_in addr;
  socklen_t len = sizeof addr;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET) return 0;
  return ntohs(addr.sin_port);
}

AcceptResult Accept(int listener, int& socket, std::string& peer, int& error) {
  sockaddr_in addr;
  socklen_t len = sizeof addr;
  // Accepted sockets do not inherit O_NONBLOCK on Linux: ask for it.
  int s = accept4(listener, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (s < 0) {
    error = errno;
    switch (error) {
      case EAGAIN:
#if EWOULDBLOCK != EAGAIN
      case EWOULDBLOCK:
#endif
      case EINTR:
      case ECONNABORTED:
      case EPROTO:
      case EPERM: return AcceptResult::NoneWaiting;
      case EMFILE:
      case ENFILE:
      case ENOBUFS:
      case ENOMEM: return AcceptResult::OutOfFiles;
      default: return AcceptResult::Broken;
    }
  }
  SetNoDelay(s);
  char text[INET_ADDRSTRLEN] = "";
  if (addr.sin_family == AF_INET) inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  peer = text;
  socket = s;
  error = 0;
  return AcceptResult::Accepted;
}

IoResult Receive(int socket, void* buffer, size_t capacity, size_t& received, int& error) {
  received = 0;
  for (;;) {
    ssize_t n = recv(socket, buffer, capacity, 0);
    if (n > 0) {
      received = static_cast<size_t>(n);
      return IoResult::Done;
    }
    if (n == 0) return IoResult::Closed;
    if (errno == EINTR) continue;
    error = errno;
    return (error == EAGAIN || error == EWOULDBLOCK) ? IoResult::WouldBlock : IoResult::Failed;
  }
}

IoResult Send(int socket, const void* data, size_t length, size_t& sent, int& error) {
  sent = 0;
  for (;;) {
    ssize_t n = send(socket, data, length, MSG_NOSIGNAL);
    if (n >= 0) {
      sent = static_cast<size_t>(n);
      return IoResult::Done;
    }
    if (errno == EINTR) continue;
    error = errno;
    return (error == EAGAIN || error == EWOULDBLOCK) ? IoResult::WouldBlock : IoResult::Failed;
  }
}

void Close(int socket) {
  if (socket >= 0) close(socket);
}

std::string ErrorText(int error) {
  char buffer[256];
  // The GNU variant returns the text, which may not be the buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

size_t PollSet::Add(int socket, bool read, bool write) {
  short events = 0;
  if (read) events |= POLLIN;
  if (write) events |= POLLOUT;
  entries_.push_back(Entry{socket, events, 0});
  return entries_.size() - 1;
}

static_assert(sizeof(pollfd) == 8 && offsetof(pollfd, events) == 4 && offsetof(pollfd, revents) == 6);

int PollSet::Wait(int timeoutMs, int& error) {
  int n = poll(reinterpret_cast<pollfd*>(entries_.data()), static_cast<nfds_t>(entries_.size()), timeoutMs);
  if (n < 0) {
    error = errno;
    if (error == EINTR) {
      for (Entry& e : entries_) e.revents = 0;
      return 0;
    }
    return -1;
  }
  return n;
}

bool PollSet::Readable(size_t i) const { return (entries_[i].revents & POLLIN) != 0; }
bool PollSet::Writable(size_t i) const { return (entries_[i].revents & POLLOUT) != 0; }
bool PollSet::Failed(size_t i) const { return (entries_[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0; }
bool PollSet::Invalid(size_t i) const { return (entries_[i].revents & POLLNVAL) != 0; }

int Connect(const std::string& address, uint16_t port, int& error) {
  sockaddr_in addr;
  if (MakeAddress(address, port, addr)) {
    error = EINVAL;
    return kNoSocket;
  }
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    error = errno;
    return kNoSocket;
  }
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    error = errno;
    close(s);
    return kNoSocket;
  }
  error = 0;
  return s;
}

bool SetNonBlocking(int socket, bool on) {
  int flags = fcntl(socket, F_GETFL);
  if (flags < 0) return true;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(socket, F_SETFL, flags) != 0;
}

void CloseWithReset(int socket) {
  linger now{1, 0};
  setsockopt(socket, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  close(socket);
}

void SetReceiveBufferSize(int socket, int bytes) { setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes); }

}  // namespace platform::net
