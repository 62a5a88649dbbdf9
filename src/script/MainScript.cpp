#include "script/MainScript.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <new>
#include <unordered_map>

#include "files/Config.h"
#include "platform/TextCodec.h"
#include "platform/InputState.h"
#include "platform/Log.h"
#include "debug/DebugAids.h"
#include "files/PackFile.h"
#include "platform/Platform.h"
#include "platform/VirtualKeys.h"
#include "save/SaveData.h"
#include "scene/GraphicSystem.h"
#include "script/QelParser.h"
#include "vars/DumpVariables.h"
#include "vars/QelVariables.h"

namespace {

const char kMacroFile[] = "macro.iet";

}  // namespace

// ---- Nested classes --------------------------------------------------------

void CMainScript::CCaret::Serialize(CSerializer& stream) const {
  stream.Write(1, m_state);
  stream.Write(2, m_previousState);
  stream.Write(3, m_file);
  stream.Write(4, m_index);
  if (m_waitTextEffects) stream.Write(5, m_waitTextEffects);
}

void CMainScript::CCaret::Deserialize(CSerializer& stream) {
  stream.Read(1, m_state);
  stream.Read(2, m_previousState);
  stream.Read(3, m_file);
  stream.Read(4, m_index);
  stream.Read(5, m_waitTextEffects);
}

void CMainScript::CGlyphInfo::Serialize(CSerializer& stream) const {
  stream.Write(1, m_homing);
  stream.Write(2, m_hasLineGlyph);
  stream.Write(3, m_hasPageGlyph);
  stream.Write(4, m_lineLayer);
  stream.Write(5, m_pageLayer);
  stream.Write(6, std::make_pair(m_lineX, m_lineY));
  stream.Write(7, std::make_pair(m_pageX, m_pageY));
}

void CMainScript::CGlyphInfo::Deserialize(CSerializer& stream) {
  stream.Read(1, m_homing);
  stream.Read(2, m_hasLineGlyph);
  stream.Read(3, m_hasPageGlyph);
  stream.Read(4, m_lineLayer);
  stream.Read(5, m_pageLayer);
  std::pair<int32_t, int32_t> p(m_lineX, m_lineY);
  if (!stream.Read(6, p)) m_lineX = p.first, m_lineY = p.second;
  p = {m_pageX, m_pageY};
  if (!stream.Read(7, p)) m_pageX = p.first, m_pageY = p.second;
}

void CMainScript::CIconInfo::Serialize(CSerializer& stream) const {
  stream.Write(1, m_on);
  stream.Write(2, m_layer);
}

void CMainScript::CIconInfo::Deserialize(CSerializer& stream) {
  stream.Read(1, m_on);
  stream.Read(2, m_layer);
}

// ---- Construction ----------------------------------------------------------

namespace {

// Seconds of the wall clock; a headless run takes its virtual clock, so that
// the same game and input play the same way every time.
std::mt19937::result_type RandomSeed() {
  if (platform::UsesVirtualClock()) return platform::GetTimeMs() / 1000;
  return static_cast<std::mt19937::result_type>(std::time(nullptr));
}

}  // namespace

namespace {

// -debugchannel NAME, -debugport N and -debugbind ADDR from the command line.
DebugOptions DebugOptionsFromArguments() {
  DebugOptions options;
  ArgumentMap arguments;
  if (CDynamicVariables::Instance()->Get("ApplicationArguments", arguments)) return options;
  auto it = arguments.find("debugchannel");
  if (it != arguments.end() && !it->second.empty()) options.channelName = it->second;
  it = arguments.find("debugbind");
  if (it != arguments.end() && !it->second.empty()) options.bindAddress = it->second;
  it = arguments.find("debugport");
  if (it != arguments.end() && CDebugAids::ParsePort(it->second, options.port))
    LogWrite("-debugport " + it->second + ": not a port number (0 to 65535); the server keeps port 80");
  return options;
}

}  // namespace

CMainScript::CMainScript(const CTagRegistry& tags, CGraphicSystem* graphics)
    : m_tags(tags),
      m_families(tags.CreateStates()),
      m_random(RandomSeed()),
      m_graphics(graphics),
      m_debug(std::make_unique<CDebugAids>(DebugOptionsFromArguments())) {
  m_autoAllowed = false;
  m_autoOn = false;
  m_skipAllowed = true;
  m_skipOn = false;
  for (const auto& family : m_families)
    for (int bit = 0; bit < kFamilyHookCount; ++bit)
      if (family->m_hooks & (1u << bit)) m_hooked[size_t(bit)].push_back(family.get());
  m_input = CInputState::Instance();
  m_variables = std::make_unique<CQelVariables>();
  m_saveData = std::make_unique<CSaveData>(this);
  bool gles2 = false;
  CDynamicVariables::Instance()->Get("OpenGLES2Capable", gles2);
  // Also empties the quote set and gives it the apostrophe.
  SetInitialVariables(*m_variables, gles2);
}

