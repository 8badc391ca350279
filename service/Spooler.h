#pragma once
// The spooler (SpoolThreadExecute): hands the queued TAP pages, in batches of
// up to ten for one provider, to free port threads that may serve them, and
// pages that wait for their secondary provider to a port that may serve that.
//
// Locks are taken per pass in the one order (PageQueue.h) and every pause
// happens outside them, so the intake never waits behind a spooler pause.
//
// Starvation: the queue is sorted by provider name and one batch is placed per
// cycle. Placing always the first provider would let a provider that keeps
// getting pages hold back every provider sorting after it for ever; so each
// cycle starts at the first provider after the one placed last (wrapping
// round), and every waiting provider gets its turn.
#include <functional>
#include <string>

#include "platform/WorkerThread.h"
#include "service/OutboundThread.h"
#include "service/PageQueue.h"

namespace nv {

class Spooler {
public:
    Spooler(OutboundContext& ctx, PageQueue& pages) : m_ctx(ctx), m_pages(pages) {}
    Spooler(const Spooler&) = delete;
    Spooler& operator=(const Spooler&) = delete;

    // `onEnd` runs on the thread once it has ended (the engine wakes its loop).
    void start(std::function<void()> onEnd = {});
    bool running() const { return m_thread.running(); }
    // Ends every pause at once; the context's stop flag is read as well.
    void requestStop() { m_thread.requestStop(); }
    // Waits for the end up to `bound`; true when it ended.
    bool join(std::chrono::milliseconds bound) { return m_thread.join(bound); }

    // One cycle's work after its pauses (steps 5 to 7); tests call it directly.
    void runCycle();

private:
    void execute();
    bool primaryPass(PageQueue::Queue& queue);
    void secondaryPass();
    // One examination for the secondary pass; false when the pass should end.
    bool secondaryStep(int& budget, bool& pauseAfter);
    bool stopped() const { return m_ctx.spoolStop.load() || m_thread.stopRequested(); }
    // A spooler pause; false when a stop ended it.
    bool pause(std::chrono::milliseconds d);
    void dropPage(PageRecordPtr& page, const std::string& providerName);

    OutboundContext& m_ctx;
    PageQueue& m_pages;  // QueueRecList and sList
    std::string m_lastPlaced;  // provider of the last primary batch
    // Last: joined (by its destructor) before the members above go away.
    WorkerThread m_thread;
};

}  // namespace nv
