// What DPF needs to know about the plugin at compile time. One source gives
// two plugins: the build compiles it once with LINTAQ_CHANNELS 1 (mono) and
// once with 2 (stereo).
#pragma once

#ifndef LINTAQ_CHANNELS
#error "LINTAQ_CHANNELS (1 or 2) must be defined by the build"
#endif

#define DISTRHO_PLUGIN_HOMEPAGE "https://lintaq.invalid/"

// The LV2 URIs of the earlier hand-written plugins, so saved sessions find
// these.
#if LINTAQ_CHANNELS == 2
#define DISTRHO_PLUGIN_NAME "Lintaq EQ stereo"
#define DISTRHO_PLUGIN_URI "urn:lintaq:lv2:stereo"
#define DISTRHO_PLUGIN_CLAP_ID "org.lintaq.eq.stereo"
#define DISTRHO_PLUGIN_VST3_CATEGORIES "Fx|EQ|Stereo"
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "equalizer", "stereo"
#elif LINTAQ_CHANNELS == 1
#define DISTRHO_PLUGIN_NAME "Lintaq EQ mono"
#define DISTRHO_PLUGIN_URI "urn:lintaq:lv2:mono"
#define DISTRHO_PLUGIN_CLAP_ID "org.lintaq.eq.mono"
#define DISTRHO_PLUGIN_VST3_CATEGORIES "Fx|EQ|Mono"
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "equalizer", "mono"
#else
#error "LINTAQ_CHANNELS must be 1 or 2"
#endif

#define DISTRHO_PLUGIN_NUM_INPUTS LINTAQ_CHANNELS
#define DISTRHO_PLUGIN_NUM_OUTPUTS LINTAQ_CHANNELS
#define DISTRHO_PLUGIN_LV2_CATEGORY "lv2:ParaEQPlugin"

// The curve editor (editor/), built unless LINTAQ_PLUGIN_UI is 0 or absent.
// It and the processing side share nothing but parameters.
#if defined(LINTAQ_PLUGIN_UI) && LINTAQ_PLUGIN_UI
#define DISTRHO_PLUGIN_HAS_UI 1
#define DISTRHO_UI_USE_NANOVG 1
#define DISTRHO_UI_USER_RESIZABLE 1
#define DISTRHO_UI_DEFAULT_WIDTH 980
#define DISTRHO_UI_DEFAULT_HEIGHT 560
// DPF's VST3 wrapper gives an editor without direct access a controller of
// its own, with two more parameters ahead of ours, which would move every
// parameter id hosts have stored (index + 2). The editor still reads and
// writes parameters only.
#if defined(DISTRHO_PLUGIN_TARGET_VST3)
#define DISTRHO_PLUGIN_WANT_DIRECT_ACCESS 1
#endif
#else
#define DISTRHO_PLUGIN_HAS_UI 0
#endif
#define DISTRHO_PLUGIN_IS_RT_SAFE 1
#define DISTRHO_PLUGIN_WANT_LATENCY 1
#define DISTRHO_PLUGIN_WANT_PROGRAMS 1
// Hosts save every parameter in each format. CLAP's wrapper offers its state
// extension only with DPF's state on, which (with no keys of ours) costs
// nothing there; in LV2 it would make hosts provide a worker thread, so it
// stays off elsewhere.
#if defined(DISTRHO_PLUGIN_TARGET_CLAP)
#define DISTRHO_PLUGIN_WANT_STATE 1
#define DISTRHO_PLUGIN_WANT_FULL_STATE 1
#else
#define DISTRHO_PLUGIN_WANT_STATE 0
#define DISTRHO_PLUGIN_WANT_FULL_STATE 0
#endif
#define DISTRHO_PLUGIN_WANT_TIMEPOS 0
#define DISTRHO_PLUGIN_WANT_MIDI_INPUT 0
#define DISTRHO_PLUGIN_WANT_MIDI_OUTPUT 0
