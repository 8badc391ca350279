#pragma once
// Records the engine fixtures hand in directly instead of through the record
// files: a TAP-over-IP provider on loopback, and a page as the intake builds it
// (for the queue or for calling a sender).
#include <memory>
#include <string>

#include "foundation/PageRecord.h"
#include "foundation/Records.h"
#include "service/SrvcMainFrm.h"

namespace nv::test {

inline ProviderRec tapOverIpProvider(const std::string& name, const std::string& port, int maxPerCall = 0) {
    ProviderRec p;
    p.setCompanyName(name);
    p.setDeliveryType(dtTapOverIp);
    p.setTapOverIPAddr("127.0.0.1");
    p.setTapOverIPPort(port);
    p.setPassword("pw");
    p.setMaxMsgsPerCall(maxPerCall);
    return p;
}

// `secPin` empty: the secondary provider pages the same PIN.
inline PageRecordPtr intakePage(const ProviderRec& primary, const std::string& pin, const std::string& msg,
                                const ProviderRec* secondary = nullptr, const std::string& secPin = {}) {
    PageRecordPtr page = NewPageRecord();
    page->Originator = kOriginator;
    page->Recipient = std::make_unique<UserRec>();
    page->Recipient->setUserID(kOriginator);
    page->Recipient->setProviderName(primary.CompanyName());
    page->Recipient->setSecProviderName(secondary ? secondary->CompanyName() : "NONE");
    page->Recipient->setPIN(pin);
    page->Recipient->setSecPIN(secPin.empty() ? pin : secPin);
    page->Recipient->setPriority(kIntakePriority);
    page->PrimaryProvider = std::make_unique<ProviderRec>(primary);
    if (secondary) page->SecondaryProvider = std::make_unique<ProviderRec>(*secondary);
    page->MessageText = msg;
    return page;
}

}  // namespace nv::test
