// The instrument's side of the web front end: runs on the instrument's thread and speaks to
// it only as a client does, in SCPI lines through sessions.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/web/api.h"

namespace tovrik::cli {
class Instrument;
}

namespace tovrik::cli::web {

class Panel {
  public:
    // What a request gets: the HTTP status and the JSON body.
    using Reply = std::function<void(int status, std::string body)>;
    using Lines = std::vector<std::string>;

    // Runs a function on the instrument's thread later; from any thread.
    using Post = std::function<void(std::function<void()>)>;

    Panel(Instrument& instrument, Post post);
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // Every channel's state as it is now.
    void Snapshot(std::function<void(const InstrumentView&)> done);
    // PUT /api/channels/N and POST /api/stop; the reply carries the state after them.
    void SetChannel(unsigned channel, const std::string& body, Reply reply);
    void StopAll(Reply reply);
    // Calls `changed` with the state's JSON after anything changed it; changes made while a
    // snapshot is taken cost one more, not one each. The first call comes at once.
    void Follow(std::function<void(const std::string& json)> changed);

  private:
    // Runs the lines one after another in a session of their own; stops early after a line
    // whose answer `stop` accepts. `done` gets the answers so far.
    void Run(Lines lines, std::function<bool(const std::string&)> stop,
             std::function<void(Lines)> done);
    void Changed();
    void Reply200(const Reply& reply);

  public:
    // Runs `f` on the instrument's thread; from any thread.
    void OnThread(std::function<void()> f) const { post_(std::move(f)); }

  private:
    Instrument& instrument_;
    Post post_;
    bool running_ = false;  // a snapshot for `changed_` is being taken
    bool again_ = false;    // and something changed meanwhile
    std::function<void(const std::string&)> changed_;
    std::string shown_;                      // the JSON last given to `changed_`
    std::map<unsigned, ChannelView> known_;  // every channel seen, kept while it is away
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tovrik::cli::web
