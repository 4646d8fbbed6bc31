#define VQ_ASSERT_FILE "GameFramework/ResourceManagement/VQResourceHandle"
#include "GameFramework/ResourceManagement/VQResourceHandle.h"

#include "Common/VQAssert.h"
#include "GameFramework/ResourceManagement/VQResource.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"

#include <cstddef>

CVQResourceHandle::CVQResourceHandle(long lId)
    : m_lId(lId), m_pResourceDatabase(VQGetResourceDatabase()), m_pResource(nullptr)
{
    VQ_ASSERT(m_pResourceDatabase != NULL);
    if (m_pResourceDatabase)
        m_pResource = m_pResourceDatabase->QueryResource(lId);
    VQ_ASSERT(m_pResource != NULL);
}

CVQResourceHandle::~CVQResourceHandle()
{
    if (m_pResourceDatabase && m_pResource)
        m_pResourceDatabase->ReleaseResource(m_lId);
}

CVQResource* CVQResourceHandle::Get() const { return m_pResource; }

CVQResource* CVQResourceHandle::GetOfType(const CVQClassType& type) const
{
    if (!m_pResource)
        return nullptr;
    VQ_ASSERT(m_pResource->IsOfType(type));
    return m_pResource->IsOfType(type) ? m_pResource : nullptr;
}
