#include "protocols/WctpReply.h"

#include "foundation/FileUtil.h"

namespace nv {

std::vector<std::string> replyLines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(std::move(line));
        pos = end + 1;
    }
    return out;
}

std::string replyListValue(const std::vector<std::string>& list, std::string_view name) {
    for (const std::string& line : list) {
        if (line.size() > name.size() && line[name.size()] == '=' &&
            equalsNoCase(std::string_view(line).substr(0, name.size()), name))
            return line.substr(name.size() + 1);
    }
    return {};
}

std::string wctpReplyText(const std::vector<std::string>& list) {
    std::string reply = replyListValue(list, "successText");
    return reply.empty() ? replyListValue(list, "errorText") : reply;
}

std::string wctpStatusText(const std::vector<std::string>& list) {
    std::string reply = replyListValue(list, "Content");
    if (!reply.empty()) return reply;
    for (const std::string& line : list) {
        if (line == "type=READ") return kWctpStatusRead;
        if (line == "type=DELIVERED") return kWctpStatusDelivered;
    }
    return kWctpStatusQueued;
}

}  // namespace nv
