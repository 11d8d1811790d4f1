#include "cli/raw/scheduler.h"

#include <asio/post.hpp>

namespace tovrik::cli {

void Scheduler::Schedule(const std::shared_ptr<SchedulerClient>& connection) {
    if (connection->scheduled) return;
    connection->scheduled = true;
    ready_.push_back(connection);
    Kick();
}

void Scheduler::Kick() {
    if (kicked_ || ready_.empty()) return;
    kicked_ = true;
    asio::post(io_, [this] {
        kicked_ = false;
        RunOne();
        Kick();
    });
}

void Scheduler::RunOne() {
    const std::shared_ptr<SchedulerClient> connection = ready_.front();
    ready_.pop_front();
    connection->scheduled = false;
    Session& session = connection->session();
    if (session.LineDone()) {
        const auto line = connection->TakeLine();
        if (!line) return;
        session.Begin(*line);
    }
    session.Step([this, connection] { AfterUnit(connection); });
}

void Scheduler::AfterUnit(const std::shared_ptr<SchedulerClient>& connection) {
    Session& session = connection->session();
    if (session.LineDone()) {
        connection->LineFinished(session.TakeResponse());
    }
    if (connection->Busy()) Schedule(connection);
}

}  // namespace tovrik::cli
