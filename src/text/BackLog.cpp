#include "text/BackLog.h"

#include <algorithm>

#include "platform/InputState.h"
#include "platform/VirtualKeys.h"

namespace {

CTextTweenInfo Entry(int32_t param, int32_t ease, int32_t diff, int32_t msec, bool vanish) {
  CTextTweenInfo info;
  info.param = param;
  info.ease = ease;
  info.diff = diff;
  info.msec = msec;
  info.delay = 0;
  info.repeat = 0;
  info.vanish = vanish;
  return info;
}

// Params of the entries: the glyphs' y and alpha.
constexpr int32_t kParamY = 1;
constexpr int32_t kParamAlpha = 2;
// Ease kinds: linear, easeout_quart, easein_sine, easeout_sine.
constexpr int32_t kLinear = 0;
constexpr int32_t kOutQuart = 8;
constexpr int32_t kInSine = 19;
constexpr int32_t kOutSine = 20;
// A page slides by the height of the screen it was made for.
constexpr int32_t kSlide = 544;

size_t Index(CBackLog::List list) { return static_cast<size_t>(list); }

}  // namespace

CBackLog::CBackLog(CInputState* input) : m_input(input) {
  for (List list : {List::kOlderAppear, List::kOlderVanish, List::kNewerAppear, List::kNewerVanish})
    m_lists[Index(list)] = DefaultList(list);
}

CBackLog::~CBackLog() = default;

CBackLog::CTweenList CBackLog::DefaultList(List list) {
  switch (list) {
    case List::kOlderAppear:
      return {Entry(kParamY, kOutSine, -kSlide, 400, false), Entry(kParamAlpha, kLinear, -255, 400, false)};
    case List::kOlderVanish:
      return {Entry(kParamAlpha, kOutQuart, -255, 1000, true), Entry(kParamY, kInSine, kSlide, 400, true)};
    case List::kNewerAppear:
      return {Entry(kParamY, kOutSine, kSlide, 400, false), Entry(kParamAlpha, kLinear, -255, 400, false)};
    case List::kNewerVanish:
      return {Entry(kParamAlpha, kOutQuart, -255, 1000, true), Entry(kParamY, kInSine, -kSlide, 400, true)};
  }
  return {};
}

CBackLog::CTweenList& CBackLog::GetList(List list) { return m_lists[Index(list)]; }

const CBackLog::CTweenList& CBackLog::GetList(List list) const { return m_lists[Index(list)]; }

void CBackLog::AddPage(const Page& records, const std::vector<CFontProperty>& fontStack) {
  const bool hasText = std::any_of(records.begin(), records.end(),
                                   [](const CScriptBlock& r) { return r.m_type == CScriptBlock::kText; });
  if (!hasText) return;
  while (m_pages.size() >= kMaxPages) {
    m_pages.pop_front();
    m_pageFonts.pop_front();
  }
  m_pageFonts.emplace_back();
  m_pages.push_back(records);
  if (fontStack.empty()) return;
  // Fonts the page closes without having opened them were opened on an
  // earlier page: the page needs that many more entries of the stack.
  size_t closedEarlier = 0;
  int depth = 0;
  for (const CScriptBlock& record : records) {
    if (record.m_type != CScriptBlock::kTag) continue;
    if (record.m_text == "font") {
      ++depth;
    } else if (record.m_text == "/font") {
      if (depth > 0)
        --depth;
      else
        ++closedEarlier;
    }
  }
  FontSnapshot& snapshot = m_pageFonts.back();
  const size_t take = std::min(closedEarlier + 1, fontStack.size());
  for (size_t n = 0; n < take; ++n) snapshot.push_back(fontStack[fontStack.size() - 1 - n]);
}

namespace {

// The same font as the script set it: the pivot that laying out a centred
// text writes into the font does not count.
bool SameStyle(CFontValues a, CFontValues b) {
  if (a.anchorcenter && b.anchorcenter) {
    a.entireanchorx = b.entireanchorx;
    a.entireanchory = b.entireanchory;
  }
  return a == b;
}

}  // namespace

bool CBackLog::Open(CTextRenderer* window) {
  if (m_pages.empty() || !window) return true;
  m_current = int32_t(m_pages.size()) - 1;
  // Pages without a font of their own are shown in the window's own font,
  // the one the author gave it: unless the script changed it since, that is
  // the one it had before the backlog was last opened (browsing leaves the
  // last page's font behind).
  if (window != m_styledWindow || !SameStyle(window->GetFont(), m_leftFont)) m_windowFont = window->GetFont();
  m_styledWindow = window;
  m_window = window;
  ShowPage(m_current);
  (void)m_window->StartEffects(GetList(List::kOlderAppear), true);
  return false;
}

void CBackLog::ChangePage(List vanish, int32_t step, List appear) {
  m_window->ClearWithEffects(GetList(vanish));
  m_current += step;
  ShowPage(m_current);
  (void)m_window->StartEffects(GetList(appear), true);
}

