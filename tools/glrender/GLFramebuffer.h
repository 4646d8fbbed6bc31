#ifndef VQ_TOOLS_GLRENDER_GL_FRAMEBUFFER_H
#define VQ_TOOLS_GLRENDER_GL_FRAMEBUFFER_H

#include <epoxy/gl.h>

#include <string>

class CPngImage;

// An off-screen picture: a framebuffer object with an 8-bit RGBA colour and
// a 24-bit depth renderbuffer, multisampled on request, read back into a
// CPngImage.
//
//   Bind(w, h, samples)  (re)makes the buffers when the size or the sample
//                        count changed, binds them for drawing and sets the
//                        GL viewport to the whole picture
//   ... draw ...
//   Read(picture)        resolves the samples into a plain buffer when
//                        multisampled, reads the pixels, row 0 at the top
//
// Every call needs the GL context the buffers were made in to be current;
// the owner releases them (Release, or the destructor) while it still is.
class CGLFramebuffer {
public:
    CGLFramebuffer() = default;
    ~CGLFramebuffer();
    CGLFramebuffer(const CGLFramebuffer&) = delete;
    CGLFramebuffer& operator=(const CGLFramebuffer&) = delete;

    // nSamples above the driver's GL_MAX_SAMPLES is lowered to it; 1 draws
    // without multisampling. False with a reason when GL refuses the size or
    // the buffers are incomplete (nothing stays bound then).
    bool Bind(int nWidth, int nHeight, int nSamples, std::string& sError);
    // The bound picture as RGBA8; false with a reason when nothing is bound
    // or GL reported an error while drawing.
    bool Read(CPngImage& picture, std::string& sError);
    void Release();

private:
    struct STarget {
        GLuint nFramebuffer = 0, nColor = 0, nDepth = 0;
    };
    static bool Make(STarget& target, int nWidth, int nHeight, int nSamples, bool bDepth, std::string& sError);
    static void Free(STarget& target);

    STarget m_oDraw;     // drawn into; multisampled when m_nSamples > 1
    STarget m_oResolve;  // plain colour the samples are averaged into
    int m_nWidth = 0, m_nHeight = 0, m_nSamples = 0;
};

#endif
