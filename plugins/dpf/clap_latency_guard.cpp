// The CLAP module's entry point: DPF's own, behind a guard.
//
// DPF 1.6's CLAP wrapper tells the host of a latency change through the
// host's latency extension without checking that the host offers one; with
// a host that does not (no real DAW, but a small or careless host), the
// first deactivate() after a quality change dereferences a null pointer.
// DPF's entry point is renamed at build time (see plugins/CMakeLists.txt)
// and this one hands each plugin a copy of the host whose get_extension
// answers a do-nothing latency extension where the host has none. Every
// other field of the host is copied, host_data included, so the host's own
// callbacks, called with the copy, find their data as usual.
#undef clap_entry

#include <cstddef>
#include <cstring>
#include <new>

#include "clap/entry.h"
#include "clap/ext/latency.h"
#include "clap/plugin-factory.h"

extern "C" const clap_plugin_entry_t lintaq_dpf_clap_entry;

namespace {

const clap_plugin_factory_t *dpfFactory = nullptr;

const clap_host_latency_t kNoLatencyExtension = {[](const clap_host_t *) {}};

// A plugin as the host sees it: DPF's plugin behind forwarding functions,
// and the guarded copy of the host, freed together.
struct Guarded {
    clap_plugin_t plugin; // first: the host's pointer is this struct's
    clap_host_t host;     // the copy DPF is given
    const clap_host_t *realHost;
    const clap_plugin_t *inner;
};

Guarded *guardedOf(const clap_plugin_t *p) { return reinterpret_cast<Guarded *>(const_cast<clap_plugin_t *>(p)); }
const clap_plugin_t *innerOf(const clap_plugin_t *p) { return guardedOf(p)->inner; }

const void *guardedHostExtension(const clap_host_t *h, const char *id)
{
    // The copy sits right after the plugin struct inside Guarded.
    const Guarded *g = reinterpret_cast<const Guarded *>(reinterpret_cast<const char *>(h) - offsetof(Guarded, host));
    const void *ext = g->realHost->get_extension(g->realHost, id);
    if (ext == nullptr && std::strcmp(id, CLAP_EXT_LATENCY) == 0)
        return &kNoLatencyExtension;
    return ext;
}

const clap_plugin_t kForwarding = {
    nullptr,
    nullptr,
    [](const clap_plugin_t *p) { return innerOf(p)->init(innerOf(p)); },
    [](const clap_plugin_t *p) {
        Guarded *g = guardedOf(p);
        g->inner->destroy(g->inner);
        delete g;
    },
    [](const clap_plugin_t *p, double rate, uint32_t minFrames, uint32_t maxFrames) {
        return innerOf(p)->activate(innerOf(p), rate, minFrames, maxFrames);
    },
    [](const clap_plugin_t *p) { innerOf(p)->deactivate(innerOf(p)); },
    [](const clap_plugin_t *p) { return innerOf(p)->start_processing(innerOf(p)); },
    [](const clap_plugin_t *p) { innerOf(p)->stop_processing(innerOf(p)); },
    [](const clap_plugin_t *p) { innerOf(p)->reset(innerOf(p)); },
    [](const clap_plugin_t *p, const clap_process_t *process) { return innerOf(p)->process(innerOf(p), process); },
    // Extensions are DPF's, called with DPF's plugin: their functions read
    // only plugin_data, which the forwarding struct shares.
    [](const clap_plugin_t *p, const char *id) { return innerOf(p)->get_extension(innerOf(p), id); },
    [](const clap_plugin_t *p) { innerOf(p)->on_main_thread(innerOf(p)); },
};

const clap_plugin_t *createGuarded(const clap_plugin_factory_t *, const clap_host_t *host, const char *id)
{
    if (dpfFactory == nullptr || host == nullptr)
        return nullptr;
    Guarded *g = new (std::nothrow) Guarded;
    if (g == nullptr)
        return nullptr;
    g->host = *host;
    g->host.get_extension = guardedHostExtension;
    g->realHost = host;
    g->inner = dpfFactory->create_plugin(dpfFactory, &g->host, id);
    if (g->inner == nullptr) {
        delete g;
        return nullptr;
    }
    g->plugin = kForwarding;
    g->plugin.desc = g->inner->desc;
    g->plugin.plugin_data = g->inner->plugin_data;
    return &g->plugin;
}

const clap_plugin_factory_t kFactory = {
    [](const clap_plugin_factory_t *) { return dpfFactory ? dpfFactory->get_plugin_count(dpfFactory) : 0u; },
    [](const clap_plugin_factory_t *, uint32_t i) {
        return dpfFactory ? dpfFactory->get_plugin_descriptor(dpfFactory, i) : nullptr;
    },
    createGuarded,
};

} // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {
    CLAP_VERSION,
    [](const char *path) {
        if (!lintaq_dpf_clap_entry.init(path))
            return false;
        dpfFactory = static_cast<const clap_plugin_factory_t *>(lintaq_dpf_clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
        return true;
    },
    [] {
        dpfFactory = nullptr;
        lintaq_dpf_clap_entry.deinit();
    },
    [](const char *id) -> const void * {
        return std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
    },
};
