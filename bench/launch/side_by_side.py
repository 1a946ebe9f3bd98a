#!/usr/bin/env python3
# Side-by-side timings under Wine: launch (Setup.exe against an NSIS installer) and packaging.
# (bench-all.sh takes its launch figures from scripts/bench-launch.sh; `launch` stays for single runs.)
#
# Subcommands (all paths POSIX; Wine sees them through drive Z:):
#   data POOL OUT SIZE NFILES          cut SIZE bytes of POOL into NFILES files in OUT
#   tree POOL OUT NFILES SIZE NDIRS    a tree of NFILES files, SIZE bytes in all, NDIRS folders
#   launch --label L --ours EXE --nsis EXE [--nsis-window EXE] --runs N --stamp FILE --json OUT
#   pack --label L --runs N --json OUT [--clean F1:F2] --ours CMD... --other CMD...
#   report RESULTS_DIR OUT.md          RESULTS.md from the JSON files and section-launch.md
#
# launch alternates ours/NSIS (A B A B) after one warm-up each; per run it
# records the time from just before the start to the bench installer's stamp
# ("installer running"), to the launcher's exit, and the peak resident set of
# the Wine process (ru_maxrss of wait4: the launcher's own process, which Wine
# runs in the process it was started as).
import json
import os
import random
import statistics
import subprocess
import sys
import time


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_loader(env):
    """The Wine loader of the benchmark's architecture (WINELOADER, set by bench_session_start).

    Never the `wine` wrapper: it picks the 32-bit loader, which fails for x64 programs on a host
    that runs no 32-bit ones."""
    loader = env.get("WINELOADER")
    if not loader:
        sys.exit("WINELOADER is not set: start the benchmark's Wine session (scripts/bench-session.sh) first")
    return loader


def pool_reader(pool):
    data = open(pool, "rb").read()
    if not data:
        sys.exit("empty pool " + pool)
    pos = 0

    def take(n):
        nonlocal pos
        out = bytearray()
        while len(out) < n:
            chunk = data[pos:pos + n - len(out)]
            out += chunk
            pos = (pos + len(chunk)) % len(data)
        return bytes(out)
    return take


def cmd_data(pool, out, size, nfiles):
    size, nfiles = int(size), int(nfiles)
    os.makedirs(out, exist_ok=True)
    take = pool_reader(pool)
    each = size // nfiles
    for i in range(nfiles):
        n = each if i < nfiles - 1 else size - each * (nfiles - 1)
        with open(os.path.join(out, "payload%03d.bin" % i), "wb") as f:
            f.write(take(n))


def cmd_tree(pool, out, nfiles, size, ndirs):
    nfiles, size, ndirs = int(nfiles), int(size), int(ndirs)
    take = pool_reader(pool)
    rng = random.Random(7)
    weights = [rng.uniform(0.1, 1.9) for _ in range(nfiles)]
    scale = size / sum(weights)
    sizes = [max(1, int(w * scale)) for w in weights]
    sizes[-1] += size - sum(sizes)
    for i, n in enumerate(sizes):
        folder = os.path.join(out, "dir%02d" % (i % ndirs))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "file%04d.bin" % i), "wb") as f:
            f.write(take(n))


def rss_fields(pid):
    """VmRSS, RssAnon, RssFile, RssShmem of a live process, KiB; None once it is gone."""
    try:
        text = open("/proc/%d/status" % pid).read()
    except OSError:
        return None
    out = {}
    for line in text.splitlines():
        key, _, value = line.partition(":")
        if key in ("VmRSS", "RssAnon", "RssFile", "RssShmem"):
            out[key] = int(value.split()[0])
    return out if len(out) == 4 else None


def run_once(argv, env, stamp=None):
    """Runs argv; returns (ns to stamp or None, ns to exit, peak RSS KiB, exit status, samples).

    samples["cpu"] is the user + system time of the started process itself, ns.

    While it runs, /proc is read every few ms: samples holds the largest VmRSS
    seen and its parts at that moment, and the resident set at the first sample
    after the installer's stamp appeared (the launcher then only waits)."""
    if stamp and os.path.exists(stamp):
        os.remove(stamp)
    start = time.time_ns()
    proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    peak, waiting = None, None
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            break
        fields = rss_fields(proc.pid)
        if fields:
            if not peak or fields["VmRSS"] > peak["VmRSS"]:
                peak = fields
            if stamp and waiting is None and os.path.exists(stamp):
                waiting = fields
        time.sleep(0.003)
    end = time.time_ns()
    proc.returncode = os.waitstatus_to_exitcode(status)
    running = None
    if stamp:
        try:
            running = int(open(stamp).read().split("\n", 1)[0].strip()) - start
        except (OSError, ValueError):
            running = None
    cpu = int((usage.ru_utime + usage.ru_stime) * 1e9)
    return running, end - start, usage.ru_maxrss, proc.returncode, {"peak": peak, "waiting": waiting, "cpu": cpu}


