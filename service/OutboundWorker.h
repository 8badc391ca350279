// The body of one port thread; private to OutboundThread.cpp and OutboundDelivery.cpp.
// The body of one port thread; private to OutboundThread*.cpp.
#include <memory>
#include <string>
#include <vector>

#include "protocols/KORAlphaPage.h"
#include "service/DeliveryMethods.h"
#include "service/OutboundThread.h"

namespace nv {

class OutboundThread::Worker {
public:
    Worker(OutboundContext& ctx, PageQueue& pages, OutboundThreadRecPtr rec, int threadNo, WorkerThread& thread);
    ~Worker();
    void run();

    // The delivery of one page in the current mode.
    struct Mode {
        const ProviderRec* provider = nullptr;
        std::string PIN;
        std::string providerName;
    };

private:
    bool stopRequested() const;
    void startUp();
    void idlePass();
    void workPass();
    void handleBatch();
    void handleFirst();
    void finish();

    // Network methods and TAP (OutboundDelivery.cpp).
    void dispatch(const Mode& mode);
    void sendTap(const Mode& mode);
    void sendEmail(const Mode& mode);
    void sendNetwork(const DeliveryMethod& m, const NetworkSenderFn& fn, const Mode& mode);
    void noSender(const Mode& mode);
    bool callSender(const DeliveryMethod& m, const NetworkSenderFn& fn, const NetworkSend& send,
                    std::string& messageId, std::string& reply);
    void delivered(const DeliveryMethod& m, const Mode& mode, const AttemptTexts& a);
    bool setUpLine(const ProviderRec& provider, std::string& why);
    void dialFailed(const Mode& mode, const std::string& why);

    // Outcomes of the first page of the batch.
    void failRule(const Mode& mode, const std::string& deliveryErrorLine, bool stats);
    void doneStep();
    void SetSecondaryProvider(const TQueueRec& failed);
    void SetPrimaryProvider();
    void DeleteProviderFromQueue(const std::string& name);
    void dropCleared();
    void giveBack(const std::string& why);

    bool connected() const;
    void hangUpAndWait(std::chrono::milliseconds slice);
    void waitMs(std::chrono::milliseconds d);
    std::string portName() const { return m_rec->Port.Name(); }

    OutboundContext& m_ctx;
    PageQueue& m_pages;  // where failed and unsent pages go back
    OutboundThreadRecPtr m_rec;
    int m_threadNo;
    WorkerThread& m_thread;  // its stop and its pauses
    std::unique_ptr<TKORAlpaPage> m_pager;
    std::vector<PageRecordPtr> m_batch;  // swapped out of Pages
    bool m_hold = false;
    bool m_end = false;                  // Cancelcall seen in a page: the thread ends
    std::string m_provider;              // current provider name
    int m_msgCount = 0;
    std::string m_messageId;             // SNPP and SMPP read and write it
    std::vector<std::string> m_replyList;
};

}  // namespace nv
