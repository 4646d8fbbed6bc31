#ifndef VQ_TOOLS_GLRENDER_HEADLESS_GL_CONTEXT_H
#define VQ_TOOLS_GLRENDER_HEADLESS_GL_CONTEXT_H

#include <string>

// An OpenGL 3.3 core context without a window: EGL on Mesa's surfaceless
// platform, so it needs no display server. Mesa picks the GPU where there
// is one and llvmpipe (software) where there is none. Pictures are drawn
// into framebuffer objects; the context has no default framebuffer.
//
// Lifecycle:
//   constructed      nothing held
//   Create()         display initialised, context made and current on the
//                    calling thread; false, with GetError() saying why in
//                    one line, when EGL, the surfaceless platform or GL 3.3
//                    core is unavailable (nothing is held then)
//   MakeCurrent()    current again on the calling thread
//   Destroy()        context released and destroyed; the destructor does it
//
// GL objects made while the context is current belong to it and go with
// it: whoever holds such objects must release them (or be destroyed) first.
//
// Several contexts may live at once, on one thread each at a time; they
// share the process's one EGL display, which the first Create initialises
// and which stays up until the process ends. Every
// EGL and GL function comes through libepoxy; Create checks each extension
// before the first call that needs it, so a missing one ends in a message,
// never in libepoxy's abort.
class CHeadlessGLContext {
public:
    CHeadlessGLContext() = default;
    ~CHeadlessGLContext();
    CHeadlessGLContext(const CHeadlessGLContext&) = delete;
    CHeadlessGLContext& operator=(const CHeadlessGLContext&) = delete;

    bool Create();
    bool MakeCurrent();
    void Destroy();

    bool IsCreated() const { return m_pContext != nullptr; }
    // Why the last Create or MakeCurrent failed; empty after a success.
    const std::string& GetError() const { return m_sError; }
    // "renderer, version" of the created context, e.g.
    // "llvmpipe (LLVM 15.0.6, 256 bits), 4.5 (Core Profile) Mesa 22.3.6".
    const std::string& GetDescription() const { return m_sDescription; }

private:
    bool Fail(const std::string& sError);

    void* m_pDisplay = nullptr;  // EGLDisplay, the process's
    void* m_pContext = nullptr;  // EGLContext, owned
    std::string m_sError;
    std::string m_sDescription;
};

#endif
