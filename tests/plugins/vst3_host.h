// A minimal VST3 host on the C interface headers DPF ships (travesty): loads
// the module by GetPluginFactory, creates the component, its processor and
// its controller, sets parameters through the processor's parameter-change
// queues (normalised values, as hosts send them), processes float blocks,
// and saves and loads the component's state.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/factory.h"

#include "loaded_library.h"
#include "plugin_support.h"

namespace ptest {

// DPF puts its own parameters (latency, program) before the plugin's.
inline constexpr uint32_t kVst3FirstParamId = 2;

// The value a VST3 plugin built on DPF sees for a plain value sent
// normalised: DPF maps [min, max] linearly in double precision and rounds
// integer parameters.
inline float vst3Plain(const Range &r, float v)
{
    const double n = (double(v) - r.min) / (double(r.max) - r.min);
    float x = n <= 0 ? r.min : n >= 1 ? r.max : static_cast<float>(n * (double(r.max) - r.min) + r.min);
    if (r.kind == Kind::enumeration || r.kind == Kind::toggle)
        x = std::round(x);
    return x;
}

namespace vst3 {

// Windows' result codes are HRESULTs above INT32_MAX in the header's enum.
inline v3_result code(long long c) { return static_cast<v3_result>(static_cast<uint32_t>(c)); }

inline v3_result V3_API noInterface(void *, const v3_tuid, void **obj)
{
    *obj = nullptr;
    return code(V3_NO_INTERFACE);
}
inline uint32_t V3_API oneRef(void *) { return 1; }

// One parameter's queue: COM objects are a pointer to their table first.
struct Queue {
    const v3_param_value_queue_cpp *table;
    v3_param_id id;
    std::vector<std::pair<int32_t, double>> points;
};
inline const v3_param_value_queue_cpp kQueueTable = {
    {noInterface, oneRef, oneRef},
    {[](void *self) -> v3_param_id { return static_cast<Queue *>(self)->id; },
     [](void *self) -> int32_t { return static_cast<int32_t>(static_cast<Queue *>(self)->points.size()); },
     [](void *self, int32_t i, int32_t *offset, double *value) -> v3_result {
         const auto &p = static_cast<Queue *>(self)->points;
         if (i < 0 || static_cast<size_t>(i) >= p.size())
             return code(V3_INVALID_ARG);
         *offset = p[static_cast<size_t>(i)].first;
         *value = p[static_cast<size_t>(i)].second;
         return V3_OK;
     },
     [](void *, int32_t, double, int32_t *index) -> v3_result {
         if (index != nullptr)
             *index = 0;
         return V3_OK;
     }}};

struct Changes {
    const v3_param_changes_cpp *table;
    std::vector<Queue> queues;
    Queue sink;
};
inline const v3_param_changes_cpp kChangesTable = {
    {noInterface, oneRef, oneRef},
    {[](void *self) -> int32_t { return static_cast<int32_t>(static_cast<Changes *>(self)->queues.size()); },
     [](void *self, int32_t i) -> v3_param_value_queue ** {
         auto &q = static_cast<Changes *>(self)->queues;
         return i < 0 || static_cast<size_t>(i) >= q.size() ? nullptr
                                                            : reinterpret_cast<v3_param_value_queue **>(&q[static_cast<size_t>(i)]);
     },
     // Output changes (the plugin reporting values) land in one queue that
     // forgets them.
     [](void *self, v3_param_id *, int32_t *index) -> v3_param_value_queue ** {
         if (index != nullptr)
             *index = 0;
         return reinterpret_cast<v3_param_value_queue **>(&static_cast<Changes *>(self)->sink);
     }}};

// A memory stream for state.
struct StreamTable : v3_funknown {
    v3_bstream stream;
};
struct Stream {
    const StreamTable *table;
    std::vector<uint8_t> bytes;
    size_t pos = 0;
};
inline const StreamTable kStreamTable = {
    {noInterface, oneRef, oneRef},
    {[](void *self, void *buf, int32_t n, int32_t *read) -> v3_result {
         auto *s = static_cast<Stream *>(self);
         const size_t count = std::min(static_cast<size_t>(n), s->bytes.size() - s->pos);
         std::memcpy(buf, s->bytes.data() + s->pos, count);
         s->pos += count;
         if (read != nullptr)
             *read = static_cast<int32_t>(count);
         return V3_OK;
     },
     [](void *self, void *buf, int32_t n, int32_t *written) -> v3_result {
         auto *s = static_cast<Stream *>(self);
         const auto *b = static_cast<const uint8_t *>(buf);
         s->bytes.insert(s->bytes.end(), b, b + n);
         if (written != nullptr)
             *written = n;
         return V3_OK;
     },
     [](void *self, int64_t pos, int32_t mode, int64_t *result) -> v3_result {
         auto *s = static_cast<Stream *>(self);
         const int64_t base = mode == V3_SEEK_SET ? 0 : mode == V3_SEEK_CUR ? static_cast<int64_t>(s->pos)
                                                                            : static_cast<int64_t>(s->bytes.size());
         s->pos = static_cast<size_t>(std::clamp<int64_t>(base + pos, 0, static_cast<int64_t>(s->bytes.size())));
         if (result != nullptr)
             *result = static_cast<int64_t>(s->pos);
         return V3_OK;
     },
     [](void *self, int64_t *pos) -> v3_result {
         *pos = static_cast<int64_t>(static_cast<Stream *>(self)->pos);
         return V3_OK;
     }}};

} // namespace vst3

class Vst3Module {
public:
    explicit Vst3Module(const std::string &path) : lib_(path)
    {
#if defined(_WIN32)
        auto entry = reinterpret_cast<bool (*)()>(lib_.symbol("InitDll"));
        exit_ = lib_.symbol("ExitDll");
        if (entry != nullptr && !entry())
            return;
#else
        auto entry = reinterpret_cast<bool (*)(void *)>(lib_.symbol("ModuleEntry"));
        exit_ = lib_.symbol("ModuleExit");
        if (entry != nullptr && !entry(lib_.handle()))
            return;
#endif
        auto get = reinterpret_cast<void *(*)()>(lib_.symbol("GetPluginFactory"));
        if (get != nullptr)
            factory = static_cast<v3_plugin_factory **>(get());
    }
    ~Vst3Module()
    {
        if (factory != nullptr)
            v3_cpp_obj_unref(factory);
        if (exit_ != nullptr)
            reinterpret_cast<bool (*)()>(exit_)();
    }
    Vst3Module(const Vst3Module &) = delete;
    Vst3Module &operator=(const Vst3Module &) = delete;