// The debugging channel gets what is still collected and "EXIT" before it goes.
CMainScript::~CMainScript() { m_debug->Shutdown(); }

std::string CMainScript::DumpVariables() const { return ::DumpVariables(*m_variables); }

int CMainScript::NextRandom() { return m_randomRange(m_random); }

const CMainScript::RecordList* CMainScript::FindScript(const std::string& name) const {
  auto it = m_scripts.find(name);
  return it == m_scripts.end() ? nullptr : &it->second;
}

// ---- Loading ---------------------------------------------------------------

bool CMainScript::LoadScript(std::string& name) {
  if (m_scripts.count(name)) return false;
  std::string withExtension = name + ".iet";
  if (m_scripts.count(withExtension)) {
    name = withExtension;
    return false;
  }

  CPackFile file;
  if (file.Open(name.c_str())) {
    if (file.Open(withExtension.c_str())) return true;
    name = withExtension;
  }
  std::string text;
  if (file.ReadAll(text, kMaxScriptSize)) return true;
  file.Close();

  CQelParser parser(m_tags);
  parser.Parse(text.c_str());
  RecordList records = parser.TakeBlocks();
  // Syntax errors reach the -log whatever the error mode, as the file loads.
  for (const CScriptBlock& record : records) {
    if (record.m_type == CScriptBlock::kError)
      LogProblem(name + "(" + std::to_string(record.m_line) + "): " + record.m_text);
  }
  // Raw lua blocks run once, when their file is loaded: their code leaves the
  // records, so that reaching the tag later does nothing.
  std::vector<CLoadedChunk> chunks;
  for (CScriptBlock& record : records) {
    if (record.m_type != CScriptBlock::kTag || record.m_text != "lua") continue;
    // An empty block has no script yet; it is left with an empty one, as
    // every block is once its code has run.
    std::string& script = record.m_attributes["script"];
    if (!script.empty()) chunks.push_back({record.m_line, std::move(script)});
    script.clear();
  }
  auto& labels = m_labels[name];
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].m_type == CScriptBlock::kLabel) labels.emplace(records[i].m_text, static_cast<int32_t>(i));
  }
  m_scripts[name] = std::move(records);
  // The file is in the store before its chunks run: a chunk may jump into
  // it, and the families hold nothing of the store while Lua runs.
  std::string loaded = name;
  for (CTagFamilyState* family : Hooked(kHookLoaded)) family->OnScriptLoaded(*this, loaded, chunks);
  return false;
}

// ---- Flow ------------------------------------------------------------------

bool CMainScript::Jump(const std::string& file, const std::string& label) {
  std::string name = file.empty() ? m_cursor.m_file : file;
  if (LoadScript(name)) return true;
  int32_t target = 0;
  if (!label.empty()) {
    const auto& labels = m_labels[name];
    auto it = labels.find(label);
    if (it == labels.end()) return true;
    target = it->second;
  }
  m_waitDeadline = 0;
  m_autoDeadline = false;
  HideGlyphs();
  SetState(kRunning);
  m_cursor.m_file = name;
  m_cursor.m_index = target;
  m_cursor.m_waitTextEffects = false;
  m_cursor.m_syncWaitId = 0;
  m_cursor.m_syncWaitByTween = false;
  return false;
}

const std::string& CMainScript::CallFailureText(bool tooDeep, const std::string& notFound) {
  static const std::string deep = Utf8ToCp932("呼び出しの入れ子が深すぎます。");
  return tooDeep ? deep : notFound;
}

bool CMainScript::Call(const std::string& file, const std::string& label) {
  if (IsCallStackFull()) return true;
  m_callStack.push_back(m_cursor);
  // Auto mode's deadline starts again by itself; a tag's goes with the caller.
  m_callStack.back().m_callerDeadline = m_autoDeadline ? 0 : m_waitDeadline;
  if (Jump(file, label)) {
    m_callStack.pop_back();
    return true;
  }
  if (m_rightClickMenu) ++m_rightClickDepth;
  m_variables->PushScope();
  return false;
}

