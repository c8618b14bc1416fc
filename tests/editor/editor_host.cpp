// A CLAP host that opens the plugin's editor as a floating window, for the
// screenshot and drag tests (Linux under Xvfb, Windows under Wine).
//
//   editor_host [--no-editor] PLUGIN.clap DIR SECONDS [INDEX=VALUE ...]
//
// Sets the parameters, opens the editor and keeps it running (timer calls,
// quiet noise blocks so the editor's changes reach the plugin), writes
// DIR/ready once the editor has had time to draw, and stops when DIR/quit
// appears or after SECONDS. Then it saves the plugin's state, loads it into
// a fresh instance and writes that instance's parameter values to
// DIR/state.txt, one "index value" line each: what a host would restore.
// DIR/timing.txt gets the time spent in the plugin's process() calls and
// the process's CPU time, for the editor's cost (--no-editor: the same run
// without opening it).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <time.h>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "clap/entry.h"
#include "clap/ext/gui.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/timer-support.h"
#include "clap/plugin-factory.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include "loaded_library.h"

namespace {

struct Host {
    clap_host_t host{};
    clap_host_gui_t gui{};
    clap_host_timer_support_t timers{};
    clap_host_latency_t latency{};
    clap_host_params_t params{};
    clap_host_state_t state{};
    std::vector<clap_id> timerIds;
    bool closed = false;

