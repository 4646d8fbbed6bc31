#ifndef VQ_GAMEFRAMEWORK_VISUAL_H
#define VQ_GAMEFRAMEWORK_VISUAL_H

#include "Common/VQPlatform.h"
#include "GameFramework/ObjectManagement/VQObject.h"

// Base of everything the game shows: made from a resource (InitData),
// brought up to date once per frame (Update), drawn for a viewport
// (Display). The base does none of the work; it keeps what every visual
// needs: the resource id, a visible switch and dirty flags.
//
// Dirty flags are a 32-bit mask whose bits each visual class defines for
// itself; SetDirty(-1) marks everything. A new visual is visible and dirty
// (it has never been updated).
//
// Stream form (Serialize, version GetDataFormatVersion() = 1): the resource
// id (int32) and the visible switch (bool, 1 byte). Dirty flags are not
// streamed: a loaded visual is dirty.
class VQ_API CVQVisual : public CVQObject {
public:
    static const CVQClassType _s_oType;  // "CVQVisual", base CVQObject
    static const CVQClassType& GetClassType();
    static int GetDataFormatVersion();

    CVQVisual();
    virtual ~CVQVisual();

    virtual const CVQClassType& GetType() const;
    virtual bool IsOfType(const CVQClassType& type) const;
    virtual int _GetDataFormatVersion() const;
    virtual bool CanSerialize() const;
    virtual int GetSerializationMode() const;
    virtual void Serialize(CVQDataStream& stream);

    // Stores the resource id; true.
    virtual bool InitData(long lResourceId);
    virtual void Update();
    virtual void Display(long lViewportId);

    // ORs the flags into the dirty mask.
    virtual void SetDirty(int nFlags);
    virtual void ClearDirty();
    virtual bool IsDirty() const;
    virtual bool IsVisible() const;
    virtual void SetVisible(bool bVisible);

    unsigned int GetDirtyFlags() const;
    // -1 until InitData.
    long GetResourceId() const;

private:
    long m_lResourceId;
    bool m_bVisible;
    unsigned int m_unDirtyFlags;
};

#endif
