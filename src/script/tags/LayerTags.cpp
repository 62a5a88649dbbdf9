// Layer tags: image layers and their properties, tweens and tween queues,
// frame animations, pointer handlers, and presenting the back set with or
// without a transition. Property changes wait in the graphic system until a
// flip or trans commits them.
#include "script/tags/LayerTags.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "graphics/GraphicLoader.h"
#include "graphics/Surface.h"
#include "platform/InputState.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"
#include "platform/VirtualKeys.h"
#include "save/SaveData.h"
#include "scene/AnimationLayer.h"
#include "scene/Easing.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerProperty.h"
#include "scene/LayerSet.h"
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"
#include "script/tags/TagUtil.h"

using State = CLayerTagState;

CLayerTagState::~CLayerTagState() {
  if (m_token) *m_token = nullptr;
}

std::weak_ptr<CMainScript*> CLayerTagState::Token(CMainScript& script) {
  if (!m_token) m_token = std::make_shared<CMainScript*>(&script);
  return m_token;
}

void CLayerTagState::OnEvent(CMainScript&, ScriptEvent event) {
  if (event != ScriptEvent::kBoot) return;
  // The queue was never registered, so its tweens drive nothing yet.
  m_queue.reset();
  m_queuedIds.clear();
  m_queueSync = false;
  m_queueSyncEndless = false;
  m_queueWait.reset();
  m_pointer.Clear();
  for (auto& lines : m_handlerLines) lines.clear();
}

bool CLayerTagState::OnWaitFrame(CMainScript& script, uint32_t) {
  CGraphicSystem* graphics = script.GetGraphics();
  CInputState* input = script.GetInput();
  if (!graphics || !input || !m_pointer.HasHandlers()) return false;
  CPointerEvents::Input in;
  in.x = input->GetPointer().x;
  in.y = input->GetPointer().y;
  in.scale = input->GetScale();
  in.pressEdge = input->IsDownEdge(platform::VK_LBUTTON);
  bool runOn = false;
  m_pointer.Run(script.GetFrameNumber(), in, graphics->GetFrontSet(), [&](const CPointerEvents::Event& event) {
    auto get = [&](const char* name) {
      auto it = event.attributes.find(name);
      return it == event.attributes.end() ? std::string() : it->second;
    };
    const bool tooDeep = event.call && script.IsCallStackFull();
    const bool failed = event.call ? script.Call(get("file"), get("label")) : script.Jump(get("file"), get("label"));
    if (failed) {
      static const std::string message = Utf8ToCp932("指定された場所は見つかりません。");
      CScriptBlock shown(CScriptBlock::kTag, 0,
                         event.kind == CPointerEvents::Kind::kClick      ? "setonclick"
                         : event.kind == CPointerEvents::Kind::kRollover ? "setonrollover"
                                                                         : "setonrollout");
      script.ReportTag(shown, shown.m_text + " file=\"" + get("file") + "\" label=\"" + get("label") + "\"",
                       CMainScript::CallFailureText(tooDeep, message));
      return;
    }
    // Rollout targets start in the next frame; click and rollover ones now.
    if (event.kind != CPointerEvents::Kind::kRollout) runOn = true;
    if (event.kind == CPointerEvents::Kind::kClick) script.TakeLeftPress();
  });
  return runOn;
}

