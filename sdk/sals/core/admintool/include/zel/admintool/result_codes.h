// Result codes of the library: int32, zero or positive is success, negative is failure.
// Positive results and negative codes that are not listed here come unchanged from the send
// path, from the AdminTool subsystem's reply, from the directory or from a local
// implementation.
#pragma once

#include <cstdint>

inline constexpr int32_t ZEL_S_OK = 0;
// The operation failed.
inline constexpr int32_t ZEL_E_FAIL = static_cast<int32_t>(0x80000001u);
// No request event, or no storage, could be obtained.
inline constexpr int32_t ZEL_E_NO_EVENT = static_cast<int32_t>(0x80000002u);
// An argument is invalid.
inline constexpr int32_t ZEL_E_INVALID_ARG = static_cast<int32_t>(0x80000003u);
// The reply ended before the fields the operation reads.
inline constexpr int32_t ZEL_E_SHORT_REPLY = static_cast<int32_t>(0x80060008u);
// The request could not be written.
inline constexpr int32_t ZEL_E_WRITE_FAILED = static_cast<int32_t>(0x80060009u);
// Directory codes the registry operations recognise: no such entry; no more values or matches.
inline constexpr int32_t ZEL_E_DIR_NOT_FOUND = static_cast<int32_t>(0x8006000Du);
inline constexpr int32_t ZEL_E_DIR_NO_MORE = static_cast<int32_t>(0x80060015u);
// A one-way event could not be handed over: the SAL object holds no event dispatcher.
inline constexpr int32_t ZEL_E_NO_DISPATCHER = static_cast<int32_t>(0x80060020u);
