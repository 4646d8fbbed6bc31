#include "Common/VQString.h"

#include <cstdarg>
#include <cstdio>

CVQString::CVQString() {}

CVQString::CVQString(const char* text) : m_oText(text ? text : "") {}

CVQString::CVQString(const char* text, size_t length) : m_oText(text ? std::string(text, length) : std::string()) {}

CVQString::CVQString(const CVQString& other) : m_oText(other.m_oText) {}

CVQString& CVQString::operator=(const CVQString& other)
{
    m_oText = other.m_oText;
    return *this;
}

CVQString& CVQString::operator=(const char* text)
{
    m_oText = text ? text : "";
    return *this;
}

CVQString::~CVQString() {}

void CVQString::Format(const char* format, ...)
{
    m_oText.clear();
    if (!format)
        return;
    va_list args;
    va_start(args, format);
    va_list argsCopy;
    va_copy(argsCopy, args);
    // First pass measures, second writes: the result is never cut short.
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), format, argsCopy);
        text.resize(static_cast<size_t>(length));
        m_oText.swap(text);
    }
    va_end(argsCopy);
}

const char* CVQString::GetString() const { return m_oText.c_str(); }

bool CVQString::IsEmpty() const { return m_oText.empty(); }

size_t CVQString::GetLength() const { return m_oText.size(); }

void CVQString::Empty() { m_oText.clear(); }

CVQString& CVQString::operator+=(const CVQString& other)
{
    m_oText += other.m_oText;
    return *this;
}

CVQString CVQString::operator+(const CVQString& other) const
{
    CVQString result(*this);
    result += other;
    return result;
}

bool CVQString::operator==(const CVQString& other) const { return m_oText == other.m_oText; }

bool CVQString::operator!=(const CVQString& other) const { return m_oText != other.m_oText; }

bool CVQString::operator<(const CVQString& other) const { return m_oText < other.m_oText; }
