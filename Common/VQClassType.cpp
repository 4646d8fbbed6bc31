#include "Common/VQClassType.h"

const char* CVQClassType::GetName() const { return m_pName; }

const CVQClassType* CVQClassType::GetBase() const { return m_pBase; }

bool CVQClassType::IsDerivedFrom(const CVQClassType& type) const
{
    // Real hierarchies are a few levels deep; the bound only keeps two types
    // that were (wrongly) made each other's base from looping forever.
    const int kMaxDepth = 256;
    int depth = 0;
    for (const CVQClassType* p = this; p && depth < kMaxDepth; p = p->m_pBase, ++depth)
        if (p == &type)
            return true;
    return false;
}
