#pragma once
// The manager's view of the service "Nerivale": ask its state, ask it to start
// or stop. Every call returns at once and reports through its handler on the GUI
// thread, so the window never freezes while systemd works. A start or stop that
// is "accepted" has been queued, not done (systemctl --no-block); the next
// query shows where it got to.
#include <QString>
#include <functional>

namespace nv {

enum class ServiceState {
    NotInstalled,  // no unit (LoadState not-found)
    Running,       // active
    Stopped,       // inactive or failed
    Other,         // activating, deactivating, reloading, or the query failed
};

class ServiceControl {
public:
    using StateHandler = std::function<void(ServiceState)>;
    using DoneHandler = std::function<void(bool accepted, const QString& error)>;
    virtual ~ServiceControl() = default;
    virtual void query(StateHandler done) = 0;
    virtual void start(DoneHandler done) = 0;
    virtual void stop(DoneHandler done) = 0;
};

}  // namespace nv
