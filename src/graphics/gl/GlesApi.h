// The OpenGL ES 2.0 entry points the GPU renderer uses, loaded through the
// platform layer from whatever context it made (SDL or headless EGL), so this
// library links no GL library and names no window system.
#pragma once

#define GL_GLES_PROTOTYPES 0
#include <GLES2/gl2.h>

#include <string>

struct CGlesApi {
#define VELMIRA_GLES_FUNCTIONS(X)                                \
  X(PFNGLACTIVETEXTUREPROC, ActiveTexture)                       \
  X(PFNGLATTACHSHADERPROC, AttachShader)                         \
  X(PFNGLBINDATTRIBLOCATIONPROC, BindAttribLocation)             \
  X(PFNGLBINDBUFFERPROC, BindBuffer)                             \
  X(PFNGLBINDFRAMEBUFFERPROC, BindFramebuffer)                   \
  X(PFNGLBINDTEXTUREPROC, BindTexture)                           \
  X(PFNGLBLENDFUNCSEPARATEPROC, BlendFuncSeparate)               \
  X(PFNGLBLENDEQUATIONPROC, BlendEquation)                       \
  X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, CheckFramebufferStatus)     \
  X(PFNGLCLEARPROC, Clear)                                       \
  X(PFNGLCLEARCOLORPROC, ClearColor)                             \
  X(PFNGLCOLORMASKPROC, ColorMask)                               \
  X(PFNGLCOMPILESHADERPROC, CompileShader)                       \
  X(PFNGLCREATEPROGRAMPROC, CreateProgram)                       \
  X(PFNGLCREATESHADERPROC, CreateShader)                         \
  X(PFNGLDELETEFRAMEBUFFERSPROC, DeleteFramebuffers)             \
  X(PFNGLDELETEPROGRAMPROC, DeleteProgram)                       \
  X(PFNGLDELETESHADERPROC, DeleteShader)                         \
  X(PFNGLDELETETEXTURESPROC, DeleteTextures)                     \
  X(PFNGLDISABLEPROC, Disable)                                   \
  X(PFNGLDISABLEVERTEXATTRIBARRAYPROC, DisableVertexAttribArray) \
  X(PFNGLDRAWARRAYSPROC, DrawArrays)                             \
  X(PFNGLENABLEPROC, Enable)                                     \
  X(PFNGLENABLEVERTEXATTRIBARRAYPROC, EnableVertexAttribArray)   \
  X(PFNGLFINISHPROC, Finish)                                     \
  X(PFNGLFRAMEBUFFERTEXTURE2DPROC, FramebufferTexture2D)         \
  X(PFNGLGENFRAMEBUFFERSPROC, GenFramebuffers)                   \
  X(PFNGLGENTEXTURESPROC, GenTextures)                           \
  X(PFNGLGETERRORPROC, GetError)                                 \
  X(PFNGLGETINTEGERVPROC, GetIntegerv)                           \
  X(PFNGLGETPROGRAMIVPROC, GetProgramiv)                         \
  X(PFNGLGETPROGRAMINFOLOGPROC, GetProgramInfoLog)               \
  X(PFNGLGETSHADERIVPROC, GetShaderiv)                           \
  X(PFNGLGETSHADERINFOLOGPROC, GetShaderInfoLog)                 \
  X(PFNGLGETSTRINGPROC, GetString)                               \
  X(PFNGLGETUNIFORMLOCATIONPROC, GetUniformLocation)             \
  X(PFNGLLINKPROGRAMPROC, LinkProgram)                           \
  X(PFNGLPIXELSTOREIPROC, PixelStorei)                           \
  X(PFNGLREADPIXELSPROC, ReadPixels)                             \
  X(PFNGLSHADERSOURCEPROC, ShaderSource)                         \
  X(PFNGLTEXIMAGE2DPROC, TexImage2D)                             \
  X(PFNGLTEXPARAMETERIPROC, TexParameteri)                       \
  X(PFNGLTEXSUBIMAGE2DPROC, TexSubImage2D)                       \
  X(PFNGLUNIFORM1FPROC, Uniform1f)                               \
  X(PFNGLUNIFORM1IPROC, Uniform1i)                               \
  X(PFNGLUNIFORM2FPROC, Uniform2f)                               \
  X(PFNGLUSEPROGRAMPROC, UseProgram)                             \
  X(PFNGLVERTEXATTRIBPOINTERPROC, VertexAttribPointer)           \
  X(PFNGLVIEWPORTPROC, Viewport)

#define VELMIRA_GLES_MEMBER(type, name) type name = nullptr;
  VELMIRA_GLES_FUNCTIONS(VELMIRA_GLES_MEMBER)
#undef VELMIRA_GLES_MEMBER

  // Loads every entry point of the current context; true when one is missing
  // (its name is then in missing).
  bool Load(std::string& missing);
};

// The entry points of the renderer's context (one context per process).
CGlesApi& Gles();

// Name and description of a GL error code, for the error texts.
const char* GlesErrorName(GLenum code);
const char* GlesErrorDescription(GLenum code);
