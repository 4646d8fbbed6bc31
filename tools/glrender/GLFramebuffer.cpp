#include "GLFramebuffer.h"

#include "PngImage.h"

#include <algorithm>
#include <cstdio>

CGLFramebuffer::~CGLFramebuffer() { Release(); }

void CGLFramebuffer::Free(STarget& target)
{
    if (target.nFramebuffer)
        glDeleteFramebuffers(1, &target.nFramebuffer);
    if (target.nColor)
        glDeleteRenderbuffers(1, &target.nColor);
    if (target.nDepth)
        glDeleteRenderbuffers(1, &target.nDepth);
    target = STarget();
}

void CGLFramebuffer::Release()
{
    Free(m_oDraw);
    Free(m_oResolve);
    m_nWidth = m_nHeight = m_nSamples = 0;
}

bool CGLFramebuffer::Make(STarget& target, int nWidth, int nHeight, int nSamples, bool bDepth, std::string& sError)
{
    // Samples 0 is GL's plain (single-sample) renderbuffer.
    const GLsizei nStorageSamples = nSamples > 1 ? nSamples : 0;
    glGenFramebuffers(1, &target.nFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, target.nFramebuffer);
    glGenRenderbuffers(1, &target.nColor);
    glBindRenderbuffer(GL_RENDERBUFFER, target.nColor);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, nStorageSamples, GL_RGBA8, nWidth, nHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, target.nColor);
    if (bDepth) {
        glGenRenderbuffers(1, &target.nDepth);
        glBindRenderbuffer(GL_RENDERBUFFER, target.nDepth);
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, nStorageSamples, GL_DEPTH_COMPONENT24, nWidth, nHeight);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, target.nDepth);
    }
    const GLenum eStatus = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (eStatus == GL_FRAMEBUFFER_COMPLETE && glGetError() == GL_NO_ERROR)
        return true;
    sError = "the driver refuses a picture of " + std::to_string(nWidth) + " x " + std::to_string(nHeight) +
             " pixels with " + std::to_string(std::max(nSamples, 1)) + " samples";
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return false;
}

bool CGLFramebuffer::Bind(int nWidth, int nHeight, int nSamples, std::string& sError)
{
    GLint nMaxSamples = 1;
    glGetIntegerv(GL_MAX_SAMPLES, &nMaxSamples);
    nSamples = std::clamp(nSamples, 1, std::max(nMaxSamples, 1));
    if (nWidth != m_nWidth || nHeight != m_nHeight || nSamples != m_nSamples) {
        Release();
        while (glGetError() != GL_NO_ERROR) {
        }
        if (!Make(m_oDraw, nWidth, nHeight, nSamples, true, sError) ||
            (nSamples > 1 && !Make(m_oResolve, nWidth, nHeight, 1, false, sError))) {
            Release();
            return false;
        }
        m_nWidth = nWidth;
        m_nHeight = nHeight;
        m_nSamples = nSamples;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, m_oDraw.nFramebuffer);
    glViewport(0, 0, nWidth, nHeight);
    return true;
}

bool CGLFramebuffer::Read(CPngImage& picture, std::string& sError)
{
    if (!m_oDraw.nFramebuffer) {
        sError = "no picture was drawn";
        return false;
    }
    GLuint nSource = m_oDraw.nFramebuffer;
    if (m_nSamples > 1) {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, m_oDraw.nFramebuffer);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_oResolve.nFramebuffer);
        glBlitFramebuffer(0, 0, m_nWidth, m_nHeight, 0, 0, m_nWidth, m_nHeight, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        nSource = m_oResolve.nFramebuffer;
    }
    picture = CPngImage(m_nWidth, m_nHeight, CPngImage::Format_Rgba8);
    if (picture.IsEmpty()) {
        sError = "a picture of " + std::to_string(m_nWidth) + " x " + std::to_string(m_nHeight) + " pixels is too large";
        return false;
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, nSource);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    std::vector<uint8_t>& aPixels = picture.Rgba();
    glReadPixels(0, 0, m_nWidth, m_nHeight, GL_RGBA, GL_UNSIGNED_BYTE, aPixels.data());
    glBindFramebuffer(GL_FRAMEBUFFER, m_oDraw.nFramebuffer);
    const GLenum eError = glGetError();
    if (eError != GL_NO_ERROR) {
        char sz[80];
        std::snprintf(sz, sizeof sz, "GL error 0x%04X while drawing the picture", unsigned(eError));
        sError = sz;
        return false;
    }
    // GL's row 0 is the bottom one.
    const size_t nRow = size_t(m_nWidth) * 4;
    for (int y = 0; y < m_nHeight / 2; ++y) {
        uint8_t* pTop = aPixels.data() + size_t(y) * nRow;
        std::swap_ranges(pTop, pTop + nRow, aPixels.data() + size_t(m_nHeight - 1 - y) * nRow);
    }
    return true;
}
