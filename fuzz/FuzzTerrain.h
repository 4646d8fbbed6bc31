#ifndef VQ_FUZZ_FUZZ_TERRAIN_H
#define VQ_FUZZ_FUZZ_TERRAIN_H

#include "GameComponents/Terrain/VQTerrain.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The terrain visual the fuzz targets load into, a host of the simplest
// kind: its drawing hooks draw nothing and every texture loads.
//
// Terrain resources of a few size classes are registered on first use and
// kept for the process; class k names the file "<folder>/class<k>.terrain",
// where <folder> is the one UseFolder chose last (a scratch folder per
// target, in /dev/shm when there is one: fuzzers write a file per input).
// kClasses covers every cells-per-patch power of two up to the largest the
// visual builds, on grids with and without empty quarters.
class CFuzzTerrain : public CVQTerrainVisual {
public:
    using Bytes = std::vector<uint8_t>;
    static const int kClasses = 7;

    // Registers the resources (once) and answers class k's id.
    static long Resource(int k);
    // Makes <scratch>/<name> (once) and makes it the folder of the terrain
    // files that InitData looks for.
    static void UseFolder(const char* szName);
    static std::string ClassFile(int k);  // in the folder in use
    static bool WriteFile(const std::string& oPath, const uint8_t* pData, size_t nSize);
    static Bytes ReadFile(const std::string& oPath);

    // Class k's terrain, sculpted (see Sculpt) and saved in version 1.0,
    // made in the folder in use; class k's file there is removed first.
    static Bytes SculptedFile(int k);
    // Writes SculptedFile(k) as class k's file, which InitData then loads;
    // false when it cannot be written.
    static bool WriteSculptedFile(int k);

    // A deterministic landscape on the present terrain: single-cell and
    // coarser splits, colours, texture layers, tiles and flags, then an
    // Update, so that the fans along coarse leaves get their rings.
    void Sculpt();
    // What a host does with a terrain every frame: Update, then height,
    // normal, ray and line queries over the landscape box and a little
    // beyond it.
    void Exercise();
    // Every tree node carries the dirty mask a load leaves, so that a save
    // of this terrain and a save after loading it give the same bytes.
    void MarkAsLoaded();
    // Save through a file of the folder in use; empty when Save failed.
    Bytes SaveBytes();

    // Exposed for the targets' checks.
    using CVQTerrainVisual::GetPatch;

protected:
    bool LoadTexture(int, const CVQString&) override { return true; }
    void FlushRenderList() override {}
    void AddPatchToRenderList(int) override {}
    void RenderTerrainMesh(CVQTerrainMesh&) override {}
};

#endif
