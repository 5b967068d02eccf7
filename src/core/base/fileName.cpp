#include "core/base/fileName.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace filename {

std::filesystem::path path(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::FILE* open(const std::string& utf8, const char* mode)
{
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path(utf8).c_str(), wideMode.c_str());
#else
    return std::fopen(utf8.c_str(), mode);
#endif
}

std::optional<std::string> forNarrowLibrary(const std::string& utf8)
{
#ifdef _WIN32
    // A Windows set to UTF-8 as its code page takes the name as it is (and refuses the
    // check for lost characters below).
    if (GetACP() == CP_UTF8)
        return utf8;
    const std::wstring wide = path(utf8).wstring();
    if (wide.empty())
        return std::string();
    BOOL lost = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, &lost);
    if (size <= 0 || lost)
        return std::nullopt;
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), narrow.data(), size,
                        nullptr, &lost);
    if (lost)
        return std::nullopt;
    return narrow;
#else
    return utf8;
#endif
}

} // namespace filename
