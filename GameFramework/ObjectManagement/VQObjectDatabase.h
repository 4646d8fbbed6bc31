#ifndef VQ_GAMEFRAMEWORK_OBJECTDATABASE_H
#define VQ_GAMEFRAMEWORK_OBJECTDATABASE_H

#include "Common/VQPlatform.h"
#include "Common/VQString.h"

#include <map>
#include <mutex>

class CVQObject;

// The process's directory of live objects (visuals, viewports, ...), by id
// and, for the few objects that exist once, by name.
//
// Ownership: none. Objects are created and destroyed by their owners; a
// registered object leaves the database in its destructor.
//
// Queries count: QueryObject / QuerySingletonObject raise the object's
// reference count, ReleaseObject / ReleaseSingletonObject lower it. A query
// for an unknown id or name gives null and counts nothing; a release for one
// does nothing.
//
// Ids are 0 or above. Registering an object without an id (-1) gives it the
// lowest free id at or above the database's running counter. All operations
// are safe from any thread; an object must not be destroyed while another
// thread registers it.
class VQ_API CVQObjectDatabase {
public:
    CVQObjectDatabase();
    // Forgets every object (they stay alive and are no longer registered).
    ~CVQObjectDatabase();
    CVQObjectDatabase(const CVQObjectDatabase&) = delete;
    CVQObjectDatabase& operator=(const CVQObjectDatabase&) = delete;

    // Returns the object's id, or -1 (nothing registered) for null, an object
    // registered already, or an id below -1 or held by another object.
    long RegisterObject(CVQObject* pObject);
    // Removes the object and every singleton name that points at it. False
    // when it is not registered here.
    bool UnregisterObject(CVQObject* pObject);
    // Names a registered object, registering it first if needed. False for a
    // null object or name, a name in use, or a failed registration.
    bool RegisterSingletonObject(const CVQString& name, CVQObject* pObject);

    CVQObject* QueryObject(long lId);
    void ReleaseObject(long lId);
    CVQObject* QuerySingletonObject(const CVQString& name);
    void ReleaseSingletonObject(const CVQString& name);

    // Looks up without counting; for code that does not keep the pointer.
    CVQObject* FindObject(long lId) const;
    int GetObjectCount() const;

private:
    mutable std::mutex m_oMutex;
    std::map<long, CVQObject*> m_oObjects;
    std::map<CVQString, CVQObject*> m_oSingletons;
    long m_lNextId;
};

// The process's object database; null only while static objects are being
// destroyed at exit, after the database itself went.
VQ_API CVQObjectDatabase* VQGetObjectDatabase();

#endif
