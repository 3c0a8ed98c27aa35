// Export macro of the host runtime library. Everything else stays hidden.
#pragma once

#if defined(_WIN32)
#if defined(ZEL_RUNTIME_BUILDING)
#define ZEL_RUNTIME_API __declspec(dllexport)
#else
#define ZEL_RUNTIME_API __declspec(dllimport)
#endif
#else
#define ZEL_RUNTIME_API __attribute__((visibility("default")))
#endif
