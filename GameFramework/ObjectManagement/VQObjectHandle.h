#ifndef VQ_GAMEFRAMEWORK_OBJECTHANDLE_H
#define VQ_GAMEFRAMEWORK_OBJECTHANDLE_H

#include "Common/VQPlatform.h"

class CVQClassType;
class CVQObject;
class CVQObjectDatabase;

// Queries an object by id for the lifetime of the handle and releases it on
// every path out of the caller's scope:
//
//   CVQObjectHandle oViewport(lViewportId);
//   CVQViewport* pViewport = oViewport.GetAs<CVQViewport>();
//   if (!pViewport) return;
//
// A missing database is reported ("m_pObjectDatabase != NULL"); a missing
// object is not (callers decide), Get then answers null.
class VQ_API CVQObjectHandle {
public:
    explicit CVQObjectHandle(long lId);
    ~CVQObjectHandle();
    CVQObjectHandle(const CVQObjectHandle&) = delete;
    CVQObjectHandle& operator=(const CVQObjectHandle&) = delete;

    CVQObject* Get() const;
    // The object when it IsOfType `type`, else null.
    CVQObject* GetOfType(const CVQClassType& type) const;
    // Typed access for a class T with a static GetClassType().
    template <class T>
    T* GetAs() const
    {
        return static_cast<T*>(GetOfType(T::GetClassType()));
    }

private:
    long m_lId;
    CVQObjectDatabase* m_pObjectDatabase;
    CVQObject* m_pObject;
};

#endif
