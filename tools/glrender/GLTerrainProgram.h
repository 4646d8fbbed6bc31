#ifndef VQ_TOOLS_GLRENDER_GL_TERRAIN_PROGRAM_H
#define VQ_TOOLS_GLRENDER_GL_TERRAIN_PROGRAM_H

#include "TerrainCamera.h"

#include <epoxy/gl.h>

#include <string>

// The shader program that draws terrain meshes: vertices as the terrain's
// meshes hold them (_sVQTerrainRawVertex, 36 bytes), at the attribute
// locations below, into whatever framebuffer is bound.
//
//   location  attribute                      raw vertex bytes
//   0         position, world units (vec3)   0 .. 11
//   1         normal (vec3)                  12 .. 23
//   2         colour, 4 x 8 bit (vec4 0..1)  24 .. 27, channel k -> R, G, B, A
//   3         texture coordinate (vec2)      28 .. 35
//
// Per picture (SetFrame): the world-to-clip matrix, the shading, lighting
// and the landscape's height range for the height ramp. Per patch
// (SetLayers): the patch's base texture on unit 0, its detail texture on
// unit 1 when it has one, or black for a black patch.
//
// Light: a sun in the west-south-west (azimuth 247.5 degrees: towards -X and
// a little -Y), 45 degrees above the horizon, so that the faces a camera
// from the south-west sees are lit and the relief seen from above is lit
// from the left; a surface gets a third of its colour as ambient light and
// the rest in proportion to the sun on its normal.
//
// Every call needs the GL context the program was created in to be current.
class CGLTerrainProgram {
public:
    static constexpr GLuint kPosition = 0, kNormal = 1, kColor = 2, kTexCoord = 3;
    static constexpr GLint kBaseUnit = 0, kDetailUnit = 1;

    CGLTerrainProgram() = default;
    // Releases the program (the context must be current, see above).
    ~CGLTerrainProgram();
    CGLTerrainProgram(const CGLTerrainProgram&) = delete;
    CGLTerrainProgram& operator=(const CGLTerrainProgram&) = delete;

    // Compiles and links; false with the compiler's log in sError.
    bool Create(std::string& sError);
    void Release();
    bool IsCreated() const { return m_nProgram != 0; }

    // Makes the program current and sets the picture's uniforms. aClip is
    // column-major (GL's order); fMinZ .. fMaxZ the ramp's range (a flat
    // range shows the lowest colour).
    void SetFrame(const float aClip[16], STerrainCamera::eShading eShading, bool bLighting, float fMinZ,
                  float fMaxZ);
    void SetLayers(bool bDetail, bool bBlack);

private:
    GLuint m_nProgram = 0;
    GLint m_nClip = -1, m_nShading = -1, m_nLighting = -1, m_nHeightRange = -1;
    GLint m_nDetail = -1, m_nBlack = -1;
};

#endif
