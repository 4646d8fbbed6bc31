#ifndef VQ_COMMON_COMMON_H
#define VQ_COMMON_COMMON_H

// Everything the host's Common library offers, for callers that want it all.
#include "Common/VQPlatform.h"
#include "Common/VQAssert.h"
#include "Common/VQString.h"
#include "Common/VQProperty.h"
#include "Common/VQFileIO.h"
#include "Common/VQDataStream.h"
#include "Common/VQClassType.h"
#include "Common/VQClassTypeRegistration.h"
#include "Common/VQMutex.h"
#include "Common/VQEvent.h"
#include "Common/VQLoadGuard.h"

#endif
