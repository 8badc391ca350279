#pragma once
// The five record kinds as raw byte images. A record is kept as the exact bytes
// of the file so that reserved bytes and bytes no field covers survive every
// rewrite; the accessors read and write at the fixed offsets. Getter: the field
// name (`CompanyName()`); setter: `setCompanyName(...)`; offset: `kCompanyNameOffset`.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/DataFile.h"

namespace nv {

// What the readers, writers and the upgrade need to know about a kind.
struct RecordKind {
    std::string_view recName;           // "ProviderRec": the name the upgrade is told
    std::string_view fileName;          // canonical spelling in the data directory
    std::string_view version;           // current version text
    std::size_t size;                   // current record size
    std::size_t filePosOffset;
    std::size_t deletedOffset;
    std::string_view incompatibleText;  // readers' refusal of a newer file
};

template <std::size_t N>
struct RecordImage {
    static constexpr std::size_t kSize = N;
    std::array<std::uint8_t, N> bytes{};

    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }

protected:
    std::string text(std::size_t off, std::size_t n) const { return getTextField(data(), off, n); }
    void setText(std::size_t off, std::size_t n, std::string_view v) { putTextField(data(), off, n, v); }
    std::uint8_t byte(std::size_t off) const { return bytes[off]; }
    void setByte(std::size_t off, std::uint8_t v) { bytes[off] = v; }
    std::int16_t i16(std::size_t off) const { return getInt16(data(), off); }
    void setI16(std::size_t off, std::int16_t v) { putInt16(data(), off, v); }
    std::int32_t i32(std::size_t off) const { return getInt32(data(), off); }
    void setI32(std::size_t off, std::int32_t v) { putInt32(data(), off, v); }
    double f64(std::size_t off) const { return getDouble(data(), off); }
    void setF64(std::size_t off, double v) { putDouble(data(), off, v); }
};

#define NV_REC_TEXT(Name, Off, Len)                                          \
    static constexpr std::size_t k##Name##Offset = Off;                      \
    static constexpr std::size_t k##Name##Length = Len;                      \
    std::string Name() const { return text(Off, Len); }                      \
    void set##Name(std::string_view v) { setText(Off, Len, v); }
// Flags: readers take any non-zero byte as on; writers store 1.
#define NV_REC_FLAG(Name, Off)                                               \
    static constexpr std::size_t k##Name##Offset = Off;                      \
    bool Name() const { return byte(Off) != 0; }                             \
    void set##Name(bool v) { setByte(Off, v ? 1 : 0); }
#define NV_REC_BYTE(Name, Off)                                               \
    static constexpr std::size_t k##Name##Offset = Off;                      \
    std::uint8_t Name() const { return byte(Off); }                          \
    void set##Name(std::uint8_t v) { setByte(Off, v); }
#define NV_REC_INT16(Name, Off)                                              \
    static constexpr std::size_t k##Name##Offset = Off;                      \
    std::int16_t Name() const { return i16(Off); }                           \
    void set##Name(std::int16_t v) { setI16(Off, v); }
// Also the switches (kSwitchOn 0 / kSwitchOff -1): the senders pass other values on as SSL modes.
#define NV_REC_INT32(Name, Off)                                              \
    static constexpr std::size_t k##Name##Offset = Off;                      \
    std::int32_t Name() const { return i32(Off); }                           \
    void set##Name(std::int32_t v) { setI32(Off, v); }
#define NV_REC_TIME(Name, Off)                                               \
    static constexpr std::size_t k##Name##Offset = Off;                      \
    double Name() const { return f64(Off); }                                 \
    void set##Name(double v) { setF64(Off, v); }

// A new record is all zero except FilePos, which is -1 until the record is stored.
#define NV_REC_COMMON(Type)                                                  \
    Type() { setFilePos(-1); }                                               \
    static Type fromBytes(const std::uint8_t* raw) {                         \
        Type r;                                                              \
        std::copy(raw, raw + kSize, r.bytes.begin());                        \
        return r;                                                            \
    }

