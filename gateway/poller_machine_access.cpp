#include "gateway/poller_machine_access.h"

#include <condition_variable>
#include <mutex>
#include <optional>

#include "client/document_read.h"

namespace gateway {

namespace {

// Why work queued for a controller did not run, as the client library's errors say it.
ifc_client::error not_run(const write_outcome& outcome) {
    const auto code = outcome.status == 504   ? ifc_client::errc::timeout
                      : outcome.status == 503 ? ifc_client::errc::closed
                                              : ifc_client::errc::io;
    return ifc_client::error{code, outcome.message.empty() ? "not run" : outcome.message};
}

// Runs work in the controller's slot and waits for its result. The poller answers every job it
// took, once (it ran, it expired, or the poller stops), so the wait ends.
template <class T, class Work>
ifc_client::result<T> in_slot(fleet& machines, const std::string& controller, Work work) {
    controller_poller* poller = machines.find(controller);
    if (poller == nullptr) {
        return ifc_client::error{ifc_client::errc::bad_request, "no controller " + controller};
    }
    struct shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<ifc_client::result<T>> result;
        bool answered = false;
    };
    auto state = std::make_shared<shared>();
    poller->submit_task(
        [state, work = std::move(work)](const ifc_client::endpoint& where) {
            ifc_client::result<T> outcome = work(where);
            std::lock_guard lock(state->mutex);
            state->result.emplace(std::move(outcome));
        },
        [state](write_outcome outcome) {
            {
                std::lock_guard lock(state->mutex);
                if (!state->result) state->result.emplace(not_run(outcome));
                state->answered = true;
            }
            state->done.notify_all();
        });
    std::unique_lock lock(state->mutex);
    state->done.wait(lock, [&] { return state->answered; });
    return std::move(*state->result);
}

}  // namespace

ifc_client::result<ifc_client::settings_document> poller_machine_access::read(
    const std::string& controller) {
    return in_slot<ifc_client::settings_document>(
        machines_, controller,
        [controller](const ifc_client::endpoint& where)
            -> ifc_client::result<ifc_client::settings_document> {
            auto conn = ifc_client::connection::open(where);
            if (!conn) return conn.failure();
            auto doc = ifc_client::read_document(conn.value());
            if (!doc) {
                conn->close();
                return doc.failure();
            }
            conn->disconnect();
            doc->source = {controller, where.host + ":" + std::to_string(where.port), {}};
            return doc;
        });
}

ifc_client::result<ifc_client::apply_report> poller_machine_access::apply(
    const std::string& controller, const ifc_client::settings_document& wanted,
    const ifc_client::apply_options& options) {
    return in_slot<ifc_client::apply_report>(
        machines_, controller, [&wanted, &options](const ifc_client::endpoint& where) {
            return ifc_client::apply_document(
                [where] { return ifc_client::connection::open(where); }, wanted, options);
        });
}

}  // namespace gateway
