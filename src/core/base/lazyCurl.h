#pragma once
// The program reaches libcurl through curl.h as usual; lazyCurl.cpp supplies those entry
// points and loads the library on the first call that needs it (curl_global_init alone
// does not). These two hooks are for tests.

namespace lazycurl {

// Whether libcurl has been loaded into the process yet.
bool loaded();

// Loads this file instead of libcurl.so.4; only before anything has loaded it.
void setLibraryNameForTesting(const char* name);

} // namespace lazycurl
