#include "GameFramework/ObjectManagement/VQObjectDatabase.h"

#include "GameFramework/ObjectManagement/VQObject.h"

#include <iterator>

namespace {

// Constant-initialised and trivial, so it can still be read after the
// database's own destruction at exit.
bool g_bDatabaseGone = false;

} // namespace

CVQObjectDatabase::CVQObjectDatabase() : m_lNextId(0) {}

CVQObjectDatabase::~CVQObjectDatabase()
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    for (auto& entry : m_oObjects)
        entry.second->m_pDatabase = nullptr;
    m_oObjects.clear();
    m_oSingletons.clear();
}

long CVQObjectDatabase::RegisterObject(CVQObject* pObject)
{
    if (!pObject)
        return -1;
    std::lock_guard<std::mutex> lock(m_oMutex);
    if (pObject->m_pDatabase || pObject->m_lId < -1)
        return -1;
    long lId = pObject->m_lId;
    if (lId == -1) {
        while (m_oObjects.count(m_lNextId))
            ++m_lNextId;
        lId = m_lNextId++;
    } else if (m_oObjects.count(lId)) {
        return -1;
    }
    m_oObjects[lId] = pObject;
    pObject->m_lId = lId;
    pObject->m_pDatabase = this;
    return lId;
}

bool CVQObjectDatabase::UnregisterObject(CVQObject* pObject)
{
    if (!pObject)
        return false;
    std::lock_guard<std::mutex> lock(m_oMutex);
    if (pObject->m_pDatabase != this)
        return false;
    m_oObjects.erase(pObject->m_lId);
    for (auto it = m_oSingletons.begin(); it != m_oSingletons.end();)
        it = it->second == pObject ? m_oSingletons.erase(it) : std::next(it);
    pObject->m_pDatabase = nullptr;
    return true;
}

bool CVQObjectDatabase::RegisterSingletonObject(const CVQString& name, CVQObject* pObject)
{
    if (!pObject || name.IsEmpty())
        return false;
    {
        std::lock_guard<std::mutex> lock(m_oMutex);
        if (m_oSingletons.count(name))
            return false;
    }
    if (pObject->m_pDatabase != this && RegisterObject(pObject) < 0)
        return false;
    std::lock_guard<std::mutex> lock(m_oMutex);
    // Checked again: another thread may have taken the name meanwhile.
    return m_oSingletons.emplace(name, pObject).second;
}

CVQObject* CVQObjectDatabase::QueryObject(long lId)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    auto it = m_oObjects.find(lId);
    if (it == m_oObjects.end())
        return nullptr;
    it->second->AddRef();
    return it->second;
}

void CVQObjectDatabase::ReleaseObject(long lId)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    auto it = m_oObjects.find(lId);
    if (it != m_oObjects.end())
        it->second->Release();
}

CVQObject* CVQObjectDatabase::QuerySingletonObject(const CVQString& name)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    auto it = m_oSingletons.find(name);
    if (it == m_oSingletons.end())
        return nullptr;
    it->second->AddRef();
    return it->second;
}

void CVQObjectDatabase::ReleaseSingletonObject(const CVQString& name)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    auto it = m_oSingletons.find(name);
    if (it != m_oSingletons.end())
        it->second->Release();
}

CVQObject* CVQObjectDatabase::FindObject(long lId) const
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    auto it = m_oObjects.find(lId);
    return it == m_oObjects.end() ? nullptr : it->second;
}

int CVQObjectDatabase::GetObjectCount() const
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    return static_cast<int>(m_oObjects.size());
}

namespace {

struct SDatabaseHolder {
    CVQObjectDatabase oDatabase;
    ~SDatabaseHolder() { g_bDatabaseGone = true; }
};

} // namespace

CVQObjectDatabase* VQGetObjectDatabase()
{
    if (g_bDatabaseGone)
        return nullptr;
    static SDatabaseHolder s_oHolder;
    return &s_oHolder.oDatabase;
}
