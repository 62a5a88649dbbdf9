// The SDL side of text views: their windows, drawing and events. Only the
// platform layer includes this.
#pragma once

#include <memory>

#include "platform/TextView.h"

union SDL_Event;

namespace platform::detail {

// Null when there is no display or the window cannot be made.
std::unique_ptr<TextView> CreateSdlTextView(const TextViewArgs& args);
// Handles an event meant for a text view's window; false when it is not.
bool SdlTextViewHandleEvent(const SDL_Event& event);
// Redraws the views whose contents changed since they were last drawn.
void SdlTextViewsUpdate();
// Before SDL shuts down: views let their windows go and keep only lines.
void SdlTextViewsDetachAll();

}  // namespace platform::detail
