#ifndef VQ_TESTS_TERRAIN_SUPPORT_H
#define VQ_TESTS_TERRAIN_SUPPORT_H

#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainContext.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

// A terrain of N x N patches of C x C cells, each cell 1 world unit wide,
// linked into a patch tree the way the visual links it: plain nodes inside,
// patches as leaves, each patch with its construction root. Like the visual,
// it needs at least two patches per side.
struct TestTerrain {
    CVQTerrainContext ctx{nullptr};
    std::vector<std::unique_ptr<CVQTerrainQuadNode>> inner;  // inner[0] is the root
    std::vector<std::unique_ptr<CVQTerrainPatch>> patches;   // row by row

    TestTerrain(int nPatchesPerSide, int nCellsPerPatch, float fHeightUnit = 1.0f, float fHeightBias = 0.0f)
    {
        if (nPatchesPerSide < 2)
            throw std::invalid_argument("a patch tree needs two patches per side");
        ctx.SetCellResolution(1.0f, 1.0f);
        ctx.SetCellsPerPatch(nCellsPerPatch, nCellsPerPatch);
        ctx.SetPatches(nPatchesPerSide, nPatchesPerSide);
        ctx.SetHeightValues(fHeightUnit, fHeightBias);
        ctx.Compute();
        for (int i = 0; i < nPatchesPerSide * nPatchesPerSide; ++i) {
            patches.emplace_back(new CVQTerrainPatch());
            patches.back()->Init(&ctx);
            patches.back()->SetPatchIndex(i);
            patches.back()->SetPatchLocation(i % nPatchesPerSide, i / nPatchesPerSide);
            patches.back()->SetPatchFlags(VQ_TERRAIN_PATCH_ACTIVE);
        }
        inner.emplace_back(new CVQTerrainQuadNode());
        // The tree spans a square of a power of two patches per side.
        const int nSquare = ctx.GetPatchesX_Base2();
        const float fSize = float(nSquare * nCellsPerPatch);
        inner[0]->SetRoot(0.0f, 0.0f, fSize, fSize);
        Link(inner[0].get(), 0, 0, nSquare, nPatchesPerSide);
    }

    CVQTerrainQuadNode* Root() const { return inner[0].get(); }
    CVQTerrainPatch* Patch(int x, int y) const { return patches[y * PatchesPerSide() + x].get(); }
    int PatchesPerSide() const { return ctx.GetCellsX(); }

    // Marks the patch at (px, py) and its eight neighbours, as an edit does.
    void Invalidate(int px, int py, unsigned int nMask = 1u << VQ_TERRAIN_DIRTY_VERTICES)
    {
        for (int y = py - 1; y <= py + 1; ++y)
            for (int x = px - 1; x <= px + 1; ++x)
                if (x >= 0 && y >= 0 && x < PatchesPerSide() && y < PatchesPerSide())
                    Patch(x, y)->SetMultipleDirty(nMask);
    }

    // The visual's vertex update: every patch with dirty bit 0 runs its
    // vertex passes beside its eight neighbours, those outside the grid null
    // and marked missing. bAll first marks the whole terrain as the visual
    // does when it builds or invalidates it.
    void UpdateVertices(bool bAll = false)
    {
        if (bAll)
            Root()->BroadcastMultipleDirty(VQ_TERRAIN_DIRTYMASK_ALL);
        std::vector<CVQTerrainPatch*> dirty;
        Root()->GetDirtyPatches_OR(dirty, 1u << VQ_TERRAIN_DIRTY_VERTICES);
        const int n = PatchesPerSide();
        for (CVQTerrainPatch* pPatch : dirty) {
            int px, py;
            pPatch->GetPatchXY(px, py);
            CVQTerrainPatch* aNeighbour[8];
            unsigned int nMissing = 0;
            for (int i = 0, k = 0; k < 9; ++k) {
                const int x = px + k % 3 - 1, y = py + k / 3 - 1;
                if (k == 4)
                    continue;
                const bool bInside = x >= 0 && y >= 0 && x < n && y < n;
                aNeighbour[i] = bInside ? Patch(x, y) : nullptr;
                nMissing |= bInside ? 0u : 1u << i;
                ++i;
            }
            pPatch->SetCornerHeightsPass(aNeighbour, nMissing, nullptr, nullptr, -1);
        }
    }

    // Every node of both trees, depth first.
    void ForEachNode(const std::function<void(CVQTerrainQuadNode*)>& visit) const
    {
        std::function<void(CVQTerrainQuadNode*)> walk = [&](CVQTerrainQuadNode* pNode) {
            visit(pNode);
            if (CVQTerrainPatch* pPatch = dynamic_cast<CVQTerrainPatch*>(pNode)) {
                if (pPatch->GetRoot())
                    walk(pPatch->GetRoot());
                return;
            }
            for (int i = 0; i < 4; ++i)
                if (pNode->GetChild(i))
                    walk(static_cast<CVQTerrainQuadNode*>(pNode->GetChild(i)));
        };
        walk(Root());
    }

private:
    void Link(CVQTerrainQuadNode* pNode, int x0, int y0, int nSize, int nPatches)
    {
        const int nHalf = nSize / 2;
        for (int i = 0; i < 4; ++i) {
            const int x = x0 + (i & 1) * nHalf;
            const int y = y0 + (i >> 1) * nHalf;
            if (x >= nPatches || y >= nPatches)
                continue;
            if (nHalf == 1) {
                pNode->AddChild(i, Patch(x, y));
            } else {
                inner.emplace_back(new CVQTerrainQuadNode());
                CVQTerrainQuadNode* pChild = inner.back().get();
                pNode->AddChild(i, pChild);
                Link(pChild, x, y, nHalf, nPatches);
            }
        }
    }
};

// Walks a construction tree and checks the shape it must always have: four
// children or none, each child its parent's quadrant one generation deeper
// and linked back, no deeper than nMaxGen, every node handed out by the pool.
// Returns the number of nodes, or -1 with a message on the first breach.
inline int ValidateConstructTree(const CVQTerrainConstructQuadNode* pNode, int nMaxGen, std::string& error)
{
    if (CVQTerrainConstructQuadNode::GetPoolSlot(pNode) < 0) {
        error = "node not handed out by the pool";
        return -1;
    }
    if (pNode->GetGeneration() > nMaxGen) {
        error = "node deeper than the target generation";
        return -1;
    }
    if (pNode->IsLeaf())
        return 1;
    int n = 1;
    for (int i = 0; i < 4; ++i) {
        const auto* pChild = static_cast<const CVQTerrainConstructQuadNode*>(pNode->GetChild(i));
        if (!pChild) {
            error = "inner node with a missing child";
            return -1;
        }
        float x0, y0, x1, y1;
        pNode->GetQuadrantRect(i, x0, y0, x1, y1);
        if (pChild->GetMinX() != x0 || pChild->GetMinY() != y0 || pChild->GetMaxX() != x1 || pChild->GetMaxY() != y1) {
            error = "child is not its parent's quadrant";
            return -1;
        }
        if (pChild->GetGeneration() != pNode->GetGeneration() + 1 || pChild->GetParent() != pNode) {
            error = "child generation or parent link broken";
            return -1;
        }
        if ((pChild->GetDirtyFlags() & ~pNode->GetDirtyFlags()) != 0) {
            error = "child carries a dirty bit its parent lacks";
            return -1;
        }
        const int m = ValidateConstructTree(pChild, nMaxGen, error);
        if (m < 0)
            return -1;
        n += m;
    }
    return n;
}

#endif
