#pragma once
// The OpenGL entry points the game calls, looked up at start-up once a context exists.
// Call them through the table: gGL.glClear(...). Main thread only (the GL context lives there).
#include <SDL3/SDL_opengl.h>
#include <SDL3/SDL_stdinc.h>

// X(name, pointer type, critical): table order; a missing critical entry fails start-up.
#define VIBRELLE_GL_FUNCTIONS(X)                                                                             \
    X(glGenBuffers, PFNGLGENBUFFERSPROC, true)                                                               \
    X(glDeleteBuffers, PFNGLDELETEBUFFERSPROC, true)                                                         \
    X(glBindBuffer, PFNGLBINDBUFFERPROC, true)                                                               \
    X(glBufferData, PFNGLBUFFERDATAPROC, true)                                                               \
    X(glBufferSubData, PFNGLBUFFERSUBDATAPROC, false)                                                        \
    X(glBindBufferBase, PFNGLBINDBUFFERBASEPROC, false)                                                      \
    X(glGenVertexArrays, PFNGLGENVERTEXARRAYSPROC, true)                                                     \
    X(glDeleteVertexArrays, PFNGLDELETEVERTEXARRAYSPROC, true)                                               \
    X(glBindVertexArray, PFNGLBINDVERTEXARRAYPROC, true)                                                     \
    X(glCreateShader, PFNGLCREATESHADERPROC, true)                                                           \
    X(glDeleteShader, PFNGLDELETESHADERPROC, true)                                                           \
    X(glShaderSource, PFNGLSHADERSOURCEPROC, false)                                                          \
    X(glCompileShader, PFNGLCOMPILESHADERPROC, false)                                                        \
    X(glGetShaderiv, PFNGLGETSHADERIVPROC, false)                                                            \
    X(glGetShaderInfoLog, PFNGLGETSHADERINFOLOGPROC, false)                                                  \
    X(glCreateProgram, PFNGLCREATEPROGRAMPROC, true)                                                         \
    X(glDeleteProgram, PFNGLDELETEPROGRAMPROC, true)                                                         \
    X(glAttachShader, PFNGLATTACHSHADERPROC, false)                                                          \
    X(glLinkProgram, PFNGLLINKPROGRAMPROC, false)                                                            \
    X(glGetProgramiv, PFNGLGETPROGRAMIVPROC, false)                                                          \
    X(glGetProgramInfoLog, PFNGLGETPROGRAMINFOLOGPROC, false)                                                \
    X(glUseProgram, PFNGLUSEPROGRAMPROC, true)                                                               \
    X(glDrawArrays, decltype(&::glDrawArrays), true)                                                         \
    X(glDrawArraysInstanced, PFNGLDRAWARRAYSINSTANCEDPROC, true)                                             \
    X(glGetError, decltype(&::glGetError), true)                                                             \
    X(glGetString, decltype(&::glGetString), false)                                                          \
    X(glGetIntegerv, decltype(&::glGetIntegerv), false)                                                      \
    X(glClear, decltype(&::glClear), true)                                                                   \
    X(glClearColor, decltype(&::glClearColor), false)                                                        \
    X(glViewport, decltype(&::glViewport), true)                                                             \
    X(glGetUniformBlockIndex, PFNGLGETUNIFORMBLOCKINDEXPROC, true)                                           \
    X(glUniformBlockBinding, PFNGLUNIFORMBLOCKBINDINGPROC, true)                                             \
    X(glEnable, decltype(&::glEnable), true)                                                                 \
    X(glDisable, decltype(&::glDisable), true)                                                               \
    X(glBlendFunc, decltype(&::glBlendFunc), true)                                                           \
    X(glBlendFuncSeparate, PFNGLBLENDFUNCSEPARATEPROC, false)                                                \
    X(glBlendColor, PFNGLBLENDCOLORPROC, false)                                                              \
    X(glBlendEquation, PFNGLBLENDEQUATIONPROC, true)                                                         \
    X(glDepthFunc, decltype(&::glDepthFunc), true)                                                           \
    X(glDepthMask, decltype(&::glDepthMask), true)                                                           \
    X(glCullFace, decltype(&::glCullFace), true)                                                             \
    X(glFrontFace, decltype(&::glFrontFace), true)                                                           \
    X(glScissor, decltype(&::glScissor), true)                                                               \
    X(glActiveTexture, PFNGLACTIVETEXTUREPROC, true)                                                         \
    X(glBindTexture, decltype(&::glBindTexture), true)                                                       \
    X(glGetBooleanv, decltype(&::glGetBooleanv), true)                                                       \
    X(glGetFloatv, decltype(&::glGetFloatv), true)                                                           \
    X(glVertexAttribPointer, PFNGLVERTEXATTRIBPOINTERPROC, true)                                             \
    X(glEnableVertexAttribArray, PFNGLENABLEVERTEXATTRIBARRAYPROC, true)                                     \
    X(glDisableVertexAttribArray, PFNGLDISABLEVERTEXATTRIBARRAYPROC, true)                                   \
    X(glUniform1f, PFNGLUNIFORM1FPROC, true)                                                                 \
    X(glUniform2f, PFNGLUNIFORM2FPROC, true)                                                                 \
    X(glUniform1ui, PFNGLUNIFORM1UIPROC, true)                                                               \
    X(glUniform1i, PFNGLUNIFORM1IPROC, true)                                                                 \
    X(glUniform1fv, PFNGLUNIFORM1FVPROC, true)                                                               \
    X(glUniform2fv, PFNGLUNIFORM2FVPROC, true)                                                               \
    X(glUniform4fv, PFNGLUNIFORM4FVPROC, true)                                                               \
    X(glUniform1iv, PFNGLUNIFORM1IVPROC, true)                                                               \
    X(glUniform3f, PFNGLUNIFORM3FPROC, false)                                                                \
    X(glUniform4f, PFNGLUNIFORM4FPROC, true)                                                                 \
    X(glUniformMatrix4fv, PFNGLUNIFORMMATRIX4FVPROC, false)                                                  \
    X(glGetUniformLocation, PFNGLGETUNIFORMLOCATIONPROC, true)                                               \
    X(glCopyBufferSubData, PFNGLCOPYBUFFERSUBDATAPROC, true)                                                 \
    X(glGenFramebuffers, PFNGLGENFRAMEBUFFERSPROC, false)                                                    \
    X(glDeleteFramebuffers, PFNGLDELETEFRAMEBUFFERSPROC, false)                                              \
    X(glBindFramebuffer, PFNGLBINDFRAMEBUFFERPROC, false)                                                    \
    X(glFramebufferTexture2D, PFNGLFRAMEBUFFERTEXTURE2DPROC, false)                                          \
    X(glCheckFramebufferStatus, PFNGLCHECKFRAMEBUFFERSTATUSPROC, false)                                      \
    X(glIsEnabled, decltype(&::glIsEnabled), false)

struct GLFunctions {
#define VIBRELLE_GL_MEMBER(name, type, critical) type name = nullptr;
    VIBRELLE_GL_FUNCTIONS(VIBRELLE_GL_MEMBER)
#undef VIBRELLE_GL_MEMBER
};

// The process-wide entry-point table, filled by loadGLFunctions.
extern GLFunctions gGL;

// Looks a GL function up by name; SDL_GL_GetProcAddress in the game, a fake in tests.
using GLProcLookup = SDL_FunctionPointer (*)(const char* name);

// Fills gGL through SDL_GL_GetProcAddress, logging "Loading OpenGL functions..." and either
// "OpenGL functions loaded successfully!" or the critical names that failed. Needs a current context.
bool loadGLFunctions();

// The same with a lookup of the caller's choice.
bool loadGLFunctionsWith(GLProcLookup lookup);

// Takes one pending GL error; logs "OpenGL error in <context>: <name>" and returns false when there
// was one. One error per call: a second pending error is left for the next check.
bool checkGLError(const char* context);
