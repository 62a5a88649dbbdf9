#include "graphics/gl/GlesRenderer.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/Log.h"

namespace {

constexpr const char* kRendererSource = "src/graphics/gl/GlesRenderer";
constexpr const char* kSurfaceSource = "src/graphics/gl/GlesSurface";

std::string FormatError(const char* source, int line, const char* operation, const char* name,
                        const char* description) {
  char text[1024];
  std::snprintf(text, sizeof text, "%s(%d): %s() %s - %s", source, line, operation, name, description);
  return text;
}

// Positions arrive in target pixels and become clip space; target row 0
// is framebuffer row 0, so rows stay top-down in every texture.
const char* const kLayerVertex = R"(
attribute vec2 aPosition;
attribute vec2 aTexCoord;
attribute vec2 aMaskCoord;
uniform vec2 uViewScale;
varying vec2 vTexCoord;
varying vec2 vMaskCoord;
void main() {
  vTexCoord = aTexCoord;
  vMaskCoord = aMaskCoord;
  gl_Position = vec4(aPosition * uViewScale - 1.0, 0.0, 1.0);
}
)";

// Texture coordinates need full precision: at half precision a texel
// centre of a 2048-wide texture falls between two representable values.
#define VELMIRA_FRAGMENT_PRECISION \
  "#ifdef GL_FRAGMENT_PRECISION_HIGH\nprecision highp float;\n#else\nprecision mediump float;\n#endif\n"

// uTint 1 blends the colour toward white by the alpha (multiply), 2 toward
// black (screen), so that transparent parts leave the destination alone.
const char* const kLayerFragment = VELMIRA_FRAGMENT_PRECISION R"(
uniform sampler2D uTexture;
uniform sampler2D uMask;
uniform float uHasMask;
uniform float uIgnoreAlpha;
uniform float uOpacity;
uniform float uTint;
uniform float uCopyAlpha;
varying vec2 vTexCoord;
varying vec2 vMaskCoord;
void main() {
  vec4 t = texture2D(uTexture, vTexCoord);
  float a = mix(t.a, 1.0, uIgnoreAlpha);
  if (uHasMask > 0.5) a *= texture2D(uMask, vMaskCoord).a;
  a *= uOpacity;
  vec3 c = t.rgb;
  if (uTint > 1.5) c = c * a;
  else if (uTint > 0.5) c = c * a + vec3(1.0 - a);
  gl_FragColor = vec4(c, mix(a, t.a, uCopyAlpha));
}
)";

const char* const kPresentVertex = R"(
attribute vec2 aPosition;
attribute vec2 aTexCoord;
varying vec2 vTexCoord;
void main() {
  vTexCoord = aTexCoord;
  gl_Position = vec4(aPosition, 0.0, 1.0);
}
)";

// The back buffer holds B, G, R, A in the channels GL calls r, g, b, a.
const char* const kPresentFragment = VELMIRA_FRAGMENT_PRECISION R"(
uniform sampler2D uTexture;
varying vec2 vTexCoord;
void main() {
  gl_FragColor = vec4(texture2D(uTexture, vTexCoord).bgr, 1.0);
}
)";

GLuint CompileShader(GLenum kind, const char* source, std::string& log) {
  CGlesApi& gl = Gles();
  const GLuint shader = gl.CreateShader(kind);
  gl.ShaderSource(shader, 1, &source, nullptr);
  gl.CompileShader(shader);
  GLint ok = 0;
  gl.GetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char text[512] = {};
    gl.GetShaderInfoLog(shader, sizeof text, nullptr, text);
    log = text;
    gl.DeleteShader(shader);
    return 0;
  }
  return shader;
}

GLuint LinkProgram(const char* vertex, const char* fragment, std::string& log) {
  CGlesApi& gl = Gles();
  const GLuint vs = CompileShader(GL_VERTEX_SHADER, vertex, log);
  if (!vs) return 0;
  const GLuint fs = CompileShader(GL_FRAGMENT_SHADER, fragment, log);
  if (!fs) {
    gl.DeleteShader(vs);
    return 0;
  }
  const GLuint program = gl.CreateProgram();
  gl.AttachShader(program, vs);
  gl.AttachShader(program, fs);
  gl.BindAttribLocation(program, 0, "aPosition");
  gl.BindAttribLocation(program, 1, "aTexCoord");
  gl.BindAttribLocation(program, 2, "aMaskCoord");
  gl.LinkProgram(program);
  gl.DeleteShader(vs);
  gl.DeleteShader(fs);
  GLint ok = 0;
  gl.GetProgramiv(program, GL_LINK_STATUS, &ok);
  if (!ok) {
    char text[512] = {};
    gl.GetProgramInfoLog(program, sizeof text, nullptr, text);
    log = text;
    gl.DeleteProgram(program);
    return 0;
  }
  return program;
}

