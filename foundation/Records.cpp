#include "foundation/Records.h"

namespace nv {

const RecordKind* findRecordKind(std::string_view recName) {
    static constexpr const RecordKind* kKinds[] = {&UserRec::kKind, &GroupRec::kKind, &ProviderRec::kKind,
                                                   &RouteRec::kKind, &PortRec::kKind};
    for (const RecordKind* k : kKinds)
        if (k->recName == recName) return k;
    return nullptr;
}

}  // namespace nv
