#ifndef VQ_COMMON_STRING_H
#define VQ_COMMON_STRING_H

#include "Common/VQPlatform.h"

#include <cstddef>
#include <string>

#if defined(__GNUC__)
#define VQ_PRINTF_FORMAT(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))
#else
#define VQ_PRINTF_FORMAT(fmtIndex, argIndex)
#endif

// The host's text value: a sequence of bytes (normally UTF-8 or ASCII names
// of files, shaders and resource attributes) without a terminator of its
// own. A null C string reads as the empty string. Comparisons are byte-wise
// and case-sensitive, so a CVQString can key an ordered map.
class VQ_API CVQString {
public:
    CVQString();
    CVQString(const char* text);  // null gives the empty string
    CVQString(const char* text, size_t length);
    CVQString(const CVQString& other);
    CVQString& operator=(const CVQString& other);
    CVQString& operator=(const char* text);
    ~CVQString();

    // Replaces the contents with the printf-style result. The output is not
    // truncated; a malformed format leaves the string empty.
    void Format(const char* format, ...) VQ_PRINTF_FORMAT(2, 3);

    // Zero-terminated text, valid until the string is next changed or dies.
    // Never null.
    const char* GetString() const;
    bool IsEmpty() const;
    // Length in bytes, without the terminator.
    size_t GetLength() const;
    void Empty();

    CVQString& operator+=(const CVQString& other);
    CVQString operator+(const CVQString& other) const;

    bool operator==(const CVQString& other) const;
    bool operator!=(const CVQString& other) const;
    bool operator<(const CVQString& other) const;

private:
    std::string m_oText;
};

#endif