// One paging carrier; Provider.dat.
struct ProviderRec : RecordImage<2871> {
    static constexpr RecordKind kKind{"ProviderRec", "Provider.dat", "QXDB 7.6", kSize, 702, 706,
                                      "Provider Data File Not Compatiple With This Version!"};
    NV_REC_COMMON(ProviderRec)
    NV_REC_TEXT(CompanyName, 0, 35)
    NV_REC_TEXT(TerminalAccessNum, 36, 35)
    NV_REC_TEXT(Password, 72, 65)            // ciphered on disk
    NV_REC_TIME(DateAdded, 138)
    NV_REC_INT32(PageCount, 146)
    NV_REC_TIME(LastAccess, 150)
    NV_REC_TEXT(Notes, 158, 255)
    NV_REC_FLAG(NoQueue, 414)
    NV_REC_FLAG(TwoWay, 415)
    NV_REC_FLAG(Ping, 416)
    NV_REC_FLAG(Cove, 417)
    NV_REC_FLAG(HoldUntil, 418)
    NV_REC_FLAG(Level, 419)
    NV_REC_INT32(MsgLength, 420)
    NV_REC_BYTE(ETAP, 428)                   // 0 "NONE", 1 "Nextel SMS", 2 "Aldiscon SMS"
    NV_REC_TEXT(SNPPServer, 429, 255)
    NV_REC_TEXT(SNPPPort, 685, 15)
    NV_REC_FLAG(LegacySnpp, 701)
    NV_REC_INT32(FilePos, 702)
    NV_REC_FLAG(Deleted, 706)
    NV_REC_BYTE(ComPort, 707)
    NV_REC_BYTE(ComSpeed, 708)
    NV_REC_BYTE(ComData, 709)                // 0 "7,E,1", 1 "8,N,1"
    NV_REC_BYTE(ComFlow, 710)
    NV_REC_FLAG(LegacyDirect, 711)
    NV_REC_FLAG(LegacyWctp, 712)
    NV_REC_TEXT(WCTPServer, 713, 255)
    NV_REC_TEXT(WCTPPort, 969, 15)
    NV_REC_FLAG(WCTPNotifyWhenQueued, 985)
    NV_REC_FLAG(WCTPNotifyWhenDelivered, 986)
    NV_REC_FLAG(WCTPNotifyWhenRead, 987)
    NV_REC_TEXT(WCTPDocType, 988, 255)
    NV_REC_TEXT(SNPPUser, 1244, 35)
    NV_REC_TEXT(SNPPPass, 1280, 65)
    NV_REC_TEXT(ReservedText1346, 1346, 255)
    NV_REC_TEXT(ReservedCipherText, 1602, 65)  // ciphered on disk like Password
    NV_REC_FLAG(LegacyType6, 1683)
    NV_REC_TEXT(Coverage, 1684, 35)
    NV_REC_BYTE(FSComPort, 1720)
    NV_REC_BYTE(FSComSpeed, 1721)
    NV_REC_BYTE(FSComData, 1722)             // 0 "7,E,1", 1 "8,N,1", 2 "8,N,2"
    NV_REC_BYTE(FSComFlow, 1723)
    NV_REC_FLAG(LegacyFleetSync, 1724)
    NV_REC_TEXT(WCTPUser, 1725, 35)
    NV_REC_TEXT(WCTPPass, 1761, 65)
    NV_REC_INT32(MaxMsgsPerCall, 1827)
    NV_REC_BYTE(Reserved1831, 1831)
    NV_REC_BYTE(SmsComPort, 1832)
    NV_REC_BYTE(Reserved1833, 1833)
    NV_REC_FLAG(SmsPduMode, 1834)
    NV_REC_TEXT(SMSServiceProvider, 1835, 35)
    NV_REC_FLAG(LegacySms, 1871)
    NV_REC_TIME(LastUpdate, 1872)            // since 7.1
    NV_REC_TEXT(SNPPCallerID, 1880, 65)      // since 7.2
    NV_REC_TEXT(CarrierName, 1946, 50)       // 1946..2505 since 7.3
    NV_REC_TEXT(Conatct, 1997, 50)
    NV_REC_TEXT(Address, 2048, 50)
    NV_REC_TEXT(City, 2099, 50)
    NV_REC_TEXT(State, 2150, 25)
    NV_REC_TEXT(Zip, 2176, 10)
    NV_REC_TEXT(Phone, 2187, 15)
    NV_REC_TEXT(SupportEMail, 2203, 75)
    NV_REC_TEXT(SalesEMail, 2279, 75)
    NV_REC_TEXT(WebSite, 2355, 150)
    NV_REC_BYTE(DeliveryType, 2506)          // since 7.4
    NV_REC_INT32(Reserved2507, 2507)         // since 7.5
    NV_REC_TEXT(TapOverIPAddr, 2511, 20)     // 2511..2870 since 7.6
    NV_REC_TEXT(TapOverIPPort, 2532, 10)
    NV_REC_INT32(SNPPSecure, 2543)           // switch
    NV_REC_TEXT(SMPPUserName, 2547, 25)
    NV_REC_TEXT(SMPPPassword, 2573, 25)
    NV_REC_INT32(SMPPProtocol, 2599)         // 0 SMPP, 1 CIMD2
    NV_REC_INT32(Reserved2603, 2603)
    NV_REC_TEXT(SMPPServer, 2607, 255)
    NV_REC_INT32(SMPPort, 2863)
    NV_REC_INT32(SMPPSecureMode, 2867)       // switch
};
static_assert(ProviderRec::kKind.filePosOffset == ProviderRec::kFilePosOffset &&
              ProviderRec::kKind.deletedOffset == ProviderRec::kDeletedOffset);
