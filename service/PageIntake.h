#pragma once
// The pure parts of the intake: the built-in providers and the page record.
#include <memory>
#include <string>
#include <string_view>

#include "foundation/PageRecord.h"
#include "foundation/Records.h"

namespace nv {

inline constexpr const char* kBuiltinTnpp = "TNPP";
inline constexpr const char* kBuiltinBrevicor = "Brevicor";
inline constexpr const char* kBuiltinEPage = "E-Page";

// The record of a built-in provider, matched exactly (case and length); null for
// any other name. The record is zeroed with FilePos -1: it never goes to
// Provider.dat. E-Page takes its type from the route's PlacePinInSubPri, for the
// secondary as well, and `mailAddress` (Eddr or SecEddr) as its server text.
std::unique_ptr<ProviderRec> builtinProvider(const std::string& name, const RouteRec& route,
                                             const std::string& mailAddress);

// A PIN the gateway takes: not empty, no longer than the recipient record's PIN
// field (a longer one would be cut and could reach another pager), and without
// control characters (NUL, CR, LF, ...). The encoder line refuses any other
// with "03", the intake with a log line.
inline constexpr std::size_t kMaxPinLength = UserRec::kPINLength;
bool isAcceptablePin(std::string_view pin);
// How much of a refused PIN its log line shows.
inline constexpr std::size_t kPinShownInLog = 20;

// The PIN a route delivers to: without its first NPANXX-length characters when
// the route removes its prefix.
std::string routedPin(const std::string& pin, const RouteRec& route);

// The page record with its recipient. The primary's message limit becomes the
// message length, so the primary gets the page in one piece.
PageRecordPtr buildIntakePage(std::unique_ptr<ProviderRec> primary, std::unique_ptr<ProviderRec> secondary,
                              const std::string& routedPin, const std::string& msg, std::string rawBlock);

}  // namespace nv
