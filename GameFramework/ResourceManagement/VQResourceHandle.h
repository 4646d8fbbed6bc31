#ifndef VQ_GAMEFRAMEWORK_RESOURCEHANDLE_H
#define VQ_GAMEFRAMEWORK_RESOURCEHANDLE_H

#include "Common/VQPlatform.h"

class CVQClassType;
class CVQResource;
class CVQResourceDatabase;

// Queries a resource by id for the lifetime of the handle and releases it on
// every path out of the caller's scope:
//
//   CVQResourceHandle oRes(lResourceId);
//   CVQTerrainTextureRes* pTex = oRes.GetAs<CVQTerrainTextureRes>();
//
// A missing database ("m_pResourceDatabase != NULL") and a missing resource
// ("m_pResource != NULL") are reported on construction, a resource of the
// wrong class ("m_pResource->IsOfType(type)") by GetAs / GetOfType. Callers
// for whom a missing resource is normal use the database directly.
class VQ_API CVQResourceHandle {
public:
    explicit CVQResourceHandle(long lId);
    ~CVQResourceHandle();
    CVQResourceHandle(const CVQResourceHandle&) = delete;
    CVQResourceHandle& operator=(const CVQResourceHandle&) = delete;

    CVQResource* Get() const;
    // The resource when it IsOfType `type`, else null.
    CVQResource* GetOfType(const CVQClassType& type) const;
    template <class T>
    T* GetAs() const
    {
        return static_cast<T*>(GetOfType(T::GetClassType()));
    }

private:
    long m_lId;
    CVQResourceDatabase* m_pResourceDatabase;
    CVQResource* m_pResource;
};

#endif
