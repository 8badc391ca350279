#pragma once
// GSM SMS wire format with no I/O: the SMS-SUBMIT PDU in hex, GSM 7-bit packing,
// the default alphabet for Windows-1252 text, and the checks on phone numbers.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace nv {

inline constexpr const char* kErrPduTooLong = "Input string greater than 160 characters!";
inline constexpr const char* kErrPdu8Bit = "Input string contains 8-bit data!";

// Raised by the codec; its text is what the sender puts after "Error Sending Message: ".
class GsmPduError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::size_t kMaxSeptets = 160;
inline constexpr char kGsmEscape = 0x1B;

// Windows-1252 text -> septets of the GSM 7-bit default alphabet (one byte per
// septet, each 0..127). Characters the alphabet holds elsewhere ("@", "$", "_",
// accented letters) are moved to their position; "[]{}\^~|" and the euro sign
// become ESC + their extension code. Anything else raises kErrPdu8Bit.
std::string gsmSeptetsFromText(std::string_view text);

// Septets one Windows-1252 character takes: 2 for the escaped ones, else 1
// (also for characters the alphabet lacks, which the encoder refuses).
std::size_t gsmSeptetCount(char c);

// Packs septets (values 0..127) into ceiling(7n/8) octets, first septet in the
// low bits. More than 160 septets raise kErrPduTooLong, a value above 0x7F
// raises kErrPdu8Bit.
std::string PackSeptets(std::string_view septets);

// The same into a caller's buffer of at least packedSize(n) bytes; writes exactly
// packedSize(n) bytes and returns that count. outSize too small raises
// std::length_error before anything is written.
std::size_t PackSeptets(std::string_view septets, unsigned char* out, std::size_t outSize);

constexpr std::size_t packedSize(std::size_t septets) { return (septets * 7 + 7) / 8; }

// "+" then digits, or digits alone; 1 to 20 digits. Nothing else may reach an
// AT command or a PDU.
bool isValidSmsNumber(std::string_view number);

// Digits in semi-octet order: each pair swapped, an odd last digit as "F" + digit.
std::string semiOctets(std::string_view digits);

// Upper-case hex SMS-SUBMIT of `text` (Windows-1252) to `address` through the
// service centre `smsCenter` (empty: the modem's own). Invalid numbers raise
// std::invalid_argument; the text raises GsmPduError as gsmSeptetsFromText and
// PackSeptets do.
std::string EncodeSubmitPDU(std::string_view smsCenter, std::string_view address,
                            std::string_view text);

// The length AT+CMGS wants: octets of the PDU without the service-centre part,
// whose octet count is the first two characters (0 when they are not hex).
int submitPduLength(std::string_view pduHex);

}  // namespace nv
