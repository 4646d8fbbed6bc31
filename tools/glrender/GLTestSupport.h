#ifndef VQ_TOOLS_GLRENDER_GL_TEST_SUPPORT_H
#define VQ_TOOLS_GLRENDER_GL_TEST_SUPPORT_H

// One headless GL context for a suite of rendering tests; a test skips,
// saying why, on a machine that cannot make one.
#include "HeadlessGLContext.h"
#include "PngImage.h"

#include <gtest/gtest.h>

#include <cstdint>

class GLTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_pContext = new CHeadlessGLContext;
        s_pContext->Create();
    }
    static void TearDownTestSuite()
    {
        delete s_pContext;
        s_pContext = nullptr;
    }
    void SetUp() override
    {
        if (!s_pContext->IsCreated())
            GTEST_SKIP() << "no OpenGL 3.3 context: " << s_pContext->GetError();
    }
    static CHeadlessGLContext& Context() { return *s_pContext; }

    static inline CHeadlessGLContext* s_pContext = nullptr;
};

// Pixels of colour nRgba (0xAABBGGRR) inside [x0, x1) x [y0, y1), clipped to
// the picture.
inline int CountPixels(const CPngImage& picture, uint32_t nRgba, int x0 = 0, int y0 = 0, int x1 = 1 << 30,
                       int y1 = 1 << 30)
{
    int n = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, picture.GetHeight()); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, picture.GetWidth()); ++x)
            n += picture.GetRgba(x, y) == nRgba ? 1 : 0;
    return n;
}

#endif
