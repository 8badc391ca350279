#include "foundation/ConfigFile.h"

#include <system_error>

#include "foundation/FileUtil.h"

namespace nv {
namespace fs = std::filesystem;

namespace {

bool isManager(ConfigSide side) { return side == ConfigSide::Manager; }

NumberText readNumberText(const ProfileSnapshot& ini, const char* section, const char* key,
                          int fallback) {
    return NumberText::fromText(ini.readString(section, key, std::to_string(fallback)), fallback);
}

}  // namespace

std::optional<ConfigCharFormat> portDataSettings(int value) {
    switch (value) {
    case 0: return ConfigCharFormat{7, 'E', 1};
    case 1: return ConfigCharFormat{8, 'N', 1};
    default: return std::nullopt;
    }
}

std::optional<ConfigFlowControl> portFlowCtrl(int value) {
    switch (value) {
    case 0: return ConfigFlowControl::None;
    case 1: return ConfigFlowControl::RtsCts;
    case 2: return ConfigFlowControl::XonXoff;
    case 3: return ConfigFlowControl::Both;
    default: return std::nullopt;
    }
}

std::optional<ConfigCharFormat> tnppComSettings(int value) {
    switch (value) {
    case 0: return ConfigCharFormat{8, 'N', 1};
    case 1: return ConfigCharFormat{7, 'E', 1};
    default: return std::nullopt;
    }
}

std::optional<ConfigFlowControl> tnppHandShake(int value) {
    switch (value) {
    case 0: return ConfigFlowControl::RtsCts;
    case 1: return ConfigFlowControl::XonXoff;
    case 2: return ConfigFlowControl::Both;
    case 3: return ConfigFlowControl::None;
    default: return std::nullopt;
    }
}

// ---- Defaults: the two sides differ only where the member initialisers are
// overridden for the manager below.

GuiSection GuiSection::defaults(ConfigSide) { return {}; }

ServerSection ServerSection::defaults(ConfigSide) { return {}; }

NerivalePortSection NerivalePortSection::defaults(ConfigSide side) {
    NerivalePortSection s;
    if (isManager(side)) {
        s.ComSpeed = 6;
        s.DataSettings = 1;
        s.Length = 160;
    }
    return s;
}

BrevicorPortSection BrevicorPortSection::defaults(ConfigSide side) {
    BrevicorPortSection s;
    if (isManager(side)) s.ComPort = 0;
    return s;
}

TnppSection TnppSection::defaults(ConfigSide side) {
    TnppSection s;
    if (isManager(side)) {
        s.STXInit = false;
        s.TransparentCRC = false;
    }
    return s;
}

WctpSection WctpSection::defaults(ConfigSide) { return {}; }
ProxySection ProxySection::defaults(ConfigSide) { return {}; }
SmtpSection SmtpSection::defaults(ConfigSide) { return {}; }
SmsSection SmsSection::defaults(ConfigSide) { return {}; }

// ---- Reading one section out of one read of the file.

GuiSection GuiSection::from(const ProfileSnapshot& ini, ConfigSide side) {
    GuiSection s = defaults(side);
    s.Height = ini.readInteger(kSectionGui, "Height", s.Height);
    s.Width = ini.readInteger(kSectionGui, "Width", s.Width);
    return s;
}

ServerSection ServerSection::from(const ProfileSnapshot& ini, ConfigSide side) {
    ServerSection s = defaults(side);
    s.LogonName = ini.readString(kSectionServer, "LogonName", s.LogonName);
    s.Password = ini.readString(kSectionServer, "Password", s.Password);
    s.DefaultLogon = ini.readBool(kSectionServer, "DefaultLogon", s.DefaultLogon);
    return s;
}

NerivalePortSection NerivalePortSection::from(const ProfileSnapshot& ini, ConfigSide side) {
    const char* sec = kSectionNerivalePort;
    NerivalePortSection s = defaults(side);
    s.Enabled = ini.readBool(sec, "Enabled", s.Enabled);
    s.ComPort = ini.readInteger(sec, "ComPort", s.ComPort);
    s.ComSpeed = ini.readInteger(sec, "ComSpeed", s.ComSpeed);
    s.DataSettings = ini.readInteger(sec, "DataSettings", s.DataSettings);
    s.FlowCtrl = ini.readInteger(sec, "FlowCtrl", s.FlowCtrl);
    s.DeviceID = ini.readInteger(sec, "DeviceID", s.DeviceID);
    s.Length = readNumberText(ini, sec, "Length", s.Length.value);
    s.TruncateMsgs = ini.readBool(sec, "TruncateMsgs", s.TruncateMsgs);
    s.TimeOut = readNumberText(ini, sec, "TimeOut", s.TimeOut.value);
    return s;
}

BrevicorPortSection BrevicorPortSection::from(const ProfileSnapshot& ini, ConfigSide side) {
    const char* sec = kSectionBrevicorPort;
    BrevicorPortSection s = defaults(side);
    s.Enabled = ini.readBool(sec, "Enabled", s.Enabled);
    s.ComPort = ini.readInteger(sec, "ComPort", s.ComPort);
    s.DataSettings = ini.readInteger(sec, "DataSettings", s.DataSettings);
    s.FlowCtrl = ini.readInteger(sec, "FlowCtrl", s.FlowCtrl);
    s.ComSpeed = ini.readInteger(sec, "ComSpeed", s.ComSpeed);
    s.TimeOut = readNumberText(ini, sec, "TimeOut", s.TimeOut.value);
    return s;
}

TnppSection TnppSection::from(const ProfileSnapshot& ini, ConfigSide side) {
    const char* sec = kSectionTnpp;
    TnppSection s = defaults(side);
    s.EnableTNPP = ini.readBool(sec, "EnableTNPP", s.EnableTNPP);
    auto num = [&](const char* key, NumberText& field) {
        field = readNumberText(ini, sec, key, field.value);
    };
    num("SourceAddr", s.SourceAddr);
    num("DestAddr", s.DestAddr);
    num("Inertia", s.Inertia);
    num("BusyRtyTO", s.BusyRtyTO);
    num("IdelTO", s.IdelTO);
    num("RetryCount", s.RetryCount);
    num("KeepAliveTO", s.KeepAliveTO);
    num("IntCharTime", s.IntCharTime);
    num("RSHoldRetry", s.RSHoldRetry);
    num("RSHoldTime", s.RSHoldTime);
    num("ENQRetries", s.ENQRetries);
    num("ENQTO", s.ENQTO);
    s.UseCom = ini.readInteger(sec, "UseCom", s.UseCom);
    s.ComSettings = ini.readInteger(sec, "ComSettings", s.ComSettings);
    s.HandShake = ini.readInteger(sec, "HandShake", s.HandShake);
    s.ComSpeed = ini.readInteger(sec, "ComSpeed", s.ComSpeed);
    s.STXInit = ini.readBool(sec, "STXInit", s.STXInit);
    s.TransparentCRC = ini.readBool(sec, "TransparentCRC", s.TransparentCRC);
    return s;
}

WctpSection WctpSection::from(const ProfileSnapshot& ini, ConfigSide side) {
    const char* sec = kSectionWctp;
    WctpSection s = defaults(side);
    s.WCTPSenderID = ini.readString(sec, "WCTPSenderID", s.WCTPSenderID);
    s.WCTPMiscSenderInfo = ini.readString(sec, "WCTPMiscSenderInfo", s.WCTPMiscSenderInfo);
    s.WCTPFOBSSL = ini.readBool(sec, "WCTPFOBSSL", s.WCTPFOBSSL);
    s.WCTPDocType = ini.readString(sec, "WCTPDocType", s.WCTPDocType);
    return s;
}

ProxySection ProxySection::from(const ProfileSnapshot& ini, ConfigSide side) {
    const char* sec = kSectionProxy;
    ProxySection s = defaults(side);
    s.Enabled = ini.readBool(sec, "Enabled", s.Enabled);
    s.Server = ini.readString(sec, "Server", s.Server);
    s.User = ini.readString(sec, "User", s.User);
    s.Pass = ini.readString(sec, "Pass", s.Pass);
    return s;
}

SmtpSection SmtpSection::from(const ProfileSnapshot& ini, ConfigSide side) {
    const char* sec = kSectionSmtp;
    SmtpSection s = defaults(side);
    s.Enabled = ini.readBool(sec, "Enabled", s.Enabled);
    s.Server = ini.readString(sec, "Server", s.Server);
    s.Port = readNumberText(ini, sec, "Port", s.Port.value);
    s.User = ini.readString(sec, "User", s.User);
    s.Pass = ini.readString(sec, "Pass", s.Pass);
    s.Sender = ini.readString(sec, "Sender", s.Sender);
    s.UseSSL = ini.readBool(sec, "UseSSL", s.UseSSL);
    return s;
}

SmsSection SmsSection::from(const ProfileSnapshot& ini, ConfigSide side) {
    const char* sec = kSectionSms;
    SmsSection s = defaults(side);
    s.Enabled = ini.readBool(sec, "Enabled", s.Enabled);
    s.COMPort = ini.readInteger(sec, "COMPort", s.COMPort);
    s.COMSpeed = ini.readInteger(sec, "COMSpeed", s.COMSpeed);
    s.Mode = ini.readInteger(sec, "Mode", s.Mode);
    return s;
}

ConfigSet ConfigSet::defaults(ConfigSide side) { return from(ProfileSnapshot{}, side); }

ConfigSet ConfigSet::from(const ProfileSnapshot& ini, ConfigSide side) {
    ConfigSet c;
    c.gui = GuiSection::from(ini, side);
    c.server = ServerSection::from(ini, side);
    c.nerivalePort = NerivalePortSection::from(ini, side);
    c.brevicorPort = BrevicorPortSection::from(ini, side);
    c.tnpp = TnppSection::from(ini, side);
    c.wctp = WctpSection::from(ini, side);
    c.proxy = ProxySection::from(ini, side);
    c.smtp = SmtpSection::from(ini, side);
    c.sms = SmsSection::from(ini, side);
    return c;
}

// ---- The file.

fs::path ConfigFile::path() const {
    fs::path dir = m_file.parent_path().empty() ? fs::path(".") : m_file.parent_path();
    return resolveFileNoCase(dir, m_file.filename().string());
}

bool ConfigFile::exists() const {
    std::error_code ec;
    return fs::is_regular_file(path(), ec);
}

ProfileSnapshot ConfigFile::read() const { return ProfileSnapshot::load(path()); }

GuiSection ConfigFile::gui() const { return GuiSection::from(read(), m_side); }
ServerSection ConfigFile::server() const { return ServerSection::from(read(), m_side); }
NerivalePortSection ConfigFile::nerivalePort() const {
    return NerivalePortSection::from(read(), m_side);
}
BrevicorPortSection ConfigFile::brevicorPort() const {
    return BrevicorPortSection::from(read(), m_side);
}
TnppSection ConfigFile::tnpp() const { return TnppSection::from(read(), m_side); }
WctpSection ConfigFile::wctp() const { return WctpSection::from(read(), m_side); }
ProxySection ConfigFile::proxy() const { return ProxySection::from(read(), m_side); }
SmtpSection ConfigFile::smtp() const { return SmtpSection::from(read(), m_side); }
SmsSection ConfigFile::sms() const { return SmsSection::from(read(), m_side); }
ConfigSet ConfigFile::load() const { return ConfigSet::from(read(), m_side); }

namespace {

// The editor's writes, one section each, in the order the editor saves them.
class EditorWriter {
public:
    explicit EditorWriter(ProfileBatch& b) : m_b(b) {}

