#include "graphics/gl/GlesLayer.h"

#include <cstring>
#include <vector>

#include "graphics/Surface.h"
#include "graphics/gl/GlesRenderer.h"

namespace {

bool IsScaledOrTurned(const ILayerProperty& p) {
  return p.GetXScale() != kScaleOne || p.GetYScale() != kScaleOne || p.GetRotate() != 0;
}

void SetFilter(GLenum unit, GLuint texture, bool linear) {
  CGlesApi& gl = Gles();
  gl.ActiveTexture(unit);
  gl.BindTexture(GL_TEXTURE_2D, texture);
  const GLint filter = linear ? GL_LINEAR : GL_NEAREST;
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
}

}  // namespace

CGlesLayer::CGlesLayer(CGlesRenderer* renderer)
    : m_renderer(renderer), m_token(renderer ? renderer->GetToken() : std::weak_ptr<CGlesRenderer*>()) {}

CGlesLayer::~CGlesLayer() {
  if (!CGlesRenderer::Live(m_token)) return;
  Release(m_keyed);
  Release(m_foreign);
  Release(m_foreignMask);
}

void CGlesLayer::Release(COwnedTexture& texture) {
  // A name from a lost context went with it.
  if (texture.name && m_renderer && !m_renderer->IsLost() && texture.generation == m_renderer->GetGeneration() &&
      Gles().DeleteTextures)
    Gles().DeleteTextures(1, &texture.name);
  texture = COwnedTexture();
}

GLuint CGlesLayer::Upload(COwnedTexture& texture, ISurface* surface, bool keyed) {
  CGlesApi& gl = Gles();
  const int w = surface->GetWidth(), h = surface->GetHeight();
  const int bpp = surface->GetBytesPerPixel();
  if (texture.generation != m_renderer->GetGeneration()) texture = COwnedTexture();
  if (!texture.name) {
    gl.GenTextures(1, &texture.name);
    texture.generation = m_renderer->GetGeneration();
    texture.width = texture.height = 0;
  }
  gl.ActiveTexture(GL_TEXTURE0);
  gl.BindTexture(GL_TEXTURE_2D, texture.name);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  const GLenum layout = bpp == 1 ? GL_ALPHA : GL_RGBA;
  std::vector<uint8_t> pixels(size_t(w) * size_t(h) * size_t(bpp), 0);
  surface->Lock();
  for (int y = 0; y < h; ++y) {
    const uint8_t* line = surface->GetLine(y);
    if (!line) continue;  // no pixels: transparent
    uint8_t* out = &pixels[size_t(y) * size_t(w) * size_t(bpp)];
    std::memcpy(out, line, size_t(w) * size_t(bpp));
    if (keyed) {
      // Key the texture, never the surface: its own alpha stays for
      // whatever else reads it.
      const uint32_t key = GetColorKey() & 0xFFFFFFu;
      for (int x = 0; x < w; ++x) {
        uint8_t* p = out + 4 * size_t(x);
        const uint32_t rgb = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
        p[3] = rgb == key ? 0 : 0xFF;
      }
    }
  }
  surface->Unlock();
  if (texture.width != w || texture.height != h) {
    gl.TexImage2D(GL_TEXTURE_2D, 0, GLint(layout), w, h, 0, layout, GL_UNSIGNED_BYTE, pixels.data());
    texture.width = w;
    texture.height = h;
  } else {
    gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, layout, GL_UNSIGNED_BYTE, pixels.data());
  }
  return texture.name;
}

