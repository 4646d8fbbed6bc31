#include "GameFramework/VQViewport.h"

#include <cmath>

const CVQClassType CVQViewport::_s_oType("CVQViewport", &CVQObject::_s_oType);

const CVQClassType& CVQViewport::GetClassType() { return _s_oType; }

CVQViewport::CVQViewport() {}

CVQViewport::~CVQViewport() {}

const CVQClassType& CVQViewport::GetType() const { return _s_oType; }

bool CVQViewport::IsOfType(const CVQClassType& type) const { return _s_oType.IsDerivedFrom(type); }

const CVQMatrix44& CVQViewport::GetViewMatrix() const { return m_mView; }

const CVQMatrix44& CVQViewport::GetProjectionMatrix() const { return m_mProjection; }

const CVQMatrix44& CVQViewport::GetInvViewMatrix() const { return m_mInvView; }

const CVQMatrix44& CVQViewport::GetInvProjectionMatrix() const { return m_mInvProjection; }

bool CVQViewport::SetViewMatrix(const CVQMatrix44& mView)
{
    CVQMatrix44 mInverse;
    if (!mView.GetInverse(mInverse))
        return false;
    m_mView = mView;
    m_mInvView = mInverse;
    return true;
}

bool CVQViewport::SetProjectionMatrix(const CVQMatrix44& mProjection)
{
    CVQMatrix44 mInverse;
    if (!mProjection.GetInverse(mInverse))
        return false;
    m_mProjection = mProjection;
    m_mInvProjection = mInverse;
    return true;
}

bool CVQViewport::SetPerspective(float fFovY, float fNear, float fFar)
{
    const float kPi = 3.14159265358979f;
    if (!(fFovY > 0.0f && fFovY < kPi && fNear > 0.0f && fFar > fNear) || !std::isfinite(fFar))
        return false;
    const float fAspect =
        m_oSize.GetHeight() > 0 ? static_cast<float>(m_oSize.GetWidth()) / static_cast<float>(m_oSize.GetHeight()) : 1.0f;
    if (!(fAspect > 0.0f))
        return false;
    const float f = 1.0f / std::tan(fFovY * 0.5f);
    CVQMatrix44 m;
    m.Set(0, 0, f / fAspect);
    m.Set(1, 1, f);
    m.Set(2, 2, (fFar + fNear) / (fNear - fFar));
    m.Set(2, 3, 2.0f * fFar * fNear / (fNear - fFar));
    m.Set(3, 2, -1.0f);
    m.Set(3, 3, 0.0f);
    return SetProjectionMatrix(m);
}

const CVQSize& CVQViewport::GetSize() const { return m_oSize; }

void CVQViewport::SetSize(const CVQSize& oSize) { m_oSize = oSize; }
