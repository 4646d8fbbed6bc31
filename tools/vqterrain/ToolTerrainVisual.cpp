#include "ToolTerrainVisual.h"

#include "Common/VQLoadGuard.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"
#include "GameComponents/Terrain/vqTerrainPen.h"

#include <vector>

void CToolTerrainVisual::WriteCellHeights(const CellHeights& height)
{
    if (!HasTerrain())
        return;
    const int nx = m_oContext.GetCellsX(), ny = m_oContext.GetCellsY();  // patch counts
    const int c = m_oContext.GetCellsPerPatchX();                        // square patches

    CVQTerrainPen pen;
    pen.SetDimensions(c, c);
    pen.SetActionPoint(0, 0, 0);
    pen.SetBehaviour(vqPen_Clamp, 0.0f);
    std::vector<short> aValues(size_t(c) * c);
    CVQLoadGuard& guard = CVQLoadGuard::Instance();
    guard.BeginProgressSection(1.0, 0);
    for (int py = 0; py < ny; ++py) {
        for (int px = 0; px < nx; ++px) {
            for (int y = 0; y < c; ++y)
                for (int x = 0; x < c; ++x)
                    aValues[size_t(y) * c + x] = height(px * c + x, py * c + y);
            pen.SetUpper(aValues.data());
            pen.SetPosition(px * c, py * c);
            CVQTerrainPatch* pPatch = GetPatch(px, py);
            pPatch->SetHeight(pen, pPatch->GetCellRect());
            pPatch->Flatten();
        }
        guard.AdvanceProgress(1.0 / ny, 0);
    }
    guard.EndProgressSection();
    InvalidateCells();
    SetDirty(-1);
}
