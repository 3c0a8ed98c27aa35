// Export macro of the trace device component.
#pragma once

#if defined(_WIN32)
#if defined(ZEL_TRACEDEV_BUILDING)
#define ZEL_TRACEDEV_API __declspec(dllexport)
#else
#define ZEL_TRACEDEV_API __declspec(dllimport)
#endif
#else
#define ZEL_TRACEDEV_API __attribute__((visibility("default")))
#endif
