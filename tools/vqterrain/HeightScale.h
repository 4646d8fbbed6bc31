#ifndef VQ_TOOLS_VQTERRAIN_HEIGHT_SCALE_H
#define VQ_TOOLS_VQTERRAIN_HEIGHT_SCALE_H

#include <cstdint>
#include <string>

// What the 16-bit samples of a heightmap stand for, and how they become the
// terrain's raw heights.
//
// A sample s is an unsigned 16-bit step (0 .. 65535, a 16-bit grey PNG
// pixel); the terrain stores signed 16-bit steps r. Each sample is the raw
// step r = s - 32768, so every sample survives import and export exactly:
//
//     world height = s * unit + bias = r * unit + (bias + 32768 * unit)
//                                                  \__ terrain bias __/
//
// Unit and bias are in world units (metres for terrain-RGB data). The
// terrain keeps both as 32-bit floats, so a scale read back from a terrain
// (FromTerrain) can differ from the one it was made with in the last float
// digit of the bias.
class CHeightScale {
public:
    // The sample that is raw step 0.
    static constexpr int kSampleOfRawZero = 32768;
    static constexpr int kMaxSample = 65535;
    // The terrain's vertical bounds hold heights strictly inside this.
    static constexpr double kMaxWorldHeight = 1000000.0;
    // Terrain-RGB heights come in steps of a decimetre (metres).
    static constexpr double kDecimetre = 0.1;

    CHeightScale(double fUnit, double fBias) : m_fUnit(fUnit), m_fBias(fBias) {}
    // The scale of a terrain with this height unit and (terrain) bias.
    static CHeightScale FromTerrain(float fTerrainUnit, float fTerrainBias);
    // The scale that keeps terrain-RGB heights from nMinDm to nMaxDm
    // decimetres with their precision where 65536 steps allow it: the finest
    // multiple of 0.1 m whose steps span the range, bias = the lowest height.
    // 0 .. 6553.5 m of range keeps every 0.1 m step.
    static CHeightScale ForDecimetres(int32_t nMinDm, int32_t nMaxDm);

    double GetUnit() const { return m_fUnit; }
    double GetBias() const { return m_fBias; }
    float GetTerrainUnit() const { return float(m_fUnit); }
    float GetTerrainBias() const { return float(m_fBias + kSampleOfRawZero * m_fUnit); }

    // Empty when a terrain can hold heights of samples nMinSample ..
    // nMaxSample in this scale: unit finite and > 0, bias finite, heights
    // inside +-kMaxWorldHeight; else why not, in one line.
    std::string Check(int nMinSample, int nMaxSample) const;

    double ToWorld(int nSample) const { return nSample * m_fUnit + m_fBias; }
    // The sample nearest to a world height (halves away from zero); false,
    // nSample untouched, when it lies outside 0 .. kMaxSample.
    bool ToSample(double fWorld, uint16_t& nSample) const;
    static short ToRaw(uint16_t nSample) { return short(int(nSample) - kSampleOfRawZero); }
    static uint16_t FromRaw(short nRaw) { return uint16_t(int(nRaw) + kSampleOfRawZero); }

private:
    double m_fUnit;
    double m_fBias;
};

#endif
