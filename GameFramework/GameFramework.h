#ifndef VQ_GAMEFRAMEWORK_GAMEFRAMEWORK_H
#define VQ_GAMEFRAMEWORK_GAMEFRAMEWORK_H

// Everything the host's GameFramework library offers.
#include "Common/Common.h"
#include "GameFramework/ObjectManagement/VQObject.h"
#include "GameFramework/ObjectManagement/VQObjectDatabase.h"
#include "GameFramework/ObjectManagement/VQObjectFactory.h"
#include "GameFramework/ObjectManagement/VQObjectHandle.h"
#include "GameFramework/ResourceManagement/VQResource.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"
#include "GameFramework/ResourceManagement/VQResourceFactory.h"
#include "GameFramework/ResourceManagement/VQResourceHandle.h"
#include "GameFramework/VQColor.h"
#include "GameFramework/VQViewport.h"
#include "GameFramework/VQVisual.h"
#include "GameFramework/VQVisual3d.h"

#endif
