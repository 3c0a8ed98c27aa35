// Export macro of the protocol component. Everything else stays hidden.
#pragma once

#if defined(_WIN32)
#if defined(ZEL_PROTOCOL_BUILDING)
#define ZEL_PROTOCOL_API __declspec(dllexport)
#else
#define ZEL_PROTOCOL_API __declspec(dllimport)
#endif
#else
#define ZEL_PROTOCOL_API __attribute__((visibility("default")))
#endif
