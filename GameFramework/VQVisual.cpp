#include "GameFramework/VQVisual.h"

#include "Common/VQDataStream.h"

#include <cstdint>

const CVQClassType CVQVisual::_s_oType("CVQVisual", &CVQObject::_s_oType);

const CVQClassType& CVQVisual::GetClassType() { return _s_oType; }

int CVQVisual::GetDataFormatVersion() { return 1; }

CVQVisual::CVQVisual() : m_lResourceId(-1), m_bVisible(true), m_unDirtyFlags(0xFFFFFFFFu) {}

CVQVisual::~CVQVisual() {}

const CVQClassType& CVQVisual::GetType() const { return _s_oType; }

bool CVQVisual::IsOfType(const CVQClassType& type) const { return _s_oType.IsDerivedFrom(type); }

int CVQVisual::_GetDataFormatVersion() const { return GetDataFormatVersion(); }

bool CVQVisual::CanSerialize() const { return true; }

int CVQVisual::GetSerializationMode() const { return 1; }

void CVQVisual::Serialize(CVQDataStream& stream)
{
    CVQObject::Serialize(stream);
    int32_t lResourceId = static_cast<int32_t>(m_lResourceId);
    if (stream.IsStoring()) {
        stream.Put(&lResourceId, sizeof lResourceId);
        stream.Put(&m_bVisible, sizeof m_bVisible);
    } else {
        // Read through a byte: a corrupt stream must not put a value other
        // than true or false into a bool.
        unsigned char visible = 1;
        stream.Get(&lResourceId, sizeof lResourceId);
        stream.Get(&visible, sizeof visible);
        m_lResourceId = lResourceId;
        m_bVisible = visible != 0;
        m_unDirtyFlags = 0xFFFFFFFFu;
    }
}

bool CVQVisual::InitData(long lResourceId)
{
    m_lResourceId = lResourceId;
    return true;
}

void CVQVisual::Update() {}

void CVQVisual::Display(long) {}

void CVQVisual::SetDirty(int nFlags) { m_unDirtyFlags |= static_cast<unsigned int>(nFlags); }

void CVQVisual::ClearDirty() { m_unDirtyFlags = 0; }

bool CVQVisual::IsDirty() const { return m_unDirtyFlags != 0; }

bool CVQVisual::IsVisible() const { return m_bVisible; }

void CVQVisual::SetVisible(bool bVisible) { m_bVisible = bVisible; }

unsigned int CVQVisual::GetDirtyFlags() const { return m_unDirtyFlags; }

long CVQVisual::GetResourceId() const { return m_lResourceId; }
