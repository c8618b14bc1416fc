"""Turns bench_engine's JSON output into the two tables bench/run.sh prints."""
import json
import re
import sys

PATHS = ["48 kHz", "48 kHz 2x", "44.1 kHz 2x"]


def args(name):
    return dict((k, int(v)) for k, v in re.findall(r"(\w+):(-?\d+)", name))


def main(path):
    runs = json.load(open(path))["benchmarks"]
    speed, label = {}, "fast"
    hop, silence, sets, automation = [], {}, {}, []
    for run in runs:
        a = args(run["name"])
        if run["name"].startswith("realTime"):
            key = (a["mode"], a["ch"], a["path"], a["noise"])
            speed.setdefault(key, {})[a["fast"]] = run["x_realtime"]
            if a["fast"]:
                label = run.get("label", label)
        elif run["name"].startswith("kernelSets") and "x_realtime" in run:
            sets.setdefault(a["mode"], {})[run.get("label", str(a["set"]))] = run["x_realtime"]
        elif run["name"].startswith("silenceAfterBurst"):
            silence.setdefault(a["mode"], {})[a["noise"]] = run["x_realtime"]
        elif run["name"].startswith("automation"):
            automation.append((a["what"], a["mode"], run["static_us"], run["automated_us"],
                               run["automation_adds_pct"]))
        elif run["name"].startswith("hopCall"):
            hop.append((a["mode"], a["path"], run["median_ms"], run["max_ms"], run["median_of_period"],
                        run["max_of_period"]))
    print(f"Average speed, x real time (1024-sample blocks; fast = {label})")
    print("| mode | channels | path | noise | plain | fast | fast/plain |")
    print("|---|---|---|---|---|---|---|")
    for (mode, ch, p, noise), v in sorted(speed.items(), key=lambda kv: (kv[0][0], kv[0][1], kv[0][2], -kv[0][3])):
        plain, fast = v.get(0, float("nan")), v.get(1, float("nan"))
        print(f"| {mode} | {'stereo' if ch == 2 else 'mono'} | {PATHS[p]} | {'on' if noise else 'off'} "
              f"| {plain:.1f} | {fast:.1f} | {fast / plain:.1f} |")
    print()
    print("Each kernel set, stereo, 48 kHz, noise on, x real time (ratio to plain)")
    for mode, v in sorted(sets.items()):
        plain = v.get("plain", float("nan"))
        print(f"mode {mode}: " + ", ".join(f"{name} {x:.1f} ({x / plain:.1f})" for name, x in v.items()))
    print()
    print("Bursts of 0.25 s followed by 2 s of silence, stereo, 48 kHz, x real time")
    print("| mode | noise on | noise off | off/on |")
    print("|---|---|---|---|")
    for mode, v in sorted(silence.items()):
        print(f"| {mode} | {v.get(1, float('nan')):.1f} | {v.get(0, float('nan')):.1f} | {v.get(0, 0) / v.get(1, 1):.2f} |")
    print()
    print("Call that completes a hop, stereo, 64-frame blocks (period 1.333 ms at 48 kHz, 1.451 ms at 44.1 kHz)")
    print("| mode | path | median ms | max ms | median / period | max / period |")
    print("|---|---|---|---|---|---|")
    for mode, p, med, mx, fmed, fmx in sorted(hop):
        print(f"| {mode} | {PATHS[p]} | {med:.3f} | {mx:.3f} | {fmed:.2f} | {fmx:.2f} |")
    print()
    print("All twelve gains or frequencies changed before every 64-frame call, stereo, 48 kHz, noise on (mean call)")
    print("| changed | mode | static us | automated us | automation adds |")
    print("|---|---|---|---|---|")
    for what, mode, st, au, pct in sorted(automation):
        print(f"| {'frequencies' if what else 'gains'} | {mode} | {st:.2f} | {au:.2f} | {pct:.1f}% |")


if __name__ == "__main__":
    main(sys.argv[1])
