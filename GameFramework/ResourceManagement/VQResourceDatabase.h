#ifndef VQ_GAMEFRAMEWORK_RESOURCEDATABASE_H
#define VQ_GAMEFRAMEWORK_RESOURCEDATABASE_H

#include "Common/VQPlatform.h"

#include <map>
#include <mutex>

class CVQResource;

// The process's resources by id (terrain descriptions, texture resources).
//
// Ownership: the database owns every resource registered with it and deletes
// it in DeleteResource, Clear and its own destructor. A registered resource
// that someone deletes directly leaves the database by itself.
//
// Ids are 0 or above (texture resource ids start at 0). Registering a
// resource without an id (-1) gives it the lowest free id at or above the
// database's running counter. QueryResource raises the resource's reference
// count and ReleaseResource lowers it; a queried resource is not deleted by
// DeleteResource. All operations are safe from any thread.
class VQ_API CVQResourceDatabase {
public:
    CVQResourceDatabase();
    ~CVQResourceDatabase();
    CVQResourceDatabase(const CVQResourceDatabase&) = delete;
    CVQResourceDatabase& operator=(const CVQResourceDatabase&) = delete;

    // Takes ownership and returns the id. -1 when refused (null, already in
    // a database, an id below -1 or in use); the caller then keeps it.
    long RegisterResource(CVQResource* pResource);
    // A new resource of the named class from its factory (any factory whose
    // class is a CVQResource), registered under lId (-1: a new id). Null
    // when there is no such factory or the id is in use.
    CVQResource* CreateResource(const char* className, long lId = -1);

    CVQResource* QueryResource(long lId);
    void ReleaseResource(long lId);
    // Looks up without counting.
    CVQResource* GetResource(long lId) const;

    // False when the id is unknown or the resource is still queried.
    bool DeleteResource(long lId);
    // Deletes every resource, queried or not (end of a level, exit).
    void Clear();
    int GetResourceCount() const;

private:
    friend class CVQResource;
    // Called by a registered resource's destructor.
    void ForgetResource(CVQResource* pResource);

    mutable std::mutex m_oMutex;
    std::map<long, CVQResource*> m_oResources;
    long m_lNextId;
};

// The process's resource database; null only while static objects are being
// destroyed at exit, after the database itself went.
VQ_API CVQResourceDatabase* VQGetResourceDatabase();

#endif
