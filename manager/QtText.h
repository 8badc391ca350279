#pragma once
// Record and Config.Dat text is Windows-1252; it becomes a QString only here.
#include <QString>
#include <string>

#include "foundation/Win1252.h"

namespace nv {

inline QString fromCp1252(const std::string& text) {
    return QString::fromStdString(cp1252ToUtf8(text));
}
// Characters outside Windows-1252 become "?".
inline std::string toCp1252(const QString& text) {
    return utf8ToCp1252(text.toStdString());
}

}  // namespace nv