    void nerivalePort(const NerivalePortSection& np) {
        m_sec = kSectionNerivalePort;
        str("TimeOut", np.TimeOut.text);
        str("Length", np.Length.text);
        sw("TruncateMsgs", np.TruncateMsgs);
        sw("Enabled", true);  // always on; the editor has no box for it
        num("ComPort", np.ComPort);
        num("DataSettings", np.DataSettings);
        num("FlowCtrl", np.FlowCtrl);
        num("ComSpeed", np.ComSpeed);
    }
    void wctp(const WctpSection& w) {
        m_sec = kSectionWctp;
        str("WCTPSenderID", w.WCTPSenderID);
        str("WCTPDocType", w.WCTPDocType);
        str("WCTPMiscSenderInfo", w.WCTPMiscSenderInfo);
        sw("WCTPFOBSSL", w.WCTPFOBSSL);
    }
    void smtp(const SmtpSection& m) {
        m_sec = kSectionSmtp;
        str("Server", m.Server);
        str("Port", m.Port.text);
        str("User", m.User);
        str("Pass", m.Pass);
        sw("UseSSL", m.UseSSL);
        str("Sender", m.Sender);
        sw("Enabled", m.Enabled);
    }
    void brevicorPort(const BrevicorPortSection& bp) {
        m_sec = kSectionBrevicorPort;
        str("TimeOut", bp.TimeOut.text);
        sw("Enabled", bp.Enabled);
        num("ComPort", bp.ComPort);
        num("DataSettings", bp.DataSettings);
        num("FlowCtrl", bp.FlowCtrl);
        num("ComSpeed", bp.ComSpeed);
    }
    void tnpp(const TnppSection& t) {
        m_sec = kSectionTnpp;
        str("SourceAddr", t.SourceAddr.text);
        str("DestAddr", t.DestAddr.text);
        str("Inertia", t.Inertia.text);
        str("BusyRtyTO", t.BusyRtyTO.text);
        str("IdelTO", t.IdelTO.text);
        str("RetryCount", t.RetryCount.text);
        str("KeepAliveTO", t.KeepAliveTO.text);
        str("IntCharTime", t.IntCharTime.text);
        str("RSHoldRetry", t.RSHoldRetry.text);
        str("RSHoldTime", t.RSHoldTime.text);
        str("ENQRetries", t.ENQRetries.text);
        str("ENQTO", t.ENQTO.text);
        num("UseCom", t.UseCom);
        num("ComSettings", t.ComSettings);
        num("HandShake", t.HandShake);
        num("ComSpeed", t.ComSpeed);
        sw("STXInit", t.STXInit);
        sw("TransparentCRC", t.TransparentCRC);
        sw("EnableTNPP", t.EnableTNPP);
    }
    void proxy(const ProxySection& p) {
        m_sec = kSectionProxy;
        str("Server", p.Server);
        str("User", p.User);
        str("Pass", p.Pass);
        sw("Enabled", p.Enabled);
    }
    void sms(const SmsSection& s) {
        m_sec = kSectionSms;
        num("COMPort", s.COMPort);
        num("COMSpeed", s.COMSpeed);
        num("Mode", s.Mode);
        sw("Enabled", s.Enabled);
    }

private:
    void str(const char* key, const std::string& v) { m_b.writeString(m_sec, key, v); }
    void num(const char* key, int v) { m_b.writeInteger(m_sec, key, v); }
    void sw(const char* key, bool v) { m_b.writeBool(m_sec, key, v); }