bool CMainScript::Return() {
  if (m_callStack.empty()) return true;
  m_cursor = m_callStack.back();
  m_callStack.pop_back();
  // Back at a timed wait: its timer runs on (a deadline passed meanwhile
  // ends the wait at its next turn).
  if (m_cursor.m_callerDeadline != 0) SetWaitDeadline(m_cursor.m_callerDeadline);
  m_cursor.m_callerDeadline = 0;
  if (m_rightClickMenu) {
    if (m_rightClickDepth != 0) {
      --m_rightClickDepth;
    } else {
      m_rightClickMenu = false;
      if (m_variables->TakeGlobalChanged()) m_saveData->SaveGlobal();
      if (m_variables->TakeSystemChanged()) m_saveData->SaveSystem();
    }
  }
  m_variables->PopScope();
  return false;
}

bool CMainScript::CallMacro(const CScriptBlock& record) {
  if (IsCallStackFull()) {
    ReportTag(record, CallFailureText(true, std::string()));
    return false;
  }
  std::vector<std::string> files = m_macroFiles;
  for (const std::string& file : files) {
    if (Call(file, record.m_text)) continue;
    CQelVariables* scope = m_variables->TopScope();
    for (const auto& [name, value] : record.m_attributes) scope->SetString(name, value);
    return false;
  }
  static const std::string message = Utf8ToCp932("未知のタグ、または未定義のマクロです。");
  ReportTag(record, message);
  return false;
}

// ---- Boot ------------------------------------------------------------------

void CMainScript::ResetFrameMembers() {
  m_waitDeadline = 0;
  m_autoDeadline = false;
  m_cursor.m_waitTextEffects = false;
  Broadcast(ScriptEvent::kBoot);
}

void CMainScript::Broadcast(ScriptEvent event) {
  for (CTagFamilyState* family : Hooked(kHookEvent)) family->OnEvent(*this, event);
}

void CMainScript::RecordForReplay(const std::string& key, const CScriptBlock& record) {
  const CTagRow* row = record.m_type == CScriptBlock::kText ? nullptr : m_tags.Find(record.m_text);
  TagReplay replay = row ? row->replay : TagReplay::kMessage;
  switch (replay) {
    case TagReplay::kNone: return;
    case TagReplay::kMessage: m_saveData->AppendMessage(key, record); return;
    case TagReplay::kLayer: m_saveData->GetLayerReplay()[key].push_back(record); return;
    case TagReplay::kAnimation: m_saveData->GetAnimationReplay()[key].push_back(record); return;
    case TagReplay::kMusic: m_saveData->SetMusicRecord(record); return;
  }
}

bool CMainScript::Boot() {
  const std::string& root = GetRootArchivePath();
  size_t dot = root.rfind('.');
  size_t slash = root.find_last_of("/\\");
  bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string defaultBoot = (hasExtension ? root.substr(0, dot) : root) + ".iet";
  std::string boot = defaultBoot;
  // An empty BOOT= names no script: the default stands.
  if (CIni* ini = LoadIni("system.ini")) boot = ini->GetString("SYSTEM", "BOOT", defaultBoot);
  if (boot.empty()) boot = defaultBoot;

  HideGlyphs();
  m_macroFiles.assign(1, kMacroFile);

  m_cursor = CCaret();
  m_callStack.clear();
  // Scopes belong to the calls just dropped; a restart inside a macro must
  // not leave its attributes shadowing the game's variables.
  while (m_variables->TopScope()) m_variables->PopScope();
  m_rightClickMenu = false;
  m_rightClickDepth = 0;
  m_requestRightClick = m_requestHide = m_requestBacklog = false;
  SetErrorMode(kErrorNone);

  SetAutoAllowed(false);
  m_skipAllowed = true;
  ResetFrameMembers();
  // An empty scene; the message family makes its two windows on kBoot.
  if (m_graphics) m_graphics->ResetScene();

  m_saveData->LoadFile("saveg.dat", CSaveData::kKindGlobal);
  m_saveData->LoadFile("system.dat", CSaveData::kKindSystem);
  m_saveData->ClearReplayLists();

  if (LoadScript(boot)) return true;
  m_cursor.m_file = boot;
  return false;
}

// ---- Dispatch --------------------------------------------------------------

