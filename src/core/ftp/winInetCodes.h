#pragma once
// The numbers of the WinInet-shaped layer: the last-error codes its calls set, with
// their names, and the transfer types they take. The codes and their names come from
// one table, so a code cannot be added without its name.
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

// clang-format off
#define SKYLARK_WININET_ERRORS(X)                        \
    X(ERROR_SUCCESS, 0)                                  \
    X(ERROR_FILE_NOT_FOUND, 2)                           \
    X(ERROR_INVALID_HANDLE, 6)                           \
    X(ERROR_NO_MORE_FILES, 18)                           \
    X(ERROR_HANDLE_EOF, 38)                              \
    X(ERROR_INVALID_PARAMETER, 87)                       \
    X(ERROR_INSUFFICIENT_BUFFER, 122)                    \
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
SKYLARK_WININET_ERRORS(SKYLARK_WININET_ERROR_CONSTANT)
#undef SKYLARK_WININET_ERROR_CONSTANT

// The constant's name of an error code ("ERROR_INTERNET_TIMEOUT"); empty when the
// layer has no such code.
constexpr std::string_view errorName(std::uint32_t code)
{
#define SKYLARK_WININET_ERROR_NAME(name, value)                                                                        \
    if (code == (value))                                                                                               \
        return #name;
    SKYLARK_WININET_ERRORS(SKYLARK_WININET_ERROR_NAME)
#undef SKYLARK_WININET_ERROR_NAME
    return {};
}

// Transfer types of FtpPutFileA.
constexpr std::int32_t FTP_TRANSFER_TYPE_ASCII = 1;
constexpr std::int32_t FTP_TRANSFER_TYPE_BINARY = 2;
