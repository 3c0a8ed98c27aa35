// Export macro of the ZelAdminSal library. Everything without it stays inside the library.
#pragma once

#if defined(_WIN32)
#if defined(ZEL_ADMINSAL_BUILDING)
#define ZEL_ADMINSAL_API __declspec(dllexport)
#else
#define ZEL_ADMINSAL_API __declspec(dllimport)
#endif
#else
#define ZEL_ADMINSAL_API __attribute__((visibility("default")))
#endif
