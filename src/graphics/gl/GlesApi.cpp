#include "graphics/gl/GlesApi.h"

#include "platform/Platform.h"

CGlesApi& Gles() {
  static CGlesApi api;
  return api;
}

bool CGlesApi::Load(std::string& missing) {
  missing.clear();
#define VELMIRA_GLES_LOAD(type, name)                                    \
  name = reinterpret_cast<type>(platform::GetGlProcAddress("gl" #name)); \
  if (!name && missing.empty()) missing = "gl" #name;
  VELMIRA_GLES_FUNCTIONS(VELMIRA_GLES_LOAD)
#undef VELMIRA_GLES_LOAD
  return !missing.empty();
}

const char* GlesErrorName(GLenum code) {
  switch (code) {
    case GL_NO_ERROR: return "GL_NO_ERROR";
    case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
    case GL_INVALID_FRAMEBUFFER_OPERATION: return "GL_INVALID_FRAMEBUFFER_OPERATION";
    case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
    default: return "GL_UNKNOWN_ERROR";
  }
}

const char* GlesErrorDescription(GLenum code) {
  switch (code) {
    case GL_NO_ERROR: return "No error has been recorded.";
    case GL_INVALID_ENUM: return "An unacceptable value is specified for an enumerated argument.";
    case GL_INVALID_VALUE: return "A numeric argument is out of range.";
    case GL_INVALID_OPERATION: return "The specified operation is not allowed in the current state.";
    case GL_INVALID_FRAMEBUFFER_OPERATION: return "The framebuffer object is not complete.";
    case GL_OUT_OF_MEMORY: return "There is not enough memory left to execute the command.";
    default: return "An unknown error was reported.";
  }
}
