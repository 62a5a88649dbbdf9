#include "debug/ServerSocket.h"

#include <algorithm>

#include "platform/Log.h"

namespace net = platform::net;

namespace {

// Error sites, so a failure can be traced to the step that saw it.
constexpr int kSiteReceive = 68;
constexpr int kSiteSend = 98;
constexpr int kSiteSocket = 189;
constexpr int kSiteBind = 215;
constexpr int kSiteListen = 221;
constexpr int kSitePoll = 266;
constexpr int kSiteAccept = 282;

}  // namespace

CActor::CActor(int socket, std::string peer) : m_socket(socket), m_peer(std::move(peer)) {}

CActor::~CActor() { Close(); }

void CActor::Close() {
  if (m_socket != net::kNoSocket) net::Close(m_socket);
  m_socket = net::kNoSocket;
}

bool CActor::OnReceive(const char* data, int length) {
  if (length > 0) Queue(data, static_cast<size_t>(length));
  return false;
}

bool CActor::WantsClose() { return false; }

void CActor::Queue(const char* data, size_t length) {
  m_queue.emplace_back(data, data + length);
  m_queuedBytes += length;
}

bool CActor::Receive() {
  if (!IsOpen()) return true;
  char buffer[kReceiveBufferSize];
  size_t got = 0;
  int error = 0;
  switch (net::Receive(m_socket, buffer, kReceiveBufferSize - 1, got, error)) {
    case net::IoResult::WouldBlock: return false;
    case net::IoResult::Closed: Close(); return true;
    case net::IoResult::Failed:
      m_errorSite = kSiteReceive;
      m_error = error;
      Close();
      return true;
    case net::IoResult::Done: break;
  }
  buffer[got] = '\0';
  if (OnReceive(buffer, static_cast<int>(got))) {
    Close();
    return true;
  }
  return false;
}

bool CActor::SendQueued() {
  while (!m_queue.empty() && IsOpen()) {
    const std::vector<char>& front = m_queue.front();
    size_t sent = 0;
    int error = 0;
    net::IoResult r = net::Send(m_socket, front.data() + m_sentOffset, front.size() - m_sentOffset, sent, error);
    if (r == net::IoResult::WouldBlock) return false;
    if (r != net::IoResult::Done) {
      m_errorSite = kSiteSend;
      m_error = error;
      Close();
      return true;
    }
    m_sentOffset += sent;
    m_queuedBytes -= sent;
    if (m_sentOffset < front.size()) return false;  // the rest when the socket has room
    m_queue.pop_front();
    m_sentOffset = 0;
  }
  return !IsOpen();
}

std::unique_ptr<CActor> CActorFactory::Create(int socket, const std::string& peer) {
  return std::make_unique<CActor>(socket, peer);
}

CServerSocket::CServerSocket(CActorFactory& factory, uint16_t port, std::string bindAddress)
    : m_factory(factory), m_port(port), m_bindAddress(std::move(bindAddress)) {}

CServerSocket::~CServerSocket() { CloseAll(); }

const CActor* CServerSocket::FindActor(int socket) const {
  auto it = m_connections.find(socket);
  return it == m_connections.end() ? nullptr : it->second.get();
}

bool CServerSocket::Fail(int site, int error) {
  m_errorSite = site;
  m_error = error;
  return true;
}

void CServerSocket::CloseAll() {
  if (m_listener != net::kNoSocket) net::Close(m_listener);
  m_listener = net::kNoSocket;
  m_boundPort = 0;
  m_connections.clear();
}