    Host()
    {
        host.clap_version = CLAP_VERSION;
        host.host_data = this;
        host.name = "lintaq editor host";
        host.vendor = "lintaq";
        host.url = "";
        host.version = "1";
        host.get_extension = [](const clap_host_t *h, const char *ext) -> const void * {
            Host *self = static_cast<Host *>(h->host_data);
            if (!std::strcmp(ext, CLAP_EXT_GUI)) return &self->gui;
            if (!std::strcmp(ext, CLAP_EXT_TIMER_SUPPORT)) return &self->timers;
            if (!std::strcmp(ext, CLAP_EXT_LATENCY)) return &self->latency;
            if (!std::strcmp(ext, CLAP_EXT_PARAMS)) return &self->params;
            if (!std::strcmp(ext, CLAP_EXT_STATE)) return &self->state;
            return nullptr;
        };
        host.request_restart = [](const clap_host_t *) {};
        host.request_process = [](const clap_host_t *) {};
        host.request_callback = [](const clap_host_t *) {};
        gui.resize_hints_changed = [](const clap_host_t *) {};
        gui.request_resize = [](const clap_host_t *, uint32_t, uint32_t) { return true; };
        gui.request_show = [](const clap_host_t *) { return true; };
        gui.request_hide = [](const clap_host_t *) { return true; };
        gui.closed = [](const clap_host_t *h, bool) { static_cast<Host *>(h->host_data)->closed = true; };
        timers.register_timer = [](const clap_host_t *h, uint32_t, clap_id *id) {
            Host *self = static_cast<Host *>(h->host_data);
            *id = static_cast<clap_id>(self->timerIds.size() + 1);
            self->timerIds.push_back(*id);
            return true;
        };
        timers.unregister_timer = [](const clap_host_t *h, clap_id id) {
            Host *self = static_cast<Host *>(h->host_data);
            for (clap_id &t : self->timerIds)
                if (t == id) t = CLAP_INVALID_ID;
            return true;
        };
        latency.changed = [](const clap_host_t *) {};
        params.rescan = [](const clap_host_t *, clap_param_rescan_flags) {};
        params.clear = [](const clap_host_t *, clap_id, clap_param_clear_flags) {};
        params.request_flush = [](const clap_host_t *) {};
        state.mark_dirty = [](const clap_host_t *) {};
    }
};

struct Events {
    std::vector<clap_event_param_value_t> items;
    clap_input_events_t list{};
    void add(uint32_t index, double value)
    {
        clap_event_param_value_t e{};
        e.header.size = sizeof e;
        e.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
        e.header.type = CLAP_EVENT_PARAM_VALUE;
        e.param_id = index;
        e.note_id = -1;
        e.port_index = -1;
        e.channel = -1;
        e.key = -1;
        e.value = value;
        items.push_back(e);
    }
    const clap_input_events_t *get()
    {
        list.ctx = &items;
        list.size = [](const clap_input_events_t *l) {
            return static_cast<uint32_t>(static_cast<std::vector<clap_event_param_value_t> *>(l->ctx)->size());
        };
        list.get = [](const clap_input_events_t *l, uint32_t i) -> const clap_event_header_t * {
            return &(*static_cast<std::vector<clap_event_param_value_t> *>(l->ctx))[i].header;
        };
        return &list;
    }
};

const clap_output_events_t kNoOutput{nullptr, [](const clap_output_events_t *, const clap_event_header_t *) { return true; }};

bool exists(const std::string &path) { return std::ifstream(path).good(); }

void touch(const std::string &path) { std::ofstream(path) << "1\n"; }

template <typename T> const T *extension(const clap_plugin_t *p, const char *id)
{
    return static_cast<const T *>(p->get_extension(p, id));
}

double gProcessSeconds = 0;

double cpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// The calling thread's CPU time where the system offers it (so time the
// audio thread spends preempted by others is not counted), else wall time.
double threadSeconds()
{
#if defined(CLOCK_THREAD_CPUTIME_ID) && !defined(_WIN32)
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

// A block of quiet noise (so the engine does its full work, as with music).
void processBlock(const clap_plugin_t *p, uint32_t channels, uint32_t frames, int64_t &time)
{
    static uint32_t seed = 1;
    std::vector<float> buffers(channels * frames);
    for (float &x : buffers) {
        seed = seed * 1664525u + 1013904223u;
        x = 0.1f * (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f);
    }
    float *ptrs[2] = {buffers.data(), buffers.data() + frames};
    clap_audio_buffer_t in{}, out{};
    in.data32 = ptrs;
    in.channel_count = channels;
    out = in;
    Events none;
    clap_process_t proc{};
    proc.steady_time = time;
    proc.frames_count = frames;
    proc.audio_inputs = &in;
    proc.audio_outputs = &out;
    proc.audio_inputs_count = 1;
    proc.audio_outputs_count = 1;
    proc.in_events = none.get();
    proc.out_events = &kNoOutput;
    const double start = threadSeconds();
    p->process(p, &proc);
    gProcessSeconds += threadSeconds() - start;
    time += frames;
}

} // namespace

int main(int argc, char **argv)
{
    const bool openEditor = !(argc > 1 && std::strcmp(argv[1], "--no-editor") == 0);
    if (!openEditor) {
        --argc;
        ++argv;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PLUGIN.clap DIR SECONDS [INDEX=VALUE ...]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[2];
    const double seconds = std::atof(argv[3]);
    ptest::LoadedLibrary lib(argv[1]);
    const auto *entry = static_cast<const clap_plugin_entry_t *>(lib.symbol("clap_entry"));
    if (entry == nullptr || !entry->init(argv[1])) {
        std::fprintf(stderr, "editor_host: cannot load %s\n", argv[1]);
        return 1;
    }
    const auto *factory = static_cast<const clap_plugin_factory_t *>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_descriptor_t *desc = factory->get_plugin_descriptor(factory, 0);
    const uint32_t channels = std::strstr(desc->id, "stereo") ? 2 : 1;

    Host host;
    const clap_plugin_t *plugin = factory->create_plugin(factory, &host.host, desc->id);
    if (plugin == nullptr || !plugin->init(plugin)) return 1;
    const auto *params = extension<clap_plugin_params_t>(plugin, CLAP_EXT_PARAMS);
    const auto *state = extension<clap_plugin_state_t>(plugin, CLAP_EXT_STATE);
    const auto *gui = extension<clap_plugin_gui_t>(plugin, CLAP_EXT_GUI);
    const auto *timer = extension<clap_plugin_timer_support_t>(plugin, CLAP_EXT_TIMER_SUPPORT);
    if (params == nullptr || state == nullptr || gui == nullptr) {
        std::fprintf(stderr, "editor_host: the plugin has no editor or no state\n");
        return 1;
    }
    Events settings;
    for (int i = 4; i < argc; ++i) {
        unsigned index = 0;
        double value = 0;
        if (std::sscanf(argv[i], "%u=%lf", &index, &value) != 2) {
            std::fprintf(stderr, "editor_host: bad setting %s\n", argv[i]);
            return 2;
        }
        settings.add(index, value);
    }
    params->flush(plugin, settings.get(), &kNoOutput);
    if (!plugin->activate(plugin, 48000, 1, 512) || !plugin->start_processing(plugin)) return 1;

#if defined(_WIN32)
    const char *api = CLAP_WINDOW_API_WIN32;
#else
    const char *api = CLAP_WINDOW_API_X11;
#endif
    if (openEditor) {
        if (!gui->create(plugin, api, true)) {
            std::fprintf(stderr, "editor_host: the editor did not open\n");
            return 1;
        }
        gui->suggest_title(plugin, "Lintaq editor");
        gui->show(plugin);
    }

    const auto start = std::chrono::steady_clock::now();
    bool ready = false;
    int64_t time = 0;
    for (;;) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed > seconds || exists(dir + "/quit") || host.closed) break;
        if (!ready && elapsed > 1.5) {
            touch(dir + "/ready");
            ready = true;
        }
        if (timer != nullptr)
            for (clap_id id : host.timerIds)
                if (id != CLAP_INVALID_ID) timer->on_timer(plugin, id);
#if defined(_WIN32)
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
#endif
        processBlock(plugin, channels, 480, time);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ofstream(dir + "/timing.txt") << "process_seconds " << gProcessSeconds << " samples " << time
                                       << " cpu_seconds " << cpuSeconds() << " wall_seconds " << wall << '\n';
    if (openEditor) {
        gui->hide(plugin);
        gui->destroy(plugin);
    }
    processBlock(plugin, channels, 480, time);

    // What a host would save, restored into a fresh instance.
    std::vector<uint8_t> bytes;
    clap_ostream_t os{&bytes, [](const clap_ostream_t *s, const void *buf, uint64_t size) -> int64_t {
                          auto *b = static_cast<std::vector<uint8_t> *>(s->ctx);
                          b->insert(b->end(), static_cast<const uint8_t *>(buf), static_cast<const uint8_t *>(buf) + size);
                          return static_cast<int64_t>(size);
                      }};
    const bool saved = state->save(plugin, &os);
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
    if (!saved) return 1;

    Host host2;
    const clap_plugin_t *fresh = factory->create_plugin(factory, &host2.host, desc->id);
    if (fresh == nullptr || !fresh->init(fresh)) return 1;
    std::pair<std::vector<uint8_t> *, size_t> cursor{&bytes, 0};
    clap_istream_t is{&cursor, [](const clap_istream_t *s, void *buf, uint64_t size) -> int64_t {
                          auto *c = static_cast<std::pair<std::vector<uint8_t> *, size_t> *>(s->ctx);
                          const size_t n = std::min<size_t>(size, c->first->size() - c->second);
                          std::memcpy(buf, c->first->data() + c->second, n);
                          c->second += n;
                          return static_cast<int64_t>(n);
                      }};
    const auto *freshState = extension<clap_plugin_state_t>(fresh, CLAP_EXT_STATE);
    const auto *freshParams = extension<clap_plugin_params_t>(fresh, CLAP_EXT_PARAMS);
    if (!freshState->load(fresh, &is)) return 1;
    std::ofstream out(dir + "/state.txt");
    for (uint32_t i = 0; i < freshParams->count(fresh); ++i) {
        clap_param_info_t info{};
        double value = 0;
        freshParams->get_info(fresh, i, &info);
        freshParams->get_value(fresh, info.id, &value);
        out << info.id << ' ' << value << '\n';
    }
    fresh->destroy(fresh);
    entry->deinit();
    return 0;
}