bool CMainScript::Dispatch(CScriptBlock record, bool replay) {
  // A limit an earlier evaluation hit (an if's condition, a Lua call) is
  // not this record's.
  m_variables->TakeTextLimitHit();
  // Every attribute is evaluated once: with tracing on, the trace loop
  // evaluates them (a result may itself begin with '$').
  const bool traced = m_errorMode != kErrorNone && !replay;
  if (traced) {
    std::string attributes;
    for (auto& [name, value] : record.m_attributes) {
      std::string evaluated = EvaluateAttributeValue(*m_variables, value);
      attributes += ' ';
      attributes += name;
      attributes += "=\"";
      attributes += value;
      attributes += "\"(";
      attributes += evaluated;
      attributes += ')';
      value = std::move(evaluated);
    }
    Trace(m_cursor.m_file + "(" + std::to_string(record.m_line) + "): " + record.m_text + attributes);
  }
  // A replayed record holds the values its tag ran with: a value that
  // happens to begin with '$' is not an expression any more.
  if (!replay && !traced) {
    for (auto& [name, value] : record.m_attributes) {
      if (!value.empty() && value[0] == '$') value = EvaluateAttributeValue(*m_variables, std::move(value));
    }
  }
  if (m_variables->TakeTextLimitHit()) {
    // The variables keep their values: the tag does not run on a cut text.
    static const std::string message = Utf8ToCp932("式のテキストが長すぎます（16MBまで）。このタグは実行されません。");
    ReportTag(record, message);
    return false;
  }

  if (record.m_type == CScriptBlock::kTag && record.m_text == kPrintTag) {
    std::string data = record.GetAttribute("data");
    record.m_type = CScriptBlock::kText;
    record.m_text = std::move(data);
    record.m_attributes.clear();
  }

  switch (record.m_type) {
    case CScriptBlock::kText:
      if (TagFunction text = m_tags.GetTextHandler())
        return text(*m_families[m_tags.GetTextFamily()], *this, record, replay);
      return false;
    case CScriptBlock::kTag: return RunTag(record, replay);
    default: return false;
  }
}

bool CMainScript::RunTag(const CScriptBlock& record, bool replay, const CTagRow* row) {
  // A tag that runs out of memory (a script building something huge) is
  // reported and skipped like any bad tag; the game goes on.
  try {
    if (!row) row = m_tags.Find(record.m_text);
    if (row) return row->handler(*m_families[row->family], *this, record, replay);
    return CallMacro(record);
  } catch (const std::bad_alloc&) {
    static const std::string message = Utf8ToCp932("メモリが足りません。このタグは無視されます。");
    ReportTag(record, message);
    return false;
  }
}

bool CMainScript::DispatchStored(const CScriptBlock& record, const CTagRow* row) {
  if (record.m_type != CScriptBlock::kTag || m_errorMode != kErrorNone || record.m_text == kPrintTag)
    return Dispatch(record, false);
  for (const auto& attribute : record.m_attributes) {
    if (!attribute.second.empty() && attribute.second[0] == '$') return Dispatch(record, false);
  }
  return RunTag(record, false, row);
}

void CMainScript::Report(const std::string& text) {
  // The -log file receives every report whatever the error mode; the mode
  // only decides where else it goes.
  LogProblem(text);
  m_debug->Report(text);
}

void CMainScript::Trace(const std::string& text) {
  LogWrite(text);
  m_debug->Report(text);
}

void CMainScript::ReportFormat(const char* format, ...) {
  char small[1024];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string text;
  if (n < 0) {
    text.clear();
  } else if (static_cast<size_t>(n) < sizeof small) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, copy);
    text.resize(static_cast<size_t>(n));
  }
  va_end(copy);
  Report(text);
}

void CMainScript::ReportTag(const CScriptBlock& record, const std::string& messageCp932) {
  ReportTag(record, record.m_text, messageCp932);
}

void CMainScript::ReportTag(const CScriptBlock& record, std::string_view shownTag, std::string_view messageCp932) {
  Report(FormatTagReport(m_cursor.m_file, record.m_line, shownTag, messageCp932));
}

void CMainScript::OnSaveProblem(const std::string& text) {
  if (!m_saveProblems.insert(text).second) return;
  LogWrite(text);
  if (!platform::IsHeadless()) platform::ShowErrorBox(Utf8ToCp932("保存エラー"), text);
}

std::string CMainScript::TakeReportBuffer() { return m_debug->TakeReports(); }

const std::string& CMainScript::GetReportBuffer() const { return m_debug->PendingReports(); }

const CDebugAids& CMainScript::GetDebugAids() const { return *m_debug; }

void CMainScript::SetErrorMode(int mode) {
  m_errorMode = mode;
  m_debug->SetMode(mode);
}
