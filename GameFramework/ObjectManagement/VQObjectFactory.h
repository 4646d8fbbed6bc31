#ifndef VQ_GAMEFRAMEWORK_OBJECTFACTORY_H
#define VQ_GAMEFRAMEWORK_OBJECTFACTORY_H

#include "Common/VQPlatform.h"

#include <string>

class CVQClassType;
class CVQObject;

// Makes objects of one class by name. A library keeps one static factory per
// class it offers; constructing the factory registers it under the class
// name, destroying it deregisters it, so the host can create objects of
// classes it never linked against:
//
//   static CVQObject* NewTerrainRes() { return new CVQTerrainRes; }
//   static CVQObjectFactory s_oFactory(CVQTerrainRes::GetClassType().GetName(),
//                                      &NewTerrainRes, &CVQTerrainRes::GetClassType());
//
// A class may instead derive its factory and override Create and
// GetClassType. Only one factory per name is registered: a second one is
// reported ("a class name has one factory") and stays unregistered (its
// Create still works when called directly). Registration is safe from any
// thread and from static constructors of any library.
class VQ_API CVQObjectFactory {
public:
    typedef CVQObject* (*PFNCreate)();

    // `pType` null means CVQObject's type.
    explicit CVQObjectFactory(const char* className, PFNCreate pfnCreate = nullptr, const CVQClassType* pType = nullptr);
    virtual ~CVQObjectFactory();
    CVQObjectFactory(const CVQObjectFactory&) = delete;
    CVQObjectFactory& operator=(const CVQObjectFactory&) = delete;

    // A new object, owned by the caller; null without a creator function.
    virtual CVQObject* Create() const;
    // True when the class this factory makes is `type` or derived from it.
    virtual bool IsOfType(const CVQClassType& type) const;
    virtual const CVQClassType& GetClassType() const;

    const char* GetClassName() const;
    bool IsRegistered() const;

    // The registered factory for the name, or null.
    static CVQObjectFactory* Find(const char* className);
    // Find(className)->Create(), or null when there is no such factory.
    static CVQObject* CreateObject(const char* className);

private:
    std::string m_oClassName;
    PFNCreate m_pfnCreate;
    const CVQClassType* m_pType;
    bool m_bRegistered;
};

#endif
