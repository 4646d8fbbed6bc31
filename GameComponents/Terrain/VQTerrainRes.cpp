#include "GameComponents/Terrain/VQTerrainRes.h"

#include "Common/VQClassTypeRegistration.h"
#include "GameFramework/ObjectManagement/VQObjectFactory.h"

const CVQClassType CVQTerrainRes::_s_oType("CVQTerrainRes", &CVQResource::_s_oType);

const CVQClassType& CVQTerrainRes::GetClassType() { return _s_oType; }

CVQTerrainRes::CVQTerrainRes() {}

CVQTerrainRes::CVQTerrainRes(const CVQTerrainRes& other) : CVQResource(other) {}

CVQTerrainRes& CVQTerrainRes::operator=(const CVQTerrainRes& other)
{
    CVQResource::operator=(other);
    return *this;
}

CVQTerrainRes::~CVQTerrainRes() {}

const CVQClassType& CVQTerrainRes::GetType() const { return _s_oType; }

bool CVQTerrainRes::IsOfType(const CVQClassType& type) const { return _s_oType.IsDerivedFrom(type); }

bool CVQTerrainRes::Load(CFileIO* pFile) { return CVQResource::Load(pFile); }

bool CVQTerrainRes::Save(CFileIO* pFile) { return CVQResource::Save(pFile); }

// Known to the host from library load to unload; destroyed in reverse order.
namespace {

CVQObject* NewTerrainRes() { return new CVQTerrainRes; }

CVQClassTypeRegistration s_oTerrainResType(CVQTerrainRes::GetClassType());
CVQObjectFactory s_oTerrainResFactory(CVQTerrainRes::GetClassType().GetName(), &NewTerrainRes,
                                      &CVQTerrainRes::GetClassType());

} // namespace
