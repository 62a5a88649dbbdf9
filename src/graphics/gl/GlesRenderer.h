// The GPU renderer on OpenGL ES 2.0. Layers draw textured quads into a
// persistent back buffer (a texture behind a framebuffer object) of the scene
// size times the window scale; RenderEnd draws it into the window with black
// bars and swaps. Surfaces are textures: managed ones keep a CPU copy that
// Lock exposes and the next draw uploads, render targets are a texture with a
// framebuffer object. Pixels stay in engine byte order (B, G, R, A) with row 0
// at the top in every texture; only the present swizzles and flips.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "graphics/IGraphicRenderer.h"
#include "graphics/Surface.h"
#include "graphics/gl/GlesApi.h"

class CGlesSurface;

class CGlesRenderer : public IGraphicRenderer {
 public:
  CGlesRenderer();
  CGlesRenderer(const CGlesRenderer&) = delete;
  CGlesRenderer& operator=(const CGlesRenderer&) = delete;
  ~CGlesRenderer() override;

  // Declines software rasterizers (llvmpipe, softpipe) unless they are
  // allowed. Returns true on failure with GetLastError saying why.
  bool Init(platform::WindowHandle window, int width, int height, int format) override;
  void RenderStart() override;
  void RenderEnd() override;
  void Clear() override;

  // Brings a lost context back: a new context and back buffer, then every
  // restore callback. True on failure (the renderer stays lost).
  [[nodiscard]] bool DeviceReset() { return ResetDevice("CGlesRenderer::DeviceReset"); }
  // The back buffer becomes width x height (the scene size times the window
  // scale, rounded down) through a reset. True on failure.
  [[nodiscard]] bool ChangeMode(platform::WindowHandle window, int width, int height, int format, bool windowed);

  const std::string& GetLastError() const { return m_lastError; }
  bool IsLost() const { return m_lost; }
  void SetLost(bool lost) { m_lost = lost; }
  // Whether a frame is begun: layers draw only then.
  bool IsDrawing() const { return m_drawing; }
  float GetWindowScale() const { return m_windowScale; }
  void SetWindowScale(float scale) { m_windowScale = scale; }
  int GetBackWidth() const { return m_backWidth; }
  int GetBackHeight() const { return m_backHeight; }
  const std::string& GetRendererName() const { return m_rendererName; }
  // Surfaces and layers may outlive the renderer (caches let go late):
  // through this they see that it is gone.
  std::weak_ptr<CGlesRenderer*> GetToken() const { return m_self; }
  static CGlesRenderer* Live(const std::weak_ptr<CGlesRenderer*>& token) {
    auto p = token.lock();
    return p ? *p : nullptr;
  }
  // Counts contexts: GL names from another generation are gone.
  uint64_t GetGeneration() const { return m_generation; }

  // Render target selection: the surface's framebuffer, or the back buffer
  // for none.
  void SetRenderTarget(CGlesSurface* surface);
  CGlesSurface* GetCurrentTarget() const { return m_target; }

  // Callbacks run around a reset, per surface; a surface unregisters when
  // it is destroyed.
  void Register(CGlesSurface* surface, std::function<void()> release, std::function<void()> restore);
  void Unregister(CGlesSurface* surface);
  size_t GetRegisteredCount() const { return m_restore.size(); }
  // Run after the restore callbacks (the scene redraws what render targets held).
  void SetAfterRestore(std::function<void()> hook) { m_afterRestore = std::move(hook); }

  // The back buffer as it is (engine byte order, row 0 at the top).
  [[nodiscard]] bool ReadBack(std::vector<uint8_t>& pixels, int& width, int& height);

  // Textures of exactly the requested size unless this asks for powers of
  // two (for hardware that needs them; tests use it).
  static void SetForcePowerOfTwo(bool force) { s_forcePowerOfTwo = force; }
  static bool GetForcePowerOfTwo() { return s_forcePowerOfTwo; }
  // Whether Init may start on a software rasterizer (-renderer gles).
  static void SetAllowSoftwareRasterizer(bool allow) { s_allowSoftware = allow; }
  static bool GetAllowSoftwareRasterizer() { return s_allowSoftware; }

  // The layer program and its uniforms (for the layers).
  struct CLayerProgram {
    GLuint program = 0;
    GLint texture = -1, mask = -1, hasMask = -1, ignoreAlpha = -1, opacity = -1, tint = -1, copyAlpha = -1,
          viewScale = -1;
  };
  const CLayerProgram& GetLayerProgram() const { return m_layer; }
  // Uses the layer program with the current target's size.
  void UseLayerProgram();

