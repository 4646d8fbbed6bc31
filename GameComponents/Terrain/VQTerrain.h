#ifndef VQ_TERRAIN_H
#define VQ_TERRAIN_H

// The whole exported interface of the terrain component.

#include "GameComponents/Terrain/vqTerrainStructures.h"
#include "GameComponents/Terrain/vqTerrainContext.h"
#include "GameComponents/Terrain/vqTerrainQuadnode.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"
#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainPen.h"

#endif
