// The backlog: what its pages cost in memory and what replaying one costs.
//
// A page is 400 characters of Japanese text in ten 40-character text
// records separated by "rt" records, with one font snapshot, as the message
// window records it.
//
// - BM_BacklogMemory: builds a backlog of 101 such pages and counts the
//   bytes its pages and fonts hold (a counting allocator around AddPage),
//   against the bytes of its saved stream. Reports held / serialized as
//   "ratio" (target: at most 3).
// - BM_WriteTextBaseline: the page's text written into a message window with
//   AddText and NewLine, the least any replay must do.
// - BM_ShowPage: CBackLog::ShowPage of the same page into the same window.
//   Report it as a ratio against the baseline (target: at most 1.2).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "core/Serializer.h"
#include "graphics/Surface.h"
#include "platform/FontBackend.h"
#include "platform/TextCodec.h"
#include "scene/Layer.h"
#include "text/BackLog.h"
#include "text/GlyphGenerator.h"

// ---- Counting allocator ------------------------------------------------------

namespace {

std::atomic<int64_t> g_liveBytes{0};
// Every block carries its size in front, so that freeing can count it.
constexpr size_t kHeader = alignof(std::max_align_t);

void* Allocate(size_t size) {
  void* block = std::malloc(size + kHeader);
  if (!block) throw std::bad_alloc();
  *static_cast<size_t*>(block) = size;
  g_liveBytes += int64_t(size);
  return static_cast<char*>(block) + kHeader;
}

void Release(void* p) {
  if (!p) return;
  void* block = static_cast<char*>(p) - kHeader;
  g_liveBytes -= int64_t(*static_cast<size_t*>(block));
  std::free(block);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace {

constexpr int kPages = 101;
constexpr int kLines = 10;
constexpr int kLineChars = 40;

CBackLog::Page MakePage(int seed) {
  static const std::string kana = platform::ConvertUtf8ToCp932(
      "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん");
  CBackLog::Page page;
  for (int line = 0; line < kLines; ++line) {
    if (line) page.emplace_back(CScriptBlock::kTag, 10 * seed + line, "rt");
    std::string text;
    for (int c = 0; c < kLineChars; ++c) {
      const size_t at = size_t((seed * 7 + line * 3 + c) % int(kana.size() / 2)) * 2;
      text += kana.substr(at, 2);
    }
    page.emplace_back(CScriptBlock::kText, 10 * seed + line, text);
  }
  return page;
}

CFontValues PageFont() {
  CFontValues font;
  font.width = 2000;
  font.height = 2000;
  font.size = 24;
  return font;
}

void BM_BacklogMemory(benchmark::State& state) {
  std::vector<CBackLog::Page> pages;
  for (int n = 0; n < kPages; ++n) pages.push_back(MakePage(n));
  const std::vector<CFontProperty> fonts = {CFontProperty(PageFont())};
  int64_t held = 0;
  size_t serialized = 0;
  for (auto _ : state) {
    CBackLog backlog;
    const int64_t before = g_liveBytes.load();
    for (const CBackLog::Page& page : pages) backlog.AddPage(page, fonts);
    held = g_liveBytes.load() - before;
    CSerializer stream;
    stream.Write(31, backlog);
    serialized = stream.Finish().size();
    benchmark::DoNotOptimize(serialized);
  }
  state.counters["held_bytes"] = double(held);
  state.counters["serialized_bytes"] = double(serialized);
  state.counters["ratio"] = double(held) / double(serialized);
}
BENCHMARK(BM_BacklogMemory)->Unit(benchmark::kMillisecond);

struct Window {
  CLayerFactory layers;
  CSurfaceFactory surfaces;
  CTextRenderer renderer{&layers, &surfaces};
  CBackLog backlog;
  CBackLog::Page page = MakePage(1);
  bool ready = false;

  Window() {
    if (platform::InitFontBackend()) return;
    renderer.SetFont(PageFont());
    backlog.AddPage(page, {CFontProperty(PageFont())});
    // Warm the glyph caches so that both sides measure layout, not drawing.
    (void)backlog.Open(&renderer);
    backlog.Close();
    ready = true;
  }
};

Window& Shared() {
  static Window window;
  return window;
}

void BM_WriteTextBaseline(benchmark::State& state) {
  Window& w = Shared();
  if (!w.ready) return state.SkipWithError("no font");
  for (auto _ : state) {
    w.renderer.Clear();
    w.renderer.SetFont(PageFont());
    for (const CScriptBlock& record : w.page) {
      if (record.m_type == CScriptBlock::kText)
        w.renderer.AddText(record.m_text);
      else
        w.renderer.NewLine();
    }
    w.renderer.Layout();
    benchmark::DoNotOptimize(w.renderer.GetCharCount());
  }
  state.SetItemsProcessed(state.iterations() * kLines * kLineChars);
}
BENCHMARK(BM_WriteTextBaseline)->Unit(benchmark::kMicrosecond);

void BM_ShowPage(benchmark::State& state) {
  Window& w = Shared();
  if (!w.ready) return state.SkipWithError("no font");
  if (w.backlog.Open(&w.renderer)) return state.SkipWithError("no page");
  for (auto _ : state) {
    w.renderer.Clear();
    w.backlog.ShowPage(0);
    w.renderer.Layout();
    benchmark::DoNotOptimize(w.renderer.GetCharCount());
  }
  w.backlog.Close();
  state.SetItemsProcessed(state.iterations() * kLines * kLineChars);
}
BENCHMARK(BM_ShowPage)->Unit(benchmark::kMicrosecond);

}  // namespace
