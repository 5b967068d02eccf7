#include "core/ftp/passingFailure.h"

using namespace wininet;

bool mayPass(const FtpFailure& failure)
{
    switch (failure.code) {
    case ERROR_INTERNET_EXTENDED_ERROR:
        return failure.reply.code >= 400 && failure.reply.code < 500;
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_HANDLE_EOF:
    case ERROR_INVALID_HANDLE: // no session: its connect failed or never ran
        return true;
    default:
        return false;
    }
}