bool IsSoftwareRasterizer(const std::string& name) {
  return name.find("llvmpipe") != std::string::npos || name.find("softpipe") != std::string::npos;
}

int NextPowerOfTwo(int v) {
  int p = 2;
  while (p < v && p < (1 << 30)) p <<= 1;
  return p;
}

}  // namespace

bool CGlesRenderer::s_forcePowerOfTwo = false;
bool CGlesRenderer::s_allowSoftware = false;

CGlesRenderer::CGlesRenderer() = default;

CGlesRenderer::~CGlesRenderer() {
  *m_self = nullptr;
  if (m_ready && !m_lost) platform::SetFrameReader(nullptr);
  if (m_context) {
    if (!m_lost) ReleaseObjects();
    DestroyContext();
  }
}

void CGlesRenderer::SetError(int line, const char* operation, const char* name, const char* description) {
  m_lastError = FormatError(kRendererSource, line, operation, name, description);
}

bool CGlesRenderer::CreateContext(int line, const char* operation) {
  m_context = platform::CreateGlContext(m_window);
  if (!m_context) {
    const std::string why = platform::GetGlContextError();
    // "call: NAME - description" from the platform: keep its name and text.
    std::string name = "EGL_NOT_INITIALIZED", description = why;
    const size_t colon = why.find(": "), dash = why.find(" - ");
    if (colon != std::string::npos && dash != std::string::npos && dash > colon) {
      name = why.substr(colon + 2, dash - colon - 2);
      description = why.substr(0, colon) + ": " + why.substr(dash + 3);
    }
    SetError(line, operation, name.c_str(), description.c_str());
    return true;
  }
  std::string missing;
  if (Gles().Load(missing)) {
    SetError(line, operation, "GL_INVALID_OPERATION", (missing + " is not available.").c_str());
    DestroyContext();
    return true;
  }
  ++m_generation;
  return false;
}

void CGlesRenderer::DestroyContext() {
  if (m_context) platform::DestroyGlContext(m_window, m_context);
  m_context = nullptr;
}

bool CGlesRenderer::CreateObjects(int line, const char* operation) {
  std::string log;
  m_layer = CLayerProgram();
  m_layer.program = LinkProgram(kLayerVertex, kLayerFragment, log);
  if (m_layer.program) m_presentProgram = LinkProgram(kPresentVertex, kPresentFragment, log);
  if (!m_layer.program || !m_presentProgram) {
    SetError(line, operation, "GL_INVALID_OPERATION", ("a shader did not build: " + log).c_str());
    return true;
  }
  CGlesApi& gl = Gles();
  const GLuint p = m_layer.program;
  m_layer.texture = gl.GetUniformLocation(p, "uTexture");
  m_layer.mask = gl.GetUniformLocation(p, "uMask");
  m_layer.hasMask = gl.GetUniformLocation(p, "uHasMask");
  m_layer.ignoreAlpha = gl.GetUniformLocation(p, "uIgnoreAlpha");
  m_layer.opacity = gl.GetUniformLocation(p, "uOpacity");
  m_layer.tint = gl.GetUniformLocation(p, "uTint");
  m_layer.copyAlpha = gl.GetUniformLocation(p, "uCopyAlpha");
  m_layer.viewScale = gl.GetUniformLocation(p, "uViewScale");
  gl.UseProgram(p);
  gl.Uniform1i(m_layer.texture, 0);
  gl.Uniform1i(m_layer.mask, 1);
  m_presentTexture = gl.GetUniformLocation(m_presentProgram, "uTexture");
  gl.UseProgram(m_presentProgram);
  gl.Uniform1i(m_presentTexture, 0);
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
  gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
  gl.Disable(GL_CULL_FACE);
  gl.Disable(GL_DEPTH_TEST);
  gl.Disable(GL_DITHER);
  gl.BindBuffer(GL_ARRAY_BUFFER, 0);
  return CreateBackBuffer(line, operation);
}

