// The inbound port thread's hold on the engine: its data directory, its log,
// its intake and the engine's stop flags.
#include "service/InboundPort.h"
#include "service/SrvcMainFrm.h"

namespace nv {

PelmoraPortThread::PelmoraPortThread(TNerivaleSvcMain& engine, int lineSlot)
    : m_dataDir(engine.WorkDir()),
      m_log([&engine](std::string text) { engine.WriteToLog(std::move(text)); }),
      m_intake([&engine](const std::string* raw, const std::string& pin, const std::string& msg, bool& submitted) {
          engine.KORTap1MsgReceived(raw, pin, msg, submitted);
      }),
      m_engineStopping([&engine] { return engine.Stopping(); }),
      m_lineSlot(lineSlot) {}

}  // namespace nv
