#include "GameFramework/ResourceManagement/VQResourceFactory.h"

#include "GameFramework/ResourceManagement/VQResource.h"

CVQResourceFactory::CVQResourceFactory(const char* className, PFNCreate pfnCreate, const CVQClassType* pType)
    : CVQObjectFactory(className, pfnCreate, pType ? pType : &CVQResource::GetClassType())
{
}

CVQResourceFactory::~CVQResourceFactory() {}

CVQResource* CVQResourceFactory::CreateResource() const
{
    CVQObject* pObject = Create();
    if (pObject && pObject->IsOfType(CVQResource::GetClassType()))
        return static_cast<CVQResource*>(pObject);
    delete pObject;
    return nullptr;
}
