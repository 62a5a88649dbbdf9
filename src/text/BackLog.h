// The backlog: the pages the main message window finished, kept with the
// fonts each page needs, replayed one at a time into the window named
// "backlog" while the player pages through them. Every page change runs two
// of four effect lists (older page in and out, newer page in and out). The
// pages, their fonts and the lists are saved with the game.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "core/ScriptBlock.h"
#include "core/Serializer.h"
#include "text/TextRenderer.h"

class CInputState;

class CBackLog : public ISerializable {
 public:
  // At most this many pages are held; the oldest go first.
  static constexpr size_t kMaxPages = 101;

  using Page = std::vector<CScriptBlock>;
  // The fonts a page starts from, most recent first.
  using FontSnapshot = std::vector<CFontProperty>;
  using CTweenList = CTextRenderer::CTweenList;

  // Which of the four effect lists (the scetween types backlog_down_in,
  // backlog_down_out, backlog_up_in, backlog_up_out).
  enum class List { kOlderAppear, kOlderVanish, kNewerAppear, kNewerVanish };

  // input: where Update reads the paging keys (may be null: nothing pages).
  explicit CBackLog(CInputState* input = nullptr);
  ~CBackLog() override;
  CBackLog(const CBackLog&) = delete;
  CBackLog& operator=(const CBackLog&) = delete;

  void SetInput(CInputState* input) { m_input = input; }

  // Stores a finished page of the main window: its records and the window's
  // font stack as it stood when the page began (oldest first). A page
  // without a text record is not stored.
  void AddPage(const Page& records, const std::vector<CFontProperty>& fontStack);

  // Shows the newest page in window with the older-page appear list. True
  // (nothing shown) when no page is stored or no window is given.
  [[nodiscard]] bool Open(CTextRenderer* window);
  // Once per frame while shown: Up or wheel up pages back, Down or wheel
  // down forward. True when the view should close (no window, or Down on the
  // newest page).
  [[nodiscard]] bool Update();
  // Lets the shown page vanish and forgets the window.
  void Close();
  // The backlog window is about to be made again (a restart): its own font
  // is read afresh at the next opening.
  void ForgetWindowFont() { m_styledWindow = nullptr; }
  // Replays a page into the window (nothing when either is missing).
  void ShowPage(int32_t index);

  // Field tags: 1 page fonts, 2 pages, 3 older-page appear list, 4
  // older-page vanish list, 5 newer-page appear list, 6 newer-page vanish
  // list. Reading pairs every page with a font snapshot and keeps at most
  // kMaxPages pages.
  void Serialize(CSerializer& stream) const override;
  void Deserialize(CSerializer& stream) override;

  size_t GetPageCount() const { return m_pages.size(); }
  int32_t GetCurrentPage() const { return m_current; }
  bool IsOpen() const { return m_window != nullptr; }
  CTextRenderer* GetWindow() const { return m_window; }
  const std::deque<Page>& GetPages() const { return m_pages; }
  const std::deque<FontSnapshot>& GetPageFonts() const { return m_pageFonts; }
  CTweenList& GetList(List list);
  const CTweenList& GetList(List list) const;
  // The four lists as a new backlog has them.
  static CTweenList DefaultList(List list);

  // "backlog pages N current C open|closed", for the headless text dump.
  void Dump(std::string& out) const;

 private:
  void ChangePage(List vanish, int32_t step, List appear);

  CInputState* m_input = nullptr;
  CTextRenderer* m_window = nullptr;
  std::deque<FontSnapshot> m_pageFonts;
  std::deque<Page> m_pages;
  CTweenList m_lists[4];
  // Replay state of ShowPage.
  bool m_rubyOn = false;
  std::string m_rubyBase;
  std::string m_rubyText;
  std::vector<CFontValues> m_fontStack;
  // The backlog window's own font, and the font browsing left it in.
  CFontValues m_windowFont;
  CFontValues m_leftFont;
  const CTextRenderer* m_styledWindow = nullptr;
  int32_t m_current = 0;
};
