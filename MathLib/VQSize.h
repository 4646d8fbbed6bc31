#ifndef VQ_MATHLIB_SIZE_H
#define VQ_MATHLIB_SIZE_H

#include "Common/VQPlatform.h"

// Width and height of a viewport or image in whole pixels.
class VQ_API CVQSize {
public:
    CVQSize() : m_nWidth(0), m_nHeight(0) {}
    CVQSize(int nWidth, int nHeight) : m_nWidth(nWidth), m_nHeight(nHeight) {}

    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    void SetWidth(int n) { m_nWidth = n; }
    void SetHeight(int n) { m_nHeight = n; }
    void Set(int nWidth, int nHeight) { m_nWidth = nWidth; m_nHeight = nHeight; }

    bool operator==(const CVQSize& o) const { return m_nWidth == o.m_nWidth && m_nHeight == o.m_nHeight; }
    bool operator!=(const CVQSize& o) const { return !(*this == o); }

private:
    int m_nWidth, m_nHeight;
};

#endif
