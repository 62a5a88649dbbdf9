// Opening a web address in the user's browser.
#pragma once

#include <string>

namespace platform {

// True when the address (UTF-8) is one a game may open: an http:, https: or
// mailto: URL with no control characters. Anything else could start a
// program or open a local file.
bool IsWebAddress(const std::string& url);

// Starts the desktop's opener on a web address without a shell and without
// waiting for it. Headless runs start nothing and log "openbrowser: URL".
// True on failure (not a web address, or the opener could not start).
[[nodiscard]] bool OpenBrowser(const std::string& url);

// Starts "xdg-open" (looked up in PATH) with the text as its one argument,
// without a shell, with no descriptor but the standard streams, and reaps
// it on a thread of its own. True when it could not be started.
[[nodiscard]] bool SpawnOpener(const std::string& argument);

}  // namespace platform
