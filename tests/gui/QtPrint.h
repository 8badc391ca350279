#pragma once
// Readable failures of QString comparisons in every window test: GoogleTest
// finds this printer by argument-dependent lookup (QString is a global type).
#include <QString>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
