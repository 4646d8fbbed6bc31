#ifndef VQ_COMMON_PROPERTY_H
#define VQ_COMMON_PROPERTY_H

#include "Common/VQPlatform.h"
#include "Common/VQString.h"

#include <cstdint>

// One value of a resource attribute: empty, a float, a 32-bit integer or a
// string. Every getter converts from whatever the value holds, so a caller
// reading a missing attribute (an empty property) gets 0, 0.0 or "" and goes
// on:
//
//   held      GetFloat          GetInt                    GetString
//   empty     0.0               0                         ""
//   float     the value         truncated toward zero,    "%g" of the value
//                               clamped to int32, NaN 0
//   int       the value         the value                 decimal
//   string    leading number    leading integer (base 10) the text
//             (strtof), else 0  else 0, clamped to int32
class VQ_API CVQProperty {
public:
    enum eType {
        typeNone = 0,
        typeFloat = 1,
        typeInt = 2,
        typeString = 3,
    };

    CVQProperty();
    CVQProperty(float value);
    CVQProperty(int value);
    CVQProperty(const char* value);
    CVQProperty(const CVQString& value);
    CVQProperty(const CVQProperty& other);
    CVQProperty& operator=(const CVQProperty& other);
    ~CVQProperty();

    eType GetPropertyType() const;

    float GetFloat() const;
    int GetInt() const;
    CVQString GetString() const;

    operator float() const;
    operator long() const;
    // Lets an int parameter take a property directly; without it a property
    // handed to an int would be ambiguous between float and long.
    operator int() const;
    operator CVQString() const;

    bool operator==(const CVQProperty& other) const;
    bool operator!=(const CVQProperty& other) const;

private:
    eType m_eType;
    float m_fValue;
    int32_t m_nValue;
    CVQString m_oValue;
};

#endif
