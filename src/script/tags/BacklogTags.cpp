// The message family's side of the backlog and of hiding the messages: the
// pages the main window hands over at each page break, opening and paging
// the backlog view, and what the hidden and backlog states do to the
// current window.
#include "save/SaveData.h"
#include "script/MainScript.h"
#include "script/tags/MessageTags.h"

CBackLog& CMessageTagState::ResetBacklog() {
  if (m_backlog) m_backlog->Close();
  m_backlog = std::make_unique<CBackLog>();
  return *m_backlog;
}

void CMessageTagState::EndPage(CMainScript& script) {
  CSaveData& save = script.GetSaveData();
  CSaveData::BlockList& records = save.GetMessageReplay()[m_currentWindowId];
  std::vector<CFontProperty>& pageStart = save.GetFontStacks()[m_currentWindowId];
  // The stack as the page began, not as it ends: the page's own "/font"
  // records may have closed fonts it needs to be shown again.
  if (m_currentWindowId.empty()) m_backlog->AddPage(records, pageStart);
  records.clear();
  pageStart = m_fontStacks[m_currentWindowId];
  save.GetPageStartFonts()[m_currentWindowId] = CFontProperty(CurrentWindow(script)->GetFont());
}

bool CMessageTagState::AdoptBacklog(std::unique_ptr<ISerializable>& backlog) {
  auto* read = dynamic_cast<CBackLog*>(backlog.get());
  if (!read) return false;
  if (m_backlog) m_backlog->Close();
  m_backlog.reset(read);
  backlog.release();
  return true;
}

bool CMessageTagState::OpenBacklog(CMainScript& script) {
  m_backlog->SetInput(script.GetInput());
  return m_backlog->Open(SelectWindow(script, "backlog"));
}

bool CMessageTagState::UpdateBacklog(CMainScript& script) {
  m_backlog->SetInput(script.GetInput());
  return m_backlog->Update();
}

void CMessageTagState::OnHidePathEvent(CMainScript& script, ScriptEvent event) {
  switch (event) {
    case ScriptEvent::kMessagesHidden: {
      CLinkableTextRenderer* window = CurrentWindow(script);
      window->EndAppearance();
      window->ApplyEffectList(VanishList());
      break;
    }
    case ScriptEvent::kMessagesShown: {
      CLinkableTextRenderer* window = CurrentWindow(script);
      window->EndAppearance();
      window->ApplyEffectList(AppearList());
      break;
    }
    case ScriptEvent::kBacklogOpened: {
      CLinkableTextRenderer* window = CurrentWindow(script);
      // A script writing into the backlog's own window still sees the view.
      if (m_currentWindowId != "backlog") window->Hide();
      window->EndAppearance();
      window->ApplyEffectList(VanishList());
      break;
    }
    case ScriptEvent::kBacklogClosed: {
      CLinkableTextRenderer* window = CurrentWindow(script);
      window->Show();
      window->EndAppearance();
      window->ApplyEffectList(AppearList());
      m_backlog->Close();
      break;
    }
    default: break;
  }
}
