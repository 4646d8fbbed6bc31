#ifndef VQ_COMMON_CLASSTYPEREGISTRATION_H
#define VQ_COMMON_CLASSTYPEREGISTRATION_H

#include "Common/VQPlatform.h"

#include <cstddef>

class CVQClassType;

// Makes a class type known to the host by its name for as long as the
// registration object lives. A library keeps one static registration per
// class it offers, so the host can find the type of a class it never linked
// against, and the type disappears again when the library is unloaded:
//
//   static CVQClassTypeRegistration s_oTypeReg(CVQTerrainRes::GetClassType());
//
// Class types themselves are constant-initialised and cannot register
// themselves; that is why the registration is an object of its own.
//
// Only one type per name is registered: a second one is reported
// ("a class name has one type") and stays unregistered. Registration is
// safe from any thread and from static constructors and destructors of any
// library (a registration destroyed after the host's list at exit finds
// nothing to remove).
class VQ_API CVQClassTypeRegistration {
public:
    // `type` must outlive the registration (it is a static of the class).
    explicit CVQClassTypeRegistration(const CVQClassType& type);
    ~CVQClassTypeRegistration();
    CVQClassTypeRegistration(const CVQClassTypeRegistration&) = delete;
    CVQClassTypeRegistration& operator=(const CVQClassTypeRegistration&) = delete;

    bool IsRegistered() const;

    // The registered type of that name, or null (also for a null name).
    static const CVQClassType* Find(const char* className);
    // Number of registered types.
    static size_t GetCount();

private:
    const CVQClassType& m_oType;
    bool m_bRegistered;
};

#endif