bool CGlesRenderer::CreateBackBuffer(int line, const char* operation) {
  CGlesApi& gl = Gles();
  gl.GenTextures(1, &m_backTexture);
  gl.BindTexture(GL_TEXTURE_2D, m_backTexture);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, m_backWidth, m_backHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  gl.GenFramebuffers(1, &m_backFramebuffer);
  gl.BindFramebuffer(GL_FRAMEBUFFER, m_backFramebuffer);
  gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_backTexture, 0);
  const GLenum error = gl.GetError();
  if (error != GL_NO_ERROR || gl.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    const GLenum code = error != GL_NO_ERROR ? error : GLenum(GL_INVALID_FRAMEBUFFER_OPERATION);
    SetError(line, operation, GlesErrorName(code), GlesErrorDescription(code));
    return true;
  }
  // The persistent back buffer starts black; it keeps each frame after that,
  // so gaps between layers show the last frame, as in software.
  gl.Viewport(0, 0, m_backWidth, m_backHeight);
  gl.ClearColor(0, 0, 0, 0);
  gl.Clear(GL_COLOR_BUFFER_BIT);
  m_target = nullptr;
  return false;
}

void CGlesRenderer::ReleaseObjects() {
  if (!m_context) return;
  CGlesApi& gl = Gles();
  if (m_backFramebuffer) gl.DeleteFramebuffers(1, &m_backFramebuffer);
  if (m_backTexture) gl.DeleteTextures(1, &m_backTexture);
  if (m_layer.program) gl.DeleteProgram(m_layer.program);
  if (m_presentProgram) gl.DeleteProgram(m_presentProgram);
  m_backFramebuffer = m_backTexture = m_presentProgram = 0;
  m_layer = CLayerProgram();
}

bool CGlesRenderer::Init(platform::WindowHandle window, int width, int height, int format) {
  // The software renderer takes over after a failure; the log says why.
  if (!Start(window, width, height, format)) return false;
  LogWrite(m_lastError);
  return true;
}

bool CGlesRenderer::Start(platform::WindowHandle window, int width, int height, int format) {
  static const char* const kOperation = "CGlesRenderer::Init";
  if (m_context) {
    platform::SetFrameReader(nullptr);
    if (!m_lost) ReleaseObjects();
    DestroyContext();
  }
  m_ready = false;
  if (format != ISurface::PIXEL_BITS_8 && format != ISurface::PIXEL_BITS_32 && format != ISurface::PIXEL_BITS_32A) {
    m_lastError = "Unsupported Pixed Format.";
    return true;
  }
  if (width <= 0 || height <= 0 || width > CSurface::kMaxSide || height > CSurface::kMaxSide) {
    SetError(__LINE__, kOperation, "GL_INVALID_VALUE", "The back buffer size is out of range.");
    return true;
  }
  m_window = window;
  m_width = width;
  m_height = height;
  m_format = format;
  m_windowed = true;
  m_windowScale = 1.0f;
  m_backWidth = width;
  m_backHeight = height;
  m_lost = false;
  if (CreateContext(__LINE__, kOperation)) return true;
  const GLubyte* name = Gles().GetString(GL_RENDERER);
  m_rendererName = name ? reinterpret_cast<const char*>(name) : "";
  if (IsSoftwareRasterizer(m_rendererName) && !s_allowSoftware) {
    SetError(__LINE__, kOperation, "GL_RENDERER",
             (m_rendererName + " rasterizes in software, slower than the software renderer (-renderer gles uses it)")
                 .c_str());
    DestroyContext();
    return true;
  }
  if (CreateObjects(__LINE__, kOperation)) {
    ReleaseObjects();
    DestroyContext();
    return true;
  }
  m_ready = true;
  // The reader may outlive the renderer (one gone while its context was
  // lost leaves it set): then it has no frame to give.
  platform::SetFrameReader([token = GetToken()](std::vector<uint8_t>& pixels, int& w, int& h) {
    auto self = token.lock();
    return !self || !*self || (*self)->ReadBack(pixels, w, h);
  });
  return false;
}

bool CGlesRenderer::ResetDevice(const char* operation) {
  if (!m_ready) return true;
  m_drawing = false;
  const bool contextLost = !m_context || platform::IsGlContextLost(m_window, m_context);
  if (contextLost) m_lost = true;
  // Callbacks may register again (a render target's Init): walk copies.
  const auto releases = m_release;
  for (auto& [surface, release] : releases) release();
  if (contextLost) {
    // Nothing of the old context can be deleted: it is gone with it.
    m_backFramebuffer = m_backTexture = m_presentProgram = 0;
    m_layer = CLayerProgram();
    DestroyContext();
    if (CreateContext(__LINE__, operation)) {
      m_lost = true;
      return true;
    }
  } else {
    ReleaseObjects();
  }
  if (CreateObjects(__LINE__, operation)) {
    ReleaseObjects();
    // Frames skip until a retry succeeds: nothing may draw with what the
    // release callbacks let go.
    m_lost = true;
    return true;
  }
  m_lost = false;
  const auto restores = m_restore;
  for (auto& [surface, restore] : restores)
    if (m_restore.count(surface)) restore();
  if (m_afterRestore) m_afterRestore();
  return false;
}

