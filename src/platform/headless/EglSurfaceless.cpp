#include "platform/headless/EglSurfaceless.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <dlfcn.h>

#include <cstdio>

namespace platform::detail {
namespace {

struct CEglApi {
  PFNEGLGETPROCADDRESSPROC getProcAddress = nullptr;
  PFNEGLGETERRORPROC getError = nullptr;
  PFNEGLGETPLATFORMDISPLAYEXTPROC getPlatformDisplay = nullptr;
  PFNEGLINITIALIZEPROC initialize = nullptr;
  PFNEGLTERMINATEPROC terminate = nullptr;
  PFNEGLBINDAPIPROC bindApi = nullptr;
  PFNEGLCHOOSECONFIGPROC chooseConfig = nullptr;
  PFNEGLCREATECONTEXTPROC createContext = nullptr;
  PFNEGLDESTROYCONTEXTPROC destroyContext = nullptr;
  PFNEGLMAKECURRENTPROC makeCurrent = nullptr;
  PFNEGLQUERYSTRINGPROC queryString = nullptr;
};

CEglApi& Api() {
  static CEglApi api;
  return api;
}

struct CEglErrorName {
  EGLint code;
  const char* name;
  const char* description;
};

constexpr CEglErrorName kErrors[] = {
    {EGL_SUCCESS, "EGL_SUCCESS", "The last function succeeded without error."},
    {EGL_NOT_INITIALIZED, "EGL_NOT_INITIALIZED", "EGL is not initialized, or could not be initialized."},
    {EGL_BAD_ACCESS, "EGL_BAD_ACCESS", "EGL cannot access a requested resource."},
    {EGL_BAD_ALLOC, "EGL_BAD_ALLOC", "EGL failed to allocate resources for the requested operation."},
    {EGL_BAD_ATTRIBUTE, "EGL_BAD_ATTRIBUTE", "An unrecognized attribute or attribute value was passed."},
    {EGL_BAD_CONTEXT, "EGL_BAD_CONTEXT", "An EGLContext argument does not name a valid context."},
    {EGL_BAD_CONFIG, "EGL_BAD_CONFIG", "An EGLConfig argument does not name a valid configuration."},
    {EGL_BAD_CURRENT_SURFACE, "EGL_BAD_CURRENT_SURFACE", "The current surface is no longer valid."},
    {EGL_BAD_DISPLAY, "EGL_BAD_DISPLAY", "An EGLDisplay argument does not name a valid display."},
    {EGL_BAD_SURFACE, "EGL_BAD_SURFACE", "An EGLSurface argument does not name a valid surface."},
    {EGL_BAD_MATCH, "EGL_BAD_MATCH", "Arguments are inconsistent."},
    {EGL_BAD_PARAMETER, "EGL_BAD_PARAMETER", "One or more argument values are invalid."},
    {EGL_BAD_NATIVE_PIXMAP, "EGL_BAD_NATIVE_PIXMAP", "A NativePixmapType argument is not valid."},
    {EGL_BAD_NATIVE_WINDOW, "EGL_BAD_NATIVE_WINDOW", "A NativeWindowType argument is not valid."},
    {EGL_CONTEXT_LOST, "EGL_CONTEXT_LOST", "A power management event has occurred; the context is lost."},
};

}  // namespace

CEglSurfaceless::~CEglSurfaceless() {
  CEglApi& api = Api();
  if (display_ && api.makeCurrent) {
    api.makeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_) api.destroyContext(display_, context_);
    api.terminate(display_);
  }
  // The library stays loaded: drivers do not all survive being unloaded.
}

void CEglSurfaceless::Fail(const char* what) {
  const EGLint code = Api().getError ? Api().getError() : EGL_NOT_INITIALIZED;
  const char* name = "EGL_UNKNOWN";
  const char* description = "Unknown EGL error.";
  for (const CEglErrorName& e : kErrors)
    if (e.code == code) {
      name = e.name;
      description = e.description;
    }
  char text[512];
  std::snprintf(text, sizeof text, "%s: %s - %s", what, name, description);
  error_ = text;
}

