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
        if run.get("run_type") == "aggregate":
            continue
        a = args(run["name"])
        if run["name"].startswith("realTime"):
            key = (a["mode"], a["ch"], a["path"], a["noise"])
            speed.setdefault(key, {})[a["fast"]] = run["x_realtime"]
            if a["fast"]:
                label = run.get("label", label)
        elif run["name"].startswith("kernelSets") and "x_realtime" in run:
            # With --benchmark_repetitions, the best repetition: on a shared
            # machine the others measure the neighbours too.
            row = sets.setdefault((a["mode"], -a["ch"]), {})
            name = run.get("label", str(a["set"]))
            row[name] = max(row.get(name, 0.0), run["x_realtime"])
        elif run["name"].startswith("silenceAfterBurst"):
            silence.setdefault(a["mode"], {})[a["noise"]] = run["x_realtime"]
        elif run["name"].startswith("callCost"):
            hop.append(((a["mode"], a["path"], -a["noise"], a["block"]), run))
        elif run["name"].startswith("automation"):
            automation.append((a["what"], a["mode"], run["static_us"], run["automated_us"],
                               run["automation_adds_pct"]))
    print(f"Average speed, x real time (1024-sample blocks; fast = {label})")
    print("| mode | channels | path | noise | plain | fast | fast/plain |")
    print("|---|---|---|---|---|---|---|")
    for (mode, ch, p, noise), v in sorted(speed.items(), key=lambda kv: (kv[0][0], kv[0][1], kv[0][2], -kv[0][3])):
        plain, fast = v.get(0, float("nan")), v.get(1, float("nan"))
        print(f"| {mode} | {'stereo' if ch == 2 else 'mono'} | {PATHS[p]} | {'on' if noise else 'off'} "
              f"| {plain:.1f} | {fast:.1f} | {fast / plain:.1f} |")
    print()
    print("Each kernel set, 48 kHz, noise on, x real time (ratio to plain)")
    for (mode, ch), v in sorted(sets.items()):
        plain = v.get("plain", float("nan"))
        print(f"mode {mode} {'stereo' if ch == -2 else 'mono'}: "
              + ", ".join(f"{name} {x:.1f} ({x / plain:.2f})" for name, x in v.items()))
    print()
    print("Bursts of 0.25 s followed by 2 s of silence, stereo, 48 kHz, x real time")
    print("| mode | noise on | noise off | off/on |")
    print("|---|---|---|---|")
    for mode, v in sorted(silence.items()):
        print(f"| {mode} | {v.get(1, float('nan')):.1f} | {v.get(0, float('nan')):.1f} | {v.get(0, 0) / v.get(1, 1):.2f} |")
    print()
    print("Cost of every call (thread CPU time, us), stereo, 12 bands: plain instance (LintaqInit) and")
    print("even-load instance (LintaqInitSmooth), each mean, 99th percentile and max; max/mean;")
    print("and the even-load instance's total cost over the plain one's, taken in the same run")
    print("max/mean: the dearest call; undist.: the dearest of the calls with no switch of the thread since")
    print("the previous call; position: the dearest position in the hop, averaged over the hops")
    print("| mode | path | noise | block | plain mean | p99 | max | max/mean | undist. | position "
          "| smooth mean | p99 | max | max/mean | undist. | position | smooth/plain |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for (mode, p, noise, block), r in sorted(hop, key=lambda kv: kv[0]):
        cells = []
        for kind in ("plain", "smooth"):
            cells += [f"{r[kind + '_mean_us']:.1f}", f"{r[kind + '_p99_us']:.1f}", f"{r[kind + '_max_us']:.1f}",
                      f"{r[kind + '_max_of_mean']:.1f}", f"{r[kind + '_undisturbed_max_of_mean']:.1f}",
                      f"{r[kind + '_worst_position_of_mean']:.2f}"]
        print(f"| {mode} | {PATHS[p]} | {'on' if noise else 'off'} | {block} | " + " | ".join(cells)
              + f" | {r['smooth_over_plain']:.3f} |")
    print()
    print("All twelve gains or frequencies changed before every 64-frame call, stereo, 48 kHz, noise on (mean call)")
    print("| changed | mode | static us | automated us | automation adds |")
    print("|---|---|---|---|---|")
    for what, mode, st, au, pct in sorted(automation):
        print(f"| {'frequencies' if what else 'gains'} | {mode} | {st:.2f} | {au:.2f} | {pct:.1f}% |")


if __name__ == "__main__":
    main(sys.argv[1])
