#pragma once
// Config.Dat: the sections, keys, codings and the two default sets.
//
// The manager writes the file, the service reads it: device sections at start,
// sending sections ([SMTP], [WCTP], [Proxy], [SMS] Enabled, [TNPP] DestAddr and
// Inertia) for every page, so each section load here reads the file again.
// Each program applies its own defaults to missing keys (ConfigSide); the two
// sets differ in places and both are kept, since they matter for a file the
// manager never saved.
//
// Texts are Windows-1252 bytes, as everywhere in the engine; the manager
// converts at its edge (utf8ToCp1252 turns what the code page lacks into '?').
//
// Field names are the key names. Several numbers are stored by the manager as
// the text of an edit box; those fields are NumberText: the text as stored (the
// editor shows it, blank included) and the value a number reader gets.
#include "foundation/SpeedIndex.h"
#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "foundation/ProfileFile.h"

namespace nv {

enum class ConfigSide { Service, Manager };

inline constexpr const char* kConfigFileName = "Config.Dat";

inline constexpr const char* kSectionGui = "GUI";
inline constexpr const char* kSectionServer = "Server";
inline constexpr const char* kSectionNerivalePort = "Nerivale Port";
inline constexpr const char* kSectionBrevicorPort = "Brevicor Port";
inline constexpr const char* kSectionTnpp = "TNPP";
inline constexpr const char* kSectionWctp = "WCTP";
inline constexpr const char* kSectionSmtp = "SMTP";
inline constexpr const char* kSectionProxy = "Proxy";
inline constexpr const char* kSectionSms = "SMS";

// System identifier of the published WCTP 1.1 DTD: the manager's default for
// [WCTP] WCTPDocType.
inline constexpr const char* kWctpDefaultDocType = "http://dtd.wctp.org/wctp-dtd-v1r1.dtd";

// A number stored as text. `value` is the integer of `text`, or the reader's
// default when the text is not a whole number (blank included). Built from an
// int, both agree.
struct NumberText {
    std::string text;
    int value = 0;

