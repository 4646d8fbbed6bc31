#include "GameComponents/Terrain/VQTerrainTextureRes.h"

#include "Common/VQClassTypeRegistration.h"
#include "Common/VQFileIO.h"
#include "GameFramework/ResourceManagement/VQResourceFactory.h"

#include <cstdint>

namespace {

// Version of the texture part that follows the attribute block.
const int16_t kMajorVersion = 1;
const int16_t kMinorVersion = 0;

} // namespace

const CVQClassType CVQTerrainTextureRes::_s_oType("CVQTerrainTextureRes", &CVQResource::_s_oType);

const CVQClassType& CVQTerrainTextureRes::GetClassType() { return _s_oType; }

CVQTerrainTextureRes::CVQTerrainTextureRes() {}

CVQTerrainTextureRes::CVQTerrainTextureRes(const CVQTerrainTextureRes& other)
    : CVQResource(other), m_oTextureFilename(other.m_oTextureFilename)
{
}

CVQTerrainTextureRes& CVQTerrainTextureRes::operator=(const CVQTerrainTextureRes& other)
{
    CVQResource::operator=(other);
    m_oTextureFilename = other.m_oTextureFilename;
    return *this;
}

CVQTerrainTextureRes::~CVQTerrainTextureRes() {}

const CVQClassType& CVQTerrainTextureRes::GetType() const { return _s_oType; }

bool CVQTerrainTextureRes::IsOfType(const CVQClassType& type) const { return _s_oType.IsDerivedFrom(type); }

void CVQTerrainTextureRes::SetTextureFilename(const CVQString& oFilename) { m_oTextureFilename = oFilename; }

const CVQString& CVQTerrainTextureRes::GetTextureFilename() const { return m_oTextureFilename; }

CVQString CVQTerrainTextureRes::GetAssociatedCommandObjectNode() const { return "CVQTextureCommandObjectNode"; }

bool CVQTerrainTextureRes::Load(CFileIO* pFile)
{
    if (!CVQResource::Load(pFile))
        return false;
    int16_t nMajor = 0;
    int16_t nMinor = 0;
    if (!pFile->Read(nMajor) || !pFile->Read(nMinor) || nMajor != kMajorVersion || nMinor != kMinorVersion)
        return false;
    // Read aside: a name cut off by the end of the file keeps the old one.
    CVQString oFilename;
    if (!pFile->Read(oFilename))
        return false;
    m_oTextureFilename = oFilename;
    return true;
}

bool CVQTerrainTextureRes::Save(CFileIO* pFile)
{
    if (!CVQResource::Save(pFile))
        return false;
    bool ok = pFile->Write(kMajorVersion);
    ok = pFile->Write(kMinorVersion) && ok;
    ok = pFile->Write(m_oTextureFilename) && ok;
    return ok;
}

// Known to the host from library load to unload; destroyed in reverse order.
namespace {

CVQObject* NewTerrainTextureRes() { return new CVQTerrainTextureRes; }

CVQClassTypeRegistration s_oTerrainTextureResType(CVQTerrainTextureRes::GetClassType());
CVQResourceFactory s_oTerrainTextureResFactory(CVQTerrainTextureRes::GetClassType().GetName(),
                                               &NewTerrainTextureRes, &CVQTerrainTextureRes::GetClassType());

} // namespace
