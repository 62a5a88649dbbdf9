#include "debug/DebugAids.h"

#include <charconv>

#include "debug/LogWindow.h"

CDebugAids::CDebugAids(DebugOptions options) : m_options(std::move(options)) {}

CDebugAids::~CDebugAids() { Shutdown(); }

void CDebugAids::SetMode(int mode, bool start) {
  m_mode = mode;
  if (!start) return;
  if (mode == kChannel && !m_channel) m_channel = std::make_unique<CProcessCommunication>(m_options.channelName, 0);
  if (mode == kServer && !m_server) {
    m_actorFactory = std::make_unique<CActorFactory>();
    m_server = std::make_unique<CServerSocket>(*m_actorFactory, m_options.port, m_options.bindAddress);
  }
}

void CDebugAids::Report(std::string_view cp932) {
  // A line is C text: a zero byte (from a Lua string, say) ends it, and must
  // not end the tool's message in the middle of the frame's lines.
  cp932 = cp932.substr(0, cp932.find('\0'));
  if (m_mode == kLogWindow) {
    LogPrintText(cp932);
  } else if (m_mode == kChannel) {
    m_reports.append(cp932);
    m_reports += '\n';
  }
}

void CDebugAids::SendReports() {
  if (m_reports.empty()) return;
  if (m_channel && m_channel->IsValid()) {
    // The terminating zero goes with the text: the tool reads a C string.
    (void)m_channel->Send(m_reports.c_str(), static_cast<uint32_t>(m_reports.size() + 1));
    m_reports.clear();
    return;
  }
  // No tool: the lines stay collected (TakeReports), the oldest dropped
  // past a limit so that nothing grows without end.
  if (m_reports.size() > kMaxUnsentReports) m_reports.erase(0, m_reports.size() - kMaxUnsentReports / 2);
}

void CDebugAids::Poll() {
  // Without a channel (the mode came from a save file) the lines are still
  // collected for TakeReports, within the same limit.
  if (m_mode == kChannel) SendReports();
  if (m_mode == kChannel && m_channel) (void)m_channel->Poll();
  if (m_mode == kServer && m_server) (void)m_server->Poll();
}

void CDebugAids::Shutdown() {
  if (m_channel) {
    SendReports();
    static const char kExit[] = "EXIT";
    (void)m_channel->Send(kExit, sizeof kExit);
    m_channel->Drain(m_options.exitDrainMs);
    m_channel.reset();
  }
  m_reports.clear();
  m_server.reset();
  m_actorFactory.reset();
}

bool CDebugAids::ParsePort(std::string_view text, uint16_t& port) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto r = std::from_chars(text.data(), end, value);
  if (text.empty() || r.ec != std::errc() || r.ptr != end || value > 65535) return true;
  port = static_cast<uint16_t>(value);
  return false;
}
