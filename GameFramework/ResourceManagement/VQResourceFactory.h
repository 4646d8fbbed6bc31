#ifndef VQ_GAMEFRAMEWORK_RESOURCEFACTORY_H
#define VQ_GAMEFRAMEWORK_RESOURCEFACTORY_H

#include "Common/VQPlatform.h"
#include "GameFramework/ObjectManagement/VQObjectFactory.h"

class CVQResource;

// An object factory for a resource class. It registers in the same list as
// every object factory (one name, one factory); the resource database
// creates resources through any factory whose class is a CVQResource, so a
// resource class may also use a plain CVQObjectFactory.
class VQ_API CVQResourceFactory : public CVQObjectFactory {
public:
    // `pType` null means CVQResource's type.
    explicit CVQResourceFactory(const char* className, PFNCreate pfnCreate = nullptr,
                                const CVQClassType* pType = nullptr);
    virtual ~CVQResourceFactory();

    // Create() as a resource; null (and nothing leaked) when the creator made
    // something that is not a CVQResource.
    CVQResource* CreateResource() const;
};

#endif
