// A minimal CLAP host: loads a .clap file by its `clap_entry`, creates the
// plugin, sets parameters with CLAP's own events, processes float blocks and
// saves and loads state, the way a DAW does.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "clap/entry.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/plugin-factory.h"

#include "loaded_library.h"
#include "plugin_support.h"

namespace ptest {

class ClapModule {
public:
    explicit ClapModule(const std::string &path) : lib_(path)
    {
        entry_ = static_cast<const clap_plugin_entry_t *>(lib_.symbol("clap_entry"));
        if (entry_ == nullptr || !entry_->init(path.c_str()))
            return;
        factory = static_cast<const clap_plugin_factory_t *>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
    }
    ~ClapModule()
    {
        if (entry_ != nullptr)
            entry_->deinit();
    }
    ClapModule(const ClapModule &) = delete;
    ClapModule &operator=(const ClapModule &) = delete;

    const clap_plugin_factory_t *factory = nullptr;

private:
    LoadedLibrary lib_;
    const clap_plugin_entry_t *entry_ = nullptr;
};

// The host side of one plugin instance. With offerLatency false the host
// has no latency extension, as a careless host might.
class ClapInstance {
public:
    ClapInstance(const ClapModule &module, bool offerLatency = true) : offerLatency_(offerLatency)
    {
        host_.clap_version = CLAP_VERSION;
        host_.host_data = this;
        host_.name = "lintaq test host";
        host_.vendor = "lintaq";
        host_.url = "";
        host_.version = "1";
        host_.get_extension = [](const clap_host_t *h, const char *extension) -> const void * {
            auto *self = static_cast<ClapInstance *>(h->host_data);
            if (std::strcmp(extension, CLAP_EXT_LATENCY) == 0 && self->offerLatency_)
                return &self->hostLatency_;
            return nullptr;
        };
        host_.request_restart = [](const clap_host_t *h) { static_cast<ClapInstance *>(h->host_data)->restartRequested = true; };
        host_.request_process = [](const clap_host_t *) {};
        host_.request_callback = [](const clap_host_t *h) { static_cast<ClapInstance *>(h->host_data)->callbackRequested = true; };
        hostLatency_.changed = [](const clap_host_t *h) { static_cast<ClapInstance *>(h->host_data)->latencyChanged = true; };

        if (module.factory == nullptr || module.factory->get_plugin_count(module.factory) != 1)
            return;
        const clap_plugin_descriptor_t *d = module.factory->get_plugin_descriptor(module.factory, 0);
        id = d->id;
        plugin = module.factory->create_plugin(module.factory, &host_, d->id);
        if (plugin == nullptr || !plugin->init(plugin)) {
            plugin = nullptr;
            return;
        }
        params = static_cast<const clap_plugin_params_t *>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
        latency = static_cast<const clap_plugin_latency_t *>(plugin->get_extension(plugin, CLAP_EXT_LATENCY));
        state = static_cast<const clap_plugin_state_t *>(plugin->get_extension(plugin, CLAP_EXT_STATE));
    }
    ~ClapInstance()
    {
        if (plugin == nullptr)
            return;
        if (active_) {
            plugin->stop_processing(plugin);
            plugin->deactivate(plugin);
        }
        plugin->destroy(plugin);
    }
    ClapInstance(const ClapInstance &) = delete;
    ClapInstance &operator=(const ClapInstance &) = delete;

    bool activate(double rate, uint32_t maxFrames = 4096)
    {
        if (!plugin->activate(plugin, rate, 1, maxFrames))
            return false;
        active_ = plugin->start_processing(plugin);
        return active_;
    }
    void deactivate()
    {
        plugin->stop_processing(plugin);
        plugin->deactivate(plugin);
        active_ = false;
    }

    // Queues a parameter change for the next process() or flush(), at
    // frame `time` of the first block.
    void set(uint32_t index, float value, uint32_t time = 0) { events_.push_back({index, value, time}); }
    void setAll(const Values &x)
    {
        for (uint32_t i = 0; i < kParamCount; ++i)
            set(i, x[i]);
    }

    // Parameter events outside processing, as hosts do while inactive.
    void flush()
    {
        InEvents in;
        fillEvents(in);
        clap_output_events_t out{nullptr, [](const clap_output_events_t *, const clap_event_header_t *) { return true; }};
        params->flush(plugin, &in.list, &out);
        events_.clear();
    }

