// A font backend whose glyphs the test writes by hand, with GDI's metrics.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/FontBackend.h"

struct FakeGlyph {
  platform::GlyphMetrics metrics;
  std::vector<uint8_t> grey;  // blackBoxX * blackBoxY values 0..64, no padding
};

// Everything the fonts made from the backend share.
struct FakeFontState {
  std::map<uint16_t, FakeGlyph> glyphs;  // by big-endian code
  platform::FontTextMetrics metrics{24, 42};
  std::vector<platform::FontRequest> requests;
  std::vector<uint16_t> calls;  // codes asked for
};

class FakeFont : public platform::IFont {
 public:
  explicit FakeFont(FakeFontState* state) : state_(state) {}
  platform::FontTextMetrics GetTextMetrics() const override { return state_->metrics; }
  std::string GetFilePath() const override { return ""; }
  bool GetGlyphGray8(uint16_t code, platform::GlyphMetrics& metrics, std::vector<uint8_t>& buffer) override {
    state_->calls.push_back(code);
    auto found = state_->glyphs.find(code);
    if (found == state_->glyphs.end()) return true;
    const FakeGlyph& glyph = found->second;
    metrics = glyph.metrics;
    const size_t w = glyph.metrics.blackBoxX, h = glyph.metrics.blackBoxY, pitch = (w + 3) & ~size_t(3);
    if (buffer.size() < pitch * h) buffer.resize(pitch * h);
    for (size_t y = 0; y < h; ++y)
      for (size_t x = 0; x < pitch; ++x) buffer[y * pitch + x] = x < w ? glyph.grey[y * w + x] : 0;
    return false;
  }

 private:
  FakeFontState* state_;
};

class FakeFontBackend : public platform::IFontBackend {
 public:
  FakeFontState state;

  std::unique_ptr<platform::IFont> CreateFont(const platform::FontRequest& request) override {
    state.requests.push_back(request);
    return std::make_unique<FakeFont>(&state);
  }
  bool DescribeFace(const std::string&, platform::FontFaceInfo& out) override {
    out = platform::FontFaceInfo();
    return false;
  }

  // A glyph of w x h samples all of one value.
  void AddSolid(uint16_t code, uint32_t w, uint32_t h, int ox, int oy, int advance, uint8_t value = 64) {
    FakeGlyph glyph;
    glyph.metrics = {w, h, ox, oy, advance};
    glyph.grey.assign(size_t(w) * h, value);
    state.glyphs[code] = glyph;
  }
};

// Publishes a fake backend for the life of the object and gives the test a
// fresh process-wide generator.
class ScopedFakeFonts {
 public:
  ScopedFakeFonts() {
    previous_ = platform::GetFontBackend();
    platform::SetFontBackend(&backend);
  }
  ~ScopedFakeFonts() { platform::SetFontBackend(previous_); }
  FakeFontBackend backend;

 private:
  platform::IFontBackend* previous_;
};