namespace {

void ReportWithAttribute(CMainScript& script, const CScriptBlock& record, const char* attribute,
                         const char* messageUtf8) {
  script.ReportTag(record, record.m_text + " " + attribute + "=\"" + record.GetAttribute(attribute) + "\"",
                   Utf8ToCp932(messageUtf8));
}

void ReportMissingLayer(CMainScript& script, const CScriptBlock& record) {
  ReportWithAttribute(script, record, "id", "指定されたレイヤーが見つかりません。");
}

int Number(const CScriptBlock& record, const char* name) { return tagutil::Atoi(record.GetAttribute(name)); }

// Property attributes in the order they are queued, with their indices.
struct PropertyAttribute {
  const char* name;
  int index;
};
constexpr PropertyAttribute kPropertyAttributes[] = {{"left", 0},    {"top", 1},      {"alpha", 2},  {"anchorx", 3},
                                                     {"anchory", 4}, {"xscale", 5},   {"yscale", 6}, {"rotate", 7},
                                                     {"visible", 8}, {"layermode", 9}};

void ApplyLayerAttributes(State& state, CGraphicSystem& graphics, IVirtualLayer* layer, const CScriptBlock& record) {
  for (const PropertyAttribute& p : kPropertyAttributes) {
    if (!record.HasAttribute(p.name)) continue;
    const std::string& text = record.GetAttribute(p.name);
    if (p.index == kPropVisible) {
      graphics.QueueProperty(layer, p.index, text != "0");
    } else if (p.index == kPropLayerMode) {
      int mode = 0;
      if (!LayerModeFromName(text, mode)) graphics.QueueProperty(layer, p.index, mode);
    } else if (p.index == kPropXScale || p.index == kPropYScale) {
      graphics.QueueProperty(layer, p.index, int(PercentToScale(tagutil::Atoi(text))));
    } else {
      graphics.QueueProperty(layer, p.index, tagutil::Atoi(text));
    }
  }
  if (record.HasAttribute("clickablethreshold"))
    state.m_pointer.SetThreshold(record.GetAttribute("id"), uint8_t(Number(record, "clickablethreshold")));
}

bool HoldsAnimation(CGraphicSystem& graphics, const std::string& id) {
  return dynamic_cast<CAnimationLayer*>(graphics.GetBackSet().Find(id)) != nullptr;
}

// Appends to the layer's replay list, or to the animation's when the id holds
// one: loading runs the animation lists last, so changes to an animation
// recorded with the layers would be lost.
void Append(CMainScript& script, CGraphicSystem& graphics, const std::string& id, const CScriptBlock& record,
            bool onlyIfListed = false) {
  CSaveData::ReplayMap& lists =
      HoldsAnimation(graphics, id) ? script.GetSaveData().GetAnimationReplay() : script.GetSaveData().GetLayerReplay();
  if (onlyIfListed && !lists.count(id)) return;
  lists[id].push_back(record);
}

// A new image layer loaded from the file with its anchor at its centre, or
// null when the file does not load.
std::unique_ptr<ILayer> LoadImageLayer(CGraphicSystem& graphics, const std::string& file) {
  ILayerFactory* layers = graphics.GetLayerFactory();
  ISurfaceFactory* surfaces = graphics.GetSurfaceFactory();
  CGraphicLoaders* loaders = graphics.GetLoaders();
  if (!layers || !surfaces || !loaders) return nullptr;
  std::unique_ptr<ISurface> surface(surfaces->Create());
  if (!surface || loaders->LoadFile(surface.get(), file.c_str())) return nullptr;
  std::unique_ptr<ILayer> layer(layers->Create());
  if (!layer) return nullptr;
  layer->SetSurface(surface.release());
  layer->SetAnchorX(layer->GetSurface()->GetWidth() / 2);
  layer->SetAnchorY(layer->GetSurface()->GetHeight() / 2);
  return layer;
}

// Deletes a layer no set ever held, with its surface.
void DiscardLayer(CGraphicSystem& graphics, std::unique_ptr<ILayer> layer) {
  if (!layer) return;
  graphics.ForgetLayer(layer.get());
  std::unique_ptr<ISurface> surface(layer->GetSurface());
  layer.reset();
}

bool LayerCreate(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  CGraphicSystem* graphics = script.GetGraphics();
  if (!graphics) return false;
  const std::string& id = record.GetAttribute("id");
  // Files that do not load leave the scene as it was. The players and the
  // error channels hear nothing; the -log names the file, and -strict
  // counts it, so that an author's test run catches it.
  auto logFailure = [&](const char* attribute) {
    LogProblem(FormatTagReport(
        script.GetCursor().m_file, record.m_line,
        record.m_text + " id=\"" + id + "\" " + attribute + "=\"" + record.GetAttribute(attribute) + "\"",
        Utf8ToCp932("画像を読み込めません。")));
  };
  std::unique_ptr<ILayer> layer = LoadImageLayer(*graphics, record.GetAttribute("file"));
  if (!layer) {
    logFailure("file");
    return false;
  }
  if (record.HasAttribute("mask")) {
    std::unique_ptr<ISurface> mask(graphics->GetSurfaceFactory()->Create());
    if (!mask || graphics->GetLoaders()->LoadFile(mask.get(), record.GetAttribute("mask").c_str())) {
      logFailure("mask");
      DiscardLayer(*graphics, std::move(layer));
      return false;
    }
    layer->SetMask(mask.get());
    // An accepted mask lives and dies with the layer; a rejected one goes now.
    if (layer->GetMask() == mask.get()) CLayerSet::GiveMask(layer.get(), mask.release());
  }
  graphics->KillLayerTweens(id);
  if (IVirtualLayer* old = graphics->GetBackSet().Find(id)) graphics->ForgetLayer(old);
  graphics->GetBackSet().Add(id, layer.release());
  if (!replay) {
    CSaveData::BlockList& list = script.GetSaveData().GetLayerReplay()[id];
    list = {record};
    // The id's click threshold outlives the layer it was set on: the new
    // list carries it, or a loaded game would answer the pointer otherwise.
    if (const int threshold = state.m_pointer.GetThreshold(id); threshold >= 0)
      list.push_back(CScriptBlock(CScriptBlock::kTag, 0, "lyprop",
                                  {{"id", id}, {"clickablethreshold", std::to_string(threshold)}}));
    script.GetSaveData().GetAnimationReplay().erase(id);
  }
  return false;
}

bool LayerProperty(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  CGraphicSystem* graphics = script.GetGraphics();
  const std::string& id = record.GetAttribute("id");
  IVirtualLayer* layer = graphics ? graphics->GetBackSet().Find(id) : nullptr;
  if (!layer) {
    ReportMissingLayer(script, record);
    return false;
  }
  ApplyLayerAttributes(state, *graphics, layer, record);
  if (!replay) Append(script, *graphics, id, record);
  return false;
}

bool LayerDelete(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  CGraphicSystem* graphics = script.GetGraphics();
  const std::string& id = record.GetAttribute("id");
  if (graphics) {
    graphics->KillLayerTweens(id);
    if (IVirtualLayer* layer = graphics->GetBackSet().Find(id)) {
      graphics->ForgetLayer(layer);
      graphics->GetBackSet().Remove(id);
    }
  }
  state.m_pointer.Forget(id);
  if (!replay) {
    // Both lists: a removed animation must not come back when a game saved
    // afterwards is loaded.
    script.GetSaveData().GetLayerReplay().erase(id);
    script.GetSaveData().GetAnimationReplay().erase(id);
  }
  return false;
}

int TweenIndex(const std::string& param) {
  if (param == "left") return kPropLeft;
  if (param == "top") return kPropTop;
  if (param == "alpha") return kPropAlpha;
  if (param == "xscale") return kPropXScale;
  if (param == "yscale") return kPropYScale;
  if (param == "rotate") return kPropRotate;
  return -1;
}

// What a sync tween's completion does: the sync wait it was made for ends,
// so the script waiting there runs again. A script hidden or in the backlog
// from that wait runs when it comes back; one a call took away from it finds
// it ended on return; one that has left it (a click handler jumped) is not
// disturbed in whatever it waits for now. wait holds the wait's id (0 until
// a queue's /tweenset enters it).
std::function<void()> ResumeAction(State& state, CMainScript& script, std::shared_ptr<const uint64_t> wait) {
  return [token = state.Token(script), wait = std::move(wait)] {
    auto alive = token.lock();
    if (alive && *alive) (*alive)->EndSyncWait(*wait);
  };
}

// A tween with something to do when it ends, however it ends: when it runs
// out (its completion action) and when something finishes it early
// (lytweendel, a layer made again under its id, the fade of hiding the
// messages). A wait for it must not outlive it, and the value it leaves must
// reach the replay list after whatever the script set meanwhile.
class CEndingTween final : public ITween {
 public:
  CEndingTween(std::unique_ptr<CIntTween> tween, std::function<void()> onEnd) : m_onEnd(std::move(onEnd)) {
    tween->SetOnComplete(m_onEnd);
    m_tween = std::move(tween);
  }
  bool Update(uint32_t now) override { return m_tween->Update(now); }
  void Finish() override {
    m_tween->Finish();
    m_onEnd();
  }

