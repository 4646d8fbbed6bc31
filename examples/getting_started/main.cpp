// Getting started: a terrain built from a resource, raised with a pen,
// brought up to date, asked for a height, and saved. Exits with 0 when the
// ground under the pen stands 5 m high and the file was written.
#include "Common/VQFileIO.h"
#include "GameComponents/Terrain/VQTerrain.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"

#include <cstdio>
#include <utility>
#include <vector>

int main()
{
    // The resources (the database owns them): the texture every patch starts
    // with, id 2, and the terrain, id 1: 4 x 4 patches of 32 x 32 cells of
    // 1 m, a 128 m square, heights in steps of 0.1 m.
    CVQResourceDatabase* pDatabase = VQGetResourceDatabase();
    CVQResource* pGrass = pDatabase->CreateResource("CVQTerrainTextureRes", 2);
    static_cast<CVQTerrainTextureRes*>(pGrass)->SetTextureFilename("grass.png");
    CVQResource* pTerrain = pDatabase->CreateResource("CVQTerrainRes", 1);
    const std::pair<const char*, CVQProperty> aAttributes[] = {
        {"oTerrainFileName", "getting_started"}, {"fCellResX", 1.0f}, {"fCellResY", 1.0f},
        {"nCellsPerPatchX", 32}, {"nCellsPerPatchY", 32}, {"nPatchesX", 4}, {"nPatchesY", 4},
        {"fHeightUnit", 0.1f}, {"nDefaultTextureId", 2}, {"nDefaultErrorId", 2}};
    for (const auto& attribute : aAttributes)
        pTerrain->SetAttribute(attribute.first, attribute.second);

    CVQTerrainVisual::sm_oTerrainExportPath = "";  // terrain files in the working directory
    CVQTerrainVisual terrain;
    terrain.InitData(1);  // loads getting_started.terrain when it exists, else builds a flat terrain

    // A 9 x 9 pen that raises the ground to at least 5 m (50 height steps).
    std::vector<short> aHeights(9 * 9, 50);
    CVQTerrainPen pen;
    pen.SetDimensions(9, 9);
    pen.SetActionPoint(4, 4, 0);
    pen.SetUpper(aHeights.data());
    pen.SetBehaviour(vqPen_AtLeast, 0.0f);
    terrain.ApplyPen(64.5f, 64.5f, pen);  // centred on cell (64, 64)

    terrain.Update();  // a frame: vertices, meshes and bounds catch up with the edit
    const float fHeight = terrain.GetHeight(64.5f, 64.5f, vqForce_None, true);
    CFileIO file;
    const bool bSaved = file.Open("getting_started.terrain", CFileIO::modeWrite) && terrain.Save(file) && file.Close();
    std::printf("height at (64.5, 64.5): %.2f m; %s\n", fHeight, bSaved ? "saved" : "NOT SAVED");
    return fHeight > 4.999f && fHeight < 5.001f && bSaved ? 0 : 1;
}
