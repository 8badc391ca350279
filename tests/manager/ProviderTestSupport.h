#pragma once
// Shared by the provider window tests: a temporary data directory with the
// operator fake, widget look-ups by object name, and record bytes written at
// the layout's offsets independently of the record writers under test.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "manager/ManagerContext.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/gui/WidgetLookup.h"
#include "tests/gui/WindowEnv.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {

inline constexpr std::size_t kProviderSize = 2871;
inline constexpr std::size_t kRouteSize = 443;
inline constexpr std::size_t kHeader = 57;

inline void click(QObject& w, const char* name) { QTest::mouseClick(child<QPushButton>(w, name), Qt::LeftButton); }

// Record k of a record file.
inline std::string recordAt(const std::string& file, std::size_t size, std::size_t k) {
    return file.substr(kHeader + k * size, size);
}

// Field writers at the layout's offsets.
inline void putText(std::string& rec, std::size_t off, std::size_t n, const std::string& s) {
    const std::size_t len = s.size() < n ? s.size() : n;
    rec[off] = static_cast<char>(len);
    rec.replace(off + 1, len, s.substr(0, len));
}
inline void putInt32(std::string& rec, std::size_t off, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) rec[off + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}
inline std::int32_t int32At(const std::string& rec, std::size_t off) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(rec[off + i])) << (8 * i);
    return static_cast<std::int32_t>(u);
}
inline std::string textAt(const std::string& rec, std::size_t off) {
    return rec.substr(off + 1, static_cast<std::uint8_t>(rec[off]));
}

// The first offset where two records differ outside `skip` ranges, or -1.
inline long firstDifference(const std::string& a, const std::string& b,
                            std::initializer_list<std::pair<std::size_t, std::size_t>> skip) {
    if (a.size() != b.size()) return static_cast<long>(std::min(a.size(), b.size()));
    for (std::size_t i = 0; i < a.size(); ++i) {
        bool skipped = false;
        for (auto [from, to] : skip) skipped = skipped || (i >= from && i < to);
        if (!skipped && a[i] != b[i]) return static_cast<long>(i);
    }
    return -1;
}

}  // namespace nv::test
