// Messages on the local pipes: any bytes parse into lines without line
// breaks, and a message built from name=value fields parses back to them.
#include "platform/PipeMessage.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const PipeMessage m = PipeMessage::parse(fuzz::bytes(data, size));
    for (const std::string& line : m.lines()) NV_FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    m.command();

    fuzz::Fields in(fuzz::bytes(data, size));
    PipeFields fields;
    while (!in.rest().empty() && fields.size() < 16) {
        std::string name = in.field(), value = in.field();
        std::erase_if(name, [](char c) { return c == '\r' || c == '\n' || c == '='; });
        std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });
        if (!name.empty()) fields.emplace_back(name, value);
    }
    const bool finalCrLf = size & 1;
    const PipeMessage back = PipeMessage::parse(buildPipeMessage(fields, finalCrLf));
    NV_FUZZ_CHECK(back.lines().size() == fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i)
        NV_FUZZ_CHECK(back.lines()[i] == fields[i].first + "=" + fields[i].second);
    if (!fields.empty()) NV_FUZZ_CHECK(back.value(fields[0].first) == fields[0].second);
    return 0;
}
