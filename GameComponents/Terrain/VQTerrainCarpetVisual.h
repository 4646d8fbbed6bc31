#ifndef VQ_TERRAIN_CARPET_VISUAL_H
#define VQ_TERRAIN_CARPET_VISUAL_H

#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"
#include "GameFramework/VQVisual3d.h"

#include <cstdint>

class CVQDataStream;

// A small mesh that lies on the terrain like a carpet: the pieces of the
// terrain surface inside the carpet's rectangle, cut out by the terrain
// visual's GetTrianglesInRect, optionally clamped into a height band.
//
// Rectangle. Centred on the carpet's position P (column 3 of the local
// coordinate system M) and reaching the full local X and Y axes (columns 0
// and 1, their lengths the scale) to either side; only their x and y count,
// world units:
//
//      O + 2Y +---------------------+
//             |          ^ Y        |
//             |          |          |        O = P - X - Y
//             |          P ----> X  |        edges 2X and 2Y
//             |                     |
//           O +---------------------+ O + 2X
//
// Axes of length 5 at (100, 200) cover (95, 195) .. (105, 205). A rotated
// carpet is a rotated rectangle (a parallelogram for skewed axes).
//
// Sampling. A carpet resamples ONLY when it moves or its settings change:
// every change of position (to a different one), orientation, transform,
// initial bounds or height band marks it, and the next Update asks the
// terrain again. Edits of the terrain under a carpet do not reach it: a host
// that edits there calls SetHeightLimits or ClearHeightLimits, or moves the
// carpet. Update samples only with a terrain: AssignToTerrain names the
// object id of a CVQTerrainVisual in the host's object database; without
// one (id -1, no such object, another class) the carpet keeps its triangles
// and stays marked, so a later Update tries again.
//
// Geometry. At most sm_nMaxTriangles (256) triangle records, owned by the
// carpet, in the layout of the terrain's rectangle query (108 bytes each,
// the vertex height z at bytes 8, 44 and 80): world positions, the terrain's
// normals and colours when asked for (else (0, 0, 1) and 0xFFFFFFFF), and
// (u, v) across the rectangle, (0, 1) at O and (1, 1) at O + 2X. Where the
// rectangle holds more pieces, those the query delivers for a capacity of
// 256 are kept. Vertex count = 3 x triangle count. ReAssignGeometry, called
// after every sampling, is the hook where a renderer takes the new triangles.
//
// Height band. With limits (SetHeightLimits(lower, upper), world units,
// swapped when lower > upper) every sampled vertex height below lower
// becomes lower and above upper becomes upper: limits (10, 20) take 5, 15
// and 25 to 10, 15 and 20.
//
// Stream form (version 257; the object section's version, as
// CVQObject::SerializeObject stores it):
//   CVQVisual3d's stream form, in a section of its own version
//   int32    terrain id
//   1 byte   needs sampling
//   float    elevation
//   int32    vertex count = 3 x triangle count
//   int32    triangle count, 0..256                  (not in version 256)
//   108 x triangle count bytes: the triangle records as they lie in memory
//   1 byte   colour from terrain
//   1 byte   normal from terrain
// Version 256 is read too; it has no triangle count, which is then vertex
// count / 3. The height band is not streamed; loading keeps the present one.
// A stream is outside input: a record of another version, one cut short
// anywhere, a triangle count outside 0..256, or a vertex count that is not
// three times it (in version 256: not a multiple of 3) is rejected whole and
// leaves the carpet as it was, its base part too. Nothing is allocated
// beyond 256 records.
//
// Threads. The carpet takes no lock: the host moves and updates it on one
// thread. Sampling takes the terrain's mutex (inside GetTrianglesInRect).
class VQ_API CVQTerrainCarpetVisual : public CVQVisual3d {
public:
    static const CVQClassType _s_oType;  // "CVQTerrainCarpetVisual", base CVQVisual3d
    static const CVQClassType& GetClassType();
    // Version of the carpet's stream form: 257.
    static int GetDataFormatVersion();

    static const int sm_nMaxTriangles = 256;
    // 0 .. 23 in order: the index list of a renderer that draws the vertices
    // as they come.
    static const int16_t m_aVecIndices[24];

    // At (-100000, -100000, 0), far from any terrain; no terrain, no
    // triangles, no height band, normals taken from the terrain, colours not.
    CVQTerrainCarpetVisual();
    virtual ~CVQTerrainCarpetVisual();

