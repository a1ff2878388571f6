// Per-thread last-error value, the system's own error codes and their texts.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

// Operations return bool (or -1) and leave the reason here. Platform failures
// leave errno values; the system's own codes have bit 29 set (0xE000xxxx) and
// carry the id of their string-table text in the low 16 bits.
std::uint32_t lastError();
void setLastError(std::uint32_t code);
// Copies errno into the last-error value (for failed POSIX calls).
void setLastErrorFromErrno();

constexpr std::uint32_t kCustomErrorBit = 0x20000000;
constexpr std::uint32_t customError(unsigned stringId) { return 0xE0000000u | stringId; }
constexpr bool isCustomError(std::uint32_t code) { return (code & kCustomErrorBit) != 0; }

constexpr std::uint32_t kErrorDataIncomplete = customError(105);   // "数据不完整。"
constexpr std::uint32_t kErrorHostUnknown = customError(115);      // "主机地址无法识别。"
constexpr std::uint32_t kErrorResourceNotReady = customError(136); // "资源没有准备好。"
constexpr std::uint32_t kErrorCodingUnsupported = customError(144); // "编码方式不支持"
constexpr std::uint32_t kErrorBadChunk = customError(145);          // "错误的块编码"
constexpr std::uint32_t kErrorNoResponseData = customError(165);    // "没有响应数据。"
constexpr std::uint32_t kErrorHeadTooLong = customError(400);       // "报文头过长。"

// Platform codes standing in for the Windows ones the design names.
constexpr std::uint32_t kErrorNotImplemented = ENOSYS; // E_NOTIMPL
constexpr std::uint32_t kErrorOutOfMemory = ENOMEM;    // ERROR_OUTOFMEMORY
constexpr std::uint32_t kErrorInvalidData = EBADMSG;   // ERROR_INVALID_DATA

// The message for an error code, UTF-8, in the program's language: the
// string-table text for the system's own codes, the system's message for
// others, else string 102.
std::string errorText(std::uint32_t code);
// The system's message for errno value `code` in the program's language;
// empty when the system has none.
std::string systemErrorText(int code);
