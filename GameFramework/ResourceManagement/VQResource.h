#ifndef VQ_GAMEFRAMEWORK_RESOURCE_H
#define VQ_GAMEFRAMEWORK_RESOURCE_H

#include "Common/VQPlatform.h"
#include "Common/VQProperty.h"
#include "Common/VQString.h"
#include "GameFramework/ObjectManagement/VQObject.h"

#include <map>

class CFileIO;
class CVQResourceDatabase;

// A named set of attributes that describes something the game builds from
// data (a terrain: its file name, cell sizes, patch counts, shaders). Derived
// resource classes add data of their own and extend Load and Save.
//
// Reading a missing attribute is not an error: GetAttribute and operator[]
// answer an empty property, whose conversions give 0, 0.0 and "". Neither
// adds the attribute, so HasAttribute stays truthful.
//
// File form of the attributes (Load/Save, little-endian through CFileIO):
//   uint16 format version (1), int32 attribute count, then per attribute in
//   name order: string name, char type (CVQProperty::eType), value (float,
//   int32 or string; nothing for an empty property).
// Load accepts at most sm_nMaxAttributes attributes and replaces the set
// only when the whole block was read; on failure the resource keeps its
// previous attributes.
//
// Copies take the attributes, not the identity (CVQObject) and not the
// place in a resource database.
class VQ_API CVQResource : public CVQObject {
public:
    static const CVQClassType _s_oType;  // "CVQResource", base CVQObject
    static const CVQClassType& GetClassType();

    static const int sm_nMaxAttributes = 4096;

    CVQResource();
    CVQResource(const CVQResource& other);
    CVQResource& operator=(const CVQResource& other);
    // Leaves the resource database if it is registered there.
    virtual ~CVQResource();

    virtual const CVQClassType& GetType() const;
    virtual bool IsOfType(const CVQClassType& type) const;

    const CVQProperty& GetAttribute(const CVQString& name) const;
    bool HasAttribute(const CVQString& name) const;
    // Same as GetAttribute: read-only by design (see above).
    const CVQProperty& operator[](const CVQString& name) const;
    void SetAttribute(const CVQString& name, const CVQProperty& value);
    bool RemoveAttribute(const CVQString& name);
    int GetAttributeCount() const;

    // False for a null file, a failed read or write, or a bad block.
    virtual bool Load(CFileIO* pFile);
    virtual bool Save(CFileIO* pFile);

private:
    friend class CVQResourceDatabase;

    std::map<CVQString, CVQProperty> m_oAttributes;
    CVQResourceDatabase* m_pDatabase;  // the database that owns it, or null
};

#endif
