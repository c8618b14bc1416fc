// A minimal LV2 host without lilv (which has no Windows build here): loads
// the module by its `lv2_descriptor`, gives it the two features DPF asks
// for (URID map and the block-length options) and connects the ports by
// the plugin's fixed layout: audio inputs, audio outputs, the latency
// output, then one control per parameter in table order. The lilv host
// (lv2_host.h) checks that layout against the Turtle.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lv2/atom.h"
#include "lv2/buf-size.h"
#include "lv2/lv2.h"
#include "lv2/options.h"
#include "lv2/urid.h"

#include "loaded_library.h"
#include "lv2_port_layout.h"

namespace ptest {

class Lv2DirectInstance {
public:
    // `bundle` ends with the path separator, as LV2 hosts pass it.
    Lv2DirectInstance(const std::string &module, const std::string &bundle, Variant v, double rate,
                      int32_t maxFrames = 4096)
        : lib_(module), variant_(v), controls_(kParamCount, 0.0f), maxFrames_(maxFrames)
    {
        using DescriptorFunction = const LV2_Descriptor *(*)(uint32_t);
        auto fn = reinterpret_cast<DescriptorFunction>(lib_.symbol("lv2_descriptor"));
        if (fn == nullptr || (descriptor_ = fn(0)) == nullptr)
            return;
        map_.handle = &uris_;
        map_.map = [](LV2_URID_Map_Handle h, const char *uri) -> LV2_URID {
            auto &uris = *static_cast<std::vector<std::string> *>(h);
            const auto it = std::find(uris.begin(), uris.end(), uri);
            if (it != uris.end())
                return static_cast<LV2_URID>(it - uris.begin() + 1);
            uris.emplace_back(uri);
            return static_cast<LV2_URID>(uris.size());
        };
        const LV2_URID intType = map_.map(map_.handle, LV2_ATOM__Int);
        options_[0] = {LV2_OPTIONS_INSTANCE, 0, map_.map(map_.handle, LV2_BUF_SIZE__nominalBlockLength),
                       sizeof(int32_t), intType, &maxFrames_};
        options_[1] = {LV2_OPTIONS_INSTANCE, 0, map_.map(map_.handle, LV2_BUF_SIZE__maxBlockLength),
                       sizeof(int32_t), intType, &maxFrames_};
        options_[2] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
        mapFeature_ = {LV2_URID__map, &map_};
        optionsFeature_ = {LV2_OPTIONS__options, options_};
        const LV2_Feature *features[] = {&mapFeature_, &optionsFeature_, nullptr};
        handle_ = descriptor_->instantiate(descriptor_, rate, bundle.c_str(), features);
        if (handle_ == nullptr)
            return;
        descriptor_->connect_port(handle_, lv2LatencyPort(v), &latency_);
        for (uint32_t i = 0; i < kParamCount; ++i)
            descriptor_->connect_port(handle_, lv2ControlPort(v, i), &controls_[i]);
        if (descriptor_->activate != nullptr)
            descriptor_->activate(handle_);
    }
    ~Lv2DirectInstance()
    {
        if (handle_ == nullptr)
            return;
        if (descriptor_->deactivate != nullptr)
            descriptor_->deactivate(handle_);
        descriptor_->cleanup(handle_);
    }
    Lv2DirectInstance(const Lv2DirectInstance &) = delete;
    Lv2DirectInstance &operator=(const Lv2DirectInstance &) = delete;

    bool ok() const { return handle_ != nullptr; }
    const char *uri() const { return descriptor_ != nullptr ? descriptor_->URI : ""; }

    // Table values onto the control ports; the host's bypass is the
    // plugin's "enabled" port, the other way round.
    void set(uint32_t index, float value)
    {
        controls_[index] = index == kBypass ? (value > 0.5f ? 0.0f : 1.0f) : value;
    }

    // Processes io in place in blocks of `block` frames.
    void process(Channels &io, uint32_t block)
    {
        const size_t n = io[0].size();
        for (size_t pos = 0; pos < n; pos += block) {
            const uint32_t count = static_cast<uint32_t>(std::min<size_t>(block, n - pos));
            for (size_t c = 0; c < io.size(); ++c) {
                float *p = io[c].data() + pos;
                descriptor_->connect_port(handle_, lv2AudioInPort(variant_, static_cast<int>(c)), p);
                descriptor_->connect_port(handle_, lv2AudioOutPort(variant_, static_cast<int>(c)), p);
            }
            descriptor_->run(handle_, count);
        }
    }

    float latency() const { return latency_; }

private:
    LoadedLibrary lib_;
    Variant variant_;
    const LV2_Descriptor *descriptor_ = nullptr;
    LV2_Handle handle_ = nullptr;
    std::vector<std::string> uris_;
    LV2_URID_Map map_{};
    LV2_Options_Option options_[3]{};
    LV2_Feature mapFeature_{}, optionsFeature_{};
    std::vector<float> controls_;
    float latency_ = 0.0f;
    int32_t maxFrames_;
};

} // namespace ptest
