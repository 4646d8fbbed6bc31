#ifndef VQ_TOOLS_VQTERRAIN_RENDER_TOOL_H
#define VQ_TOOLS_VQTERRAIN_RENDER_TOOL_H

#include "TerrainCamera.h"
#include "TerrainTool.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// vqterrain with its render command: a terrain file drawn through the
// OpenGL renderer (CGLTerrainVisual, headless) into a PNG picture. Kept
// apart from CTerrainTool so that the other commands, their tests and
// fuzzers need no GL.
class CRenderTool : public CTerrainTool {
public:
    // The sky behind the landscape: a pale blue, 0xAABBGGRR.
    static const uint32_t kSky = 0xFFE8C8A0u;

    struct SRenderOptions {
        std::string sTerrain;
        std::string sOutput;
        // Where the texture PNGs the terrain's texture resources name
        // (grass.png, missing.png, rock.png, sand.png) are read from; empty:
        // the folder "tex" beside the terrain file, as the terrain demo
        // writes them. A missing file draws as a grey checkerboard.
        std::string sTextures;
        int nWidth = 1280;  // pixels, within what a PNG may hold
        int nHeight = 800;
        // Camera. Unset: the framing of the whole landscape, in perspective
        // from the south-south-west (STerrainCamera::FrameLandscape), or
        // with bTop from straight above, north up (FrameTopView; not
        // together with a position, a target or a field of view). World
        // units; the field of view is vertical, in degrees, (0, 180).
        bool bTop = false;
        std::optional<std::array<double, 3>> vPosition;
        std::optional<std::array<double, 3>> vTarget;
        std::optional<double> fFovDegrees;
        bool bWireframe = false;
        STerrainCamera::eShading eShading = STerrainCamera::Shading_Textured;
    };

    using CTerrainTool::CTerrainTool;

    // The vertical field of view of the default framing, in degrees.
    static double GetDefaultFovDegrees();

    // render FILE.terrain -o PICTURE.png: prints the picture's path, size
    // and camera, the textures that were missing and the GL renderer used.
    // Exit_Failure, with the reason, when no OpenGL 3.3 context can be made
    // (before the terrain is read), the terrain cannot be read, the camera
    // cannot make a picture or the PNG cannot be written.
    int Render(const SRenderOptions& options);
};

#endif