bool CEglSurfaceless::Load() {
  CEglApi& api = Api();
  if (api.getProcAddress) return false;
  if (!library_) library_ = dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!library_) {
    error_ = "libEGL.so.1: EGL_NOT_INITIALIZED - no EGL library could be loaded.";
    return true;
  }
  auto get = reinterpret_cast<PFNEGLGETPROCADDRESSPROC>(dlsym(library_, "eglGetProcAddress"));
  if (!get) {
    error_ = "eglGetProcAddress: EGL_NOT_INITIALIZED - the EGL library has no entry point.";
    return true;
  }
  const auto load = [&](auto& slot, const char* name) {
    void* p = dlsym(library_, name);
    if (!p) p = reinterpret_cast<void*>(get(name));
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(p);
    return p == nullptr;
  };
  bool missing = false;
  missing |= load(api.getError, "eglGetError");
  missing |= load(api.initialize, "eglInitialize");
  missing |= load(api.terminate, "eglTerminate");
  missing |= load(api.bindApi, "eglBindAPI");
  missing |= load(api.chooseConfig, "eglChooseConfig");
  missing |= load(api.createContext, "eglCreateContext");
  missing |= load(api.destroyContext, "eglDestroyContext");
  missing |= load(api.makeCurrent, "eglMakeCurrent");
  missing |= load(api.queryString, "eglQueryString");
  api.getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(get("eglGetPlatformDisplayEXT"));
  if (missing || !api.getPlatformDisplay) {
    error_ = "eglGetProcAddress: EGL_NOT_INITIALIZED - the EGL library lacks the surfaceless platform.";
    api = CEglApi();
    return true;
  }
  api.getProcAddress = get;
  return false;
}

void* CEglSurfaceless::Create() {
  if (Load()) return nullptr;
  CEglApi& api = Api();
  if (!display_) {
    EGLDisplay display = api.getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY) {
      Fail("eglGetPlatformDisplayEXT");
      return nullptr;
    }
    EGLint major = 0, minor = 0;
    if (!api.initialize(display, &major, &minor)) {
      Fail("eglInitialize");
      return nullptr;
    }
    display_ = display;
  }
  if (!api.bindApi(EGL_OPENGL_ES_API)) {
    Fail("eglBindAPI");
    return nullptr;
  }
  const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT, EGL_SURFACE_TYPE, 0, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint count = 0;
  // Surfaceless contexts draw only into framebuffer objects: a config
  // without surfaces is enough, and any ES 2 config will do if none is.
  if (!api.chooseConfig(display_, configAttributes, &config, 1, &count) || count < 1) {
    const EGLint anyAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT, EGL_NONE};
    if (!api.chooseConfig(display_, anyAttributes, &config, 1, &count) || count < 1) {
      Fail("eglChooseConfig");
      return nullptr;
    }
  }
  const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
  EGLContext context = api.createContext(display_, config, EGL_NO_CONTEXT, contextAttributes);
  if (context == EGL_NO_CONTEXT) {
    Fail("eglCreateContext");
    return nullptr;
  }
  if (!api.makeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    Fail("eglMakeCurrent");
    api.destroyContext(display_, context);
    return nullptr;
  }
  context_ = context;
  lost_ = false;
  error_.clear();
  return context;
}

void CEglSurfaceless::Destroy(void* context) {
  CEglApi& api = Api();
  if (!context || !display_ || !api.makeCurrent) return;
  // A lost context was destroyed when it was lost.
  if (context != context_) return;
  api.makeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  api.destroyContext(display_, context);
  context_ = nullptr;
}

bool CEglSurfaceless::IsLost(void* context) { return lost_ || !context || context != context_; }

void CEglSurfaceless::Lose() {
  CEglApi& api = Api();
  if (!context_ || !display_) return;
  // Everything the context held goes, as after a driver reset.
  api.makeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  api.destroyContext(display_, context_);
  context_ = nullptr;
  lost_ = true;
}

void* CEglSurfaceless::GetProcAddress(const char* name) {
  CEglApi& api = Api();
  return api.getProcAddress ? reinterpret_cast<void*>(api.getProcAddress(name)) : nullptr;
}

}  // namespace platform::detail