bool CBackLog::Update() {
  if (!m_window) return true;
  if (!m_input) return false;
  using namespace platform;
  // Pages may have been dropped from under the view (a hostile load): stay
  // on a page that exists.
  const int32_t newest = int32_t(m_pages.size()) - 1;
  if (newest < 0) return true;
  m_current = std::clamp(m_current, 0, newest);
  if (m_input->IsDownEdge(VK_UP) || m_input->IsDownEdge(VK_WHEEL_UP)) {
    if (m_current == 0) return false;
    ChangePage(List::kOlderVanish, -1, List::kOlderAppear);
    return false;
  }
  if (m_input->IsDownEdge(VK_DOWN) || m_input->IsDownEdge(VK_WHEEL_DOWN)) {
    if (m_current == newest) return true;
    ChangePage(List::kNewerVanish, +1, List::kNewerAppear);
    return false;
  }
  return false;
}

void CBackLog::Close() {
  m_current = 0;
  if (m_window) {
    m_window->ClearWithEffects(GetList(List::kNewerVanish));
    m_leftFont = m_window->GetFont();
  }
  m_window = nullptr;
}

void CBackLog::ShowPage(int32_t index) {
  if (!m_window || index < 0 || size_t(index) >= m_pages.size()) return;
  CTextRenderer& window = *m_window;
  // Ruby left open by the page shown before must not swallow this page's
  // text.
  m_rubyOn = false;
  m_rubyBase.clear();
  m_rubyText.clear();
  m_fontStack.clear();
  const FontSnapshot* snapshot = size_t(index) < m_pageFonts.size() ? &m_pageFonts[size_t(index)] : nullptr;
  if (snapshot && !snapshot->empty()) {
    // The page starts in the newest font; each of its own "/font" records
    // that closes an earlier font steps back to the next older one.
    window.SetFont(snapshot->front());
    for (auto it = snapshot->rbegin(); it != snapshot->rend(); ++it) m_fontStack.push_back(*it);
  } else {
    // A page begun before any font tag: the window's own font, not whatever
    // the page shown before it left behind.
    window.SetFont(m_windowFont);
  }
  for (const CScriptBlock& record : m_pages[size_t(index)]) {
    if (record.m_type == CScriptBlock::kText) {
      if (m_rubyOn)
        m_rubyBase += record.m_text;
      else
        window.AddText(record.m_text);
      continue;
    }
    if (record.m_type != CScriptBlock::kTag) continue;
    const std::string& name = record.m_text;
    if (name == "rt") {
      window.NewLine();
    } else if (name == "font") {
      if ((record.HasAttribute("width") || record.HasAttribute("height")) &&
          (window.HasText() || window.HasPendingLine()))
        window.Clear();
      CFontValues font = window.GetFont();
      ApplyFontAttributes(record, font);
      if (record.HasAttribute("align") && window.HasPendingLine()) window.NewLine();
      window.SetFont(font);
      m_fontStack.push_back(font);
    } else if (name == "/font") {
      // Like the tag: the last font stays, so an unbalanced page cannot
      // empty the stack.
      if (m_fontStack.size() > 1) {
        m_fontStack.pop_back();
        window.SetFont(m_fontStack.back());
      }
    } else if (name == "ruby") {
      m_rubyOn = true;
      m_rubyBase.clear();
      m_rubyText = record.GetAttribute("text");
    } else if (name == "/ruby") {
      if (!m_rubyOn) continue;
      window.AddChar(m_rubyBase, m_rubyText);
      m_rubyOn = false;
    }
  }
  window.FinishEffects();
}

void CBackLog::Serialize(CSerializer& stream) const {
  CTextTweenInfoSerializer::EnsureRegistered();
  stream.Write(1, m_pageFonts);
  stream.Write(2, m_pages);
  stream.Write(3, m_lists[Index(List::kOlderAppear)]);
  stream.Write(4, m_lists[Index(List::kOlderVanish)]);
  stream.Write(5, m_lists[Index(List::kNewerAppear)]);
  stream.Write(6, m_lists[Index(List::kNewerVanish)]);
}

void CBackLog::Deserialize(CSerializer& stream) {
  CTextTweenInfoSerializer::EnsureRegistered();
  (void)stream.Read(1, m_pageFonts);
  (void)stream.Read(2, m_pages);
  (void)stream.Read(3, m_lists[Index(List::kOlderAppear)]);
  (void)stream.Read(4, m_lists[Index(List::kOlderVanish)]);
  (void)stream.Read(5, m_lists[Index(List::kNewerAppear)]);
  (void)stream.Read(6, m_lists[Index(List::kNewerVanish)]);
  // The two lists are read independently; a file whose lists disagree must
  // not make ShowPage read fonts that are not there.
  m_pageFonts.resize(m_pages.size());
  while (m_pages.size() > kMaxPages) {
    m_pages.pop_front();
    m_pageFonts.pop_front();
  }
  m_current = std::clamp(m_current, 0, std::max(int32_t(m_pages.size()) - 1, 0));
}

void CBackLog::Dump(std::string& out) const {
  out += "backlog pages " + std::to_string(m_pages.size()) + " current " + std::to_string(m_current) +
         (m_window ? " open" : " closed") + '\n';
}