    // The class id of the first class in the given category.
    bool classId(const char *category, v3_tuid out) const
    {
        for (int32_t i = 0, n = v3_cpp_obj(factory)->num_classes(factory); i < n; ++i) {
            v3_class_info info{};
            if (v3_cpp_obj(factory)->get_class_info(factory, i, &info) == V3_OK &&
                std::strcmp(info.category, category) == 0) {
                std::memcpy(out, info.class_id, sizeof(v3_tuid));
                return true;
            }
        }
        return false;
    }

    v3_plugin_factory **factory = nullptr;

private:
    LoadedLibrary lib_;
    void *exit_ = nullptr;
};

class Vst3Instance {
public:
    explicit Vst3Instance(const Vst3Module &module) : module_(module)
    {
        v3_tuid cid;
        if (module.factory == nullptr || !module.classId("Audio Module Class", cid))
            return;
        void *obj = nullptr;
        if (v3_cpp_obj(module.factory)->create_instance(module.factory, cid, v3_component_iid, &obj) != V3_OK)
            return;
        component = static_cast<v3_component **>(obj);
        if (v3_cpp_obj_initialize(component, nullptr) != V3_OK) {
            v3_cpp_obj_unref(component);
            component = nullptr;
            return;
        }
        if (v3_cpp_obj_query_interface(component, v3_audio_processor_iid, &processor) != V3_OK)
            processor = nullptr;
    }
    ~Vst3Instance()
    {
        if (controller != nullptr) {
            if (ownController_)
                v3_cpp_obj_terminate(controller);
            v3_cpp_obj_unref(controller);
        }
        if (component == nullptr)
            return;
        if (active_) {
            v3_cpp_obj(processor)->set_processing(processor, false);
            v3_cpp_obj(component)->set_active(component, false);
        }
        if (processor != nullptr)
            v3_cpp_obj_unref(processor);
        v3_cpp_obj_terminate(component);
        v3_cpp_obj_unref(component);
    }
    Vst3Instance(const Vst3Instance &) = delete;
    Vst3Instance &operator=(const Vst3Instance &) = delete;

    bool ok() const { return component != nullptr && processor != nullptr; }

