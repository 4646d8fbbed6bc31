#define VQ_ASSERT_FILE "Common/VQClassTypeRegistration"
#include "Common/VQClassTypeRegistration.h"

#include "Common/VQAssert.h"
#include "Common/VQClassType.h"

#include <map>
#include <mutex>
#include <string>

namespace {

struct SRegistry {
    std::mutex oMutex;
    std::map<std::string, const CVQClassType*> oTypes;
};

// Built on first use, so registrations in static constructors of any library
// find it ready; one destroyed after it (at exit) finds null. The flag is
// constant-initialised and trivial, so it is still readable then.
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

CVQClassTypeRegistration::CVQClassTypeRegistration(const CVQClassType& type) : m_oType(type), m_bRegistered(false)
{
    SRegistry* pRegistry = GetRegistry();
    if (!pRegistry || !*type.GetName())
        return;
    {
        std::lock_guard<std::mutex> lock(pRegistry->oMutex);
        m_bRegistered = pRegistry->oTypes.emplace(type.GetName(), &type).second;
    }
    VQ_ASSERT_MSG(m_bRegistered, "a class name has one type");
}

CVQClassTypeRegistration::~CVQClassTypeRegistration()
{
    SRegistry* pRegistry = GetRegistry();
    if (!pRegistry || !m_bRegistered)
        return;
    std::lock_guard<std::mutex> lock(pRegistry->oMutex);
    pRegistry->oTypes.erase(m_oType.GetName());
}

bool CVQClassTypeRegistration::IsRegistered() const { return m_bRegistered; }

const CVQClassType* CVQClassTypeRegistration::Find(const char* className)
{
    SRegistry* pRegistry = GetRegistry();
    if (!pRegistry || !className)
        return nullptr;
    std::lock_guard<std::mutex> lock(pRegistry->oMutex);
    auto it = pRegistry->oTypes.find(className);
    return it == pRegistry->oTypes.end() ? nullptr : it->second;
}

size_t CVQClassTypeRegistration::GetCount()
{
    SRegistry* pRegistry = GetRegistry();
    if (!pRegistry)
        return 0;
    std::lock_guard<std::mutex> lock(pRegistry->oMutex);
    return pRegistry->oTypes.size();
}