bool CServerSocket::Listen() {
  int error = 0;
  net::ListenStep failed = net::ListenStep::Bind;
  m_listener = net::OpenListener(m_bindAddress, m_port, kBacklog, error, &failed);
  const std::string where = m_bindAddress + ":" + std::to_string(m_port);
  if (m_listener == net::kNoSocket) {
    // Retried at every poll; one line in the -log is enough.
    if (!m_listenFailureLogged) {
      LogWrite("debugging server: cannot listen on " + where + ": " + net::ErrorText(error));
      m_listenFailureLogged = true;
      ++m_loggedFailures;
    }
    return Fail(failed == net::ListenStep::Socket   ? kSiteSocket
                : failed == net::ListenStep::Listen ? kSiteListen
                                                    : kSiteBind,
                error);
  }
  m_listenFailureLogged = false;
  m_boundPort = net::LocalPort(m_listener);
  LogWrite("debugging server: listening on " + m_bindAddress + ":" + std::to_string(m_boundPort));
  return false;
}

void CServerSocket::RemoveClosed() {
  for (auto it = m_connections.begin(); it != m_connections.end();) {
    if (it->second->IsOpen()) {
      ++it;
    } else {
      it = m_connections.erase(it);
    }
  }
}

bool CServerSocket::Poll() {
  if (m_listener == net::kNoSocket && Listen()) return true;

  for (auto& [socket, actor] : m_connections) {
    if (actor->WantsClose()) actor->Close();
  }
  RemoveClosed();

  m_pollSet.Clear();
  m_polled.clear();
  // At the limit the listener is left out: clients wait in the backlog rather
  // than being taken and starved.
  const bool accepting = m_connections.size() < kMaxConnections;
  m_pollSet.Add(m_listener, accepting, false);
  for (auto& [socket, actor] : m_connections) {
    m_pollSet.Add(socket, actor->WantsRead(), actor->WantsWrite());
    m_polled.push_back(actor.get());
  }

  int error = 0;
  int ready = m_pollSet.Wait(0, error);
  if (ready < 0) {
    CloseAll();
    return Fail(kSitePoll, error);
  }
  if (ready == 0) return true;  // nothing to do this round

  // Connections first: the ones accepted below are not in this round's set.
  for (size_t i = 0; i < m_polled.size(); ++i) {
    CActor* actor = m_polled[i];
    const size_t entry = i + 1;
    if (actor->WantsRead() && (m_pollSet.Readable(entry) || m_pollSet.Failed(entry))) {
      if (actor->Receive()) continue;
    } else if (m_pollSet.Failed(entry) && !m_pollSet.Writable(entry)) {
      // Not reading (its echo is over the limit) and the peer is gone.
      actor->Close();
      continue;
    }
    // Echo at once what just came in, and whatever waited for room.
    if (actor->WantsWrite() && (m_pollSet.Writable(entry) || m_pollSet.Readable(entry))) (void)actor->SendQueued();
  }
  RemoveClosed();

  if (m_pollSet.Invalid(0) || (m_pollSet.Failed(0) && !m_pollSet.Readable(0))) {
    // Only a broken listening socket tears everything down.
    CloseAll();
    return Fail(kSiteAccept, 0);
  }
  if (m_pollSet.Readable(0)) {
    while (m_connections.size() < kMaxConnections) {
      int socket = net::kNoSocket;
      std::string peer;
      net::AcceptResult r = net::Accept(m_listener, socket, peer, error);
      if (r == net::AcceptResult::Accepted) {
        std::unique_ptr<CActor> actor = m_factory.Create(socket, peer);
        if (!actor) {
          net::Close(socket);
          continue;
        }
        CActor* raw = actor.get();
        m_connections[socket] = std::move(actor);
        // Loopback clients have often sent already: answer in this round.
        if (!raw->Receive() && raw->WantsWrite()) (void)raw->SendQueued();
        continue;
      }
      if (r == net::AcceptResult::Broken) {
        CloseAll();
        return Fail(kSiteAccept, error);
      }
      // Out of descriptors: recorded, and the round ends here. The
      // connections stay open, and the next poll tries again.
      if (r == net::AcceptResult::OutOfFiles) return Fail(kSiteAccept, error);
      // Nothing waiting, or a client that gave up.
      break;
    }
    RemoveClosed();
  }
  return false;
}
