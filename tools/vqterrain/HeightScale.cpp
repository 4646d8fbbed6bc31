#include "HeightScale.h"

#include <cmath>
#include <cstdio>

CHeightScale CHeightScale::FromTerrain(float fTerrainUnit, float fTerrainBias)
{
    const double fUnit = fTerrainUnit;
    return CHeightScale(fUnit, double(fTerrainBias) - kSampleOfRawZero * fUnit);
}

CHeightScale CHeightScale::ForDecimetres(int32_t nMinDm, int32_t nMaxDm)
{
    // k decimetres per step, k the smallest that brings the range into
    // 65535 steps: a range of 70000 dm takes k = 2 (0.2 m).
    const int64_t nRange = int64_t(nMaxDm) - nMinDm;
    const int64_t k = nRange <= kMaxSample ? 1 : (nRange + kMaxSample - 1) / kMaxSample;
    return CHeightScale(double(k) * kDecimetre, nMinDm * kDecimetre);
}

std::string CHeightScale::Check(int nMinSample, int nMaxSample) const
{
    char sz[200];
    if (!(std::isfinite(m_fUnit) && m_fUnit > 0.0) || !std::isfinite(m_fBias)) {
        std::snprintf(sz, sizeof sz, "height unit %g and bias %g: the unit must be a number above 0, the bias a number",
                      m_fUnit, m_fBias);
        return sz;
    }
    const double fLow = ToWorld(nMinSample), fHigh = ToWorld(nMaxSample);
    if (!(fLow > -kMaxWorldHeight && fHigh < kMaxWorldHeight)) {
        std::snprintf(sz, sizeof sz, "heights from %g to %g reach beyond the +-%g a terrain holds", fLow, fHigh,
                      kMaxWorldHeight);
        return sz;
    }
    return std::string();
}

bool CHeightScale::ToSample(double fWorld, uint16_t& nSample) const
{
    const double f = std::round((fWorld - m_fBias) / m_fUnit);
    if (!(f >= 0.0 && f <= kMaxSample))  // NaN fails too
        return false;
    nSample = uint16_t(f);
    return true;
}
