#pragma once
// CIMD2 packets: STX "OO:NNN" TAB { "PPP:value" TAB } [checksum] ETX.
// Pure codec: no I/O, no clock. Client packet numbers are odd, 001..255.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nv::cimd2 {

enum Operation : int {
    kLogin = 1,
    kLogout = 2,
    kSubmit = 3,
    kEnquireStatus = 4,
    kAlive = 40,
    kLoginResp = 51,
    kLogoutResp = 52,
    kSubmitResp = 53,
    kEnquireStatusResp = 54,
    kAliveResp = 90,
    kGeneralErrorResp = 98,
    kNack = 99,
};

enum Param : int {
    kUserIdentity = 10,
    kPassword = 11,
    kDestinationAddress = 21,
    kUserData = 33,
    kServiceCentreTimeStamp = 60,
    kStatusCode = 61,
    kErrorCode = 900,
    kErrorText = 901,
};

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kTab = 0x09;

struct Packet {
    int operation = 0;
    int number = 0;
    std::vector<std::pair<int, std::string>> params;  // in packet order

    std::optional<std::string> param(int code) const;
};

// The whole packet, checksum included.
std::string encode(const Packet& packet);

// Sum of the bytes from STX up to the last TAB, modulo 256, as two upper-case hex digits.
std::string checksum(std::string_view fromStxToLastTab);

enum class Parse { Complete, NeedMore, Invalid };
// Takes one packet off the front of `buffer` (bytes before STX are dropped).
// A packet whose checksum is present and wrong, or whose operation, packet
// number or parameter code is not a number of at most three digits' value
// (0..999), is Invalid and removed.
Parse takePacket(std::string& buffer, Packet& out);

// Windows-1252 text to CIMD2 user data: the centre's default character set with
// its "_xx" combinations for characters outside plain ASCII; characters it
// cannot carry become '?', control characters a blank.
std::string encodeUserData(std::string_view text);

// CIMD2 status codes (parameter 061) mapped by meaning onto the SMPP message
// states the sender reports: 1 in process -> 1 (en route), 2 validity expired -> 3
// (expired), 3 delivery failed -> 5 (undeliverable), 4 delivered -> 2 (delivered),
// 5 no response yet -> 1 (en route, the centre retries), 6 last no response -> 5,
// 7 cancelled, 8 deleted, 9 deleted by cancel -> 4 (deleted); anything else -> 7 (unknown).
int statusToSmppState(int cimdStatus);

}  // namespace nv::cimd2
