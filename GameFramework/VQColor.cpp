#include "GameFramework/VQColor.h"

#include <cmath>

namespace {

// Byte position (bit shift) of red, green, blue and alpha in each format.
const int kShifts[2][4] = {
    {16, 8, 0, 24},   // vqColor_Fmt_ARGB
    {0, 8, 16, 24},   // vqColor_Fmt_RGBA
};

bool IsKnownFormat(int nFormat) { return nFormat == vqColor_Fmt_ARGB || nFormat == vqColor_Fmt_RGBA; }

unsigned int PackChannel(float f)
{
    if (!(f > 0.0f))  // also NaN
        return 0;
    if (f >= 1.0f)
        return 255;
    return static_cast<unsigned int>(std::floor(f * 255.0f + 0.5f));
}

} // namespace

CVQColor::CVQColor() : m_fChannels{0.0f, 0.0f, 0.0f, 1.0f} {}

CVQColor::CVQColor(float fRed, float fGreen, float fBlue, float fAlpha) : m_fChannels{fRed, fGreen, fBlue, fAlpha} {}

bool CVQColor::SetAs(unsigned int unValue, int nFormat)
{
    if (!IsKnownFormat(nFormat))
        return false;
    for (int k = 0; k < 4; ++k)
        m_fChannels[k] = static_cast<float>((unValue >> kShifts[nFormat][k]) & 0xFFu) / 255.0f;
    return true;
}

unsigned int CVQColor::AsFormat(int nFormat) const
{
    if (!IsKnownFormat(nFormat))
        return 0;
    unsigned int unValue = 0;
    for (int k = 0; k < 4; ++k)
        unValue |= PackChannel(m_fChannels[k]) << kShifts[nFormat][k];
    return unValue;
}

unsigned int CVQColor::AsRGBA() const { return AsFormat(vqColor_Fmt_RGBA); }

void CVQColor::Set(float fRed, float fGreen, float fBlue, float fAlpha)
{
    m_fChannels[0] = fRed;
    m_fChannels[1] = fGreen;
    m_fChannels[2] = fBlue;
    m_fChannels[3] = fAlpha;
}

CVQColor CVQColor::operator+(const CVQColor& o) const
{
    CVQColor c;
    for (int k = 0; k < 4; ++k)
        c.m_fChannels[k] = m_fChannels[k] + o.m_fChannels[k];
    return c;
}

CVQColor CVQColor::operator-(const CVQColor& o) const
{
    CVQColor c;
    for (int k = 0; k < 4; ++k)
        c.m_fChannels[k] = m_fChannels[k] - o.m_fChannels[k];
    return c;
}

CVQColor CVQColor::operator*(float f) const
{
    CVQColor c;
    for (int k = 0; k < 4; ++k)
        c.m_fChannels[k] = m_fChannels[k] * f;
    return c;
}

bool CVQColor::operator==(const CVQColor& o) const
{
    for (int k = 0; k < 4; ++k)
        if (m_fChannels[k] != o.m_fChannels[k])
            return false;
    return true;
}
