#!/usr/bin/env bash
# The plugins in third-party hosts (not part of scripts/test.sh: it installs
# Ardour and Qtractor and takes a minute or two).
#
#   bash scripts/check-hosts.sh [BUILD_DIR]    (default build/)
#
# - Qtractor's plugin scanner lists both CLAP plugins with their audio ports
#   and 65 parameters (Qtractor finds LV2 plugins in-process through lilv;
#   lilv's lv2info lists ours with their ports).
# - Ardour 7 headless (ardour7-lua, dummy audio backend): the LV2 and the
#   VST3 stereo plugins are listed and load in a session, a setting made
#   there (quality 3, a band) is saved, and a second Ardour process
#   reopens the session with both plugins and their settings.
# - A session saved in Ardour with the earlier hand-written LV2 plugin
#   (built here from the last commit that had it) opens with these plugins
#   and every setting made there.
# Ardour and Qtractor run with configuration and caches of their own in a
# temporary folder; nothing of the user's is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
bash scripts/install-deps.sh
export DEBIAN_FRONTEND=noninteractive
for p in qtractor ardour; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    apt-get install -y -qq --no-install-recommends "$p" >/dev/null
done
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target lintaq-stereo-lv2 lintaq-mono-lv2 lintaq-stereo-vst3 lintaq-mono-vst3 \
  lintaq-stereo-clap lintaq-mono-clap >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

echo "== Qtractor's plugin scanner (CLAP)"
scanner=$(dpkg -L qtractor | grep '/qtractor_plugin_scan$' | head -1)
scan=$(printf 'CLAP:%s\nCLAP:%s\n' "$build/clap/lintaq-stereo.clap" "$build/clap/lintaq-mono.clap" |
  timeout 120 "$scanner" 2>&1 || true)
echo "$scan"
grep -q '^CLAP|Lintaq EQ stereo|2:2|0:0|65:0|' <<<"$scan" && pass "stereo CLAP: 2 in, 2 out, 65 parameters" ||
  fail "stereo CLAP not listed as expected"
grep -q '^CLAP|Lintaq EQ mono|1:1|0:0|65:0|' <<<"$scan" && pass "mono CLAP: 1 in, 1 out, 65 parameters" ||
  fail "mono CLAP not listed as expected"

echo "== lilv (what Qtractor, Ardour and Carla use for LV2)"
for v in stereo mono; do
  info=$(LV2_PATH="$build/lv2" lv2info "urn:lintaq:lv2:$v" 2>&1 || true)
  if grep -q 'Symbol: *quality' <<<"$info" && grep -q 'Symbol: *band12_q' <<<"$info"; then
    pass "LV2 $v: $(grep -c 'Symbol:' <<<"$info") ports, quality ... band12_q"
  else
    fail "LV2 $v: ports not listed"
    echo "$info" | head -20
  fi
done

echo "== Ardour 7 headless"
mkdir -p "$work/config/ardour7" "$work/cache"
cat >"$work/config/ardour7/config" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="hide-dummy-backend" value="0"/>
    <Option name="plugin-path-vst3" value="$build/vst3"/>
  </Config>
</Ardour>
EOF
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache LV2_PATH=$build/lv2
# New VST3 bundles are indexed by Ardour's scanner before Ardour lists them.
for v in stereo mono; do
  LD_LIBRARY_PATH=/usr/lib/ardour7 /usr/lib/ardour7/ardour-vst3-scanner -q "$build/vst3/lintaq-$v.vst3" ||
    fail "ardour-vst3-scanner on lintaq-$v.vst3"
done

cat >"$work/create.lua" <<'EOF'
AudioEngine:set_backend("None (Dummy)", "", "")
local s = create_session(os.getenv("SESSION_DIR"), "lintaq", 48000)
assert(s, "no session")
local wanted = { {"urn:lintaq:lv2:stereo", ARDOUR.PluginType.LV2, "LV2"}, {"", ARDOUR.PluginType.VST3, "VST3"} }
for p in ARDOUR.LuaAPI.list_plugins():iter() do
  if p.name == "Lintaq EQ stereo" and p.type == ARDOUR.PluginType.VST3 then wanted[2][1] = p.unique_id end
  if string.find(p.name, "Lintaq") then print(string.format("listed|%s|%s", p.name, p.unique_id)) end
end
-- Settings by label: quality 3, band 5 a +6 dB peak.
local function set(proc, label, value)
  local plug = proc:to_plugininsert():plugin(0)
  for i = 0, plug:parameter_count() - 1 do
    local n = plug:nth_parameter(i)
    if plug:parameter_label(n) == label then
      assert(ARDOUR.LuaAPI.set_processor_param(proc, i, value), label)
      return
    end
  end
  error("no parameter " .. label)
