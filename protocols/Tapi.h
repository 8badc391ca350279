#pragma once
// Results of the modem-line calls: non-negative is success or a request ID,
// negative is a LINEERR code (0x80000000 + k). TapiCheck turns the codes into
// the operator's texts ("TAPI Line: LINEERR_INUSE").
#include <cstdint>
#include <stdexcept>
#include <string>

namespace nv {

// A failed line call, raised with its "TAPI Line: " text.
class TapiError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The error text of a negative code; empty for 0 and above.
std::string tapiErrorText(std::int32_t code);

// Code >= 0: false, nothing else. Code < 0: raises TapiError when `raise` is
// set, otherwise returns true and, when `buffer` is given, leaves the text in it.
bool TapiCheck(std::int32_t code, bool raise = true, std::string* buffer = nullptr);

}  // namespace nv
