#include "GameFramework/ResourceManagement/VQResourceDatabase.h"

#include "GameFramework/ObjectManagement/VQObjectFactory.h"
#include "GameFramework/ResourceManagement/VQResource.h"

#include <vector>

namespace {

bool g_bDatabaseGone = false;

} // namespace

CVQResourceDatabase::CVQResourceDatabase() : m_lNextId(0) {}

CVQResourceDatabase::~CVQResourceDatabase() { Clear(); }

long CVQResourceDatabase::RegisterResource(CVQResource* pResource)
{
    if (!pResource)
        return -1;
    std::lock_guard<std::mutex> lock(m_oMutex);
    const long lWanted = pResource->GetId();
    if (pResource->m_pDatabase || lWanted < -1)
        return -1;
    long lId = lWanted;
    if (lId == -1) {
        while (m_oResources.count(m_lNextId))
            ++m_lNextId;
        lId = m_lNextId++;
    } else if (m_oResources.count(lId)) {
        return -1;
    }
    // The id is the object's; a resource that also sits in the object
    // database keeps the id it has there.
    if (lId != lWanted && !pResource->SetId(lId))
        return -1;
    m_oResources[lId] = pResource;
    pResource->m_pDatabase = this;
    return lId;
}

CVQResource* CVQResourceDatabase::CreateResource(const char* className, long lId)
{
    CVQObjectFactory* pFactory = CVQObjectFactory::Find(className);
    if (!pFactory || !pFactory->IsOfType(CVQResource::GetClassType()))
        return nullptr;
    CVQObject* pObject = pFactory->Create();
    // The factory's word is checked against what it made.
    if (!pObject || !pObject->IsOfType(CVQResource::GetClassType())) {
        delete pObject;
        return nullptr;
    }
    CVQResource* pResource = static_cast<CVQResource*>(pObject);
    if (!pResource->SetId(lId) || RegisterResource(pResource) < 0) {
        delete pResource;
        return nullptr;
    }
    return pResource;
}

CVQResource* CVQResourceDatabase::QueryResource(long lId)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    auto it = m_oResources.find(lId);
    if (it == m_oResources.end())
        return nullptr;
    it->second->AddRef();
    return it->second;
}

void CVQResourceDatabase::ReleaseResource(long lId)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    auto it = m_oResources.find(lId);
    if (it != m_oResources.end())
        it->second->Release();
}

CVQResource* CVQResourceDatabase::GetResource(long lId) const
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    auto it = m_oResources.find(lId);
    return it == m_oResources.end() ? nullptr : it->second;
}

bool CVQResourceDatabase::DeleteResource(long lId)
{
    CVQResource* pResource = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_oMutex);
        auto it = m_oResources.find(lId);
        if (it == m_oResources.end() || it->second->GetRefCount() > 0)
            return false;
        pResource = it->second;
        pResource->m_pDatabase = nullptr;
        m_oResources.erase(it);
    }
    // Deleted outside the lock: a resource's destructor may use the database.
    delete pResource;
    return true;
}

void CVQResourceDatabase::Clear()
{
    std::vector<CVQResource*> aResources;
    {
        std::lock_guard<std::mutex> lock(m_oMutex);
        for (auto& entry : m_oResources) {
            entry.second->m_pDatabase = nullptr;
            aResources.push_back(entry.second);
        }
        m_oResources.clear();
    }
    for (CVQResource* pResource : aResources)
        delete pResource;
}

int CVQResourceDatabase::GetResourceCount() const
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    return static_cast<int>(m_oResources.size());
}

void CVQResourceDatabase::ForgetResource(CVQResource* pResource)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    auto it = m_oResources.find(pResource->GetId());
    if (it != m_oResources.end() && it->second == pResource)
        m_oResources.erase(it);
    pResource->m_pDatabase = nullptr;
}

namespace {

struct SDatabaseHolder {
    CVQResourceDatabase oDatabase;
    ~SDatabaseHolder() { g_bDatabaseGone = true; }
};

} // namespace

CVQResourceDatabase* VQGetResourceDatabase()
{
    if (g_bDatabaseGone)
        return nullptr;
    static SDatabaseHolder s_oHolder;
    return &s_oHolder.oDatabase;
}
