#define VQ_ASSERT_FILE "GameComponents/Terrain/VQTerrainCarpetVisual"
#include "GameComponents/Terrain/VQTerrainCarpetVisual.h"

#include "Common/VQAssert.h"
#include "Common/VQClassTypeRegistration.h"
#include "Common/VQDataStream.h"
#include "GameComponents/Terrain/VQTerrainVisual.h"
#include "GameFramework/ObjectManagement/VQObjectHandle.h"
#include "GameFramework/ResourceManagement/VQResource.h"
#include "GameFramework/ResourceManagement/VQResourceHandle.h"
#include "MathLib/VQVector2.h"

#include <algorithm>
#include <type_traits>
#include <vector>

const CVQClassType CVQTerrainCarpetVisual::_s_oType("CVQTerrainCarpetVisual", &CVQVisual3d::_s_oType);

const int CVQTerrainCarpetVisual::sm_nMaxTriangles;
const int16_t CVQTerrainCarpetVisual::m_aVecIndices[24] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                                           12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};

// The records go to and come from the stream as raw bytes.
static_assert(std::is_trivially_copyable<_sVQTerrainResultTriangle>::value, "a triangle record is plain bytes");

namespace {

const int kDataFormatVersion = 257;
// The older form: the same record without the triangle count.
const int kDataFormatVersionWithoutTriangleCount = 256;

// Flags travel as one byte. Read back, any byte other than 0 is true, so a
// corrupt stream cannot put another value into a bool.
void PutFlag(CVQDataStream& stream, bool bFlag)
{
    const unsigned char c = bFlag ? 1 : 0;
    stream.Put(&c, 1);
}

bool GetFlag(CVQDataStream& stream, bool& bFlag)
{
    unsigned char c = 0;
    const bool bRead = stream.Get(&c, 1);
    bFlag = c != 0;
    return bRead;
}

} // namespace

const CVQClassType& CVQTerrainCarpetVisual::GetClassType() { return _s_oType; }

int CVQTerrainCarpetVisual::GetDataFormatVersion() { return kDataFormatVersion; }

CVQTerrainCarpetVisual::CVQTerrainCarpetVisual()
    : m_lTerrainId(-1),
      m_bNeedsSampling(false),
      m_fElevation(0.0f),
      m_nVertexCount(0),
      m_nTriangleCount(0),
      m_bColorFromTerrain(false),
      m_bNormalFromTerrain(true),
      m_bHasHeightLimits(false),
      m_fUpperLimit(0.0f),
      m_fLowerLimit(0.0f)
{
    CVQVisual3d::SetPos(CVQVector3(-100000.0f, -100000.0f, 0.0f));
}

CVQTerrainCarpetVisual::~CVQTerrainCarpetVisual() {}

const CVQClassType& CVQTerrainCarpetVisual::GetType() const { return GetClassType(); }

bool CVQTerrainCarpetVisual::IsOfType(const CVQClassType& type) const { return _s_oType.IsDerivedFrom(type); }

int CVQTerrainCarpetVisual::_GetDataFormatVersion() const { return GetDataFormatVersion(); }

bool CVQTerrainCarpetVisual::CanSerialize() const { return true; }

int CVQTerrainCarpetVisual::GetSerializationMode() const { return 3; }

