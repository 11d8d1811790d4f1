#include "cli/web/panel.h"

#include <cstdio>

#include "cli/instrument/instrument.h"

namespace tovrik::cli::web {
namespace {

struct Job {
    std::unique_ptr<Session> session;
    Panel::Lines lines;
    std::size_t next = 0;
    Panel::Lines answers;
    std::function<bool(const std::string&)> stop;
    std::function<void(Panel::Lines)> done;
};

void Continue(const std::shared_ptr<Job>& job);

void StepLine(const std::shared_ptr<Job>& job) {
    if (job->session->LineDone()) {
        job->answers.push_back(job->session->TakeResponse());
        if (job->stop && job->stop(job->answers.back())) job->next = job->lines.size();
        return Continue(job);
    }
    job->session->Step([job] { StepLine(job); });
}

void Continue(const std::shared_ptr<Job>& job) {
    if (job->next == job->lines.size()) return job->done(std::move(job->answers));
    job->session->Begin(job->lines[job->next++]);
    StepLine(job);
}

// SYST:ERR?'s answer naming an error; a command's empty answer is none.
bool IsError(const std::string& answer) {
    return !answer.empty() && ParseSystemError(answer).has_value();
}

}  // namespace

Panel::Panel(Instrument& instrument, Post post) : instrument_(instrument), post_(std::move(post)) {
    // Later, not inside the call that changed the state: that one is still on the stack.
    instrument_.Watch([this, post = post_, alive = std::weak_ptr<bool>(alive_)] {
        post([this, alive] {
            if (!alive.expired()) Changed();
        });
    });
}

Panel::~Panel() = default;

void Panel::Run(Lines lines, std::function<bool(const std::string&)> stop,
                std::function<void(Lines)> done) {
    auto job = std::make_shared<Job>();
    job->session = instrument_.Open();
    job->lines = std::move(lines);
    job->stop = std::move(stop);
    job->done = [alive = std::weak_ptr<bool>(alive_), done = std::move(done)](Lines answers) {
        if (!alive.expired()) done(std::move(answers));
    };
    Continue(job);
}

void Panel::Snapshot(std::function<void(const InstrumentView&)> done) {
    // Numbers are kept for a device that comes back, so every channel seen is asked about;
    // one that is away fails its queries and keeps its last state.
    Run({"INST:CAT:FULL?", "*IDN?"}, nullptr, [this, done = std::move(done)](Lines head) {
        const auto catalog = ParseCatalog(head.at(0));
        for (auto& [number, channel] : known_) channel.present = false;
        if (catalog) {
            for (const auto& [number, name] : *catalog) {
                ChannelView& channel = known_[number];
                channel.number = number;
                channel.serial = name;
                channel.present = true;
            }
        }
        InstrumentView view;
        ParseIdentity(head.at(1), view);
        Lines lines;
        for (const auto& [number, channel] : known_) {
            const std::string n = std::to_string(number);
            std::string line = "SOUR" + n;
            line.append(":FREQ?;:OUTP").append(n).append("?;:STAT").append(n).append(":OPER:COND?");
            lines.push_back(std::move(line));
        }
        // Errors of away channels stay in this session, which ends with the snapshot.
        Run(std::move(lines), nullptr, [this, view = std::move(view), done](Lines answers) mutable {
            std::size_t i = 0;
            for (auto& [number, channel] : known_) {
                const std::string& a = answers.at(i++);
                double hz = 0;
                char output = 0;
                unsigned condition = 0;
                // "1.28E+07;1;8": anything else leaves the last state.
                if (channel.present &&
                    std::sscanf(a.c_str(), "%lf;%c;%u", &hz, &output, &condition) == 3 && hz >= 0 &&
                    hz < 180e6) {
                    channel.hz = hz;
                    channel.output = output == '1';
                    channel.sweeping = (condition & kOperationSweeping) != 0;
                }
                view.channels.push_back(channel);
            }
            done(view);
        });
    });
}

void Panel::Reply200(const Reply& reply) {
    Snapshot([reply](const InstrumentView& view) { reply(200, ToJson(view)); });
}

void Panel::SetChannel(unsigned channel, const std::string& body, Reply reply) {
    const auto request = ChannelRequest(channel, body);
    if (const auto* e = std::get_if<ApiError>(&request)) return reply(e->status, ToJson(*e));
    // Each part is checked before the next, so that a refused frequency leaves the output.
    Lines lines;
    for (const std::string& line : std::get<Lines>(request)) {
        lines.push_back(line);
        lines.push_back("SYST:ERR?");
    }
    Run(std::move(lines), IsError, [this, channel, reply = std::move(reply)](Lines answers) {
        if (!answers.empty() && IsError(answers.back())) {
            ApiError error = *ParseSystemError(answers.back());
            if (known_.count(channel) == 0) error.status = 404;  // never there, not away
            return reply(error.status, ToJson(error));
        }
        Reply200(reply);
    });
}

void Panel::StopAll(Reply reply) {
    Lines lines;
    for (const auto& [number, channel] : known_) {
        const std::string n = std::to_string(number);
        std::string line = "INIT" + n;
        line.append(":CONT OFF;:ABOR").append(n).append(";:OUTP").append(n).append(" OFF");
        lines.push_back(std::move(line));
        lines.push_back("SYST:ERR?");
    }
    Run(std::move(lines), nullptr, [this, reply = std::move(reply)](Lines answers) {
        for (std::size_t i = 1; i < answers.size(); i += 2) {
            const auto error = ParseSystemError(answers[i]);
            // A channel that is away has nothing on.
            if (error && error->code != static_cast<int>(ScpiCode::HardwareMissing))
                return reply(error->status, ToJson(*error));
        }
        Reply200(reply);
    });
}

void Panel::Follow(std::function<void(const std::string&)> changed) {
    changed_ = std::move(changed);
    Changed();
}

void Panel::Changed() {
    if (!changed_) return;
    if (running_) {
        again_ = true;
        return;
    }
    running_ = true;
    again_ = false;
    Snapshot([this](const InstrumentView& view) {
        running_ = false;
        if (std::string json = ToJson(view); json != shown_) {
            shown_ = std::move(json);
            changed_(shown_);
        }
        if (again_) Changed();
    });
}

}  // namespace tovrik::cli::web
