#pragma once
// Skylark from its command line to its end, the one way it starts: main() is this, and
// the start-up benchmark runs it with `whenShown` quitting at the first turn of the
// event loop after the window appeared. Returns the exit status.

#include <functional>

int runSkylark(int argc, char** argv, const std::function<void()>& whenShown = {});