bool CGlesRenderer::ChangeMode(platform::WindowHandle window, int width, int height, int format, bool windowed) {
  if (format != ISurface::PIXEL_BITS_8 && format != ISurface::PIXEL_BITS_32 && format != ISurface::PIXEL_BITS_32A) {
    m_lastError = "Unsupported Pixed Format.";
    return true;
  }
  if (width <= 0 || height <= 0 || width > CSurface::kMaxSide || height > CSurface::kMaxSide) {
    SetError(__LINE__, "CGlesRenderer::DeviceReset", "GL_INVALID_VALUE", "The back buffer size is out of range.");
    m_lost = true;
    return true;
  }
  m_window = window;
  m_backWidth = width;
  m_backHeight = height;
  m_format = format;
  m_windowed = windowed;
  return DeviceReset();
}

void CGlesRenderer::RenderStart() {
  m_drawing = false;
  if (!m_ready) return;
  if (!m_lost && m_context && platform::IsGlContextLost(m_window, m_context)) m_lost = true;
  if (m_lost) {
    if (ResetDevice("CGlesRenderer::RenderStart")) return;
  }
  if (m_windowed && !platform::IsForegroundWindow(m_window)) return;
  m_drawing = true;
  SetRenderTarget(nullptr);
}

void CGlesRenderer::Present() {
  CGlesApi& gl = Gles();
  if (platform::IsHeadless()) return;  // no window: the frame stays in the back buffer
  const platform::Rect client = platform::GetClientRect(m_window);
  const int cw = client.right - client.left, ch = client.bottom - client.top;
  if (cw <= 0 || ch <= 0) return;
  gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
  gl.Viewport(0, 0, cw, ch);
  gl.Disable(GL_BLEND);
  gl.ClearColor(0, 0, 0, 1);
  gl.Clear(GL_COLOR_BUFFER_BIT);
  // Centred at its own size; what is left are the black bars.
  const float x0 = float(cw - m_backWidth) / 2.0f, y0 = float(ch - m_backHeight) / 2.0f;
  const float l = std::floor(x0) / float(cw) * 2.0f - 1.0f,
              r = (std::floor(x0) + float(m_backWidth)) / float(cw) * 2.0f - 1.0f;
  const float t = 1.0f - std::floor(y0) / float(ch) * 2.0f,
              b = 1.0f - (std::floor(y0) + float(m_backHeight)) / float(ch) * 2.0f;
  // Window row 0 is GL's top; the back buffer's row 0 is our top.
  const GLfloat vertices[] = {l, t, 0, 0, r, t, 1, 0, r, b, 1, 1, l, b, 0, 1};
  gl.UseProgram(m_presentProgram);
  gl.ActiveTexture(GL_TEXTURE0);
  gl.BindTexture(GL_TEXTURE_2D, m_backTexture);
  gl.EnableVertexAttribArray(0);
  gl.EnableVertexAttribArray(1);
  gl.DisableVertexAttribArray(2);
  gl.VertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, vertices);
  gl.VertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, vertices + 2);
  gl.DrawArrays(GL_TRIANGLE_FAN, 0, 4);
}

void CGlesRenderer::RenderEnd() {
  if (!m_ready || m_lost || !m_drawing) return;
  m_drawing = false;
  Present();
  if (platform::SwapGlBuffers(m_window) || platform::IsGlContextLost(m_window, m_context)) {
    SetError(__LINE__, "CGlesRenderer::RenderEnd", "GL_CONTEXT_LOST", "The context was lost; it is made again.");
    m_lost = true;
    return;
  }
  SetRenderTarget(nullptr);
}

void CGlesRenderer::Clear() {
  if (!m_ready || m_lost) return;
  SetRenderTarget(nullptr);
  CGlesApi& gl = Gles();
  gl.ClearColor(0, 0, 0, 0);
  gl.Clear(GL_COLOR_BUFFER_BIT);
}

