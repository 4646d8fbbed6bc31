#ifndef VQ_COMMON_CLASSTYPE_H
#define VQ_COMMON_CLASSTYPE_H

#include "Common/VQPlatform.h"

// Run-time identity of a class: its name and the type of its base class.
// Each class keeps exactly one static instance (`_s_oType`), and types are
// compared by address, so two classes with the same name are still
// different types.
//
// The constructor is constexpr: a static instance made from a string literal
// and the address of its base's instance is initialised before any code
// runs, so class types may be used from other static constructors in any
// library without an ordering problem.
class VQ_API CVQClassType {
public:
    // `name` must outlive the type (a string literal); `pBase` is null for a
    // root class.
    constexpr CVQClassType(const char* name, const CVQClassType* pBase) : m_pName(name ? name : ""), m_pBase(pBase) {}
    CVQClassType(const CVQClassType&) = delete;
    CVQClassType& operator=(const CVQClassType&) = delete;

    const char* GetName() const;
    // Null for a root class.
    const CVQClassType* GetBase() const;
    // True when `type` is this type or one of its bases (reflexive).
    bool IsDerivedFrom(const CVQClassType& type) const;

    bool operator==(const CVQClassType& other) const { return this == &other; }
    bool operator!=(const CVQClassType& other) const { return this != &other; }

private:
    const char* m_pName;
    const CVQClassType* m_pBase;
};

#endif
