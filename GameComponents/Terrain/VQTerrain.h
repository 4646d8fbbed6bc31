#ifndef VQ_TERRAIN_H
#define VQ_TERRAIN_H

// The whole exported interface of the terrain component.

#include "GameComponents/Terrain/vqTerrainStructures.h"
#include "GameComponents/Terrain/vqTerrainContext.h"
#include "GameComponents/Terrain/vqTerrainQuadnode.h"
#include "GameComponents/Terrain/VQTerrainHeightLookup.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"
#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainPen.h"
#include "GameComponents/Terrain/VQTerrainUndoInfo.h"
#include "GameComponents/Terrain/VQTerrainVBuff.h"
#include "GameComponents/Terrain/VQTerrainIndexBuffer.h"
#include "GameComponents/Terrain/VQTerrainContextVbuffer.h"
#include "GameComponents/Terrain/VQTerrainMesh.h"
#include "GameComponents/Terrain/VQTerrainRes.h"
#include "GameComponents/Terrain/VQTerrainTextureRes.h"
#include "GameComponents/Terrain/VQTerrainVisual.h"
#include "GameComponents/Terrain/VQTerrainCarpetVisual.h"

#endif
