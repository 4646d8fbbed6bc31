#include "GameFramework/ResourceManagement/VQResource.h"

#include "Common/VQFileIO.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"

namespace {

const uint16_t kAttributeFormatVersion = 1;

const CVQProperty& EmptyProperty()
{
    static const CVQProperty s_oEmpty;
    return s_oEmpty;
}

bool ReadProperty(CFileIO& file, CVQProperty& value)
{
    char type = 0;
    if (!file.Read(type))
        return false;
    switch (type) {
    case CVQProperty::typeNone:
        value = CVQProperty();
        return true;
    case CVQProperty::typeFloat: {
        float f = 0.0f;
        if (!file.Read(f))
            return false;
        value = CVQProperty(f);
        return true;
    }
    case CVQProperty::typeInt: {
        int32_t n = 0;
        if (!file.Read(n))
            return false;
        value = CVQProperty(static_cast<int>(n));
        return true;
    }
    case CVQProperty::typeString: {
        CVQString text;
        if (!file.Read(text))
            return false;
        value = CVQProperty(text);
        return true;
    }
    default:
        return false;
    }
}

bool WriteProperty(CFileIO& file, const CVQProperty& value)
{
    const CVQProperty::eType type = value.GetPropertyType();
    bool ok = file.Write(static_cast<char>(type));
    switch (type) {
    case CVQProperty::typeFloat:
        ok = file.Write(value.GetFloat()) && ok;
        break;
    case CVQProperty::typeInt:
        ok = file.Write(static_cast<int32_t>(value.GetInt())) && ok;
        break;
    case CVQProperty::typeString:
        ok = file.Write(value.GetString()) && ok;
        break;
    default:
        break;
    }
    return ok;
}

} // namespace

const CVQClassType CVQResource::_s_oType("CVQResource", &CVQObject::_s_oType);

const CVQClassType& CVQResource::GetClassType() { return _s_oType; }

CVQResource::CVQResource() : m_pDatabase(nullptr) {}

CVQResource::CVQResource(const CVQResource& other)
    : CVQObject(other), m_oAttributes(other.m_oAttributes), m_pDatabase(nullptr)
{
}

CVQResource& CVQResource::operator=(const CVQResource& other)
{
    CVQObject::operator=(other);
    m_oAttributes = other.m_oAttributes;
    return *this;
}

CVQResource::~CVQResource()
{
    if (m_pDatabase)
        m_pDatabase->ForgetResource(this);
}

const CVQClassType& CVQResource::GetType() const { return _s_oType; }

bool CVQResource::IsOfType(const CVQClassType& type) const { return _s_oType.IsDerivedFrom(type); }

const CVQProperty& CVQResource::GetAttribute(const CVQString& name) const
{
    auto it = m_oAttributes.find(name);
    return it == m_oAttributes.end() ? EmptyProperty() : it->second;
}

bool CVQResource::HasAttribute(const CVQString& name) const { return m_oAttributes.count(name) != 0; }

const CVQProperty& CVQResource::operator[](const CVQString& name) const { return GetAttribute(name); }

void CVQResource::SetAttribute(const CVQString& name, const CVQProperty& value) { m_oAttributes[name] = value; }

bool CVQResource::RemoveAttribute(const CVQString& name) { return m_oAttributes.erase(name) != 0; }

int CVQResource::GetAttributeCount() const { return static_cast<int>(m_oAttributes.size()); }

bool CVQResource::Load(CFileIO* pFile)
{
    if (!pFile)
        return false;
    uint16_t version = 0;
    int32_t count = 0;
    if (!pFile->Read(version) || version != kAttributeFormatVersion || !pFile->Read(count) || count < 0 ||
        count > sm_nMaxAttributes)
        return false;
    // Read aside and swap in at the end: a broken block changes nothing.
    std::map<CVQString, CVQProperty> attributes;
    for (int32_t i = 0; i < count; ++i) {
        CVQString name;
        CVQProperty value;
        if (!pFile->Read(name) || !ReadProperty(*pFile, value))
            return false;
        attributes[name] = value;
    }
    m_oAttributes.swap(attributes);
    return true;
}

bool CVQResource::Save(CFileIO* pFile)
{
    if (!pFile)
        return false;
    bool ok = pFile->Write(kAttributeFormatVersion);
    ok = pFile->Write(static_cast<int32_t>(m_oAttributes.size())) && ok;
    for (const auto& entry : m_oAttributes) {
        ok = pFile->Write(entry.first) && ok;
        ok = WriteProperty(*pFile, entry.second) && ok;
    }
    return ok;
}
