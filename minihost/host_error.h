// The one exception type of minihost. Anything that goes wrong outside the effect (a plug-in that
// does not load, a value refused by a parameter's range, a misuse of the host by a test) is thrown
// as a HostError whose message names what failed and where: the file, the parameter index and
// name, the suite. Errors the effect itself reports stay PF_Err results and are never thrown.
#pragma once

#include <stdexcept>
#include <string>

namespace minihost {

class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace minihost
