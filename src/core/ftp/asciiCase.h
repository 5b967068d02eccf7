#pragma once
// Protocol words (a URL scheme, a month in a listing) compared without regard to ASCII
// case: servers and operators do not keep to one case, and the locale must not decide.

#include <algorithm>
#include <cctype>
#include <string_view>

inline bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}
