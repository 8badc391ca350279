#pragma once
// The password-field cipher of the provider file. Output: a random seed byte,
// then one byte per input character, each as two upper-case hex digits; each
// byte chains on the one before, keyed by the repeating key text. Works on
// Windows-1252 bytes 1..255 (the record files hold ANSI text).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace nv {

enum TActionType { atEncryption, atDecryption };

class TZulEncryption {
public:
    static constexpr std::string_view kDefaultKey = "Kip Oru";

    std::string Input;
    std::string Output;
    std::string Key;  // empty: kDefaultKey
    TActionType Action = atEncryption;

    // Output := the transform of Input; an empty Input gives an empty Output.
    void Execute();
};

// The key of the provider password fields.
inline constexpr std::string_view kPasswordCipherKey = "31847702";

std::string CipherString(std::string_view s, bool encrypt);

// The encryption's seed comes from a per-thread source; tests inject a fixed one.
// An empty function restores the thread's own random generator.
using CipherSeedSource = std::function<std::uint8_t()>;
void setCipherSeedSource(CipherSeedSource source);

}  // namespace nv
