// The announcer over libavahi-client. Avahi's threaded poll runs the client on a thread of its
// own; everything that touches the client or the entry group holds the poll's lock, which
// avahi holds itself while it runs a callback.
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <utility>

#include "cli/mdns/announcer.h"

namespace tovrik::cli {

struct Announcer::State {
    std::string name;
    Say say;
    std::vector<MdnsService> services;
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;  // freed with the client
};

namespace {

using State = Announcer::State;

void Publish(State& s, AvahiClient* client);

std::string Why(AvahiClient* client) {
    return avahi_strerror(avahi_client_errno(client));
}

// Takes the next free name ("TOVRIK DDS #2") after another host claimed ours.
void Rename(State& s) {
    char* next = avahi_alternative_service_name(s.name.c_str());
    if (next) {
        s.name = next;
        avahi_free(next);
    }
}

void GroupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* data) {
    auto& s = *static_cast<State*>(data);
    if (state == AVAHI_ENTRY_GROUP_COLLISION) {
        Rename(s);
        s.say("tovrikctl: mDNS: the name was taken; announcing as \"" + s.name + "\"");
        Publish(s, avahi_entry_group_get_client(group));
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
        s.say("tovrikctl: mDNS: announcing failed: " + Why(avahi_entry_group_get_client(group)));
    }
}

// (Re)registers every service; on a local name collision tries the next name.
void Publish(State& s, AvahiClient* client) {
    if (s.services.empty() || avahi_client_get_state(client) != AVAHI_CLIENT_S_RUNNING) return;
    if (!s.group) s.group = avahi_entry_group_new(client, GroupChanged, &s);
    if (!s.group) {
        s.say("tovrikctl: mDNS: not announcing: " + Why(client));
        return;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        avahi_entry_group_reset(s.group);
        int error = AVAHI_OK;
        for (const MdnsService& service : s.services) {
            AvahiStringList* txt = nullptr;
            for (const std::string& entry : service.txt) {
                txt = avahi_string_list_add(txt, entry.c_str());
            }
            // Prepends, so the list is reversed: put the entries back in their order.
            txt = avahi_string_list_reverse(txt);
            error = avahi_entry_group_add_service_strlst(
                s.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags{}, s.name.c_str(),
                service.type.c_str(), nullptr, nullptr, service.port, txt);
            avahi_string_list_free(txt);
            if (error != AVAHI_OK) break;
        }
        if (error == AVAHI_ERR_COLLISION) {
            Rename(s);
            continue;
        }
        if (error == AVAHI_OK) error = avahi_entry_group_commit(s.group);
        if (error != AVAHI_OK)
            s.say("tovrikctl: mDNS: not announcing: " + std::string(avahi_strerror(error)));
        return;
    }
}

void ClientChanged(AvahiClient* client, AvahiClientState state, void* data) {
    auto& s = *static_cast<State*>(data);
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            Publish(s, client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The host name changes: registered again once the client runs.
            if (s.group) avahi_entry_group_reset(s.group);
            break;
        case AVAHI_CLIENT_FAILURE:
            if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
                // The daemon restarted: a new client waits for it and announces again.
                avahi_client_free(client);
                s.group = nullptr;
                int error = AVAHI_OK;
                s.client = avahi_client_new(avahi_threaded_poll_get(s.poll), AVAHI_CLIENT_NO_FAIL,
                                            ClientChanged, &s, &error);
            } else {
                s.say("tovrikctl: mDNS: avahi failed: " + Why(client));
            }
            break;
        case AVAHI_CLIENT_CONNECTING:
            break;
    }
}

// On avahi's thread, so that a system bus that does not answer never delays serving.
void Connect(AvahiTimeout* /*timeout*/, void* data) {
    auto& s = *static_cast<State*>(data);
    int error = AVAHI_OK;
    // NO_FAIL: without a daemon the client waits for one instead of failing.
    s.client = avahi_client_new(avahi_threaded_poll_get(s.poll), AVAHI_CLIENT_NO_FAIL,
                                ClientChanged, &s, &error);
    if (!s.client) {
        s.say("tovrikctl: mDNS: not announcing (no system D-Bus?): " +
              std::string(avahi_strerror(error)));
    } else if (avahi_client_get_state(s.client) == AVAHI_CLIENT_CONNECTING) {
        s.say("tovrikctl: mDNS: avahi-daemon is not running; not announcing until it starts");
    }
}

}  // namespace

Announcer::Announcer(std::string name, Say say) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.name = std::move(name);
    s.say = std::move(say);
    s.poll = avahi_threaded_poll_new();
    const AvahiPoll* api = s.poll ? avahi_threaded_poll_get(s.poll) : nullptr;
    timeval now{};
    if (!api || !api->timeout_new(api, avahi_elapse_time(&now, 0, 0), Connect, &s) ||
        avahi_threaded_poll_start(s.poll) < 0) {
        s.say("tovrikctl: mDNS: not announcing: avahi could not start");
        if (s.poll) avahi_threaded_poll_free(s.poll);
        s.poll = nullptr;
    }
}

Announcer::~Announcer() {
    State& s = *state_;
    if (!s.poll) return;
    avahi_threaded_poll_stop(s.poll);
    // Freeing the client frees its group, and the daemon sends the goodbye packets.
    if (s.client) avahi_client_free(s.client);
    avahi_threaded_poll_free(s.poll);
}

void Announcer::Add(MdnsService service) {
    State& s = *state_;
    if (!s.poll) return;
    avahi_threaded_poll_lock(s.poll);
    s.services.push_back(std::move(service));
    if (s.client) Publish(s, s.client);
    avahi_threaded_poll_unlock(s.poll);
}

}  // namespace tovrik::cli
