#include "service/QueueFile.h"

#include <algorithm>
#include <cstring>

namespace nv {

namespace {

constexpr std::string_view kMagic{"NVHQUEUE"};
constexpr std::string_view kEnd{"END."};
enum : std::uint8_t { kHasRecipient = 1, kHasPrimary = 2, kHasSecondary = 4, kForWorker = 8 };

void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putText(std::string& out, const std::string& s) {
    putU32(out, static_cast<std::uint32_t>(s.size()));
    out += s;
}

template <typename Rec>
void putRecord(std::string& out, const Rec& r) {
    out.append(reinterpret_cast<const char*>(r.data()), Rec::kSize);
}

std::uint8_t errorCount(int n) { return static_cast<std::uint8_t>(std::clamp(n, 0, 2)); }

class Reader {
public:
    explicit Reader(std::string_view b) : m_b(b) {}
    bool bytes(std::size_t n, std::string_view& out) {
        if (m_b.size() - m_at < n) return false;
        out = m_b.substr(m_at, n);
        m_at += n;
        return true;
    }
    bool u8(std::uint8_t& v) {
        std::string_view s;
        if (!bytes(1, s)) return false;
        v = static_cast<std::uint8_t>(s[0]);
        return true;
    }
    bool u32(std::uint32_t& v) {
        std::string_view s;
        if (!bytes(4, s)) return false;
        v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[static_cast<std::size_t>(i)]);
        return true;
    }
    bool text(std::string& out) {
        std::uint32_t n = 0;
        std::string_view s;
        if (!u32(n) || !bytes(n, s)) return false;
        out.assign(s);
        return true;
    }
    template <typename Rec>
    bool record(std::unique_ptr<Rec>& out) {
        std::string_view s;
        if (!bytes(Rec::kSize, s)) return false;
        out = std::make_unique<Rec>(Rec::fromBytes(reinterpret_cast<const std::uint8_t*>(s.data())));
        return true;
    }
    bool atEnd() const { return m_at == m_b.size(); }

private:
    std::string_view m_b;
    std::size_t m_at = 0;
};

}  // namespace

std::string encodeQueueFile(const std::vector<SavedPage>& pages) {
    std::string out(kMagic);
    putU32(out, kQueueFileVersion);
    putU32(out, static_cast<std::uint32_t>(pages.size()));
    for (const auto& saved : pages) {
        const TQueueRec& p = *saved.page;
        std::uint8_t parts = (p.Recipient ? kHasRecipient : 0) | (p.PrimaryProvider ? kHasPrimary : 0) |
                             (p.SecondaryProvider ? kHasSecondary : 0) | (saved.forWorker ? kForWorker : 0);
        out += static_cast<char>(parts);
        out += static_cast<char>(errorCount(saved.pageErrors));
        out += static_cast<char>(errorCount(saved.primaryErrors));
        out += static_cast<char>(errorCount(saved.secondaryErrors));
        putText(out, p.Originator);
        putText(out, p.MessageText);
        putText(out, p.RawBlock);
        if (p.Recipient) putRecord(out, *p.Recipient);
        if (p.PrimaryProvider) putRecord(out, *p.PrimaryProvider);
        if (p.SecondaryProvider) putRecord(out, *p.SecondaryProvider);
    }
    out += kEnd;
    return out;
}

bool decodeQueueFile(std::string_view bytes, std::vector<SavedPage>& pages, std::string& error) {
    pages.clear();
    Reader r(bytes);
    std::string_view magic, end;
    std::uint32_t version = 0, count = 0;
    if (!r.bytes(kMagic.size(), magic) || magic != kMagic) {
        error = "not a queue file";
        return false;
    }
    if (!r.u32(version) || version != kQueueFileVersion) {
        error = "version " + std::to_string(version) + " not known";
        return false;
    }
    if (!r.u32(count)) {
        error = "cut short";
        return false;
    }
    std::vector<SavedPage> out;
    for (std::uint32_t i = 0; i < count; ++i) {
        SavedPage s;
        s.page = NewPageRecord();
        TQueueRec& p = *s.page;
        std::uint8_t parts = 0, e1 = 0, e2 = 0, e3 = 0;
        bool ok = r.u8(parts) && r.u8(e1) && r.u8(e2) && r.u8(e3) && (parts & ~15) == 0 && e1 <= 2 && e2 <= 2 &&
                  e3 <= 2 && r.text(p.Originator) && r.text(p.MessageText) && r.text(p.RawBlock) &&
                  (!(parts & kHasRecipient) || r.record(p.Recipient)) &&
                  (!(parts & kHasPrimary) || r.record(p.PrimaryProvider)) &&
                  (!(parts & kHasSecondary) || r.record(p.SecondaryProvider));
        // Every page the engine queues has a recipient and a primary provider.
        if (!ok || !p.Recipient || !p.PrimaryProvider) {
            error = "page " + std::to_string(i + 1) + " of " + std::to_string(count) + " unreadable";
            return false;
        }
        s.forWorker = (parts & kForWorker) != 0;
        s.pageErrors = e1;
        s.primaryErrors = e2;
        s.secondaryErrors = e3;
        out.push_back(std::move(s));
    }
    if (!r.bytes(kEnd.size(), end) || end != kEnd || !r.atEnd()) {
        error = "no end mark";
        return false;
    }
    pages = std::move(out);
    return true;
}

}  // namespace nv
