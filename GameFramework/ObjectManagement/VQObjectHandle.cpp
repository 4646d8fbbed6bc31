#define VQ_ASSERT_FILE "GameFramework/ObjectManagement/VQObjectHandle"
#include "GameFramework/ObjectManagement/VQObjectHandle.h"

#include "Common/VQAssert.h"
#include "GameFramework/ObjectManagement/VQObject.h"
#include "GameFramework/ObjectManagement/VQObjectDatabase.h"

#include <cstddef>

CVQObjectHandle::CVQObjectHandle(long lId) : m_lId(lId), m_pObjectDatabase(VQGetObjectDatabase()), m_pObject(nullptr)
{
    VQ_ASSERT(m_pObjectDatabase != NULL);
    if (m_pObjectDatabase)
        m_pObject = m_pObjectDatabase->QueryObject(lId);
}

CVQObjectHandle::~CVQObjectHandle()
{
    if (m_pObjectDatabase && m_pObject)
        m_pObjectDatabase->ReleaseObject(m_lId);
}

CVQObject* CVQObjectHandle::Get() const { return m_pObject; }

CVQObject* CVQObjectHandle::GetOfType(const CVQClassType& type) const
{
    return m_pObject && m_pObject->IsOfType(type) ? m_pObject : nullptr;
}
