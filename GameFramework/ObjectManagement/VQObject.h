#ifndef VQ_GAMEFRAMEWORK_OBJECT_H
#define VQ_GAMEFRAMEWORK_OBJECT_H

#include "Common/VQClassType.h"
#include "Common/VQPlatform.h"

#include <atomic>

class CVQDataStream;
class CVQObjectDatabase;

// Root of the framework's object model: an id, a count of outstanding
// queries, a class type and a streaming hook.
//
// Identity. The id is -1 until the object is registered with the object
// database (or given one with SetId). The database never owns an object;
// an object leaves the database by itself when it is destroyed, so the
// database never hands out a dangling pointer. Copies get no identity: a
// copy starts with id -1, count 0 and unregistered, and assignment keeps the
// target's own identity.
//
// Reference count. Counts queries through the databases that were not yet
// released (AddRef/Release). It does not control the lifetime: it tells an
// owner whether someone still holds the object. Releasing more often than
// querying is reported ("m_nRefCount > 0") and leaves the count at 0.
//
// Class type. Every class keeps one static `_s_oType` built from its name and
// its base's `_s_oType`; GetClassType() (static) returns it, GetType() and
// IsOfType() answer for the object's dynamic class. A derived class overrides
// GetType, IsOfType and, when it streams, _GetDataFormatVersion.
class VQ_API CVQObject {
public:
    static const CVQClassType _s_oType;  // "CVQObject", root
    static const CVQClassType& GetClassType();
    // Version of the data CVQObject::Serialize streams.
    static int GetDataFormatVersion();

    CVQObject();
    CVQObject(const CVQObject& other);
    CVQObject& operator=(const CVQObject& other);
    virtual ~CVQObject();

    virtual const CVQClassType& GetType() const;
    // True when the object's class is `type` or derived from it.
    virtual bool IsOfType(const CVQClassType& type) const;
    // Version of the object's whole stream form (SerializeObject stores it).
    virtual int _GetDataFormatVersion() const;
    // Whether the host may stream the object at all; false here.
    virtual bool CanSerialize() const;
    // The host's streaming mode for the class; 0 here (not streamed). The
    // values above 0 are chosen by each class for the host's tools.
    virtual int GetSerializationMode() const;
    // Puts (storing) or gets (loading) the object's state. Nothing here.
    virtual void Serialize(CVQDataStream& stream);

    // Streams the whole object inside a section of its own version: storing
    // opens it with _GetDataFormatVersion(), loading reads it back. Inside
    // Serialize, after a class has closed the sections of its base parts,
    // stream.GetVersion() answers the version the object was stored with.
    void SerializeObject(CVQDataStream& stream);

    // -1 when the object has no id.
    long GetId() const;
    // False (and nothing changes) while the object is registered: the
    // database keys it by its id.
    bool SetId(long lId);

    // Return the new count.
    int AddRef();
    int Release();
    int GetRefCount() const;

private:
    friend class CVQObjectDatabase;

    long m_lId;
    std::atomic<int> m_nRefCount;
    CVQObjectDatabase* m_pDatabase;  // the database it is registered in, or null
};

#endif
