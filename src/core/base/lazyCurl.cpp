// libcurl, loaded on first use instead of at program start.
//
// libcurl brings some twenty-five libraries of its own (TLS, Kerberos, LDAP, SSH, ...),
// and the dynamic loader maps and relocates every one of them before main() runs: that
// alone made the window take about a third longer to appear. Nothing about the window
// needs libcurl until the first connection, so the program links these entry points
// instead, and the first call that needs the library loads it.
//
// Each function here has the signature curl.h declares. An entry point the FTP layer
// starts to use must be added to the table below, or the program does not link.

#include "core/base/lazyCurl.h"

#include <curl/curl.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

#define SKYLARK_CURL_ENTRY_POINTS(X)                                                                                   \
    X(curl_global_init)                                                                                                \
    X(curl_global_cleanup)                                                                                             \
    X(curl_easy_init)                                                                                                  \
    X(curl_easy_setopt)                                                                                                \
    X(curl_easy_perform)                                                                                               \
    X(curl_easy_cleanup)                                                                                               \
    X(curl_easy_getinfo)                                                                                               \
    X(curl_easy_reset)                                                                                                 \
    X(curl_easy_strerror)                                                                                              \
    X(curl_slist_append)                                                                                               \
    X(curl_slist_free_all)                                                                                             \
    X(curl_free)                                                                                                       \
    X(curl_version)                                                                                                    \
    X(curl_version_info)

struct Api {
// NOLINTNEXTLINE(bugprone-macro-parentheses): a declaration's name cannot be parenthesised
#define SKYLARK_CURL_POINTER(name) decltype(&::name) name = nullptr;
    SKYLARK_CURL_ENTRY_POINTS(SKYLARK_CURL_POINTER)
#undef SKYLARK_CURL_POINTER
};

// The one platform call of this file: open the library, look up an entry point. Null
// from openLibrary() leaves the reason in *why.
#ifdef _WIN32
// The DLL travels beside skylark.exe and is opened by its full path there: a bare name
// would be searched for in the working folder and along PATH too, where another
// program's libcurl (or a planted one) could be found first.
const char* g_libraryName = "libcurl-4.dll";

void* openLibrary(const char* name, std::string* why)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            *why = "the program's own path is unknown (error " + std::to_string(GetLastError()) + ")";
            return nullptr;
        }
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    path.resize(path.find_last_of(L"\\/") + 1);
    for (const char* c = name; *c; ++c)
        path += static_cast<wchar_t>(static_cast<unsigned char>(*c)); // the names are ASCII
    HMODULE library = LoadLibraryW(path.c_str());
    if (!library)
        *why = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(library);
}

