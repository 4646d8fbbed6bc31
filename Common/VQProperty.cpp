#include "Common/VQProperty.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

int32_t ClampToInt32(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT32_MAX))
        return INT32_MAX;
    if (value <= static_cast<double>(INT32_MIN))
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

} // namespace

CVQProperty::CVQProperty() : m_eType(typeNone), m_fValue(0.0f), m_nValue(0) {}

CVQProperty::CVQProperty(float value) : m_eType(typeFloat), m_fValue(value), m_nValue(0) {}

CVQProperty::CVQProperty(int value) : m_eType(typeInt), m_fValue(0.0f), m_nValue(value) {}

CVQProperty::CVQProperty(const char* value) : m_eType(typeString), m_fValue(0.0f), m_nValue(0), m_oValue(value) {}

CVQProperty::CVQProperty(const CVQString& value) : m_eType(typeString), m_fValue(0.0f), m_nValue(0), m_oValue(value) {}

CVQProperty::CVQProperty(const CVQProperty& other)
    : m_eType(other.m_eType), m_fValue(other.m_fValue), m_nValue(other.m_nValue), m_oValue(other.m_oValue)
{
}

CVQProperty& CVQProperty::operator=(const CVQProperty& other)
{
    m_eType = other.m_eType;
    m_fValue = other.m_fValue;
    m_nValue = other.m_nValue;
    m_oValue = other.m_oValue;
    return *this;
}

CVQProperty::~CVQProperty() {}

CVQProperty::eType CVQProperty::GetPropertyType() const { return m_eType; }

float CVQProperty::GetFloat() const
{
    switch (m_eType) {
    case typeFloat:
        return m_fValue;
    case typeInt:
        return static_cast<float>(m_nValue);
    case typeString:
        return std::strtof(m_oValue.GetString(), nullptr);
    default:
        return 0.0f;
    }
}

int CVQProperty::GetInt() const
{
    switch (m_eType) {
    case typeFloat:
        return ClampToInt32(m_fValue);
    case typeInt:
        return m_nValue;
    case typeString: {
        const long long value = std::strtoll(m_oValue.GetString(), nullptr, 10);
        return ClampToInt32(static_cast<double>(value));
    }
    default:
        return 0;
    }
}

CVQString CVQProperty::GetString() const
{
    CVQString text;
    switch (m_eType) {
    case typeFloat:
        text.Format("%g", static_cast<double>(m_fValue));
        break;
    case typeInt:
        text.Format("%d", static_cast<int>(m_nValue));
        break;
    case typeString:
        text = m_oValue;
        break;
    default:
        break;
    }
    return text;
}

CVQProperty::operator float() const { return GetFloat(); }

CVQProperty::operator long() const { return GetInt(); }

CVQProperty::operator int() const { return GetInt(); }

CVQProperty::operator CVQString() const { return GetString(); }

bool CVQProperty::operator==(const CVQProperty& other) const
{
    if (m_eType != other.m_eType)
        return false;
    switch (m_eType) {
    case typeFloat:
        return m_fValue == other.m_fValue;
    case typeInt:
        return m_nValue == other.m_nValue;
    case typeString:
        return m_oValue == other.m_oValue;
    default:
        return true;
    }
}

bool CVQProperty::operator!=(const CVQProperty& other) const { return !(*this == other); }
