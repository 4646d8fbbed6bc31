#ifndef VQ_TERRAIN_TEXTURERES_H
#define VQ_TERRAIN_TEXTURERES_H

#include "Common/VQPlatform.h"
#include "Common/VQString.h"
#include "GameFramework/ResourceManagement/VQResource.h"

class CFileIO;

// A resource that names one terrain texture file. Its resource id is the
// texture id that patches store (ids 0 and above); the terrain visual turns
// the id into the file name for the renderer.
//
// File form: CVQResource's attribute block, then int16 major 1, int16 minor
// 0 and the file name as a CFileIO string. Load accepts version 1.0 only.
//
// Derives from CVQResource directly, not from CVQTerrainRes. The class type
// ("CVQTerrainTextureRes", base CVQResource) and a resource factory under
// that name are registered with the host while the component's library is
// loaded.
class VQ_API CVQTerrainTextureRes : public CVQResource {
public:
    static const CVQClassType _s_oType;
    static const CVQClassType& GetClassType();

    CVQTerrainTextureRes();
    // Copies take the attributes and the file name.
    CVQTerrainTextureRes(const CVQTerrainTextureRes& other);
    CVQTerrainTextureRes& operator=(const CVQTerrainTextureRes& other);
    virtual ~CVQTerrainTextureRes();

    const CVQClassType& GetType() const override;
    bool IsOfType(const CVQClassType& type) const override;

    void SetTextureFilename(const CVQString& oFilename);
    const CVQString& GetTextureFilename() const;
    // Name of the host editor's node class for texture resources,
    // "CVQTextureCommandObjectNode".
    CVQString GetAssociatedCommandObjectNode() const;

    // False when the attribute block fails, the version is not 1.0 or the
    // name cannot be read; the name changes only on success.
    bool Load(CFileIO* pFile) override;
    // False when the attribute block or the texture part failed to write.
    bool Save(CFileIO* pFile) override;

private:
    CVQString m_oTextureFilename;
};

#endif
