#ifndef VQ_TOOLS_GLRENDER_TERRAIN_CAMERA_H
#define VQ_TOOLS_GLRENDER_TERRAIN_CAMERA_H

#include "MathLib/VQVector3.h"

#include <cstdint>
#include <string>

class CVQMatrix44;
class CVQTerrainVisual;
class CVQViewport;

// What a picture of a terrain shows and how: where the camera stands, its
// projection, the picture's size and the way the surface is shaded.
//
// World units throughout; Z is up. The camera at vPosition looks at
// vTarget; vUp picks the picture's up direction (any vector not parallel to
// the view direction). Perspective: fFovY is the vertical field of view in
// radians, (0, pi), the horizontal one follows from the picture's aspect.
// Orthographic: fOrthoHeight world units span the picture's height, the
// width follows from the aspect. fNear < fFar are distances along the view
// direction (perspective: 0 < fNear); depth outside them is clipped.
//
// The picture is nWidth x nHeight pixels, as large as a CPngImage may be
// (CPngImage::IsSizeAllowed), pixel rows from the top. nSamples > 1 smooths edges by multisampling (the
// driver's largest count when fewer are offered); 1 gives each pixel the
// one surface at its centre, as a test that looks for gaps needs.
struct STerrainCamera {
    enum eShading {
        // Base texture layer, the detail layer over it by its alpha, times
        // the vertex colour.
        Shading_Textured,
        // A colour ramp over the landscape's height range, dark blue-green
        // at the lowest point through greens and tan to white at the
        // highest; its brightness rises with height all the way.
        Shading_Height,
    };

    CVQVector3 vPosition{0.0f, -1.0f, 1.0f};
    CVQVector3 vTarget{0.0f, 0.0f, 0.0f};
    CVQVector3 vUp{0.0f, 0.0f, 1.0f};
    bool bOrthographic = false;
    float fFovY = 0.7f;
    float fOrthoHeight = 1.0f;
    float fNear = 0.1f;
    float fFar = 1000.0f;
    int nWidth = 1024;
    int nHeight = 768;
    int nSamples = 1;
    // 0xAABBGGRR, as CPngImage::GetRgba reads a pixel.
    uint32_t nBackground = 0xFF000000u;
    bool bWireframe = false;
    eShading eShadingMode = Shading_Textured;
    // Sunlight on the vertex normals (CGLTerrainProgram says from where);
    // without it every surface shows its colour unlit.
    bool bLighting = true;

    // A perspective view from the south-south-west, 35 degrees above the
    // horizon, that frames the whole landscape of the visual: every corner
    // of the box of its patches and heights lies inside the picture, seen
    // with the vertical field of view fFovY (radians, (0, pi); the default
    // is a moderate telephoto, little distortion). The visual is updated
    // first (its height range must be current). False, the camera
    // unchanged, for a visual without a terrain.
    static constexpr float kLandscapeFovY = 0.6f;  // about 34 degrees
    static bool FrameLandscape(CVQTerrainVisual& visual, int nWidth, int nHeight, STerrainCamera& camera,
                               float fFovY = kLandscapeFovY);
    // The same landscape seen from straight above, orthographic, north (+Y)
    // up: the patches fill the picture along one side and are centred along
    // the other; with the landscape's aspect they fill it exactly.
    static bool FrameTopView(CVQTerrainVisual& visual, int nWidth, int nHeight, STerrainCamera& camera);

    // Sets fNear and fFar around the part of the visual's landscape box
    // that lies in front of the camera, for a camera placed by hand (the
    // framings above set them themselves): perspective cameras keep at most
    // 1 : 10000 between them, so that depth stays precise. Updates the
    // visual; false, the camera unchanged, without a terrain or with a
    // camera whose axes IsValid refuses.
    bool FitDepthRange(CVQTerrainVisual& visual);

    // Checks every field; false with a one-line reason for a camera that
    // cannot make a picture (sizes out of range, non-finite numbers, an
    // empty field of view, a camera looking at itself, up along the view).
    bool IsValid(std::string& sError) const;
    // Gives the viewport this camera's size, view matrix and projection, so
    // that the terrain's culling sees what the picture shows. False (with
    // IsValid's reason) for an invalid camera; the viewport may be partly
    // changed then.
    bool ApplyTo(CVQViewport& viewport, std::string& sError) const;
    // Where a world point lands in the picture, in pixels from the top-left
    // corner (pixel (i, j) covers [i, i + 1) x [j, j + 1)). False behind a
    // perspective camera or for an invalid camera.
    bool WorldToPixel(const CVQVector3& vPoint, float& fX, float& fY) const;
    // World to clip space of a viewport, as the terrain culls and GL draws:
    // projection * inverse view.
    static CVQMatrix44 GetClipMatrix(const CVQViewport& viewport);
};

#endif
