// A frame animation: a layer showing one of several image layers by the time
// elapsed since it started, optionally starting over at a loop marker. Its
// own property block encloses the frames, so moving, fading or tweening the
// animation moves, fades or tweens every frame.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "scene/Layer.h"
#include "scene/LayerProperty.h"

class CLayerSet;

class CAnimationLayer : public IVirtualLayer, public CLayerProperty {
 public:
  // The clock the animation is timed by (milliseconds); the process timer
  // when none is given.
  using Clock = std::function<uint32_t()>;
  explicit CAnimationLayer(Clock clock = {});
  ~CAnimationLayer() override;
  CAnimationLayer(const CAnimationLayer&) = delete;
  CAnimationLayer& operator=(const CAnimationLayer&) = delete;

  // Those of the frame shown from time 0; the position without one.
  int GetWidth() const override;
  int GetHeight() const override;
  int GetRight() const override;
  int GetBottom() const override;
  int GetDrawFlags() const override;
  void DrawWithParents(ISurface* target, CParentChain& parents) override;
  void Draw(ISurface* target) override;

  // Restarts the clock and drops every frame; the given one shows from 0.
  // The animation owns its frames (and their surfaces) from here on.
  virtual void Reset(IVirtualLayer* first);
  // Stores a frame shown from time ms after the start, replacing (and
  // deleting) one stored at that time; none is the loop marker.
  virtual void SetFrame(IVirtualLayer* frame, int32_t time);

  // The start time of the frame a draw at now would show, or -1 when
  // nothing would be drawn. Does not move the clock.
  int64_t GetShownTime(uint32_t now) const;
  IVirtualLayer* FindFrame(int32_t time) const;
  size_t GetFrameCount() const { return m_frames.size(); }
  // Frames by start time; a null entry is a loop marker.
  const std::map<int32_t, IVirtualLayer*>& GetFrames() const { return m_frames; }
  uint32_t GetStartTime() const { return m_start; }
  uint32_t Now() const;

 private:
  // The frame to show at now and the start time after whole loops are
  // skipped. Loops are skipped at once, not one walk per loop, so a long
  // pause costs nothing; markers at 0 or before are ignored.
  const std::pair<const int32_t, IVirtualLayer*>* Select(uint32_t now, uint32_t& start) const;

  Clock m_clock;
  // Frames by start time; a null entry is a loop marker.
  std::map<int32_t, IVirtualLayer*> m_frames;
  // Holds the frames, so that a frame, its surface and any property change
  // still queued for it go exactly when the animation lets go of it.
  std::unique_ptr<CLayerSet> m_holder;
  uint32_t m_start = 0;
};
