#define VQ_ASSERT_FILE "GameFramework/ObjectManagement/VQObjectFactory"
#include "GameFramework/ObjectManagement/VQObjectFactory.h"

#include "Common/VQAssert.h"
#include "GameFramework/ObjectManagement/VQObject.h"

#include <map>
#include <mutex>

namespace {

struct SRegistry {
    std::mutex oMutex;
    std::map<std::string, CVQObjectFactory*> oFactories;
};

// Built on first use, so factories in static constructors of any library
// find it ready; a factory destroyed after it (at exit) finds null.
bool g_bRegistryGone = false;

struct SRegistryHolder {
    SRegistry oRegistry;
    ~SRegistryHolder() { g_bRegistryGone = true; }
};

SRegistry* GetRegistry()
{
    if (g_bRegistryGone)
        return nullptr;
    static SRegistryHolder s_oHolder;
    return &s_oHolder.oRegistry;
}

} // namespace

CVQObjectFactory::CVQObjectFactory(const char* className, PFNCreate pfnCreate, const CVQClassType* pType)
    : m_oClassName(className ? className : ""), m_pfnCreate(pfnCreate), m_pType(pType), m_bRegistered(false)
{
    SRegistry* pRegistry = GetRegistry();
    if (!pRegistry || m_oClassName.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(pRegistry->oMutex);
        m_bRegistered = pRegistry->oFactories.emplace(m_oClassName, this).second;
    }
    VQ_ASSERT_MSG(m_bRegistered, "a class name has one factory");
}

CVQObjectFactory::~CVQObjectFactory()
{
    SRegistry* pRegistry = GetRegistry();
    if (!pRegistry || !m_bRegistered)
        return;
    std::lock_guard<std::mutex> lock(pRegistry->oMutex);
    pRegistry->oFactories.erase(m_oClassName);
}

CVQObject* CVQObjectFactory::Create() const { return m_pfnCreate ? m_pfnCreate() : nullptr; }

bool CVQObjectFactory::IsOfType(const CVQClassType& type) const { return GetClassType().IsDerivedFrom(type); }

const CVQClassType& CVQObjectFactory::GetClassType() const { return m_pType ? *m_pType : CVQObject::GetClassType(); }

const char* CVQObjectFactory::GetClassName() const { return m_oClassName.c_str(); }

bool CVQObjectFactory::IsRegistered() const { return m_bRegistered; }

CVQObjectFactory* CVQObjectFactory::Find(const char* className)
{
    SRegistry* pRegistry = GetRegistry();
    if (!pRegistry || !className)
        return nullptr;
    std::lock_guard<std::mutex> lock(pRegistry->oMutex);
    auto it = pRegistry->oFactories.find(className);
    return it == pRegistry->oFactories.end() ? nullptr : it->second;
}

CVQObject* CVQObjectFactory::CreateObject(const char* className)
{
    CVQObjectFactory* pFactory = Find(className);
    return pFactory ? pFactory->Create() : nullptr;
}