bool CVQTerrainCarpetVisual::InitData(long lResourceId)
{
    CVQVisual3d::InitData(lResourceId);
    CVQResourceHandle oResource(lResourceId);
    const CVQResource* pResource = oResource.Get();
    static const char* const s_aBoundNames[6] = {"BoundsXMin", "BoundsYMin", "BoundsZMin",
                                                 "BoundsXMax", "BoundsYMax", "BoundsZMax"};
    float aBound[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    for (int k = 0; k < 6; ++k)
        if (pResource && pResource->HasAttribute(s_aBoundNames[k]))
            aBound[k] = pResource->GetAttribute(s_aBoundNames[k]).GetFloat();
    CVQGeomAlignedBBox3d oBounds;
    oBounds.ClearBoundingBox();
    oBounds.GrowBoundingBox(CVQVector3(aBound[0], aBound[1], aBound[2]));
    oBounds.GrowBoundingBox(CVQVector3(aBound[3], aBound[4], aBound[5]));
    SetInitialBounds(oBounds);
    if (pResource)
        AssignToTerrain(pResource->GetId());
    return true;
}

void CVQTerrainCarpetVisual::Display(long) { VQ_ASSERT_FAIL("false"); }

void CVQTerrainCarpetVisual::Update()
{
    CVQVisual3d::Update();
    if (!m_bNeedsSampling || m_lTerrainId < 0)
        return;
    CVQObjectHandle oTerrain(m_lTerrainId);
    CVQTerrainVisual* pTerrain = oTerrain.GetAs<CVQTerrainVisual>();
    if (!pTerrain)
        return;  // still marked: a later Update tries again

    // The rectangle from the corner O = P - X - Y along 2X and 2Y.
    const CVQMatrix44& m = GetLocalCoordinateSystem();
    const CVQVector3 vX = m.GetCol(0), vY = m.GetCol(1);
    const CVQVector3 vCorner = CVQVector3(m.GetCol(3)) - vX - vY;
    CVQVector2 a(vCorner.GetX(), vCorner.GetY());
    CVQVector2 b(2.0f * vX.GetX(), 2.0f * vX.GetY());
    CVQVector2 c(2.0f * vY.GetX(), 2.0f * vY.GetY());
    const int n = pTerrain->GetTrianglesInRect(a, b, c, m_aTriangles, sm_nMaxTriangles, m_bNormalFromTerrain,
                                               m_bColorFromTerrain);
    // A renderer's terrain may override the query: its count indexes our
    // array from here on, so it is held to the array.
    m_nTriangleCount = std::min(std::max(n, 0), sm_nMaxTriangles);
    if (m_bHasHeightLimits)
        for (int i = 0; i < m_nTriangleCount; ++i)
            for (_sVQTerrainResultVertex& v : m_aTriangles[i].aVertex)
                v.fZ = std::min(std::max(v.fZ, m_fLowerLimit), m_fUpperLimit);
    m_nVertexCount = 3 * m_nTriangleCount;
    m_bNeedsSampling = false;
    ReAssignGeometry();
}

// ---------------------------------------------------------------------------
// Placement: every change marks the carpet for sampling.

void CVQTerrainCarpetVisual::SetPos(const CVQVector3& vPos)
{
    if (vPos == GetPos())
        return;
    CVQVisual3d::SetPos(vPos);
    m_bNeedsSampling = true;
}

void CVQTerrainCarpetVisual::SetRotation(const CVQVector3& vAngles)
{
    CVQVisual3d::SetRotation(vAngles);
    m_bNeedsSampling = true;
}

void CVQTerrainCarpetVisual::SetRotation(const CVQQuaternion& qRotation)
{
    CVQVisual3d::SetRotation(qRotation);
    m_bNeedsSampling = true;
}

void CVQTerrainCarpetVisual::SetOrientation(const CVQVector3& vXAxis, const CVQVector3& vYAxis,
                                            const CVQVector3& vZAxis)
{
    CVQVisual3d::SetOrientation(vXAxis, vYAxis, vZAxis);
    m_bNeedsSampling = true;
}

void CVQTerrainCarpetVisual::SetLookAt(const CVQVector3& vTarget, const CVQVector3& vUp)
{
    CVQVisual3d::SetLookAt(vTarget, vUp);
    m_bNeedsSampling = true;
}

void CVQTerrainCarpetVisual::SetLookIntoDirection(const CVQVector3& vDirection, const CVQVector3& vUp)
{
    CVQVisual3d::SetLookIntoDirection(vDirection, vUp);
    m_bNeedsSampling = true;
}

void CVQTerrainCarpetVisual::SetTransformMatrix(const CVQMatrix44& mTransform)
{
    CVQVisual3d::SetTransformMatrix(mTransform);
    m_bNeedsSampling = true;
}

void CVQTerrainCarpetVisual::Translate(const CVQVector3& vOffset)
{
    CVQVisual3d::Translate(vOffset);
    m_bNeedsSampling = true;
}

void CVQTerrainCarpetVisual::SetInitialBoundingBox(const CVQGeomAlignedBBox3d& oBox)
{
    const CVQGeomAlignedBBox3d& oPresent = GetInitialBounds();
    if (oBox.GetMin() == oPresent.GetMin() && oBox.GetMax() == oPresent.GetMax())
        return;
    SetInitialBounds(oBox);
    m_bNeedsSampling = true;
}

// ---------------------------------------------------------------------------
// Settings

void CVQTerrainCarpetVisual::AssignToTerrain(long lTerrainId) { m_lTerrainId = lTerrainId; }

void CVQTerrainCarpetVisual::SetElevation(float fElevation) { m_fElevation = fElevation; }

void CVQTerrainCarpetVisual::SetColorFromTerrain(bool bColor) { m_bColorFromTerrain = bColor; }

void CVQTerrainCarpetVisual::SetMormalFromTerrain(bool bNormal) { m_bNormalFromTerrain = bNormal; }

void CVQTerrainCarpetVisual::SetHeightLimits(float fLower, float fUpper)
{
    SetDirty(-1);
    m_fLowerLimit = std::min(fLower, fUpper);
    m_fUpperLimit = std::max(fLower, fUpper);
    m_bHasHeightLimits = true;
    m_bNeedsSampling = true;
}

void CVQTerrainCarpetVisual::ClearHeightLimits()
{
    SetDirty(-1);
    m_bHasHeightLimits = false;
    m_bNeedsSampling = true;
}

bool CVQTerrainCarpetVisual::HasHeightLimits() const { return m_bHasHeightLimits; }

void CVQTerrainCarpetVisual::ReAssignGeometry() {}

long CVQTerrainCarpetVisual::GetTerrainId() const { return m_lTerrainId; }

float CVQTerrainCarpetVisual::GetElevation() const { return m_fElevation; }

const _sVQTerrainResultTriangle* CVQTerrainCarpetVisual::GetTriangles() const { return m_aTriangles; }

int CVQTerrainCarpetVisual::GetTriangleCount() const { return m_nTriangleCount; }

int CVQTerrainCarpetVisual::GetVertexCount() const { return m_nVertexCount; }

// ---------------------------------------------------------------------------
// Stream form

void CVQTerrainCarpetVisual::Serialize(CVQDataStream& stream)
{
    if (stream.IsStoring()) {
        SerializeBase(stream);
        StoreOwnRecord(stream);
        return;
    }
    // The base part is read first and may be taken back: a rejected record
    // leaves the whole carpet as it was.
    const CVQVisual3d oBaseBefore(*this);
    SerializeBase(stream);
    if (!LoadOwnRecord(stream, stream.GetVersion()))
        CVQVisual3d::operator=(oBaseBefore);
}

void CVQTerrainCarpetVisual::SerializeBase(CVQDataStream& stream)
{
    const bool bVersioned = CVQVisual3d::GetDataFormatVersion() != 0xFFFF;
    if (bVersioned)
        stream.SerializeBegin(stream.IsStoring() ? CVQVisual3d::GetDataFormatVersion() : -1);
    CVQVisual3d::Serialize(stream);
    if (bVersioned)
        stream.SerializeEnd();
}

void CVQTerrainCarpetVisual::StoreOwnRecord(CVQDataStream& stream) const
{
    const int32_t nTerrainId = int32_t(m_lTerrainId);
    stream.Put(&nTerrainId, sizeof nTerrainId);
    PutFlag(stream, m_bNeedsSampling);
    stream.Put(&m_fElevation, sizeof m_fElevation);
    stream.Put(&m_nVertexCount, sizeof m_nVertexCount);
    stream.Put(&m_nTriangleCount, sizeof m_nTriangleCount);
    stream.Put(m_aTriangles, size_t(m_nTriangleCount) * sizeof(_sVQTerrainResultTriangle));
    PutFlag(stream, m_bColorFromTerrain);
    PutFlag(stream, m_bNormalFromTerrain);
}

bool CVQTerrainCarpetVisual::LoadOwnRecord(CVQDataStream& stream, int nVersion)
{
    if (nVersion != kDataFormatVersion && nVersion != kDataFormatVersionWithoutTriangleCount)
        return false;
    int32_t nTerrainId = -1, nVertexCount = 0, nTriangleCount = 0;
    bool bNeedsSampling = false, bColor = false, bNormal = false;
    float fElevation = 0.0f;
    bool bRead = stream.Get(&nTerrainId, sizeof nTerrainId) && GetFlag(stream, bNeedsSampling) &&
                 stream.Get(&fElevation, sizeof fElevation) && stream.Get(&nVertexCount, sizeof nVertexCount);
    if (nVersion == kDataFormatVersion)
        bRead = bRead && stream.Get(&nTriangleCount, sizeof nTriangleCount);
    else
        nTriangleCount = nVertexCount / 3;  // a remainder fails the product below
    if (!bRead || nTriangleCount < 0 || nTriangleCount > sm_nMaxTriangles || nVertexCount != 3 * nTriangleCount)
        return false;
    // Checked above: at most 256 records, however large the stream says.
    std::vector<_sVQTerrainResultTriangle> aTriangles(static_cast<size_t>(nTriangleCount));
    if (!stream.Get(aTriangles.data(), aTriangles.size() * sizeof(_sVQTerrainResultTriangle)) ||
        !GetFlag(stream, bColor) || !GetFlag(stream, bNormal))
        return false;

    m_lTerrainId = nTerrainId;
    m_bNeedsSampling = bNeedsSampling;
    m_fElevation = fElevation;
    m_nVertexCount = nVertexCount;
    m_nTriangleCount = nTriangleCount;
    std::copy(aTriangles.begin(), aTriangles.end(), m_aTriangles);
    m_bColorFromTerrain = bColor;
    m_bNormalFromTerrain = bNormal;
    return true;
}

// ---------------------------------------------------------------------------
// Known to the host by name from library load to unload.
namespace {

CVQClassTypeRegistration s_oCarpetVisualType(CVQTerrainCarpetVisual::GetClassType());

} // namespace
