#ifndef VQ_GAMEFRAMEWORK_COLOR_H
#define VQ_GAMEFRAMEWORK_COLOR_H

#include "Common/VQPlatform.h"

// Packed 32-bit colour layouts understood by CVQColor::SetAs / AsFormat.
enum eVQColorFormat {
    // 0xAARRGGBB: alpha in the top byte, blue in the lowest.
    vqColor_Fmt_ARGB = 0,
    // Channel k in bits 8k..8k+7: red in the lowest byte, then green, blue,
    // alpha (0xAABBGGRR as a number; R, G, B, A in memory on a little-endian
    // host). This is the terrain's colour layout, and AsRGBA's.
    vqColor_Fmt_RGBA = 1,
};

// A colour as four float channels, nominally 0..1 each: red, green, blue,
// alpha (channels 0..3).
//
// Arithmetic (+, -, * by a float) works channel by channel and does not
// clamp, so that interpolations like c0 + (c1 - c0) * u may pass through
// values outside 0..1. Packing clamps each channel to 0..1 and rounds
// channel * 255 to the nearest integer, so a packed colour that is unpacked,
// interpolated with weights summing to 1 and packed again comes back
// unchanged. NaN packs as 0.
class VQ_API CVQColor {
public:
    // Opaque black (0, 0, 0, 1).
    CVQColor();
    CVQColor(float fRed, float fGreen, float fBlue, float fAlpha);

    // Unpacks `unValue` in the given format (eVQColorFormat); false, and the
    // colour unchanged, for an unknown format.
    bool SetAs(unsigned int unValue, int nFormat);
    // Packs in the given format; 0 for an unknown format.
    unsigned int AsFormat(int nFormat) const;
    // AsFormat(vqColor_Fmt_RGBA).
    unsigned int AsRGBA() const;

    float GetRed() const { return m_fChannels[0]; }
    float GetGreen() const { return m_fChannels[1]; }
    float GetBlue() const { return m_fChannels[2]; }
    float GetAlpha() const { return m_fChannels[3]; }
    // Channel k in 0..3; 0 outside that range.
    float GetChannel(int k) const { return k >= 0 && k < 4 ? m_fChannels[k] : 0.0f; }
    void Set(float fRed, float fGreen, float fBlue, float fAlpha);

    CVQColor operator+(const CVQColor& o) const;
    CVQColor operator-(const CVQColor& o) const;
    CVQColor operator*(float f) const;
    bool operator==(const CVQColor& o) const;
    bool operator!=(const CVQColor& o) const { return !(*this == o); }

private:
    float m_fChannels[4];
};

#endif
