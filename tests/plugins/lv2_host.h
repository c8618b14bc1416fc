// A minimal LV2 host on liblilv: the build tree's bundles in a private
// world, the features DPF's plugins require (URID map, options), ports
// connected by symbol.
#pragma once

#include <limits>
#include <map>
#include <string>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>

#include "plugin_support.h"

namespace ptest {

inline const char *lv2Uri(Variant v) { return v == Variant::stereo ? "urn:lintaq:lv2:stereo" : "urn:lintaq:lv2:mono"; }
inline std::string lv2Bundle(Variant v)
{
    return std::string(LINTAQ_LV2_DIR) + (v == Variant::stereo ? "/lintaq-stereo.lv2/" : "/lintaq-mono.lv2/");
}

// URIDs for everything the plugin and lilv's state code ask about.
class UridMap {
public:
    UridMap()
    {
        map_.handle = this;
        map_.map = [](LV2_URID_Map_Handle h, const char *uri) { return static_cast<UridMap *>(h)->id(uri); };
        unmap_.handle = this;
        unmap_.unmap = [](LV2_URID_Unmap_Handle h, LV2_URID u) { return static_cast<UridMap *>(h)->uri(u); };
    }
    LV2_URID id(const char *uri)
    {
        auto [it, added] = ids_.emplace(uri, static_cast<LV2_URID>(ids_.size() + 1));
        if (added)
            uris_.push_back(&it->first);
        return it->second;
    }
    const char *uri(LV2_URID u) const { return u >= 1 && u <= uris_.size() ? uris_[u - 1]->c_str() : nullptr; }
    LV2_URID_Map map_{};
    LV2_URID_Unmap unmap_{};

private:
    std::map<std::string, LV2_URID> ids_;
    std::vector<const std::string *> uris_;
};

inline UridMap &urids()
{
    static UridMap m;
    return m;
}

inline LilvWorld *lv2World()
{
    static LilvWorld *w = [] {
        LilvWorld *nw = lilv_world_new();
        for (Variant v : {Variant::mono, Variant::stereo}) {
            LilvNode *bundle = lilv_new_file_uri(nw, nullptr, lv2Bundle(v).c_str());
            lilv_world_load_bundle(nw, bundle);
            lilv_node_free(bundle);
        }
        return nw;
    }();
    return w;
}

inline const LilvPlugin *lv2Plugin(Variant v)
{
    LilvNode *uri = lilv_new_uri(lv2World(), lv2Uri(v));
    const LilvPlugin *p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(lv2World()), uri);
    lilv_node_free(uri);
    return p;
}

// A preset's port value as lilv hands it: the Turtle literal's type decides.
inline float atomNumber(const void *value, uint32_t type)
{
    UridMap &m = urids();
    if (type == m.id(LV2_ATOM__Float))
        return *static_cast<const float *>(value);
    if (type == m.id(LV2_ATOM__Double))
        return static_cast<float>(*static_cast<const double *>(value));
    if (type == m.id(LV2_ATOM__Int))
        return static_cast<float>(*static_cast<const int32_t *>(value));
    if (type == m.id(LV2_ATOM__Long))
        return static_cast<float>(*static_cast<const int64_t *>(value));
    return std::numeric_limits<float>::quiet_NaN(); // the plugin takes NaN as the default
}

// One instance, its controls held here and connected by symbol.
class Lv2Instance {
public:
    static constexpr uint32_t kMaxBlock = 4096;