 private:
  std::unique_ptr<CIntTween> m_tween;
  std::function<void()> m_onEnd;
};

bool LayerTween(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  CGraphicSystem* graphics = script.GetGraphics();
  const std::string& id = record.GetAttribute("id");
  IVirtualLayer* layer = graphics ? graphics->GetBackSet().Find(id) : nullptr;
  if (!layer) {
    ReportMissingLayer(script, record);
    return false;
  }
  const std::string& param = record.GetAttribute("param");
  const int index = TweenIndex(param);
  if (index < 0) return false;
  int32_t from = Number(record, "from");
  int32_t to = Number(record, "to");
  if (index == kPropXScale || index == kPropYScale) {
    from = PercentToScale(from);
    to = PercentToScale(to);
  }
  auto setter = MakeLayerSetter(layer, index);
  auto tween = std::make_unique<CIntTween>(setter, from, to, Number(record, "msec"), Number(record, "delay"));
  if (!state.m_queue) setter(from);
  int ease = kEaseNone;
  if (record.HasAttribute("ease") && EaseKindFromName(record.GetAttribute("ease"), ease)) tween->SetEase(ease);
  if (record.HasAttribute("yoyo")) tween->SetYoyo(Number(record, "yoyo"));
  const bool sync = record.HasAttribute("sync") && record.GetAttribute("sync") != "0";
  const bool endless = tween->GetRepeat() == -1;
  const bool yoyo = record.HasAttribute("yoyo") && Number(record, "yoyo") != 0;
  // A loaded game shows a finished tween at its end value: recorded now, for
  // a save made while it runs, and again when it ends, after any lyprop of
  // the same property that it overrode meanwhile.
  const CScriptBlock done(CScriptBlock::kTag, 0, "lyprop", {{"id", id}, {param, record.GetAttribute("to")}});
  std::function<void()> recordEnd;
  if (!replay && !yoyo) {
    recordEnd = [token = state.Token(script), id, done] {
      auto alive = token.lock();
      if (!alive || !*alive) return;
      CMainScript& live = **alive;
      // A layer deleted or made again has a list of its own by now.
      if (CGraphicSystem* graphics = live.GetGraphics()) Append(live, *graphics, id, done, true);
    };
  }
  // The id of the wait the tween ends: a queue's is shared by its tweens and
  // given at /tweenset, which enters the wait (the queue is registered only
  // then: waiting now would wait for a tween that cannot run).
  std::shared_ptr<uint64_t> wait;
  if (sync && state.m_queue) {
    if (!state.m_queueWait) state.m_queueWait = std::make_shared<uint64_t>(0);
    wait = state.m_queueWait;
    state.m_queueSync = true;
    if (endless) state.m_queueSyncEndless = true;
  } else if (sync) {
    wait = std::make_shared<uint64_t>(0);
  }
  // The tween with what its end does: record the value, resume the wait.
  std::unique_ptr<ITween> ready;
  if (sync || recordEnd) {
    std::function<void()> resume = sync ? ResumeAction(state, script, wait) : std::function<void()>();
    ready = std::make_unique<CEndingTween>(std::move(tween), [resume, recordEnd] {
      if (recordEnd) recordEnd();
      if (resume) resume();
    });
  } else {
    ready = std::move(tween);
  }
  if (state.m_queue) {
    state.m_queue->Add(std::move(ready));
    state.m_queuedIds.insert(id);
  } else {
    graphics->AddLayerTween(id, CTweenRegistry::Instance().Register(std::move(ready)));
  }
  if (!replay) Append(script, *graphics, id, yoyo ? record : done);
  // The wait begins once the tween is recorded: entering it may write the
  // autosave, which must show the tween's result. Only an endless yoyo
  // never ends its wait, in a loaded game as in this one.
  if (sync && !state.m_queue) {
    if (endless) {
      script.SetState(CMainScript::kSyncWait);
    } else {
      script.EnterTweenSyncWait();
    }
    *wait = script.GetCursor().m_syncWaitId;
  }
  return false;
}

bool LayerTweenDelete(State&, CMainScript& script, const CScriptBlock& record, bool replay) {
  CGraphicSystem* graphics = script.GetGraphics();
  if (!graphics) return false;
  const std::string& id = record.GetAttribute("id");
  graphics->KillLayerTweens(id);
  if (!replay) Append(script, *graphics, id, record, true);
  return false;
}

bool TweenSetOpen(State& state, CMainScript&, const CScriptBlock&, bool) {
  if (!state.m_queue) state.m_queue = std::make_unique<CTweenQueue>();
  return false;
}

bool TweenSetClose(State& state, CMainScript& script, const CScriptBlock&, bool) {
  if (!state.m_queue) return false;
  const int32_t handle = CTweenRegistry::Instance().Register(std::move(state.m_queue));
  state.m_queue.reset();
  if (CGraphicSystem* graphics = script.GetGraphics())
    for (const std::string& id : state.m_queuedIds) graphics->AddLayerTween(id, handle);
  state.m_queuedIds.clear();
  if (state.m_queueSync) {
    state.m_queueSync = false;
    if (std::exchange(state.m_queueSyncEndless, false)) {
      script.SetState(CMainScript::kSyncWait);
    } else {
      script.EnterTweenSyncWait();
    }
    if (state.m_queueWait) *state.m_queueWait = script.GetCursor().m_syncWaitId;
  }
  state.m_queueWait.reset();
  return false;
}

bool Anime(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  CGraphicSystem* graphics = script.GetGraphics();
  if (!graphics) return false;
  const std::string& id = record.GetAttribute("id");
  // Any other mode makes its frame and finds its animation like "add",
  // then only records itself.
  const std::string& mode = record.GetAttribute("mode");
  std::unique_ptr<ILayer> frame;
  if (mode != "end") {
    frame = LoadImageLayer(*graphics, record.GetAttribute("file"));
    if (!frame) {
      ReportWithAttribute(script, record, "file", "フレームとして指定された画像ファイルが読み込めません。");
      return false;
    }
    ApplyLayerAttributes(state, *graphics, frame.get(), record);
  }
  auto* animation = dynamic_cast<CAnimationLayer*>(graphics->GetBackSet().Find(id));
  if (mode != "init" && !animation) {
    ReportWithAttribute(script, record, "id", "指定されたアニメーションが見つかりません。");
    DiscardLayer(*graphics, std::move(frame));
    return false;
  }
  if (mode == "init") {
    // The replaced layer's tweens run on: it may still be on screen in the
    // front set until the next commit.
    if (IVirtualLayer* old = graphics->GetBackSet().Find(id)) graphics->ForgetLayer(old);
    auto* created = new CAnimationLayer();
    created->Reset(frame.release());
    graphics->GetBackSet().Add(id, created);
  } else if (mode == "add" || mode == "end") {
    const int32_t time = Number(record, "time");
    // A frame replaced at its time takes its queued changes with it.
    if (IVirtualLayer* old = animation->FindFrame(time)) graphics->ForgetLayer(old);
    animation->SetFrame(frame.release(), time);
  } else {
    DiscardLayer(*graphics, std::move(frame));
  }
  if (!replay) {
    CSaveData::ReplayMap& lists = script.GetSaveData().GetAnimationReplay();
    // The id's layer list stays: a load builds the layer again for the
    // animation to replace, and its records keep what the game set for the
    // id apart from the picture (a click threshold).
    if (mode == "init") lists[id].clear();
    lists[id].push_back(record);
  }
  return false;
}

CPointerEvents::Attributes Attributes(const CScriptBlock& record) { return record.m_attributes; }

bool SetOnClick(State& state, CMainScript&, const CScriptBlock& record, bool) {
  state.m_pointer.SetClick(record.GetAttribute("id"), Attributes(record));
  state.m_handlerLines[int(CPointerEvents::Kind::kClick)][record.GetAttribute("id")] = record.m_line;
  return false;
}
bool SetOnRollover(State& state, CMainScript&, const CScriptBlock& record, bool) {
  state.m_pointer.SetRollover(record.GetAttribute("id"), Attributes(record));
  state.m_handlerLines[int(CPointerEvents::Kind::kRollover)][record.GetAttribute("id")] = record.m_line;
  return false;
}
bool SetOnRollout(State& state, CMainScript&, const CScriptBlock& record, bool) {
  state.m_pointer.SetRollout(record.GetAttribute("id"), Attributes(record));
  state.m_handlerLines[int(CPointerEvents::Kind::kRollout)][record.GetAttribute("id")] = record.m_line;
  return false;
}
bool DelOnClick(State& state, CMainScript&, const CScriptBlock& record, bool) {
  state.m_pointer.RemoveClick(record.GetAttribute("id"));
  return false;
}
bool DelOnRollover(State& state, CMainScript&, const CScriptBlock& record, bool) {
  state.m_pointer.RemoveRollover(record.GetAttribute("id"));
  return false;
}
bool DelOnRollout(State& state, CMainScript&, const CScriptBlock& record, bool) {
  state.m_pointer.RemoveRollout(record.GetAttribute("id"));
  return false;
}

bool Flip(State&, CMainScript& script, const CScriptBlock&, bool) {
  if (CGraphicSystem* graphics = script.GetGraphics()) graphics->Commit();
  return false;
}

bool Trans(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  CGraphicSystem* graphics = script.GetGraphics();
  if (!graphics) return true;
  const std::string& type = record.GetAttribute("type");
  const int kind = type == "0" ? 0 : type == "1" ? 1 : type == "2" ? 2 : -1;
  if (kind < 0) return true;
  // Only a script still waiting for the transition goes on.
  auto resume = [token = state.Token(script)] {
    auto alive = token.lock();
    if (alive && *alive) (*alive)->EndTransitionWait();
  };
  switch (graphics->StartTransition(kind, Number(record, "time"), record.GetAttribute("rule"), Number(record, "vague"),
                                    resume)) {
    case CGraphicSystem::TransitionStart::kStarted: script.SetState(CMainScript::kTransitionWait); break;
    // A rule image that does not load leaves the scene as it is, without a
    // word at run time (the lint tool names it).
    case CGraphicSystem::TransitionStart::kRuleMissing:
    case CGraphicSystem::TransitionStart::kNone: break;
  }
  return true;
}

}  // namespace

