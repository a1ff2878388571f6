// The system's own error codes for HTTPS decryption (string-table ids).
#pragma once

#include "engine/Platform.h"

constexpr std::uint32_t kErrorClientDistrustsRoot = customError(601); // "客户端不信任根证书"
constexpr std::uint32_t kErrorOriginUntrusted = customError(602);     // chain not trusted
constexpr std::uint32_t kErrorOriginExpired = customError(603);       // outside its validity
constexpr std::uint32_t kErrorOriginNameMismatch = customError(604); // not for this host
constexpr std::uint32_t kErrorOriginCertificate = customError(605);  // any other fault
constexpr std::uint32_t kErrorOriginHandshake = customError(606);    // TLS with the origin
constexpr std::uint32_t kErrorClientHandshake = customError(607);    // TLS with the client
constexpr std::uint32_t kErrorRootCertificate = customError(608);    // our root unusable
constexpr std::uint32_t kErrorHostName = customError(609);           // no certificate for it
constexpr std::uint32_t kErrorCertutil = customError(610);           // certutil failed
constexpr std::uint32_t kErrorNoBrowser = customError(611);          // browser not installed
constexpr std::uint32_t kErrorClientNoHttp11 = customError(613);     // ALPN without http/1.1
