// Preloaded into a test (LD_PRELOAD): a name lookup of any host under "hang.invalid"
// does not answer for ten seconds, like a resolver behind a dead DNS server; every other
// name goes to the system's resolver as usual.
#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

#include <cstring>

extern "C" {

// A test looks this up to know that the shim is in place.
int skylarkLookupsOfHangInvalidHang = 1;

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    constexpr const char* kHanging = "hang.invalid";
    const size_t length = node ? std::strlen(node) : 0;
    if (length >= std::strlen(kHanging) && std::strcmp(node + length - std::strlen(kHanging), kHanging) == 0) {
        sleep(10);
        return EAI_AGAIN;
    }
    using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return real(node, service, hints, result);
}
}