    // Processes io in place in blocks of `block` frames; queued events go
    // with the first block.
    void process(Channels &io, uint32_t block)
    {
        const size_t n = io[0].size();
        for (size_t pos = 0; pos < n; pos += block) {
            const uint32_t count = static_cast<uint32_t>(std::min<size_t>(block, n - pos));
            float *ptrs[2];
            for (size_t c = 0; c < io.size(); ++c)
                ptrs[c] = io[c].data() + pos;
            clap_audio_buffer_t buf{};
            buf.data32 = ptrs;
            buf.channel_count = static_cast<uint32_t>(io.size());
            clap_audio_buffer_t outBuf = buf; // in place, as many hosts do
            InEvents in;
        fillEvents(in);
            clap_output_events_t out{nullptr, [](const clap_output_events_t *, const clap_event_header_t *) { return true; }};
            clap_process_t p{};
            p.steady_time = static_cast<int64_t>(pos);
            p.frames_count = count;
            p.audio_inputs = &buf;
            p.audio_outputs = &outBuf;
            p.audio_inputs_count = 1;
            p.audio_outputs_count = 1;
            p.in_events = &in.list;
            p.out_events = &out;
            plugin->process(plugin, &p);
            events_.clear();
        }
    }

    uint32_t reportedLatency() const { return latency->get(plugin); }

    std::vector<uint8_t> save() const
    {
        std::vector<uint8_t> bytes;
        clap_ostream_t s{&bytes, [](const clap_ostream_t *st, const void *buf, uint64_t size) -> int64_t {
                             auto *b = static_cast<std::vector<uint8_t> *>(st->ctx);
                             b->insert(b->end(), static_cast<const uint8_t *>(buf), static_cast<const uint8_t *>(buf) + size);
                             return static_cast<int64_t>(size);
                         }};
        if (!state->save(plugin, &s))
            bytes.clear();
        return bytes;
    }

    bool load(const std::vector<uint8_t> &bytes)
    {
        std::pair<const std::vector<uint8_t> *, size_t> ctx{&bytes, 0};
        clap_istream_t s{&ctx, [](const clap_istream_t *st, void *buf, uint64_t size) -> int64_t {
                             auto *c = static_cast<std::pair<const std::vector<uint8_t> *, size_t> *>(st->ctx);
                             const size_t n = std::min<size_t>(size, c->first->size() - c->second);
                             std::memcpy(buf, c->first->data() + c->second, n);
                             c->second += n;
                             return static_cast<int64_t>(n);
                         }};
        return state->load(plugin, &s);
    }

    const clap_plugin_t *plugin = nullptr;
    const clap_plugin_params_t *params = nullptr;
    const clap_plugin_latency_t *latency = nullptr;
    const clap_plugin_state_t *state = nullptr;
    std::string id;
    bool restartRequested = false, callbackRequested = false, latencyChanged = false;

private:
    struct InEvents {
        std::vector<clap_event_param_value_t> events;
        clap_input_events_t list;
    };
    void fillEvents(InEvents &in) const
    {
        for (const Event &ev : events_) {
            clap_event_param_value_t e{};
            e.header.size = sizeof e;
            e.header.time = ev.time;
            e.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
            e.header.type = CLAP_EVENT_PARAM_VALUE;
            e.param_id = ev.index;
            e.note_id = -1;
            e.port_index = -1;
            e.channel = -1;
            e.key = -1;
            e.value = ev.value;
            in.events.push_back(e);
        }
        in.list.ctx = &in.events;
        in.list.size = [](const clap_input_events_t *l) {
            return static_cast<uint32_t>(static_cast<const std::vector<clap_event_param_value_t> *>(l->ctx)->size());
        };
        in.list.get = [](const clap_input_events_t *l, uint32_t i) {
            return &(*static_cast<const std::vector<clap_event_param_value_t> *>(l->ctx))[i].header;
        };
    }

    bool offerLatency_;
    bool active_ = false;
    clap_host_t host_{};
    clap_host_latency_t hostLatency_{};
    struct Event {
        uint32_t index;
        float value;
        uint32_t time;
    };
    std::vector<Event> events_;
};

} // namespace ptest