end
for _, w in ipairs(wanted) do
  local tl = s:new_audio_track(2, 2, nil, 1, w[3], ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
  local proc = ARDOUR.LuaAPI.new_plugin(s, w[1], w[2], "")
  assert(not proc:isnil(), "cannot load " .. w[3])
  tl:front():add_processor_by_index(proc, 0, nil, true)
  set(proc, "Quality", 3)
  set(proc, "Band 5 channels", 1)
  set(proc, "Band 5 gain", 6)
  print(string.format("loaded|%s|%s", w[3], proc:name()))
end
-- Let the engine run a few cycles: hosts hand VST3 parameter changes to
-- the processor with the next block, and the state is the processor's.
ARDOUR.LuaAPI.usleep(1000000)
s:save_state("", false, false, false, false, false)
close_session()
quit()
EOF
cat >"$work/reopen.lua" <<'EOF'
AudioEngine:set_backend("None (Dummy)", "", "")
local s = load_session(os.getenv("SESSION_DIR"), "lintaq")
assert(s, "cannot reopen")
for t in s:get_tracks():iter() do
  local proc = t:nth_plugin(0)
  assert(not proc:isnil(), "plugin missing on " .. t:name())
  local plug = proc:to_plugininsert():plugin(0)
  for i = 0, plug:parameter_count() - 1 do
    local n = plug:nth_parameter(i)
    local label = plug:parameter_label(n)
    if label == "Quality" or label == "Band 5 gain" or label == "Band 5 channels" then
      print(string.format("restored|%s|%s|%.3f", t:name(), label, ARDOUR.LuaAPI.get_processor_param(proc, i)))
    end
  end
end
close_session()
quit()
EOF
export SESSION_DIR=$work/session
created=$(timeout 300 ardour7-lua "$work/create.lua" 2>&1 | grep -E '^(listed|loaded|Error)' || true)
echo "$created"
grep -q '^loaded|LV2|Lintaq EQ stereo' <<<"$created" && pass "Ardour loads the LV2 plugin" || fail "Ardour did not load the LV2 plugin"
grep -q '^loaded|VST3|Lintaq EQ stereo' <<<"$created" && pass "Ardour loads the VST3 plugin" || fail "Ardour did not load the VST3 plugin"
reopened=$(timeout 300 ardour7-lua "$work/reopen.lua" 2>&1 | grep -E '^(restored|Error)' || true)
echo "$reopened"
for track in LV2 VST3; do
  if grep -q "^restored|$track|Quality|3.000" <<<"$reopened" && grep -q "^restored|$track|Band 5 gain|6.000" <<<"$reopened" &&
    grep -q "^restored|$track|Band 5 channels|1.000" <<<"$reopened"; then
    pass "the reopened session has the $track plugin with its settings"
  else
    fail "the reopened session lost the $track plugin's settings"
  fi
done
grep -q 'Port symbol="quality" value="3"' "$SESSION_DIR/lintaq.ardour" &&
  pass "Ardour stores the LV2 settings by symbol" || fail "no quality port in the session file"

echo "== Ardour 7 export: an impulse through each plugin lands where it went in"
# Ardour 7's Lua has no headless import, so the region comes from a take
# recorded on the dummy backend, whose files are then overwritten (same
# length) with an impulse at a known frame; the plugins' trim is set to
# -6 dB so the file shows they ran. Each export runs in a process of
# its own (Ardour sometimes crashes after an export in a longer run, and
# often at exit after one: what counts is the file, whole).
mkdir -p "$work/config/ardour7/export" "$work/export"
cat >"$work/config/ardour7/export/lintaq-float.preset" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<ExportPreset id="5d1c3c9e-4a57-4c2e-9a43-1e1a7f1e0c01" name="Lintaq float WAV">
  <ExportFormat id="20b4ab09-6452-4cb3-bd66-b921cdbd2942"/>
  <ExportFilename>
    <Folder relative="1" path="export"/>
    <Field name="label" enabled="1"/>
  </ExportFilename>
</ExportPreset>
EOF
cat >"$work/record.lua" <<'EOF'
AudioEngine:set_backend("None (Dummy)", "", "")
local s = create_session(os.getenv("SESSION_DIR"), "take", 48000)
assert(s, "no session")
local t = s:new_audio_track(2, 2, nil, 1, "take", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front()
t:rec_enable_control():set_value(1, PBD.GroupControlDisposition.NoGroup)
s:maybe_enable_record(false)
ARDOUR.LuaAPI.usleep(200000)
s:request_roll(ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep(2000000)
s:request_stop(false, false, ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep(1000000)
s:disable_record(false, false)
for r in t:playlist():region_list():iter() do
  print(string.format("region|%d|%d|%d", r:position():samples(), r:start():samples(), r:length():samples()))
end
s:save_state("", false, false, false, false, false)
close_session()
quit()
EOF
cat >"$work/export.lua" <<'EOF'
AudioEngine:set_backend("None (Dummy)", "", "")
local s = load_session(os.getenv("SESSION_DIR"), "take")
assert(s, "cannot open the take session")
local kind = os.getenv("PLUGIN")
if kind ~= "none" then
  local id, type = "urn:lintaq:lv2:stereo", ARDOUR.PluginType.LV2
  if kind == "VST3" then
    type = ARDOUR.PluginType.VST3
    for p in ARDOUR.LuaAPI.list_plugins():iter() do
      if p.name == "Lintaq EQ stereo" and p.type == ARDOUR.PluginType.VST3 then id = p.unique_id end
    end
  end
  local proc = ARDOUR.LuaAPI.new_plugin(s, id, type, "")
  assert(not proc:isnil(), "cannot load " .. kind)
  s:get_tracks():table()[1]:add_processor_by_index(proc, 0, nil, true)
  -- A -6 dB trim, so the file shows the plugin ran.
  local plug = proc:to_plugininsert():plugin(0)
  for i = 0, plug:parameter_count() - 1 do
    if plug:parameter_label(plug:nth_parameter(i)) == "Output trim" then
      assert(ARDOUR.LuaAPI.set_processor_param(proc, i, -6), "trim")
    end
  end
  ARDOUR.LuaAPI.usleep(500000)
  print(string.format("latency|%s|%d", kind, proc:signal_latency()))
  io.stdout:flush()
end
local e = s:simple_export()
assert(e:set_preset("5d1c3c9e-4a57-4c2e-9a43-1e1a7f1e0c01"), "no export preset")
e:set_folder(os.getenv("EXPORT_DIR"))
assert(e:run_export(), "export failed")
close_session()
quit()
EOF
cat >"$work/wav.py" <<'EOF'
# impulse FILE FRAME VALUE: zeroes a recorded 32-bit float mono take file,
# keeping its length, and puts VALUE at FRAME.
# peaks FILE: the frame count, then each channel's peak frame and value, of
# a 32-bit float WAV.
import struct, sys
def chunks(b):
    i = 12
    while i < len(b):
        n = struct.unpack('<I', b[i + 4:i + 8])[0]
        yield b[i:i + 4], i + 8, n
        i += 8 + n + (n & 1)
b = bytearray(open(sys.argv[2], 'rb').read())
fmt = next(struct.unpack('<HHIIHH', b[o:o + 16]) for c, o, n in chunks(b) if c == b'fmt ')
_, o, n = next(c for c in chunks(b) if c[0] == b'data')
assert fmt[0] in (3, 0xFFFE) and fmt[5] == 32, "not a 32-bit float WAV"
if sys.argv[1] == "impulse":
    b[o:o + n] = bytes(n)
    struct.pack_into('<f', b, o + 4 * int(sys.argv[3]), float(sys.argv[4]))
    open(sys.argv[2], 'wb').write(b)
else:
    x = struct.unpack('<%df' % (n // 4), b[o:o + n])
    print(len(x) // fmt[1], end=" ")
    for c in range(fmt[1]):
        s = x[c::fmt[1]]
        k = max(range(len(s)), key=lambda j: abs(s[j]))
        print("%d:%.6f" % (k, s[k]), end=" ")
    print()
EOF
export SESSION_DIR=$work/take EXPORT_DIR=$work/export
impulseAt=24000
region=$(timeout 300 ardour7-lua "$work/record.lua" 2>&1 | grep '^region|' || true)
echo "recorded take (position|start|length): ${region:-none}"
takes=("$SESSION_DIR"/interchange/*/audiofiles/*%L.wav)
if [ "$(cut -d'|' -f2,3 <<<"$region")" != "0|0" ] || [ ! -f "${takes[0]}" ]; then
  fail "Ardour recorded no take at the session start to carry the impulse"
else
  python3 "$work/wav.py" impulse "${takes[0]}" $impulseAt 0.5
  python3 "$work/wav.py" impulse "${takes[0]/\%L.wav/%R.wav}" $impulseAt 0.25
  for kind in none LV2 VST3; do
    out=$(PLUGIN=$kind timeout 300 ardour7-lua "$work/export.lua" 2>&1 | grep -E '^latency' || true)
    if [ ! -f "$EXPORT_DIR/export.wav" ]; then
      fail "Ardour export with $kind: no file"
      continue
    fi
    peaks=$(python3 "$work/wav.py" peaks "$EXPORT_DIR/export.wav")
    mv "$EXPORT_DIR/export.wav" "$EXPORT_DIR/$kind.wav"
    latency=$(grep '^latency|' <<<"$out" | cut -d'|' -f3 || true)
    echo "$kind: plugin latency ${latency:-none}; exported frames, then peak frame:value per channel: $peaks"
    # -6 dB through the plugins.
    [ "$kind" = none ] && wanted="$impulseAt:0.500000 $impulseAt:0.250000" || wanted="$impulseAt:0.250594 $impulseAt:0.125297"
    if [ "$peaks" != "$(cut -d'|' -f4 <<<"$region") $wanted " ]; then
      fail "export through $kind: not the take's length, or the impulse moved or changed (wanted $wanted)"
    elif [ "$kind" = none ]; then
      pass "export without a plugin: the impulse at frame $impulseAt"
    elif [ "${latency:-0}" -gt 0 ]; then
      pass "export through the $kind plugin (latency $latency, trim -6 dB): the impulse at frame $impulseAt"
    else
      fail "export through $kind: the plugin reported no latency, so nothing was compensated"
    fi
  done
fi

echo "== A session saved with the earlier hand-written LV2 plugin"
old=a16eae2 # the last commit with plugins/lv2/
mkdir -p "$work/old/src" "$work/old/lv2/lintaq.lv2"
for f in lintaq_lv2.cpp port_table.h write_ttl.cpp; do
  git show "$old:plugins/lv2/$f" >"$work/old/src/$f"
done
cmake --build "$build" -j2 --target lintaq_static >/dev/null
flags=(-std=c++20 -O2 -ffp-contract=off -Iinclude -I"$work/old/src")
g++ "${flags[@]}" -fPIC -shared -fvisibility=hidden "$work/old/src/lintaq_lv2.cpp" "$build/liblintaq_static.a" \
  -o "$work/old/lv2/lintaq.lv2/lintaq.so" -Wl,--exclude-libs,ALL
g++ "${flags[@]}" "$work/old/src/write_ttl.cpp" "$build/liblintaq_static.a" -o "$work/old/write_ttl"
"$work/old/write_ttl" "$work/old/lv2/lintaq.lv2" lintaq.so 0 11
cat >"$work/old.lua" <<'EOF'
AudioEngine:set_backend("None (Dummy)", "", "")
local s = create_session(os.getenv("SESSION_DIR"), "old", 48000)
local tl = s:new_audio_track(2, 2, nil, 1, "eq", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
local proc = ARDOUR.LuaAPI.new_plugin(s, "urn:lintaq:lv2:stereo", ARDOUR.PluginType.LV2, "")
assert(not proc:isnil(), "cannot load the earlier plugin")
tl:front():add_processor_by_index(proc, 0, nil, true)
local plug = proc:to_plugininsert():plugin(0)
local want = { ["Quality"] = 3, ["2x oversampling"] = 1, ["Band 5 channels"] = 4, ["Band 5 gain"] = 6,
               ["Band 5 Q"] = 3, ["Band 12 frequency"] = 17000 }
for i = 0, plug:parameter_count() - 1 do
  local n = plug:nth_parameter(i)
  local label = plug:parameter_label(n)
  if want[label] and plug:parameter_is_input(n) then ARDOUR.LuaAPI.set_processor_param(proc, i, want[label]) end
end
ARDOUR.LuaAPI.usleep(500000)
s:save_state("", false, false, false, false, false)
close_session()
quit()
EOF
sed -e 's/"lintaq")/"old")/' "$work/reopen.lua" >"$work/reopen-old.lua"
export SESSION_DIR=$work/old-session
LV2_PATH=$work/old/lv2 timeout 300 ardour7-lua "$work/old.lua" >/dev/null 2>&1 || true
reopened=$(timeout 300 ardour7-lua "$work/reopen-old.lua" 2>&1 | grep -E '^(restored|Error)' || true)
echo "$reopened"
if grep -q "^restored|eq|Quality|3.000" <<<"$reopened" && grep -q "^restored|eq|Band 5 gain|6.000" <<<"$reopened" &&
  grep -q "^restored|eq|Band 5 channels|4.000" <<<"$reopened"; then
  pass "the earlier plugin's session opens with this plugin and its settings"
else
  fail "the earlier plugin's session lost its settings"
fi

echo
[ "$failures" -eq 0 ] && echo "all host checks passed" || echo "$failures host checks failed"
exit $((failures > 0))
