#include "platform/FontBackend.h"

namespace platform {
namespace {
IFontBackend* g_backend = nullptr;
std::unique_ptr<IFontBackend> g_ownedBackend;
}  // namespace

IFontBackend* GetFontBackend() { return g_backend; }
void SetFontBackend(IFontBackend* backend) { g_backend = backend; }

bool InitFontBackend() {
  if (g_ownedBackend) {
    g_backend = g_ownedBackend.get();
    return false;
  }
  g_ownedBackend = CreateFreeTypeFontBackend();
  if (!g_ownedBackend) return true;
  g_backend = g_ownedBackend.get();
  return false;
}

void ShutdownFontBackend() {
  if (g_backend == g_ownedBackend.get()) g_backend = nullptr;
  g_ownedBackend.reset();
}

}  // namespace platform
