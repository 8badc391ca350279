#pragma once
// What a WCTP carrier answers a submit, for the HTTP peer to give back.
namespace nv::test {

// Taken, with tracking number T42.
inline constexpr const char* kWctpClientSuccess =
    "<?xml version=\"1.0\"?><wctp-Operation wctpVersion=\"wctp-dtd-v1r1\"><wctp-SubmitClientResponse>"
    "<wctp-ClientSuccess successCode=\"200\" successText=\"Message Accepted\" trackingNumber=\"T42\"/>"
    "</wctp-SubmitClientResponse></wctp-Operation>";
// Refused: 401 Invalid PIN.
inline constexpr const char* kWctpFailure =
    "<?xml version=\"1.0\"?><wctp-Operation wctpVersion=\"wctp-dtd-v1r1\"><wctp-Failure errorCode=\"401\" "
    "errorText=\"Invalid PIN\"/></wctp-Operation>";

}  // namespace nv::test