static_assert(sizeof(ProviderRec) == 2871);
static_assert(ProviderRec::kSMPPSecureModeOffset + 4 == ProviderRec::kSize);

// Delivery types (ProviderRec.DeliveryType).
enum DeliveryTypeValue : std::uint8_t {
    dtTapDirect = 0,
    dtTapModem = 1,
    dtSnpp = 2,
    dtWctp = 3,
    dtSmsModem = 4,
    dtFleetSync = 5,  // only from the upgrade of old files
    dtType6 = 6,      // only from the upgrade of old files
    dtTnpp = 7,
    dtEPage = 8,
    dtBrevicor = 9,
    dtEPageSubject = 10,
    dtTapOverIp = 11,
    dtSmpp = 12,
};

// One modem, direct serial or TNPP port; Ports.dat.
struct PortRec : RecordImage<776> {
    static constexpr RecordKind kKind{"PortRec", "Ports.dat", "QXDB 7.1", kSize, 588, 587,
                                      "Port Data File Not Compatiple With This Version!"};
    NV_REC_COMMON(PortRec)
    NV_REC_TEXT(Name, 0, 65)
    NV_REC_INT16(TapiDevice, 322)
    NV_REC_TEXT(Modem, 324, 255)
    NV_REC_INT32(PortThread, 580)
    NV_REC_FLAG(PortEnabled, 584)
    NV_REC_BYTE(Direction, 586)              // 0 inbound, 1 outbound
    NV_REC_FLAG(Deleted, 587)
    NV_REC_INT32(FilePos, 588)
    NV_REC_TEXT(DirectGroupName, 592, 35)
    NV_REC_FLAG(IsDirect, 628)
    NV_REC_BYTE(ComPort, 629)
    NV_REC_BYTE(ComSpeed, 630)
    NV_REC_BYTE(ComFlow, 631)
    NV_REC_BYTE(ComData, 632)                // 0 "7,E,1", 1 "8,N,1", 2 "8,N,2"
    NV_REC_TEXT(DialPrefix, 633, 15)
    // 649..775 since 7.1
    NV_REC_BYTE(TNPPCom, 717)
    NV_REC_BYTE(TNPPComSettings, 718)        // 0 "8,N,1", 1 "7,E,1"
    NV_REC_BYTE(TNPPHandShake, 719)          // 0 "RTS/CTS", 1 "Xon/Xoff", 2 "Both", 3 "None"
    NV_REC_BYTE(TNPPComSpeed, 720)
    NV_REC_INT32(BusyRtyTO, 721)
    NV_REC_INT32(ENQRetries, 729)
    NV_REC_INT32(ENQTO, 733)
    NV_REC_INT32(IdelTO, 737)
    NV_REC_INT32(RetryCount, 741)
    NV_REC_INT32(IntCharTime, 745)
    NV_REC_INT32(KeepAliveTO, 749)
    NV_REC_INT32(RSHoldRetry, 753)
    NV_REC_INT32(RSHoldTime, 757)
    NV_REC_INT32(SourceAddr, 761)
    NV_REC_FLAG(STXInit, 765)
    NV_REC_FLAG(IsTnpp, 766)
};
static_assert(PortRec::kKind.filePosOffset == PortRec::kFilePosOffset &&
              PortRec::kKind.deletedOffset == PortRec::kDeletedOffset);
