// Export macro of the user SAL component.
#pragma once

#if defined(_WIN32)
#if defined(ZEL_USERSAL_BUILDING)
#define ZEL_USERSAL_API __declspec(dllexport)
#else
#define ZEL_USERSAL_API __declspec(dllimport)
#endif
#else
#define ZEL_USERSAL_API __attribute__((visibility("default")))
#endif
