// Export macro of the directory component.
#pragma once

#if defined(_WIN32)
#if defined(ZEL_DIRECTORY_BUILDING)
#define ZEL_DIRECTORY_API __declspec(dllexport)
#else
#define ZEL_DIRECTORY_API __declspec(dllimport)
#endif
#else
#define ZEL_DIRECTORY_API __attribute__((visibility("default")))
#endif
