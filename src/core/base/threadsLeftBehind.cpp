#include "core/base/threadsLeftBehind.h"

#include <atomic>

namespace {
std::atomic<bool> g_leftBehind{false};
} // namespace

void noteThreadLeftBehind()
{
    g_leftBehind = true;
}

bool anyThreadLeftBehind()
{
    return g_leftBehind;
}