    // --- overrides of CVQObject, CVQVisual and CVQVisual3d --------------------
    const CVQClassType& GetType() const override;
    bool IsOfType(const CVQClassType& type) const override;
    int _GetDataFormatVersion() const override;  // 257
    bool CanSerialize() const override;          // true
    int GetSerializationMode() const override;   // 3
    // CVQVisual3d::InitData, then the initial bounds from the carpet
    // resource's "BoundsXMin", "BoundsYMin", "BoundsZMin", "BoundsXMax",
    // "BoundsYMax", "BoundsZMax" (local units; a missing one is 0; the box
    // holds both corners, so swapped values still make a box). The carpet is
    // then assigned to the object whose id is the resource's own: a host
    // whose terrain has another id calls AssignToTerrain afterwards. A
    // missing resource is reported, gives the box (0,0,0)..(0,0,0) and
    // assigns nothing. True.
    bool InitData(long lResourceId) override;
    // See the stream form above.
    void Serialize(CVQDataStream& stream) override;
    // The carpet is drawn by the host's renderer from its triangles; asking
    // the carpet to draw itself is reported ("false").
    void Display(long lViewportId) override;
    // CVQVisual3d::Update, then a new sampling when one is due (see above).
    void Update() override;
    // Changes nothing, and marks nothing, when vPos is the present position.
    void SetPos(const CVQVector3& vPos) override;
    // The base's operation, then marked for sampling.
    void SetRotation(const CVQVector3& vAngles) override;
    void SetRotation(const CVQQuaternion& qRotation) override;
    void SetOrientation(const CVQVector3& vXAxis, const CVQVector3& vYAxis, const CVQVector3& vZAxis) override;
    void SetLookAt(const CVQVector3& vTarget, const CVQVector3& vUp) override;
    void SetLookIntoDirection(const CVQVector3& vDirection, const CVQVector3& vUp) override;
    void SetTransformMatrix(const CVQMatrix44& mTransform) override;
    void Translate(const CVQVector3& vOffset) override;

    // --- the carpet's own ------------------------------------------------------
    // The object id of the terrain visual to sample; -1 for none. Marks
    // nothing: the next move or setting samples the new terrain.
    virtual void AssignToTerrain(long lTerrainId);
    // Takes the box as the initial bounds and marks the carpet, when it
    // differs from the present initial bounds; an equal box does nothing.
    virtual void SetInitialBoundingBox(const CVQGeomAlignedBBox3d& oBox);
    // World units; stored and streamed for the host, not used by sampling.
    virtual void SetElevation(float fElevation);
    // Whether sampled vertices carry the terrain's colours / normals; read
    // at the next sampling, which they do not cause.
    virtual void SetColorFromTerrain(bool bColor);
    virtual void SetMormalFromTerrain(bool bNormal);
    // The height band, world units (swapped when lower > upper); marks the
    // carpet and the visual dirty.
    virtual void SetHeightLimits(float fLower, float fUpper);
    // No band from the next sampling on; marks the carpet and the visual dirty.
    virtual void ClearHeightLimits();
    virtual bool HasHeightLimits() const;
    // Hook called after every sampling; does nothing here.
    virtual void ReAssignGeometry();

    // --- read-out ----------------------------------------------------------------
    long GetTerrainId() const;
    float GetElevation() const;
    // The sampled triangles, GetTriangleCount() of them (0..256); owned by
    // the carpet, valid until the next Update or load.
    const _sVQTerrainResultTriangle* GetTriangles() const;
    int GetTriangleCount() const;
    int GetVertexCount() const;

protected:
    long m_lTerrainId;       // object id of the terrain visual; -1: none
    bool m_bNeedsSampling;   // the next Update asks the terrain again
    float m_fElevation;
    _sVQTerrainResultTriangle m_aTriangles[sm_nMaxTriangles];
    int32_t m_nVertexCount;    // 3 * m_nTriangleCount
    int32_t m_nTriangleCount;  // 0 .. sm_nMaxTriangles
    bool m_bColorFromTerrain;
    bool m_bNormalFromTerrain;
    bool m_bHasHeightLimits;
    float m_fUpperLimit;  // >= m_fLowerLimit
    float m_fLowerLimit;

private:
    // CVQVisual3d's stream form in a section of its own version.
    void SerializeBase(CVQDataStream& stream);
    void StoreOwnRecord(CVQDataStream& stream) const;
    // Reads the carpet's own fields of the given stream version and takes
    // them only when the whole record is sound; false (nothing changed)
    // otherwise.
    bool LoadOwnRecord(CVQDataStream& stream, int nVersion);
};

#endif
