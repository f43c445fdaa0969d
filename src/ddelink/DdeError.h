#pragma once

// The exception of DDE failures and the texts of the DDE library's error
// codes. Every EDdeError carries the text of one error code, read once from
// the instance (reading the code resets it).

#include <cstdint>

#include <QString>

#include "platform/Exception.h"

namespace orvane {

class EDdeError : public Exception {
public:
    using Exception::Exception;
};

// The text of a DDE error code (only its low 16 bits count):
// "No error found." for 0, "Error code not in list of error values." for an
// unknown code.
QString DdeErrorText(std::uint32_t errorCode);

} // namespace orvane
