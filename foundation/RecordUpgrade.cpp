#include "foundation/RecordUpgrade.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataFile.h"
#include "foundation/FileUtil.h"
#include "foundation/Records.h"

namespace nv {
namespace fs = std::filesystem;

namespace {

constexpr const char* kConfirmTitle = "Confirm";
constexpr const char* kInfoTitle = "Information";
constexpr const char* kErrorTitle = "Error";

bool below(std::string_view version, std::string_view step) { return compareVersion(version, step) < 0; }

// Defaults of the fields each version step added, applied oldest step first.
void userDefaults(std::uint8_t* raw, std::string_view v) {
    UserRec r = UserRec::fromBytes(raw);
    if (below(v, "QXDB 7.1")) std::memset(r.data() + 1112, 0, 8);
    if (below(v, "QXDB 7.2")) r.setPriority(5);
    std::memcpy(raw, r.data(), r.kSize);
}

void groupDefaults(std::uint8_t* raw, std::string_view v) {
    if (below(v, "QXDB 7.1")) std::memset(raw + 353, 0, 8);
}

// Before 7.4 the method was a set of flags; in this order the last one set wins.
std::uint8_t deliveryTypeFromLegacyFlags(const ProviderRec& r) {
    std::uint8_t type = dtTapModem;
    if (r.LegacyType6()) type = dtType6;
    if (r.LegacySnpp()) type = dtSnpp;
    if (r.LegacyWctp()) type = dtWctp;
    if (r.LegacyFleetSync()) type = dtFleetSync;
    if (r.LegacySms()) type = dtSmsModem;
    if (r.LegacyDirect()) type = dtTapDirect;
    return type;
}

void providerDefaults(std::uint8_t* raw, std::string_view v) {
    ProviderRec r = ProviderRec::fromBytes(raw);
    if (below(v, "QXDB 7.1")) r.setLastUpdate(0);
    if (below(v, "QXDB 7.2")) r.setSNPPCallerID("");
    if (below(v, "QXDB 7.3")) {
        r.setCarrierName("");
        r.setConatct("");
        r.setAddress("");
        r.setCity("");
        r.setState("");
        r.setZip("");
        r.setPhone("");
        r.setSupportEMail("");
        r.setSalesEMail("");
        r.setWebSite("http://");
    }
    if (below(v, "QXDB 7.4")) r.setDeliveryType(deliveryTypeFromLegacyFlags(r));
    if (below(v, "QXDB 7.5")) r.setReserved2507(0);
    if (below(v, "QXDB 7.6")) {
        r.setTapOverIPAddr("");
        r.setTapOverIPPort("443");
        r.setSNPPSecure(kSwitchOff);
        r.setSMPPUserName("");
        r.setSMPPPassword("");
        r.setSMPPProtocol(0);
        r.setReserved2603(0);
        r.setSMPPServer("");
        r.setSMPPort(2775);
        r.setSMPPSecureMode(kSwitchOff);
    }
    std::memcpy(raw, r.data(), r.kSize);
}

void routeDefaults(std::uint8_t* raw, std::string_view v) {
    RouteRec r = RouteRec::fromBytes(raw);
    if (below(v, "QXDB 1.1")) {
        r.setRemoveRoutePrefix(false);
        r.setPlacePinInSubPri(false);
        r.setPlacePinInSubSec(false);
    }
    std::memcpy(raw, r.data(), r.kSize);
}

void portDefaults(std::uint8_t* raw, std::string_view v) {
    PortRec r = PortRec::fromBytes(raw);
    if (below(v, "QXDB 7.1")) {
        r.data()[649] = 0;  // two reserved texts, emptied
        r.data()[700] = 0;
        r.data()[716] = 0;
        r.setTNPPCom(0);
        r.setTNPPComSettings(0);
        r.setTNPPHandShake(0);
        r.setTNPPComSpeed(6);
        r.setBusyRtyTO(60);
        putInt32(r.data(), 725, 0);
        r.setENQRetries(6);
        r.setENQTO(10);
        r.setIdelTO(10);
        r.setRetryCount(6);
        r.setIntCharTime(2);
        r.setKeepAliveTO(60);
        r.setRSHoldRetry(24);
        r.setRSHoldTime(10);
        r.setSourceAddr(0);
        r.setSTXInit(false);
        r.setIsTnpp(false);
        r.data()[767] = 0;
        putInt32(r.data(), 768, 0);
        putInt32(r.data(), 772, 3);
    }
    std::memcpy(raw, r.data(), r.kSize);
}

struct UpgradeKind {
    const RecordKind* kind;
    std::array<std::size_t, 7> knownSizes;  // RecordSize of every version, the current one too; 0: unused
    std::string_view oldest;            // below this: not converted, only discarded
    std::string_view convertedBackup;
    std::string_view discardedBackup;
    std::string_view question;
    std::string_view updatedText;
    std::string_view dbName;            // for our own failure reports
    void (*applyDefaults)(std::uint8_t* rec, std::string_view oldVersion);
};

const UpgradeKind kUpgradeKinds[] = {
    {&UserRec::kKind, {kUserSize70, kUserSize71, UserRec::kSize}, "QXDB 7.0", "User.bak", "cUser.bak",
     "User DB Incompatible! Delete Data?", "User Database Updated To QXDB 7.2", "User DB", userDefaults},
    {&GroupRec::kKind, {kGroupSize70, GroupRec::kSize}, "QXDB 7.0", "Group.bak", "cGroup.bak",
     "Group DB Incompatible! Delete Data?", "Group Database Updated To QXDB 7.1", "Group DB", groupDefaults},
    {&ProviderRec::kKind,
     {kProviderSize70, kProviderSize71, kProviderSize72, kProviderSize73, kProviderSize74, kProviderSize75,
      ProviderRec::kSize},
     "QXDB 7.0", "Provider.bak", "cProvider.bak", "Provider DB Incompatible! Delete Data?",
     "Provider Database Updated To QXDB 7.6", "Provider DB", providerDefaults},
    {&RouteRec::kKind, {kRouteSize10, RouteRec::kSize}, "QXDB 1.0", "Route.bak", "Route.bak",
     "Route Record DB Incompatible! Delete Data?", "Routing Database Updated To QXDB 1.1", "Route Record DB",
     routeDefaults},
    {&PortRec::kKind, {kPortSize70, PortRec::kSize}, "QXDB 7.0", "Port.bak", "cPort.bak",
     "Port DB Incompatible! Delete Data?", "Ports Updated To QXDB 7.1", "Port DB", portDefaults},
};

// A file the upgrade cannot step through: older than the oldest convertible
// version, or an older file whose RecordSize is none of the kind's sizes. The
// latter used to be trusted: RecordSize 1 made every byte a record, so a 1 MiB
// file asked for gigabytes.
bool notConvertible(const UpgradeKind& uk, const DataFileHeader& header) {
    const std::string version = header.VersionText();
    if (compareVersion(version, uk.oldest) < 0) return true;
    if (compareVersion(version, uk.kind->version) >= 0) return false;
    const std::int32_t size = header.RecordSize();
    for (std::size_t known : uk.knownSizes)
        if (size > 0 && static_cast<std::size_t>(size) == known) return false;
    return true;
}

const UpgradeKind* findUpgradeKind(std::string_view recName) {
    for (const auto& k : kUpgradeKinds)
        if (k.kind->recName == recName) return &k;
    return nullptr;
}

// The live records of the old file, each widened to the current size with the
// added fields defaulted, packed behind a new header. A partial last record is dropped.
std::string convert(const UpgradeKind& uk, const std::string& old, std::size_t oldSize,
                    std::string_view oldVersion) {
    const RecordKind& kind = *uk.kind;
    auto header = DataFileHeader::make(static_cast<std::int32_t>(kind.size), kind.version);
    std::string out(reinterpret_cast<const char*>(header.bytes.data()), kHeaderSize);
    std::vector<std::uint8_t> rec(kind.size);
    for (std::size_t off = kHeaderSize; off + oldSize <= old.size(); off += oldSize) {
        std::fill(rec.begin(), rec.end(), 0);
        std::memcpy(rec.data(), old.data() + off, oldSize);
        if (rec[kind.deletedOffset] != 0) continue;
        uk.applyDefaults(rec.data(), oldVersion);
        putInt32(rec.data(), kind.filePosOffset, static_cast<std::int32_t>(out.size()));
        rec[kind.deletedOffset] = 0;
        out.append(reinterpret_cast<const char*>(rec.data()), rec.size());
    }
    return out;
}

bool readAll(const LockedDataFile& file, std::string& out) {
    std::int64_t size = file.size();
    if (size < 0) return false;
    out.assign(static_cast<std::size_t>(size), '\0');
    return file.readAt(0, out.data(), out.size());
}

// Too old or too odd to convert: offered for discarding. The question is asked without the
// lock held (the service must never be kept from its files by an open question);
// the file is checked again before it is moved.
UpgradeResult offerDiscard(const UpgradeKind& uk, const fs::path& path, UserPrompt& prompt) {
    if (!prompt.askYesNo(kConfirmTitle, std::string(uk.question))) return UpgradeResult::Declined;
    auto file = LockedDataFile::open(path, LockedDataFile::Access::Write);
    if (!file) return UpgradeResult::NothingToDo;
    auto header = file->header();
    if (!header || !notConvertible(uk, *header)) return UpgradeResult::NothingToDo;
    fs::path backup = resolveFileNoCase(path.parent_path(), uk.discardedBackup);
    if (std::rename(path.c_str(), backup.c_str()) != 0) {
        std::string why = std::strerror(errno);
        file.reset();
        prompt.error(kErrorTitle, std::string(uk.dbName) + " Not Moved To " + backup.string() + ": " + why);
        return UpgradeResult::Failed;
    }
    file.reset();
    if (uk.kind == &UserRec::kKind) prompt.inform(kInfoTitle, path.string() + "\r\r" + backup.string());
    return UpgradeResult::Discarded;
}

}  // namespace

UpgradeResult UpdateRecordFile(std::string_view recName, const fs::path& fileName, UserPrompt& prompt) {
    const UpgradeKind* uk = findUpgradeKind(recName);
    if (!uk) return UpgradeResult::NothingToDo;
    auto existing = findFileNoCase(fileName.parent_path().empty() ? fs::path(".") : fileName.parent_path(),
                                   fileName.filename().string());
    if (!existing) return UpgradeResult::NothingToDo;
    const fs::path path = *existing;
    auto file = LockedDataFile::open(path, LockedDataFile::Access::Write);
    if (!file) return UpgradeResult::NothingToDo;
    auto header = file->header();
    if (!header) return UpgradeResult::NothingToDo;
    // Checked with the lock held: another program may have upgraded it meanwhile.
    const std::string oldVersion = header->VersionText();
    if (compareVersion(oldVersion, uk->kind->version) >= 0) return UpgradeResult::NothingToDo;
    if (notConvertible(*uk, *header)) {
        file.reset();
        return offerDiscard(*uk, path, prompt);
    }
    const std::int32_t oldSize = header->RecordSize();
    std::string old;
    std::string failure;
    if (!readAll(*file, old)) {
        failure = std::string(uk->dbName) + " Not Updated! Cannot Read " + path.string();
    } else {
        std::string converted = convert(*uk, old, static_cast<std::size_t>(oldSize), oldVersion);
        // The new file and the backup belong to whoever owned the old one: an
        // operator's file upgraded by the service running as root stays the
        // operator's, so the manager can still save it.
        struct stat st {};
        FileOwnership owner;
        if (::fstat(file->fd(), &st) == 0) owner = {st.st_mode & 07777, st.st_uid, st.st_gid};
        fs::path backup = resolveFileNoCase(path.parent_path(), uk->convertedBackup);
        std::string why;
        // The backup copy is safe on disk before the new file replaces the old one in
        // a single rename, so the data file is there at every moment.
        if (!writeFileAtomic(backup, old, owner, &why) || !writeFileAtomic(path, converted, owner, &why))
            failure = std::string(uk->dbName) + " Not Updated! " + why;
    }
    file.reset();
    if (!failure.empty()) {
        prompt.error(kErrorTitle, failure);
        return UpgradeResult::Failed;
    }
    prompt.inform(kInfoTitle, std::string(uk->updatedText));
    return UpgradeResult::Converted;
}

}  // namespace nv