    Lv2Instance(Variant v, double rate)
    {
        plugin_ = lv2Plugin(v);
        if (plugin_ == nullptr)
            return;
        const uint32_t ports = lilv_plugin_get_num_ports(plugin_);
        values_.assign(ports, 0.0f);
        lilv_plugin_get_port_ranges_float(plugin_, nullptr, nullptr, values_.data());
        for (float &x : values_)
            x = std::isnan(x) ? 0.0f : x;

        UridMap &m = urids();
        rate_ = static_cast<float>(rate);
        options_ = {
            {LV2_OPTIONS_INSTANCE, 0, m.id(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), m.id(LV2_ATOM__Int), &maxBlock_},
            {LV2_OPTIONS_INSTANCE, 0, m.id(LV2_BUF_SIZE__nominalBlockLength), sizeof(int32_t), m.id(LV2_ATOM__Int), &maxBlock_},
            {LV2_OPTIONS_INSTANCE, 0, m.id(LV2_PARAMETERS__sampleRate), sizeof(float), m.id(LV2_ATOM__Float), &rate_},
            {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        mapFeature_ = {LV2_URID__map, &m.map_};
        unmapFeature_ = {LV2_URID__unmap, &m.unmap_};
        optionsFeature_ = {LV2_OPTIONS__options, options_.data()};
        boundedFeature_ = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
        features_ = {&mapFeature_, &unmapFeature_, &optionsFeature_, &boundedFeature_, nullptr};
        instance_ = lilv_plugin_instantiate(plugin_, rate, features_.data());
        if (instance_ == nullptr)
            return;
        for (uint32_t i = 0; i < ports; ++i)
            lilv_instance_connect_port(instance_, i, &values_[i]);
        // Ports found once, so setting and running allocate nothing here.
        for (uint32_t i = 0; i < kParamCount; ++i)
            paramPort_[i] = portIndex(i == kBypass ? "lv2_enabled" : paramSymbol(i));
        const char *const in[2][2] = {{"lv2_in", nullptr}, {"lv2_in_l", "lv2_in_r"}};
        const char *const out[2][2] = {{"lv2_out", nullptr}, {"lv2_out_l", "lv2_out_r"}};
        const int s = v == Variant::stereo ? 1 : 0;
        for (int c = 0; c < channelsOf(v); ++c) {
            audioIn_[c] = static_cast<uint32_t>(portIndex(in[s][c]));
            audioOut_[c] = static_cast<uint32_t>(portIndex(out[s][c]));
        }
        latencyPort_ = portIndex("lv2_latency");
        lilv_instance_activate(instance_);
    }
    ~Lv2Instance()
    {
        if (instance_ != nullptr) {
            lilv_instance_deactivate(instance_);
            lilv_instance_free(instance_);
        }
    }
    Lv2Instance(const Lv2Instance &) = delete;
    Lv2Instance &operator=(const Lv2Instance &) = delete;

    bool ok() const { return instance_ != nullptr; }

    int portIndex(const std::string &symbol) const
    {
        LilvNode *s = lilv_new_string(lv2World(), symbol.c_str());
        const LilvPort *port = lilv_plugin_get_port_by_symbol(plugin_, s);
        lilv_node_free(s);
        return port ? static_cast<int>(lilv_port_get_index(plugin_, port)) : -1;
    }
    float &control(const std::string &symbol) { return values_.at(static_cast<size_t>(portIndex(symbol))); }

    // Table values onto the ports; the host's bypass is lv2_enabled, the
    // other way round.
    void setAll(const Values &x)
    {
        for (uint32_t i = 0; i < kParamCount; ++i)
            values_[static_cast<size_t>(paramPort_[i])] = i == kBypass ? (x[i] > 0.5f ? 0.0f : 1.0f) : x[i];
    }

    float latency() const { return values_[static_cast<size_t>(latencyPort_)]; }

    // In place, in blocks of at most `block` frames.
    void process(Channels &io, uint32_t block)
    {
        for (size_t pos = 0; pos < io[0].size(); pos += block) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, io[0].size() - pos));
            for (size_t c = 0; c < io.size(); ++c) {
                lilv_instance_connect_port(instance_, audioIn_[c], io[c].data() + pos);
                lilv_instance_connect_port(instance_, audioOut_[c], io[c].data() + pos);
            }
            lilv_instance_run(instance_, n);
        }
    }

    // A preset's port values onto the controls.
    bool applyPreset(const LilvNode *preset)
    {
        LilvState *state = lilv_state_new_from_world(lv2World(), &urids().map_, preset);
        if (state == nullptr)
            return false;
        lilv_state_restore(
            state, instance_,
            [](const char *symbol, void *data, const void *value, uint32_t, uint32_t type) {
                static_cast<Lv2Instance *>(data)->control(symbol) = atomNumber(value, type);
            },
            this, 0, nullptr);
        lilv_state_free(state);
        return true;
    }

    const LilvPlugin *plugin() const { return plugin_; }
    LilvInstance *instance() const { return instance_; }
    std::vector<float> &values() { return values_; }

private:
    std::array<int, kParamCount> paramPort_{};
    uint32_t audioIn_[2] = {}, audioOut_[2] = {};
    int latencyPort_ = -1;
    const LilvPlugin *plugin_ = nullptr;
    LilvInstance *instance_ = nullptr;
    std::vector<float> values_;
    int32_t maxBlock_ = kMaxBlock;
    float rate_ = 0;
    std::vector<LV2_Options_Option> options_;
    LV2_Feature mapFeature_{}, unmapFeature_{}, optionsFeature_{}, boundedFeature_{};
    std::vector<const LV2_Feature *> features_;
};

} // namespace ptest