def summary(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def cmd_launch(args):
    opts = parse(args, ["label", "ours", "nsis", "runs", "stamp", "json"], ["nsis-window"])
    env = dict(os.environ)
    env["OEM_BENCH_STAMP"] = wine_path(opts["stamp"])
    runs = int(opts["runs"])
    wine = wine_loader(env)
    sides = {"ours": [wine, opts["ours"], "/S"], "nsis": [wine, opts["nsis"], "/S"]}
    if opts.get("nsis-window"):
        # Shows its window, like Setup.exe: started without /S.
        sides["nsisw"] = [wine, opts["nsis-window"]]
    result = {k: {"running": [], "exit": [], "rss": [], "status": [], "samples": []} for k in sides}
    for name, argv in sides.items():  # warm-up: page cache, Wine's DLLs
        run_once(argv, env, opts["stamp"])
    for _ in range(runs):
        for name, argv in sides.items():
            running, total, rss, status, samples = run_once(argv, env, opts["stamp"])
            r = result[name]
            r["samples"].append(samples)
            r["running"].append(running)
            r["exit"].append(total)
            r["rss"].append(rss)
            r["status"].append(status)
    out = {"label": opts["label"], "runs": runs, "load": os.getloadavg()[0],
           "command": {k: " ".join(v) for k, v in sides.items()}}
    for name, r in result.items():
        waiting = [x["waiting"]["VmRSS"] for x in r["samples"] if x["waiting"]]
        out[name] = dict(r, running_median=summary(r["running"]), exit_median=summary(r["exit"]),
                         running_best=min((x for x in r["running"] if x is not None), default=None),
                         cpu_median=summary([x["cpu"] for x in r["samples"]]),
                         rss_max=max(r["rss"]), rss_waiting_max=max(waiting) if waiting else None,
                         size=os.path.getsize(sides[name][1]))
    save(opts["json"], out)
    for name in sides:
        r = out[name]
        print("%-5s %-4s running %s ms, exit %s ms, CPU %s ms, peak RSS %d KiB, statuses %s" % (
            opts["label"], name, ms(r["running_median"]), ms(r["exit_median"]), ms(r["cpu_median"]), r["rss_max"],
            sorted(set(r["status"]))))


def cmd_pack(args):
    # --ours and --other each take the rest up to the next -- option.
    opts, lists, key = {}, {"ours": [], "other": []}, None
    i = 0
    while i < len(args):
        a = args[i]
        if a in ("--ours", "--other"):
            key = a[2:]
        elif a in ("--label", "--runs", "--json", "--clean"):
            opts[a[2:]] = args[i + 1]
            i += 1
            key = None
        elif key:
            lists[key].append(a)
        else:
            sys.exit("unexpected " + a)
        i += 1
    runs = int(opts["runs"])
    clean = opts.get("clean", "").split(":") if opts.get("clean") else []
    result = {k: {"exit": [], "rss": [], "status": []} for k in lists}
    for _ in range(runs):
        # Each run starts from no outputs, as the first one did.
        for path in clean:
            if os.path.exists(path):
                os.remove(path)
        for name, argv in lists.items():
            _, total, rss, status, _ = run_once(argv, dict(os.environ))
            result[name]["exit"].append(total)
            result[name]["rss"].append(rss)
            result[name]["status"].append(status)
    out = {"label": opts["label"], "runs": runs, "command": {k: " ".join(v) for k, v in lists.items()}}
    for name, r in result.items():
        out[name] = dict(r, exit_median=summary(r["exit"]), rss_max=max(r["rss"]))
    save(opts["json"], out)
    for name in lists:
        print("%-10s %-5s %s ms (statuses %s)" % (opts["label"], name, ms(out[name]["exit_median"]),
                                                 sorted(set(out[name]["status"]))))


def shell(command):
    try:
        return subprocess.run(command, shell=True, capture_output=True, text=True).stdout.strip()
    except OSError:
        return ""


def machine_lines(results):
    cpu = shell("lscpu | sed -n 's/^Model name: *//p' | head -1")
    mem = shell("awk '/MemTotal/ {printf \"%.1f GiB\", $2 / 1048576}' /proc/meminfo")
    return [
        "- Machine: %s cores (nproc), %s, %s memory" % (shell("nproc"), cpu or "unknown CPU", mem),
        "- Windows architecture: %s (Setup.exe, the bench installer and the NSIS installers; run by %s)" % (
            os.environ.get("OEM_BENCH_ARCH", "-"), os.environ.get("WINELOADER", "-")),
        "- Wine: %s; makensis %s; tar: %s" % (
            shell("'%s' --version" % os.environ.get("WINELOADER", "wine")), shell("makensis -VERSION"),
            shell("tar --version | head -1")),
        "- Date: %s (when the last result was written)" % time.strftime(
            "%Y-%m-%d %H:%M UTC", time.gmtime(max(os.path.getmtime(os.path.join(results, f))
                                                  for f in os.listdir(results)))),
        "- Command: `scripts/bench-all.sh` (environment: PACK_RUNS=%s; the launch section names its own)" % (
            os.environ.get("PACK_RUNS", "3")),
    ]


def ratio(a, b):
    return "-" if a is None or b is None or b == 0 else "%.2f" % (a / b)


def mib(kib):
    return "%.1f" % (kib / 1024)


def cmd_report(results, out):
    def load(name):
        path = os.path.join(results, name)
        return json.load(open(path)) if os.path.exists(path) else None

    packs = sorted((d for d in (load(f) for f in os.listdir(results) if f.startswith("pack-")) if d),
                   key=lambda d: int(d["label"].split("-")[1]))
    lines = ["# Benchmark results", "", "Written by `scripts/bench-all.sh`; every figure in the tables comes from one run of it (the launch section may come from a later run of `scripts/bench-launch.sh` alone: it gives its own command and time). The notes at the end give the command behind each of their own figures.", ""]
    lines += machine_lines(results)
    # The launch section comes whole from scripts/bench-launch.sh; another architecture's launch
    # section, measured by an earlier run, stays.
    from launch_sizes import launch_sections
    section = os.path.join(results, "section-launch.md")
    kept = launch_sections(open(out).read()) if os.path.exists(out) else {}
    if os.path.exists(section):
        text = open(section).read().rstrip()
        kept.update(launch_sections(text))
    for arch in sorted(kept):
        lines += [""] + kept[arch].splitlines()
    lines += ["", "## Packaging", "",
              "`oempack make` (native build) against `makensis` on the same installer and payload, both",
              "storing without compression; medians of PACK_RUNS runs, ms; ratio = oempack / reference.", "",
              "| job | runs | oempack | reference | ratio | command (oempack; reference) |", "|---|---:|---:|---:|---:|---|"]
    for d in packs + [x for x in [load("create.json")] if x]:
        lines.append("| %s | %d | %s | %s | %s | `%s`; `%s` |" % (
            d["label"], d["runs"], ms(d["ours"]["exit_median"]), ms(d["other"]["exit_median"]),
            ratio(d["ours"]["exit_median"], d["other"]["exit_median"]), d["command"]["ours"], d["command"]["other"]))
    lines += ["", "`create` = `oempack create --from-dir` against `tar cf` on a tree of 2,000 files in 40 folders,",
              "256 MiB in all."]
    brand = os.path.join(results, "brand.txt")
    if os.path.exists(brand):
        lines += ["", "## The vendor's identity", "", "Command: `scripts/bench-brand.sh`", "", "```"]
        lines += open(brand).read().rstrip().splitlines() + ["```"]
    codec = os.path.join(results, "codec.txt")
    if os.path.exists(codec):
        lines += ["", "## LZW codec against compress/uncompress", "", "Command: `scripts/bench-lzw.sh`", "", "```"]
        lines += open(codec).read().rstrip().splitlines() + ["```"]
    package = os.path.join(results, "package.txt")
    if os.path.exists(package):
        lines += ["", "## Package path on the host", "",
                  "PackageHandle open (map, copy every entry into its buffer, unmap) and extraction of the 1 MiB",
                  "installer entry, native Release build; bytes = package bytes. OpenManyGroups/N: the same on a",
                  "package of N groups (Config, Commonfiles, N-2 groups of one 16-byte entry). Command:",
                  "`bench/package/package_bench` (built in build/bench by the script).", "", "```"]
        lines += open(package).read().rstrip().splitlines() + ["```"]
    notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "RESULTS-notes.md")
    if os.path.exists(notes):
        lines += [""] + open(notes).read().rstrip().splitlines()
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")


def parse(args, names, optional=()):
    opts = {}
    i = 0
    while i < len(args):
        key = args[i][2:]
        if not args[i].startswith("--") or (key not in names and key not in optional) or i + 1 >= len(args):
            sys.exit("bad argument " + args[i])
        opts[args[i][2:]] = args[i + 1]
        i += 2
    missing = [n for n in names if n not in opts]
    if missing:
        sys.exit("missing --" + ", --".join(missing))
    return opts


def save(path, data):
    with open(path, "w") as f:
        json.dump(data, f, indent=1)


def ms(ns):
    return "-" if ns is None else "%.0f" % (ns / 1e6)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__ or "usage: see the file's head")
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "data":
        cmd_data(*args)
    elif cmd == "tree":
        cmd_tree(*args)
    elif cmd == "launch":
        cmd_launch(args)
    elif cmd == "pack":
        cmd_pack(args)
    elif cmd == "report":
        cmd_report(*args)
    else:
        sys.exit("unknown subcommand " + cmd)


if __name__ == "__main__":
    main()