void CGlesLayer::DrawWithParents(ISurface* target, CParentChain& parents) {
  if (!m_surface || GetXScale() <= 0 || GetYScale() <= 0 || GetAlpha() <= 0 || !GetVisible()) return;
  auto* glTarget = dynamic_cast<CGlesSurface*>(target);
  if (target && !(glTarget && glTarget->IsRenderTarget())) {
    // A memory surface as the target: compose on the CPU as software does.
    CLayer::PrepareWithParents(true, parents);
    CLayer::DrawWithParents(target, parents);
    return;
  }
  // Nothing draws while no frame is begun (lost, or an unfocused window);
  // the dirty flags wait for the next frame that does.
  if (!m_renderer || !m_renderer->IsDrawing()) return;
  const int format = m_surface->GetFormat();
  if (format != ISurface::PIXEL_BITS_32 && format != ISurface::PIXEL_BITS_32A) {
    SetDirtyFlags(0);
    return;
  }
  CGlesApi& gl = Gles();
  const int mode = GetLayerMode();
  auto* glSurface = dynamic_cast<CGlesSurface*>(m_surface);
  int textureWidth = m_surface->GetWidth(), textureHeight = m_surface->GetHeight();
  GLuint texture = 0;
  bool keyed = false;
  if (mode == kLayerModeColorKey && !(glSurface && glSurface->IsRenderTarget())) {
    const uint64_t uploads = glSurface ? glSurface->GetUploadCount() : 0;
    if (glSurface) glSurface->GetTexture();  // counts a pending change of the copy
    const uint64_t now = glSurface ? glSurface->GetUploadCount() : 0;
    const bool stale = (GetDirtyFlags() & (kDirtyImage | kDirtyLayerMode | kDirtyColorKey)) || !m_keyed.name ||
                       m_keyed.generation != m_renderer->GetGeneration() || !glSurface || now != uploads ||
                       now != m_keyedUploads;
    texture = stale ? Upload(m_keyed, m_surface, true) : m_keyed.name;
    m_keyedUploads = now;
    keyed = true;
  } else if (glSurface) {
    texture = glSurface->GetTexture();
    textureWidth = glSurface->GetTextureWidth();
    textureHeight = glSurface->GetTextureHeight();
  } else {
    texture = Upload(m_foreign, m_surface, false);
  }
  SetDirtyFlags(0);
  if (!texture) return;

  GLuint maskTexture = 0;
  int maskWidth = 0, maskHeight = 0;
  if (m_mask) {
    if (auto* glMask = dynamic_cast<CGlesSurface*>(m_mask)) {
      maskTexture = glMask->GetTexture();
      maskWidth = glMask->GetTextureWidth();
      maskHeight = glMask->GetTextureHeight();
    } else {
      maskTexture = Upload(m_foreignMask, m_mask, false);
      maskWidth = m_mask->GetWidth();
      maskHeight = m_mask->GetHeight();
    }
  }

  m_renderer->SetRenderTarget(glTarget);
  const float g = glTarget ? 1.0f : m_renderer->GetWindowScale();

  // The source area, and its texture coordinates in the allocated texture.
  int sx = 0, sy = 0, w = m_surface->GetWidth(), h = m_surface->GetHeight();
  if (m_sourceRect.GetWidth() != 0 && m_sourceRect.GetHeight() != 0) {
    sx = m_sourceRect.GetX();
    sy = m_sourceRect.GetY();
    w = m_sourceRect.GetWidth();
    h = m_sourceRect.GetHeight();
  }
  const int opacity = EffectiveOpacity(GetAlpha(), parents);
  if (opacity <= 0) return;
  const float o = opacity >= 255 ? 1.0f : float(opacity) / 255.0f;
  bool linear = IsScaledOrTurned(*this);
  for (const ILayerProperty* parent : parents)
    if (parent && IsScaledOrTurned(*parent)) linear = true;

  UpdateMatrix(parents);
  const float cx[4] = {0, float(w), float(w), 0}, cy[4] = {0, 0, float(h), float(h)};
  GLfloat vertices[4 * 6];
  for (int i = 0; i < 4; ++i) {
    float x = 0, y = 0;
    m_matrix.Transform(cx[i], cy[i], x, y);
    m_corners[2 * i] = x * g;
    m_corners[2 * i + 1] = y * g;
    GLfloat* v = vertices + 6 * i;
    v[0] = x * g;
    v[1] = y * g;
    v[2] = (float(sx) + cx[i]) / float(textureWidth);
    v[3] = (float(sy) + cy[i]) / float(textureHeight);
    v[4] = maskTexture ? (float(sx) + cx[i]) / float(maskWidth) : 0.0f;
    v[5] = maskTexture ? (float(sy) + cy[i]) / float(maskHeight) : 0.0f;
  }

  // Opaque colour without alpha covers what lies below in normal mode only;
  // the other modes blend even then.
  const bool blend =
      opacity < 255 || format != ISurface::PIXEL_BITS_32 || maskTexture || keyed || mode != kLayerModeNormal;
  m_lastLinear = linear;
  m_lastBlended = blend;
  float tint = 0;
  if (blend) {
    gl.Enable(GL_BLEND);
    gl.BlendEquation(GL_FUNC_ADD);
    // The destination's alpha stays as it was, as in the software kernels.
    switch (mode) {
      case kLayerModeAdd: gl.BlendFuncSeparate(GL_SRC_ALPHA, GL_ONE, GL_ZERO, GL_ONE); break;
      case kLayerModeMultiply:
        gl.BlendFuncSeparate(GL_ZERO, GL_SRC_COLOR, GL_ZERO, GL_ONE);
        tint = 1;
        break;
      case kLayerModeScreen:
        gl.BlendFuncSeparate(GL_ONE_MINUS_DST_COLOR, GL_ONE, GL_ZERO, GL_ONE);
        tint = 2;
        break;
      default: gl.BlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE); break;
    }
  } else {
    gl.Disable(GL_BLEND);
  }

  m_renderer->UseLayerProgram();
  const CGlesRenderer::CLayerProgram& program = m_renderer->GetLayerProgram();
  gl.Uniform1f(program.hasMask, maskTexture ? 1.0f : 0.0f);
  // A mask makes the image one with alpha, its own alpha byte included, as
  // the software path reads it.
  gl.Uniform1f(program.ignoreAlpha, format == ISurface::PIXEL_BITS_32 && !keyed && !maskTexture ? 1.0f : 0.0f);
  gl.Uniform1f(program.opacity, o);
  gl.Uniform1f(program.tint, tint);
  // A plain copy takes the image's alpha byte along, as the row copy does.
  gl.Uniform1f(program.copyAlpha, blend ? 0.0f : 1.0f);
  if (maskTexture) SetFilter(GL_TEXTURE1, maskTexture, linear);
  SetFilter(GL_TEXTURE0, texture, linear);
  gl.EnableVertexAttribArray(0);
  gl.EnableVertexAttribArray(1);
  if (maskTexture)
    gl.EnableVertexAttribArray(2);
  else
    gl.DisableVertexAttribArray(2);
  gl.VertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 24, vertices);
  gl.VertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 24, vertices + 2);
  gl.VertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, 24, vertices + 4);
  gl.DrawArrays(GL_TRIANGLE_FAN, 0, 4);
}
