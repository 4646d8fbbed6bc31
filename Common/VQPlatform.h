#ifndef VQ_COMMON_PLATFORM_H
#define VQ_COMMON_PLATFORM_H

// Export marker of the host libraries and the terrain component. Every
// library is built with hidden visibility; a class marked VQ_API is exported
// whole (its vtable, typeinfo and every member).
#if defined(_WIN32)
#define VQ_API __declspec(dllexport)
#else
#define VQ_API __attribute__((visibility("default")))
#endif

#endif
