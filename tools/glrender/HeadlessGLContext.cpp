#include "HeadlessGLContext.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <mutex>

namespace {

// The surfaceless display is one per process, shared by every context, and
// stays initialised until the process ends: eglTerminate unloads Mesa's
// driver, which leaves 128 bytes behind each time (and the next context
// would load it again).
std::mutex g_oDisplayMutex;
EGLDisplay g_pDisplay = EGL_NO_DISPLAY;

// GL 3.3 as epoxy counts versions (major * 10 + minor).
constexpr int kRequiredGLVersion = 33;

std::string EglErrorText(const char* szWhat)
{
    char sz[96];
    std::snprintf(sz, sizeof sz, "%s failed (EGL error 0x%04X)", szWhat, unsigned(eglGetError()));
    return sz;
}

// The shared display, initialised; EGL_NO_DISPLAY with sError set when the
// platform is missing.
EGLDisplay GetDisplay(std::string& sError)
{
    std::lock_guard<std::mutex> oLock(g_oDisplayMutex);
    if (g_pDisplay != EGL_NO_DISPLAY)
        return g_pDisplay;
    // Client extensions are asked of no display; epoxy aborts on a function
    // whose extension is missing, so each is checked first.
    if (!epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_EXT_platform_base") ||
        !epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless")) {
        sError = "EGL without Mesa's surfaceless platform (install libegl-mesa0 and libgl1-mesa-dri)";
        return EGL_NO_DISPLAY;
    }
    EGLDisplay pDisplay = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint nMajor = 0, nMinor = 0;
    if (pDisplay == EGL_NO_DISPLAY || !eglInitialize(pDisplay, &nMajor, &nMinor)) {
        sError = EglErrorText("initialising the surfaceless EGL display");
        return EGL_NO_DISPLAY;
    }
    g_pDisplay = pDisplay;
    return g_pDisplay;
}

}  // namespace

CHeadlessGLContext::~CHeadlessGLContext() { Destroy(); }

bool CHeadlessGLContext::Fail(const std::string& sError)
{
    Destroy();
    m_sError = sError;
    return false;
}

bool CHeadlessGLContext::Create()
{
    Destroy();
    m_sError.clear();
    std::string sError;
    EGLDisplay pDisplay = GetDisplay(sError);
    if (pDisplay == EGL_NO_DISPLAY)
        return Fail(sError);
    m_pDisplay = pDisplay;

    // No config and no surface: the context draws into framebuffer objects.
    if (!epoxy_has_egl_extension(pDisplay, "EGL_KHR_no_config_context") ||
        !epoxy_has_egl_extension(pDisplay, "EGL_KHR_surfaceless_context") ||
        !epoxy_has_egl_extension(pDisplay, "EGL_KHR_create_context"))
        return Fail("the EGL display cannot make a context without a surface");
    if (!eglBindAPI(EGL_OPENGL_API))
        return Fail(EglErrorText("choosing desktop OpenGL"));
    const EGLint aAttributes[] = {EGL_CONTEXT_MAJOR_VERSION_KHR,
                                  kRequiredGLVersion / 10,
                                  EGL_CONTEXT_MINOR_VERSION_KHR,
                                  kRequiredGLVersion % 10,
                                  EGL_CONTEXT_OPENGL_PROFILE_MASK_KHR,
                                  EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT_KHR,
                                  EGL_NONE};
    m_pContext = eglCreateContext(pDisplay, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, aAttributes);
    if (m_pContext == EGL_NO_CONTEXT) {
        m_pContext = nullptr;
        return Fail(EglErrorText("making an OpenGL 3.3 core context"));
    }
    if (!MakeCurrent())
        return Fail(m_sError);
    if (epoxy_gl_version() < kRequiredGLVersion || epoxy_is_desktop_gl() == 0)
        return Fail("the context offers no desktop OpenGL 3.3");
    const char* szRenderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const char* szVersion = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    m_sDescription = std::string(szRenderer ? szRenderer : "?") + ", " + (szVersion ? szVersion : "?");
    return true;
}

bool CHeadlessGLContext::MakeCurrent()
{
    if (!m_pContext) {
        m_sError = "no context was created";
        return false;
    }
    if (!eglMakeCurrent(m_pDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, m_pContext)) {
        m_sError = EglErrorText("making the context current");
        return false;
    }
    m_sError.clear();
    return true;
}

void CHeadlessGLContext::Destroy()
{
    if (m_pContext) {
        if (eglGetCurrentContext() == m_pContext)
            eglMakeCurrent(m_pDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(m_pDisplay, m_pContext);
        m_pContext = nullptr;
    }
    m_pDisplay = nullptr;
    m_sDescription.clear();
}
