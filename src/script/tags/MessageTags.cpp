// Message tags. The click wait is here now; the text tags join it with the
// message windows.
#include "script/MainScript.h"

bool CMainScript::TagClickWait(const CScriptBlock&, bool) {
  // The current window finishes its running effects and, unless skipping,
  // applies its appear list to the new text here once message windows exist.
  SetState(kClickWait);
  return true;
}
