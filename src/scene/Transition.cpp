// Screen transitions of the graphic system: while one runs, the back set is
// drawn into an off-screen canvas that is laid over the front set with a
// rising opacity (a cross-fade) or through a mask worked out every frame from
// a rule image and a moving threshold (a wipe). The tween that drives it
// commits the scene when it ends.
#include <algorithm>
#include <cmath>
#include <memory>

#include "graphics/GraphicLoader.h"
#include "graphics/Surface.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/Tween.h"

uint8_t CGraphicSystem::RuleMask(int64_t p, int64_t t, int64_t v) {
  // 64 bits throughout: thresholds run from -v to 255 + v, and v comes
  // straight from a script.
  const int64_t lo = t - v;
  const int64_t hi = t + v;
  if (p <= lo) return 255;
  if (p >= hi) return 0;
  const float k = 256.0f / float(2 * v);
  const float m = std::floor(float(hi - p) * k);
  return uint8_t(std::clamp(m, 0.0f, 255.0f));
}

bool CGraphicSystem::LoadRule(const std::string& file) {
  rule_.clear();
  if (!surfaceFactory_ || !loaders_ || width_ <= 0 || height_ <= 0) return true;
  std::unique_ptr<ISurface> image(surfaceFactory_->Create());
  if (!image || loaders_->LoadFile(image.get(), file.c_str())) return true;
  const int w = image->GetWidth(), h = image->GetHeight();
  if (w <= 0 || h <= 0) return true;
  const int bpp = image->GetBytesPerPixel();
  // A 32-bit rule is read by its green byte (grey images have it equal to
  // the others); an 8-bit one by its only byte.
  const int offset = bpp >= 2 ? 1 : 0;
  rule_.resize(size_t(width_) * size_t(height_));
  // A rule at least as large as the screen is read at the screen's pixels
  // (its top left part); a smaller one is stretched over the screen.
  const int scaleW = w < width_ ? w : width_;
  const int scaleH = h < height_ ? h : height_;
  image->Lock();
  for (int y = 0; y < height_; ++y) {
    const int sy = int(int64_t(y) * scaleH / height_);
    const uint8_t* line = image->GetLine(sy);
    uint8_t* out = &rule_[size_t(y) * size_t(width_)];
    if (!line) {
      std::fill(out, out + width_, uint8_t(0));
      continue;
    }
    for (int x = 0; x < width_; ++x) out[x] = line[size_t(int64_t(x) * scaleW / width_) * size_t(bpp) + size_t(offset)];
  }
  image->Unlock();
  return false;
}

CGraphicSystem::TransitionStart CGraphicSystem::StartTransition(int type, int32_t time, const std::string& rule,
                                                                int32_t vague, std::function<void()> onDone) {
  if (type == 0) {
    Commit();
    return TransitionStart::kNone;
  }
  if ((type != 1 && type != 2) || !canvas_) return TransitionStart::kNone;
  if (type == 2 && LoadRule(rule)) {
    // Nothing of a rule that did not load may stay: the next cross-fade
    // would run the rule step over it.
    rule_.clear();
    return TransitionStart::kRuleMissing;
  }
  // A transition started over a running one replaces its tween without
  // letting that one commit.
  (void)KillTransitionTween();
  std::weak_ptr<CGraphicSystem*> self = self_;
  auto complete = [self, onDone = std::move(onDone)] {
    auto alive = self.lock();
    if (!alive || !*alive) return;
    (*alive)->transitionTween_ = -1;
    (*alive)->Commit();
    if (onDone) onDone();
  };
  transitionRunning_ = true;
  if (type == 1) {
    canvas_->SetMask(nullptr);
    canvas_->SetAlpha(0);
    auto tween = std::make_unique<TTween<int32_t>>(
        [self](int32_t value) {
          auto alive = self.lock();
          if (alive && *alive && (*alive)->canvas_) (*alive)->canvas_->SetAlpha(value);
        },
        0, 255, time, 0);
    tween->SetOnComplete(std::move(complete));
    transitionTween_ = CTweenRegistry::Instance().Register(std::move(tween));
  } else {
    // A fade cut short may have left the canvas translucent.
    canvas_->SetAlpha(255);
    vague_ = vague;
    threshold_ = -vague_;
    auto tween = std::make_unique<TTween<int64_t>>(
        [self](int64_t value) {
          auto alive = self.lock();
          if (alive && *alive) (*alive)->threshold_ = value;
        },
        -vague_, vague_ + 255, time, 0);
    tween->SetOnComplete(std::move(complete));
    transitionTween_ = CTweenRegistry::Instance().Register(std::move(tween));
  }
  return TransitionStart::kStarted;
}

bool CGraphicSystem::KillTransitionTween() {
  if (transitionTween_ < 0) return false;
  // Forgotten first: killing jumps the tween to its end, and nothing may
  // take it for a live one meanwhile.
  const int32_t handle = transitionTween_;
  transitionTween_ = -1;
  CTweenRegistry::Instance().Kill(handle);
  return true;
}

bool CGraphicSystem::FinishTransition() {
  // The tween goes first: killed, its value jumps to the end and its
  // callback does not run, so the caller resumes the script itself.
  const bool tweenAlive = KillTransitionTween();
  if (!transitionRunning_ && !tweenAlive) return true;
  Commit();
  return false;
}

bool CGraphicSystem::BackSetMoves() const {
  CTweenRegistry& registry = CTweenRegistry::Instance();
  for (const auto& [id, handles] : layerTweens_) {
    IVirtualLayer* layer = back_->Find(id);
    if (!layer || !layer->GetVisible()) continue;
    for (const int32_t handle : handles)
      if (registry.IsAlive(handle)) return true;
  }
  // Nothing else redraws it: an animation in the new scene shows the frame
  // it had when the transition began until the scene is committed.
  return false;
}

void CGraphicSystem::DrawTransition(ISurface* target) {
  if (!canvas_) return;
  if (BackSetMoves()) backNeedsDrawing_ = true;
  if (backNeedsDrawing_) {
    backNeedsDrawing_ = false;
    canvasSurface_->Fill(0xFF000000u);
    // The preview shows the changes lyprop queued without keeping them.
    ApplyPending();
    back_->Draw(canvasSurface_.get());
    RevertPending();
  }
  if (!rule_.empty()) {
    canvas_->SetMask(mask_.get());
    canvas_->SetDirtyFlags(canvas_->GetDirtyFlags() | kDirtyImage);
    mask_->Lock();
    uint8_t table[256];
    for (int p = 0; p < 256; ++p) table[p] = RuleMask(p, threshold_, vague_);
    for (int y = 0; y < height_; ++y) {
      uint8_t* out = mask_->GetLine(y);
      const uint8_t* in = &rule_[size_t(y) * size_t(width_)];
      for (int x = 0; x < width_; ++x) out[x] = table[in[x]];
    }
    mask_->Unlock();
  }
  canvas_->Draw(target);
}