void AddLayerTags(CTagRegistry& registry) {
  const TagReplay kNone = TagReplay::kNone;
  const TagReplay kLayer = TagReplay::kLayer;
  const TagReplay kAnimation = TagReplay::kAnimation;
  const std::vector<std::string> id = {"id"};
  tagutil::AddFamilyOrDie(
      registry, "layer", &CreateFamilyState<State>,
      {
          TagRow<&LayerCreate>("lyc", {"id", "file"}, kLayer, "creates an image layer from a file"),
          TagRow<&LayerDelete>("lydel", id, kNone, "deletes a layer"),
          TagRow<&LayerProperty>("lyprop", id, kLayer, "changes layer properties (position, alpha, scale, ...)"),
          TagRow<&LayerTween>("lytween", {"id", "from", "to", "msec", "param"}, kLayer,
                              "moves a layer property over time along an easing curve"),
          TagRow<&LayerTweenDelete>("lytweendel", id, kLayer, "finishes a layer's tweens at their end values"),
          TagRow<&TweenSetOpen>("tweenset", {}, kNone, "starts a queue of tweens that run one after another"),
          TagRow<&TweenSetClose>("/tweenset", {}, kNone, "ends and starts the tween queue"),
          TagRow<&Anime>("anime", {"id", "mode"}, kAnimation, "builds and plays a frame animation"),
          TagRow<&LayerDelete>("animedel", id, kNone, "deletes an animation"),
          TagRow<&SetOnClick>("setonclick", id, kNone, "runs a label when a layer is clicked"),
          TagRow<&DelOnClick>("delonclick", id, kNone, "removes a layer's click handler"),
          TagRow<&SetOnRollover>("setonrollover", id, kNone, "runs a label when the pointer enters a layer"),
          TagRow<&DelOnRollover>("delonrollover", id, kNone, "removes a layer's rollover handler"),
          TagRow<&SetOnRollout>("setonrollout", id, kNone, "runs a label when the pointer leaves a layer"),
          TagRow<&DelOnRollout>("delonrollout", id, kNone, "removes a layer's rollout handler"),
          TagRow<&Flip>("flip", {}, kNone, "shows the layer changes made since the last flip at once"),
          TagRow<&Trans>("trans", {"type"}, kNone, "shows the layer changes through a fade or rule wipe"),
      });
}