void CGlesRenderer::SetRenderTarget(CGlesSurface* surface) {
  if (!m_ready || m_lost) return;
  CGlesApi& gl = Gles();
  if (surface && surface->IsRenderTarget() && surface->GetFramebuffer()) {
    gl.BindFramebuffer(GL_FRAMEBUFFER, surface->GetFramebuffer());
    gl.Viewport(0, 0, surface->GetTextureWidth(), surface->GetTextureHeight());
    m_target = surface;
  } else {
    gl.BindFramebuffer(GL_FRAMEBUFFER, m_backFramebuffer);
    gl.Viewport(0, 0, m_backWidth, m_backHeight);
    m_target = nullptr;
  }
}

void CGlesRenderer::UseLayerProgram() {
  CGlesApi& gl = Gles();
  gl.UseProgram(m_layer.program);
  const float w = m_target ? float(m_target->GetTextureWidth()) : float(m_backWidth);
  const float h = m_target ? float(m_target->GetTextureHeight()) : float(m_backHeight);
  gl.Uniform2f(m_layer.viewScale, 2.0f / w, 2.0f / h);
}

void CGlesRenderer::Register(CGlesSurface* surface, std::function<void()> release, std::function<void()> restore) {
  m_release[surface] = std::move(release);
  m_restore[surface] = std::move(restore);
}

void CGlesRenderer::Unregister(CGlesSurface* surface) {
  m_release.erase(surface);
  m_restore.erase(surface);
  if (m_target == surface) SetRenderTarget(nullptr);
}

bool CGlesRenderer::ReadBack(std::vector<uint8_t>& pixels, int& width, int& height) {
  if (!m_ready || m_lost || !m_backFramebuffer) return true;
  CGlesApi& gl = Gles();
  gl.BindFramebuffer(GL_FRAMEBUFFER, m_backFramebuffer);
  pixels.resize(size_t(m_backWidth) * size_t(m_backHeight) * 4);
  // The channels already hold B, G, R, A and row 0 is the top: as is.
  gl.ReadPixels(0, 0, m_backWidth, m_backHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  width = m_backWidth;
  height = m_backHeight;
  if (m_target) gl.BindFramebuffer(GL_FRAMEBUFFER, m_target->GetFramebuffer());
  return false;
}

// ---- Surfaces ----

CGlesSurface::~CGlesSurface() {
  if (!CGlesRenderer::Live(m_token)) return;  // its names went with the renderer's context
  m_renderer->Unregister(this);
  ReleaseTexture();
}

void CGlesSurface::SetError(int line, const char* operation, const char* name, const char* description) {
  m_lastError = FormatError(kSurfaceSource, line, operation, name, description);
}

void CGlesSurface::ReleaseTexture() {
  if (m_renderer && m_renderer->GetCurrentTarget() == this) m_renderer->SetRenderTarget(nullptr);
  // Names of a lost context are gone with it and must not be deleted in a
  // new one.
  if (m_renderer && !m_renderer->IsLost() && Gles().DeleteTextures) {
    if (m_framebuffer) Gles().DeleteFramebuffers(1, &m_framebuffer);
    if (m_texture) Gles().DeleteTextures(1, &m_texture);
  }
  m_framebuffer = 0;
  m_texture = 0;
}

bool CGlesSurface::Init(int width, int height, int format, bool renderTarget) {
  static const char* const kOperation = "CGlesSurface::Init";
  ReleaseTexture();
  m_renderTarget = renderTarget;
  m_locks = 0;
  m_stale = false;
  if (!IsValidPixelFormat(format)) {
    CSurface::Create(width, height, format);
    m_lastError = "This Pixel Format is NOT available.";
    return true;
  }
  if (renderTarget) {
    // No CPU copy: the texture is the only storage.
    m_pixels.reset();
    m_width = width;
    m_height = height;
    m_format = format;
    if (width <= 0 || height <= 0 || !IsAcceptedSize(width, height)) {
      m_width = m_height = 0;
      SetError(__LINE__, kOperation, "GL_INVALID_VALUE", "The surface size is out of range.");
      return true;
    }
  } else if (CSurface::Create(width, height, format)) {
    SetError(__LINE__, kOperation, "GL_OUT_OF_MEMORY", "The surface size is out of range or cannot be allocated.");
    return true;
  }
  const bool pot = CGlesRenderer::GetForcePowerOfTwo();
  m_textureWidth = pot ? NextPowerOfTwo(m_width) : m_width;
  m_textureHeight = pot ? NextPowerOfTwo(m_height) : m_height;
  if (m_renderer) {
    // Render targets are made again after a reset (empty); managed surfaces
    // upload their copy again, since GL keeps no texture over a lost context.
    m_renderer->Register(
        this, [this] { ReleaseTexture(); },
        [this, width, height, format, renderTarget] {
          if (renderTarget) {
            Init(width, height, format, true);
          } else {
            m_texture = 0;
            CreateTexture();
            m_stale = true;
          }
        });
  }
  if (m_width == 0 || m_height == 0) return false;
  if (CreateTexture()) return true;
  m_stale = !renderTarget;
  return false;
}

bool CGlesSurface::CreateTexture() {
  static const char* const kOperation = "CGlesSurface::Init";
  if (!m_renderer || m_renderer->IsLost() || !Gles().GenTextures || m_width == 0 || m_height == 0) return false;
  CGlesApi& gl = Gles();
  while (gl.GetError() != GL_NO_ERROR) {}
  gl.GenTextures(1, &m_texture);
  gl.ActiveTexture(GL_TEXTURE0);
  gl.BindTexture(GL_TEXTURE_2D, m_texture);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  const GLenum layout = m_format == PIXEL_BITS_8 ? GL_ALPHA : GL_RGBA;
  gl.TexImage2D(GL_TEXTURE_2D, 0, GLint(layout), m_textureWidth, m_textureHeight, 0, layout, GL_UNSIGNED_BYTE, nullptr);
  GLenum error = gl.GetError();
  if (error == GL_NO_ERROR && m_renderTarget) {
    CGlesSurface* previous = m_renderer->GetCurrentTarget();
    gl.GenFramebuffers(1, &m_framebuffer);
    gl.BindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture, 0);
    error = gl.GetError();
    if (error == GL_NO_ERROR && gl.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
      error = GL_INVALID_FRAMEBUFFER_OPERATION;
    if (error == GL_NO_ERROR) {
      gl.Viewport(0, 0, m_textureWidth, m_textureHeight);
      gl.ClearColor(0, 0, 0, 0);
      gl.Clear(GL_COLOR_BUFFER_BIT);
    }
    m_renderer->SetRenderTarget(previous);
  }
  if (error != GL_NO_ERROR) {
    SetError(__LINE__, kOperation, GlesErrorName(error), GlesErrorDescription(error));
    ReleaseTexture();
    return true;
  }
  return false;
}

GLuint CGlesSurface::GetTexture() {
  if (!m_texture || !m_renderer || m_renderer->IsLost()) return 0;
  if (m_stale && m_pixels) {
    CGlesApi& gl = Gles();
    gl.ActiveTexture(GL_TEXTURE0);
    gl.BindTexture(GL_TEXTURE_2D, m_texture);
    const GLenum layout = m_format == PIXEL_BITS_8 ? GL_ALPHA : GL_RGBA;
    gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, m_width, m_height, layout, GL_UNSIGNED_BYTE, m_pixels.get());
    ++m_uploads;
  }
  m_stale = false;
  return m_texture;
}