void* entryPoint(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
#else
// The soname has stayed libcurl.so.4 since 2006; libcurl keeps its ABI within it.
const char* g_libraryName = "libcurl.so.4";

void* openLibrary(const char* name, std::string* why)
{
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        *why = dlerror();
    return library;
}

void* entryPoint(void* library, const char* name)
{
    return dlsym(library, name);
}
#endif

std::once_flag g_loadOnce;
std::atomic<const Api*> g_api{nullptr};

// curl_global_init calls made before the library was there, replayed when it is loaded,
// so the library sees the same init and cleanup pairs the program made.
std::mutex g_initMutex;
int g_pendingInits = 0;
long g_initFlags = CURL_GLOBAL_DEFAULT;

void load()
{
    std::string why;
    void* library = openLibrary(g_libraryName, &why);
    if (!library) {
        std::fprintf(stderr, "libcurl could not be loaded: %s\n", why.c_str());
        return;
    }
    static Api api;
    bool complete = true;
#define SKYLARK_CURL_RESOLVE(name)                                                                                     \
    api.name = reinterpret_cast<decltype(&::name)>(entryPoint(library, #name));                                        \
    complete = complete && api.name;
    SKYLARK_CURL_ENTRY_POINTS(SKYLARK_CURL_RESOLVE)
#undef SKYLARK_CURL_RESOLVE
    if (!complete) {
        std::fprintf(stderr, "%s lacks entry points this program uses\n", g_libraryName);
        return;
    }
    const std::lock_guard lock(g_initMutex);
    for (; g_pendingInits > 0; --g_pendingInits)
        api.curl_global_init(g_initFlags);
    g_api = &api;
}

// The loaded library, or nullptr when it cannot be loaded (said once on stderr); the
// callers then answer as libcurl does when it cannot do its work.
const Api* api()
{
    if (const Api* a = g_api.load(std::memory_order_acquire))
        return a;
    std::call_once(g_loadOnce, load);
    return g_api.load(std::memory_order_acquire);
}

// What hands something back to the library never loads it: whatever it hands back came
// from the library, so when nothing is loaded there is nothing to free.
const Api* loadedApi()
{
    return g_api.load(std::memory_order_acquire);
}

} // namespace

namespace lazycurl {

bool loaded()
{
    return g_api.load() != nullptr;
}

void setLibraryNameForTesting(const char* name)
{
    g_libraryName = name;
}

} // namespace lazycurl

// The global init only records what was asked; the library does the work when it arrives.
CURLcode curl_global_init(long flags)
{
    const std::lock_guard lock(g_initMutex);
    if (const Api* a = g_api.load())
        return a->curl_global_init(flags);
    ++g_pendingInits;
    g_initFlags = flags;
    return CURLE_OK;
}

void curl_global_cleanup()
{
    const std::lock_guard lock(g_initMutex);
    if (const Api* a = g_api.load())
        a->curl_global_cleanup();
    else if (g_pendingInits > 0)
        --g_pendingInits;
}

CURL* curl_easy_init()
{
    const Api* a = api();
    return a ? a->curl_easy_init() : nullptr;
}

// The value's type follows from the option's number range, as libcurl itself reads it.
CURLcode curl_easy_setopt(CURL* curl, CURLoption option, ...)
{
    const Api* a = api();
    if (!a)
        return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, option);
    CURLcode rc;
    // long and curl_off_t are one type on some platforms, not on all: the branch that
    // looks like a clone of the off_t one is not.
    if (option < CURLOPTTYPE_OBJECTPOINT)
        rc = a->curl_easy_setopt(curl, option, va_arg(args, long)); // NOLINT(bugprone-branch-clone)
    else if (option >= CURLOPTTYPE_FUNCTIONPOINT && option < CURLOPTTYPE_OFF_T)
        rc = a->curl_easy_setopt(curl, option, va_arg(args, void (*)()));
    else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB)
        rc = a->curl_easy_setopt(curl, option, va_arg(args, curl_off_t));
    else // objects and blobs both travel as pointers
        rc = a->curl_easy_setopt(curl, option, va_arg(args, void*));
    va_end(args);
    return rc;
}

CURLcode curl_easy_perform(CURL* curl)
{
    const Api* a = api();
    return a ? a->curl_easy_perform(curl) : CURLE_FAILED_INIT;
}

void curl_easy_cleanup(CURL* curl)
{
    if (const Api* a = loadedApi())
        a->curl_easy_cleanup(curl);
}

// Every piece of information is handed back through one pointer.
CURLcode curl_easy_getinfo(CURL* curl, CURLINFO info, ...)
{
    const Api* a = api();
    if (!a)
        return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, info);
    void* out = va_arg(args, void*);
    va_end(args);
    return a->curl_easy_getinfo(curl, info, out);
}

void curl_easy_reset(CURL* curl)
{
    if (const Api* a = loadedApi())
        a->curl_easy_reset(curl);
}

const char* curl_easy_strerror(CURLcode code)
{
    const Api* a = api();
    return a ? a->curl_easy_strerror(code) : "libcurl could not be loaded";
}

curl_slist* curl_slist_append(curl_slist* list, const char* data)
{
    const Api* a = api();
    return a ? a->curl_slist_append(list, data) : nullptr;
}

void curl_slist_free_all(curl_slist* list)
{
    if (const Api* a = loadedApi())
        a->curl_slist_free_all(list);
}

void curl_free(void* p)
{
    if (const Api* a = loadedApi())
        a->curl_free(p);
}

char* curl_version()
{
    const Api* a = api();
    return a ? a->curl_version() : nullptr;
}

curl_version_info_data* curl_version_info(CURLversion age)
{
    const Api* a = api();
    return a ? a->curl_version_info(age) : nullptr;
}
