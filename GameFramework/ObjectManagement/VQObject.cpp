#define VQ_ASSERT_FILE "GameFramework/ObjectManagement/VQObject"
#include "GameFramework/ObjectManagement/VQObject.h"

#include "Common/VQAssert.h"
#include "Common/VQDataStream.h"
#include "GameFramework/ObjectManagement/VQObjectDatabase.h"

const CVQClassType CVQObject::_s_oType("CVQObject", nullptr);

const CVQClassType& CVQObject::GetClassType() { return _s_oType; }

int CVQObject::GetDataFormatVersion() { return 1; }

CVQObject::CVQObject() : m_lId(-1), m_nRefCount(0), m_pDatabase(nullptr) {}

CVQObject::CVQObject(const CVQObject&) : m_lId(-1), m_nRefCount(0), m_pDatabase(nullptr) {}

CVQObject& CVQObject::operator=(const CVQObject&) { return *this; }

CVQObject::~CVQObject()
{
    if (m_pDatabase)
        m_pDatabase->UnregisterObject(this);
}

const CVQClassType& CVQObject::GetType() const { return _s_oType; }

bool CVQObject::IsOfType(const CVQClassType& type) const { return _s_oType.IsDerivedFrom(type); }

int CVQObject::_GetDataFormatVersion() const { return GetDataFormatVersion(); }

bool CVQObject::CanSerialize() const { return false; }

int CVQObject::GetSerializationMode() const { return 0; }

void CVQObject::Serialize(CVQDataStream&) {}

void CVQObject::SerializeObject(CVQDataStream& stream)
{
    stream.SerializeBegin(stream.IsStoring() ? _GetDataFormatVersion() : -1);
    Serialize(stream);
    stream.SerializeEnd();
}

long CVQObject::GetId() const { return m_lId; }

bool CVQObject::SetId(long lId)
{
    if (m_pDatabase)
        return false;
    m_lId = lId;
    return true;
}

int CVQObject::AddRef() { return ++m_nRefCount; }

int CVQObject::Release()
{
    int count = m_nRefCount.load();
    // Compare-exchange so that two threads releasing the last reference
    // cannot both step below zero.
    while (count > 0 && !m_nRefCount.compare_exchange_weak(count, count - 1)) {
    }
    VQ_ASSERT_MSG(count > 0, "m_nRefCount > 0");
    return count > 0 ? count - 1 : 0;
}

int CVQObject::GetRefCount() const { return m_nRefCount.load(); }