    ProfileBatch& m_b;
    const char* m_sec = "";
};

}  // namespace

ProfileBatch ConfigFile::editorBatch(const ConfigSet& set) {
    ProfileBatch b;
    EditorWriter w(b);
    w.nerivalePort(set.nerivalePort);
    w.wctp(set.wctp);
    w.smtp(set.smtp);
    w.brevicorPort(set.brevicorPort);
    w.tnpp(set.tnpp);
    w.proxy(set.proxy);
    w.sms(set.sms);
    return b;
}

void ConfigFile::saveEditor(const ConfigSet& set) const {
    ProfileFile(path()).write(editorBatch(set));
}

void ConfigFile::saveServer(const ServerSection& server) const {
    ProfileBatch b;
    b.writeString(kSectionServer, "LogonName", server.LogonName);
    b.writeString(kSectionServer, "Password", server.Password);
    b.writeBool(kSectionServer, "DefaultLogon", server.DefaultLogon);
    ProfileFile(path()).write(b);
}

void ConfigFile::saveGui(const GuiSection& gui) const {
    ProfileBatch b;
    b.writeInteger(kSectionGui, "Height", gui.Height);
    b.writeInteger(kSectionGui, "Width", gui.Width);
    ProfileFile(path()).write(b);
}

}  // namespace nv
