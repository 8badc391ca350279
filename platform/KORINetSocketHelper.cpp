#include "platform/KORINetSocketHelper.h"

namespace nv {

std::string TCustomIPClientHelper::ReadAvailable(TcpStream& Client) {
    if (!Client.connected()) return {};
    return Client.readAvailable(kChunkSize);
}

int TCustomIPClientHelper::WriteAnsiStr(TcpStream& Client, std::string_view Str) {
    if (Str.empty()) return 0;
    long sent = Client.writeAll(Str);
    return static_cast<int>(sent);
}

}  // namespace nv