    // The edit controller, as hosts find it for the parameter list: the
    // component itself, or else a class of its own.
    v3_edit_controller **editController()
    {
        if (controller != nullptr)
            return controller;
        if (v3_cpp_obj_query_interface(component, v3_edit_controller_iid, &controller) == V3_OK &&
            controller != nullptr) {
            ownController_ = false;
            return controller;
        }
        controller = nullptr;
        v3_tuid cid;
        void *obj = nullptr;
        if (v3_cpp_obj(component)->get_controller_class_id(component, cid) != V3_OK ||
            v3_cpp_obj(module_.factory)->create_instance(module_.factory, cid, v3_edit_controller_iid, &obj) != V3_OK)
            return nullptr;
        controller = static_cast<v3_edit_controller **>(obj);
        v3_cpp_obj_initialize(controller, nullptr);
        return controller;
    }

    bool activate(double rate, int32_t maxFrames = 4096)
    {
        v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, maxFrames, rate};
        if (v3_cpp_obj(processor)->setup_processing(processor, &setup) != V3_OK)
            return false;
        v3_cpp_obj(component)->activate_bus(component, V3_AUDIO, V3_INPUT, 0, true);
        v3_cpp_obj(component)->activate_bus(component, V3_AUDIO, V3_OUTPUT, 0, true);
        if (v3_cpp_obj(component)->set_active(component, true) != V3_OK)
            return false;
        v3_cpp_obj(processor)->set_processing(processor, true);
        active_ = true;
        return true;
    }

    // Queues a plain value, sent normalised with the next block.
    void set(uint32_t index, Variant v, float value)
    {
        const Range r = paramRange(v, index);
        const double n = std::clamp((double(value) - r.min) / (double(r.max) - r.min), 0.0, 1.0);
        changes_.queues.push_back({&vst3::kQueueTable, kVst3FirstParamId + index, {{0, n}}});
    }
    void setAll(const Values &x, Variant v)
    {
        for (uint32_t i = 0; i < kParamCount; ++i)
            set(i, v, x[i]);
    }

    void process(Channels &io, int32_t block)
    {
        const size_t n = io[0].size();
        for (size_t pos = 0; pos < n; pos += static_cast<size_t>(block)) {
            const int32_t count = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(block), n - pos));
            float *ptrs[2];
            for (size_t c = 0; c < io.size(); ++c)
                ptrs[c] = io[c].data() + pos;
            v3_audio_bus_buffers in{}, out{};
            in.num_channels = out.num_channels = static_cast<int32_t>(io.size());
            in.channel_buffers_32 = out.channel_buffers_32 = ptrs; // in place, as many hosts do
            vst3::Changes *changesPtr = &changes_, *outPtr = &output_;
            v3_process_data d{};
            d.process_mode = V3_REALTIME;
            d.symbolic_sample_size = V3_SAMPLE_32;
            d.nframes = count;
            d.num_input_buses = d.num_output_buses = 1;
            d.inputs = &in;
            d.outputs = &out;
            d.input_params = reinterpret_cast<v3_param_changes **>(changesPtr);
            d.output_params = reinterpret_cast<v3_param_changes **>(outPtr);
            v3_cpp_obj(processor)->process(processor, &d);
            changes_.queues.clear();
        }
    }

    uint32_t latency() const { return v3_cpp_obj(processor)->get_latency_samples(processor); }

    std::vector<uint8_t> save() const
    {
        vst3::Stream s{&vst3::kStreamTable, {}, 0};
        if (v3_cpp_obj(component)->get_state(component, reinterpret_cast<v3_bstream **>(&s)) != V3_OK)
            s.bytes.clear();
        return s.bytes;
    }
    bool load(const std::vector<uint8_t> &bytes)
    {
        vst3::Stream s{&vst3::kStreamTable, bytes, 0};
        return v3_cpp_obj(component)->set_state(component, reinterpret_cast<v3_bstream **>(&s)) == V3_OK;
    }

    v3_component **component = nullptr;
    v3_audio_processor **processor = nullptr;
    v3_edit_controller **controller = nullptr;

private:
    const Vst3Module &module_;
    vst3::Changes changes_{&vst3::kChangesTable, {}, {&vst3::kQueueTable, 0, {}}};
    vst3::Changes output_{&vst3::kChangesTable, {}, {&vst3::kQueueTable, 0, {}}};
    bool active_ = false;
    bool ownController_ = true;
};

} // namespace ptest
