#pragma once
// A run-time fault inside a handler: an operation that cannot be carried out (a tree
// key that is not there, a negative count, a file that cannot be opened). Handlers
// that guard their body catch it and show their one fixed message; the others let it
// end the handler, with what was done before it staying done.

#include <stdexcept>
#include <string>

class RuntimeFault : public std::runtime_error {
public:
    explicit RuntimeFault(const std::string& what) : std::runtime_error(what) {}
};
