#pragma once
// The numbers of the WinInet-shaped layer: the last-error codes its calls set, with
// their names, and the transfer types they take. The codes and their names come from
// the same tables, so a code cannot be added without its name. They live in namespace
// wininet with the calls (modWinInet.h), away from the platform's own names.
//
//   ERROR_FILE_NOT_FOUND                 the local file to send is missing
//   ERROR_INVALID_HANDLE                 a stale, 0 or wrong kind of handle
//   ERROR_NO_MORE_FILES                  an empty folder, the end of a listing
//   ERROR_HANDLE_EOF                     an empty local file, which the session does not send
//   ERROR_INVALID_PARAMETER              a line break in a name; nothing was sent
//   ERROR_INTERNET_EXTENDED_ERROR        the server refused (4xx, 5xx): its reply says why
//   ERROR_INTERNET_OPERATION_CANCELLED   cut short by the thread's Cancellation
//   ERROR_INTERNET_SEC_*, _INVALID_CA,   a certificate, host key or secure channel refused
//   _SECURITY_CHANNEL_ERROR              (secureOptions.h has what each one stands for)

#include <cstdint>
#include <string_view>

#ifdef _WIN32
// winsock2.h brings windows.h with it; on its own, windows.h ahead of libcurl's header
// would come before the winsock2.h that one includes, which winsock2.h warns about.
#include <winsock2.h>
#endif

// The codes the platform's winerror.h has too, with the same numbers: there they are
// macros, which no declaration of the same name survives. Rather than fight the
// platform's header, the layer takes its definition where it has one (included above, so
// that the choice does not hang on which header came first) and checks that the number
// is the layer's; elsewhere the layer defines them where the platform would, outside its
// namespace. Either way a caller writes them unqualified, the same on every system.
// clang-format off
#define SKYLARK_WININET_SHARED_ERRORS(X)                 \
    X(ERROR_SUCCESS, 0)                                  \
    X(ERROR_FILE_NOT_FOUND, 2)                           \
    X(ERROR_INVALID_HANDLE, 6)                           \
    X(ERROR_NO_MORE_FILES, 18)                           \
    X(ERROR_HANDLE_EOF, 38)                              \
    X(ERROR_INVALID_PARAMETER, 87)                       \
    X(ERROR_INSUFFICIENT_BUFFER, 122)

// The layer's own codes, which wininet.h has (not included by windows.h).
#define SKYLARK_WININET_OWN_ERRORS(X)                    \
    X(ERROR_INTERNET_TIMEOUT, 12002)                     \
    X(ERROR_INTERNET_EXTENDED_ERROR, 12003)              \
    X(ERROR_INTERNET_INTERNAL_ERROR, 12004)              \
    X(ERROR_INTERNET_NAME_NOT_RESOLVED, 12007)           \
    X(ERROR_INTERNET_OPERATION_CANCELLED, 12017)         \
    X(ERROR_INTERNET_CANNOT_CONNECT, 12029)              \
    X(ERROR_INTERNET_CONNECTION_ABORTED, 12030)          \
    X(ERROR_INTERNET_SEC_CERT_DATE_INVALID, 12037)       \
    X(ERROR_INTERNET_SEC_CERT_CN_INVALID, 12038)         \
    X(ERROR_INTERNET_INVALID_CA, 12045)                  \
    X(ERROR_INTERNET_SECURITY_CHANNEL_ERROR, 12157)      \
    X(ERROR_INTERNET_SEC_INVALID_CERT, 12169)
// clang-format on

#define SKYLARK_WININET_ERROR_CONSTANT(name, value) constexpr std::uint32_t name = value;
#ifdef _WIN32
#define SKYLARK_WININET_PLATFORM_ERROR(name, value) static_assert((name) == (value));
SKYLARK_WININET_SHARED_ERRORS(SKYLARK_WININET_PLATFORM_ERROR)
#undef SKYLARK_WININET_PLATFORM_ERROR
#else
SKYLARK_WININET_SHARED_ERRORS(SKYLARK_WININET_ERROR_CONSTANT)
#endif

namespace wininet {

SKYLARK_WININET_OWN_ERRORS(SKYLARK_WININET_ERROR_CONSTANT)

// The constant's name of an error code ("ERROR_INTERNET_TIMEOUT"); empty when the
// layer has no such code.
constexpr std::string_view errorName(std::uint32_t code)
{
#define SKYLARK_WININET_ERROR_NAME(name, value)                                                                        \
    if (code == (value))                                                                                               \
        return #name;
    SKYLARK_WININET_SHARED_ERRORS(SKYLARK_WININET_ERROR_NAME)
    SKYLARK_WININET_OWN_ERRORS(SKYLARK_WININET_ERROR_NAME)
#undef SKYLARK_WININET_ERROR_NAME
    return {};
}

#undef SKYLARK_WININET_ERROR_CONSTANT

// Transfer types of FtpPutFileA.
constexpr std::int32_t FTP_TRANSFER_TYPE_ASCII = 1;
constexpr std::int32_t FTP_TRANSFER_TYPE_BINARY = 2;

} // namespace wininet