static_assert(sizeof(PortRec) == 776);

// One route from a PIN prefix to a primary and a secondary provider; NpaNxxRoute.dat.
struct RouteRec : RecordImage<443> {
    static constexpr RecordKind kKind{"RouteRec", "NpaNxxRoute.dat", "QXDB 1.1", kSize, 427, 431,
                                      "Route Data File Not Compatiple With This Version!"};
    NV_REC_COMMON(RouteRec)
    NV_REC_TEXT(RouteName, 0, 35)
    NV_REC_TEXT(NPANXX, 36, 15)
    NV_REC_TEXT(Provider, 52, 35)
    NV_REC_TEXT(SecProvider, 88, 35)
    NV_REC_TEXT(Eddr, 124, 150)
    NV_REC_TEXT(SecEddr, 275, 150)
    NV_REC_FLAG(Enabled, 426)
    NV_REC_INT32(FilePos, 427)
    NV_REC_FLAG(Deleted, 431)
    NV_REC_TIME(LastUpdate, 432)
    NV_REC_FLAG(RemoveRoutePrefix, 440)      // 440..442 since 1.1
    NV_REC_FLAG(PlacePinInSubPri, 441)
    NV_REC_FLAG(PlacePinInSubSec, 442)
};
static_assert(RouteRec::kKind.filePosOffset == RouteRec::kFilePosOffset &&
              RouteRec::kKind.deletedOffset == RouteRec::kDeletedOffset);
static_assert(sizeof(RouteRec) == 443);

// One recipient; every page carries one, built in memory. Users.dat has no reader.
struct UserRec : RecordImage<1124> {
    static constexpr RecordKind kKind{"UserRec", "Users.dat", "QXDB 7.2", kSize, 414, 418, ""};
    NV_REC_COMMON(UserRec)
    NV_REC_TEXT(UserID, 0, 35)
    NV_REC_TEXT(ProviderName, 36, 35)
    NV_REC_FLAG(ReverseOrder, 371)
    NV_REC_TEXT(SecProviderName, 373, 35)
    NV_REC_FLAG(NumericOnly, 409)
    NV_REC_INT32(FilePos, 414)
    NV_REC_FLAG(Deleted, 418)
    NV_REC_TEXT(PIN, 704, 75)
    NV_REC_TEXT(SecPIN, 780, 75)
    NV_REC_INT32(Priority, 1120)             // since 7.2; 1112..1119 since 7.1
};
static_assert(UserRec::kKind.filePosOffset == UserRec::kFilePosOffset &&
              UserRec::kKind.deletedOffset == UserRec::kDeletedOffset);
static_assert(sizeof(UserRec) == 1124);

// Groups.dat has no reader; only the upgrade knows it.
struct GroupRec : RecordImage<361> {
    static constexpr RecordKind kKind{"GroupRec", "Groups.dat", "QXDB 7.1", kSize, 50, 54, ""};
    NV_REC_COMMON(GroupRec)
    NV_REC_INT32(FilePos, 50)
    NV_REC_FLAG(Deleted, 54)                 // 353..360 since 7.1
};
static_assert(GroupRec::kKind.filePosOffset == GroupRec::kFilePosOffset &&
              GroupRec::kKind.deletedOffset == GroupRec::kDeletedOffset);
static_assert(sizeof(GroupRec) == 361);

#undef NV_REC_TEXT
#undef NV_REC_FLAG
#undef NV_REC_BYTE
#undef NV_REC_INT16
#undef NV_REC_INT32
#undef NV_REC_TIME
#undef NV_REC_COMMON

// The kind of a record-kind word ("ProviderRec" ...), exact case; nothing for another word.
const RecordKind* findRecordKind(std::string_view recName);

}  // namespace nv
