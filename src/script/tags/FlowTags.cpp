// Flow tags: the empty tag, stop, jump, call and return.
#include "platform/TextCodec.h"
#include "script/MainScript.h"
#include "script/tags/MessageTags.h"
#include "script/tags/TagFamilies.h"
#include "script/tags/TagUtil.h"

namespace {

using State = CStatelessFamily;

bool Empty(State&, CMainScript&, const CScriptBlock&, bool) { return true; }

bool Stop(State&, CMainScript& script, const CScriptBlock&, bool) {
  BeginMessageWait(script);
  script.SetState(CMainScript::kSyncWait);
  return true;
}

void ReportTarget(CMainScript& script, const CScriptBlock& record, bool tooDeep = false) {
  static const std::string message = Utf8ToCp932("指定された場所は見つかりません。");
  script.ReportTag(
      record,
      record.m_text + " file=\"" + record.GetAttribute("file") + "\" label=\"" + record.GetAttribute("label") + "\"",
      CMainScript::CallFailureText(tooDeep, message));
}

bool Jump(State&, CMainScript& script, const CScriptBlock& record, bool) {
  if (script.Jump(record.GetAttribute("file"), record.GetAttribute("label"))) ReportTarget(script, record);
  return false;
}

bool Call(State&, CMainScript& script, const CScriptBlock& record, bool) {
  const bool tooDeep = script.IsCallStackFull();
  if (script.Call(record.GetAttribute("file"), record.GetAttribute("label"))) ReportTarget(script, record, tooDeep);
  return false;
}

bool Return(State&, CMainScript& script, const CScriptBlock&, bool) {
  if (script.Return()) {
    script.SetState(CMainScript::kEnded);
    return true;
  }
  return false;
}

}  // namespace

void AddFlowTags(CTagRegistry& registry) {
  const TagReplay kNone = TagReplay::kNone;
  tagutil::AddFamilyOrDie(registry, "flow", &CreateFamilyState<State>,
                          {
                              TagRow<&Empty>("", {}, kNone, "ends the frame's script execution"),
                              TagRow<&Stop>("stop", {}, kNone, "waits until the window's text has appeared"),
                              TagRow<&Jump>("jump", {}, kNone, "continues at a label of a script file"),
                              TagRow<&Call>("call", {}, kNone, "calls a label; return comes back"),
                              TagRow<&Return>("return", {}, kNone, "returns from a call; ends the game at the top"),
                          });
}