int CGlesSurface::GetPitch() const { return m_locks > 0 && m_pixels ? CSurface::GetPitch() : 0; }

void CGlesSurface::Lock() {
  if (!m_renderTarget) ++m_locks;
}

void CGlesSurface::Unlock() {
  if (m_renderTarget || m_locks <= 0) return;
  // The texture is brought up to date when it is next drawn, so that a
  // read-only lock (a hit test) costs no upload until then.
  if (--m_locks == 0) m_stale = true;
}

uint8_t* CGlesSurface::GetLine(int y) {
  // Pixel users lock first; render targets have no pixels to hand out.
  assert(m_renderTarget || m_locks > 0);
  if (m_renderTarget || m_locks <= 0) return nullptr;
  return CSurface::GetLine(y);
}

void CGlesSurface::Fill(uint32_t value) {
  if (!m_renderTarget) {
    CSurface::Fill(value);
    return;
  }
  if (!m_renderer || !m_framebuffer || m_renderer->IsLost()) return;
  CGlesSurface* previous = m_renderer->GetCurrentTarget();
  m_renderer->SetRenderTarget(this);
  CGlesApi& gl = Gles();
  // Channels hold B, G, R, A in engine order.
  gl.ClearColor(float(value & 0xFF) / 255.0f, float((value >> 8) & 0xFF) / 255.0f, float((value >> 16) & 0xFF) / 255.0f,
                float(value >> 24) / 255.0f);
  gl.Clear(GL_COLOR_BUFFER_BIT);
  m_renderer->SetRenderTarget(previous);
}