 private:
  // DeviceReset; a failure is recorded under operation (the caller's name).
  [[nodiscard]] bool ResetDevice(const char* operation);
  bool Start(platform::WindowHandle window, int width, int height, int format);
  // Stores the error text "path(line): operation() NAME - description".
  void SetError(int line, const char* operation, const char* name, const char* description);
  bool CreateContext(int line, const char* operation);
  void DestroyContext();
  bool CreateObjects(int line, const char* operation);
  void ReleaseObjects();
  bool CreateBackBuffer(int line, const char* operation);
  void Present();

  std::string m_lastError;
  platform::WindowHandle m_window = 0;
  platform::GlContext m_context = nullptr;
  int m_width = 0, m_height = 0, m_format = 1;
  int m_backWidth = 0, m_backHeight = 0;
  bool m_windowed = true;
  bool m_lost = false;
  bool m_drawing = false;
  bool m_ready = false;
  float m_windowScale = 1.0f;
  uint64_t m_generation = 0;
  std::string m_rendererName;
  GLuint m_backTexture = 0, m_backFramebuffer = 0;
  CLayerProgram m_layer;
  GLuint m_presentProgram = 0;
  GLint m_presentTexture = -1;
  CGlesSurface* m_target = nullptr;
  std::map<CGlesSurface*, std::function<void()>> m_release;
  std::map<CGlesSurface*, std::function<void()>> m_restore;
  std::function<void()> m_afterRestore;
  std::shared_ptr<CGlesRenderer*> m_self = std::make_shared<CGlesRenderer*>(this);

  static bool s_forcePowerOfTwo;
  static bool s_allowSoftware;
};

// A surface on the renderer: a texture with a CPU copy (managed), or a
// render-target texture with a framebuffer object.
class CGlesSurface : public CSurface {
 public:
  // A target surface makes a render target at Create.
  explicit CGlesSurface(CGlesRenderer* renderer, bool target = false)
      : m_renderer(renderer),
        m_token(renderer ? renderer->GetToken() : std::weak_ptr<CGlesRenderer*>()),
        m_target(target) {}
  ~CGlesSurface() override;

  bool Create(int width, int height, int format) override { return Init(width, height, format, m_target); }
  // Returns true on failure with GetLastError saying why.
  virtual bool Init(int width, int height, int format, bool renderTarget);

  // Pitch and rows only while locked; render targets have none.
  int GetPitch() const override;
  void Lock() override;
  void Unlock() override;
  uint8_t* GetLine(int y) override;
  void Fill(uint32_t value) override;
  void Clear() override { Fill(0); }

  bool IsRenderTarget() const { return m_renderTarget; }
  int GetTextureWidth() const { return m_textureWidth; }
  int GetTextureHeight() const { return m_textureHeight; }
  const std::string& GetLastError() const { return m_lastError; }
  CGlesRenderer* GetRenderer() const { return m_renderer; }
  GLuint GetFramebuffer() const { return m_framebuffer; }
  // The texture, brought up to date with the CPU copy first; 0 when there
  // is none (no context, or Init failed).
  GLuint GetTexture();
  // How many times the CPU copy was uploaded (tests watch it).
  uint64_t GetUploadCount() const { return m_uploads; }

 private:
  bool CreateTexture();
  void ReleaseTexture();
  void SetError(int line, const char* operation, const char* name, const char* description);

  CGlesRenderer* m_renderer;
  std::weak_ptr<CGlesRenderer*> m_token;
  bool m_target;
  std::string m_lastError;
  GLuint m_texture = 0;
  GLuint m_framebuffer = 0;
  int m_textureWidth = 0, m_textureHeight = 0;
  int m_locks = 0;
  bool m_renderTarget = false;
  bool m_stale = false;  // the CPU copy is newer than the texture
  uint64_t m_uploads = 0;
};

class CGlesSurfaceFactory : public ISurfaceFactory {
 public:
  explicit CGlesSurfaceFactory(CGlesRenderer* renderer) : m_renderer(renderer) {}
  ISurface* Create() override { return new CGlesSurface(m_renderer); }
  ISurface* CreateTarget() override { return new CGlesSurface(m_renderer, true); }

 private:
  CGlesRenderer* m_renderer;
};