    NumberText() = default;
    NumberText(int n) : text(std::to_string(n)), value(n) {}  // NOLINT: plain numbers read naturally
    static NumberText fromText(std::string text, int fallback) {
        NumberText n;
        n.value = profileToInt(text, fallback);
        n.text = std::move(text);
        return n;
    }
};

// ---- Codings shared by the port keys ----

// Speed index and COM names: foundation/SpeedIndex.h.

struct ConfigCharFormat {
    int dataBits;
    char parity;  // 'N' or 'E'
    int stopBits;
    bool operator==(const ConfigCharFormat&) const = default;
};
enum class ConfigFlowControl { None, RtsCts, XonXoff, Both };

// A value outside a section's list gives nothing: the port keeps its own default.
// [Nerivale Port] and [Brevicor Port] DataSettings: 0 = 7,E,1, 1 = 8,N,1.
std::optional<ConfigCharFormat> portDataSettings(int value);
// [Nerivale Port] and [Brevicor Port] FlowCtrl: 0 none, 1 RTS/CTS, 2 XON/XOFF, 3 both.
std::optional<ConfigFlowControl> portFlowCtrl(int value);
// [TNPP] ComSettings: 0 = 8,N,1, 1 = 7,E,1.
std::optional<ConfigCharFormat> tnppComSettings(int value);
// [TNPP] HandShake: 0 RTS/CTS, 1 XON/XOFF, 2 both, 3 none.
std::optional<ConfigFlowControl> tnppHandShake(int value);

// ---- Sections ----
// defaults(side) is what a load of a file without the section gives;
// from(snapshot, side) reads the section out of one read of the file. The member
// initialisers are the service's defaults (the manager's for keys only the
// manager uses).

// [GUI]: the manager's main window size.
struct GuiSection {
    int Height = 338;
    int Width = 637;
    static GuiSection defaults(ConfigSide side);
    static GuiSection from(const ProfileSnapshot& ini, ConfigSide side);
};

// [Server]: the account the service is installed under (manager only).
struct ServerSection {
    std::string LogonName;
    std::string Password;  // plain text
    bool DefaultLogon = true;
    static ServerSection defaults(ConfigSide side);
    static ServerSection from(const ProfileSnapshot& ini, ConfigSide side);
};

// [Nerivale Port]: the inbound port.
struct NerivalePortSection {
    bool Enabled = false;  // the editor's save always writes 1; the manager never loads it
    int ComPort = 0;
    int ComSpeed = 3;
    int DataSettings = 0;
    int FlowCtrl = 1;
    int DeviceID = 0;  // service only; never written
    NumberText Length = 230;
    bool TruncateMsgs = false;
    NumberText TimeOut = 60;  // manager only
    static NerivalePortSection defaults(ConfigSide side);
    static NerivalePortSection from(const ProfileSnapshot& ini, ConfigSide side);
};

// [Brevicor Port]: the serial paging encoder port of the engine.
struct BrevicorPortSection {
    bool Enabled = false;
    int ComPort = 6;
    int DataSettings = 1;
    int FlowCtrl = 1;
    int ComSpeed = 6;
    NumberText TimeOut = 60;  // manager only
    static BrevicorPortSection defaults(ConfigSide side);
    static BrevicorPortSection from(const ProfileSnapshot& ini, ConfigSide side);
};

// [TNPP]: the TNPP link. Time-outs in seconds.
struct TnppSection {
    bool EnableTNPP = false;
    NumberText SourceAddr = 0;
    NumberText DestAddr = 0;
    NumberText Inertia = 3;
    NumberText BusyRtyTO = 60;
    NumberText IdelTO = 10;
    NumberText RetryCount = 6;
    NumberText KeepAliveTO = 60;
    NumberText IntCharTime = 2;
    NumberText RSHoldRetry = 24;
    NumberText RSHoldTime = 10;
    NumberText ENQRetries = 6;
    NumberText ENQTO = 10;
    int UseCom = 0;
    int ComSettings = 0;
    int HandShake = 0;
    int ComSpeed = 6;
    bool STXInit = true;
    bool TransparentCRC = true;
    static TnppSection defaults(ConfigSide side);
    static TnppSection from(const ProfileSnapshot& ini, ConfigSide side);
};

// [WCTP]: sender settings of WCTP pages.
struct WctpSection {
    std::string WCTPSenderID = "NOYB";
    std::string WCTPMiscSenderInfo;
    bool WCTPFOBSSL = true;
    std::string WCTPDocType = kWctpDefaultDocType;  // manager only
    static WctpSection defaults(ConfigSide side);
    static WctpSection from(const ProfileSnapshot& ini, ConfigSide side);
};

// [Proxy]: HTTP proxy of WCTP pages and the carrier list download.
struct ProxySection {
    bool Enabled = false;
    std::string Server;  // host or host:port
    std::string User;
    std::string Pass;  // plain text
    static ProxySection defaults(ConfigSide side);
    static ProxySection from(const ProfileSnapshot& ini, ConfigSide side);
};

// [SMTP]: e-mail pages.
struct SmtpSection {
    bool Enabled = false;
    std::string Server;  // empty: look up the recipient domain's mail exchangers
    NumberText Port = 25;  // a blank or non-numeric text gives 25
    std::string User;
    std::string Pass;  // plain text
    std::string Sender;
    bool UseSSL = false;
    static SmtpSection defaults(ConfigSide side);
    static SmtpSection from(const ProfileSnapshot& ini, ConfigSide side);
};

// [SMS]: the GSM modem. The service spells the port keys ComPort/ComSpeed; under
// the case rule they are the same keys.
struct SmsSection {
    bool Enabled = false;
    int COMPort = 0;
    int COMSpeed = 6;
    int Mode = 0;  // 0 text mode, 1 PDU mode
    static SmsSection defaults(ConfigSide side);
    static SmsSection from(const ProfileSnapshot& ini, ConfigSide side);
};

// Every section, as the manager loads it for the editor.
struct ConfigSet {
    GuiSection gui;
    ServerSection server;
    NerivalePortSection nerivalePort;
    BrevicorPortSection brevicorPort;
    TnppSection tnpp;
    WctpSection wctp;
    ProxySection proxy;
    SmtpSection smtp;
    SmsSection sms;
    static ConfigSet defaults(ConfigSide side);
    static ConfigSet from(const ProfileSnapshot& ini, ConfigSide side);
};

// Config.Dat by path, for one side. Holds no content: every load reads the file
// (an existing file spelt in another case, CONFIG.DAT, is found). Cheap enough
// to call per page.
class ConfigFile {
public:
    ConfigFile(std::filesystem::path file, ConfigSide side) : m_file(std::move(file)), m_side(side) {}
    static ConfigFile inDataDirectory(const std::filesystem::path& dataDir, ConfigSide side) {
        return ConfigFile(dataDir / kConfigFileName, side);
    }

    // The file as it is spelt on disk now (or the canonical name when missing).
    std::filesystem::path path() const;
    bool exists() const;
    ConfigSide side() const { return m_side; }

    GuiSection gui() const;
    ServerSection server() const;
    NerivalePortSection nerivalePort() const;
    BrevicorPortSection brevicorPort() const;
    TnppSection tnpp() const;
    WctpSection wctp() const;
    ProxySection proxy() const;
    SmtpSection smtp() const;
    SmsSection sms() const;
    ConfigSet load() const;

    // The editor's OK: every key of [Nerivale Port], [WCTP], [SMTP], [Brevicor
    // Port], [TNPP], [Proxy] and [SMS] in the editor's order, [Nerivale Port]
    // Enabled always 1, as one atomic write. [GUI] and [Server] are untouched.
    void saveEditor(const ConfigSet& set) const;
    // Install and Apply: [Server] LogonName, Password, DefaultLogon.
    void saveServer(const ServerSection& server) const;
    // Main window close: [GUI] Height, Width.
    void saveGui(const GuiSection& gui) const;
    // The writes saveEditor makes, in order (for callers that add to one batch).
    static ProfileBatch editorBatch(const ConfigSet& set);

private:
    ProfileSnapshot read() const;
    std::filesystem::path m_file;
    ConfigSide m_side;
};

}  // namespace nv
