#ifndef VQ_EXAMPLES_TERRAIN_DEMO_DEMO_RESOURCES_H
#define VQ_EXAMPLES_TERRAIN_DEMO_DEMO_RESOURCES_H

#include <string>
#include <vector>

// The resources the demo's terrain is built from, made in code so that the
// demo needs no files: a terrain resource and the texture resources it and
// the sculpting refer to. They are registered in the host's resource
// database for the lifetime of the object.
//
// The terrain: 8 x 8 patches of 16 x 16 cells of 2 world units (metres), so
// 256 m square with its origin corner at (-128, -128) and the world origin
// in the middle; raw heights in decimetres (unit 0.1, bias 0), so raw
// -32768 .. 32767 spans -3276.8 .. 3276.7 m.
class CDemoResources {
public:
    static const long kTerrainId = 100;
    // Texture resource ids are the texture ids that patches store.
    static const long kGrassTextureId = 1;    // the default texture
    static const long kMissingTextureId = 2;  // the error texture
    static const long kRockTextureId = 3;
    static const long kSandTextureId = 4;
    // The terrain file's name: no folder, no extension.
    static const char* const kTerrainFileName;

    // Registers every resource; IsRegistered() tells whether all ids were free.
    CDemoResources();
    // Deletes the resources it registered.
    ~CDemoResources();
    CDemoResources(const CDemoResources&) = delete;
    CDemoResources& operator=(const CDemoResources&) = delete;

    bool IsRegistered() const { return m_bRegistered; }

    // Paints the textures the resources name, grass, rock and sand (256 x
    // 256 pixels, seamless when repeated), and writes them as PNG files
    // into sFolder, which must exist. The error texture's file is left out:
    // no patch draws with it. False, with the failing file's message in
    // sError, when a file cannot be written.
    static bool WriteTextures(const std::string& sFolder, std::string& sError);

private:
    std::vector<long> m_aIds;  // registered ones
    bool m_bRegistered;
};

#endif
