#!/usr/bin/env python3
# Launches of big and many-entry packages under Wine: checks, time to the installer, memory by kind.
#
# Subcommands (paths POSIX; Wine sees them through drive Z:):
#   entries OUT NFILES NDIRS     NFILES files of 16 bytes in OUT; NDIRS 0: all in OUT, else one
#                                file in each of NDIRS folders (NFILES must equal NDIRS then)
#   run --label L --kind K --bytes B --ours EXE [--nsis EXE] [--before EXE] --rounds N --stamp FILE
#       --json OUT --arch x86|x64 [--exit-code C] [--switches S] [--timeout SEC]
#                                N launches of EXE (with --nsis or --before, the same package in
#                                another launcher: warm-up each, then alternated) by the loader in
#                                WINELOADER; per launch the checks, times and memory samples
#   unmade --label L --kind K --nominal B --json OUT --reason TEXT --arch x86|x64
#                                a case whose package could not be made (a row saying so)
#   report RESULTS_DIR OUT.md    the launch section of bench/RESULTS.md from the JSON files (all
#                                of one architecture)
#   splice RESULTS.md SECTION.md puts SECTION.md between the launch markers of its architecture
#                                in RESULTS.md, leaving another architecture's section alone
#
# Memory: the processes to sample are those whose /proc/PID/exe is Wine's loader (wine-preloader;
# Debian's Wine has none, there it is /usr/lib/wine/wine) and whose command line holds the
# program's path, POSIX or Z: form (Wine rewrites the loader's argv to the program's command
# line; a program too big to load into the process started is run through start.exe in a new
# process). Each one's /proc/PID/status is read every SAMPLE_S seconds until the started process
# exits; the program's own is the one with the largest VmHWM, and for it the largest RssAnon,
# RssFile and VmRSS seen and the last VmHWM (the kernel's own peak of the resident set, not
# sampled) are kept.
import glob
import json
import os
import re
import signal
import statistics
import subprocess
import sys
import time

# The command-line and result-file helpers the packaging benchmark uses too.
from side_by_side import parse, save, wine_loader  # noqa: E402

SAMPLE_S = 0.005
RESCAN = 20
# One launch section per Windows architecture, each between its own start marker and END.
BEGIN = "<!-- launch section (%s): written by scripts/bench-launch.sh -->"
BEGIN_RE = re.compile(r"<!-- launch section \((\w+)\): written by scripts/bench-launch.sh -->")
END = "<!-- end of launch section -->"
# What each architecture's Setup.exe is.
PROGRAM_KIND = {"x86": "PE32", "x64": "PE32+"}
MiB = 1024 * 1024


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def cmd_entries(out, nfiles, ndirs):
    nfiles, ndirs = int(nfiles), int(ndirs)
    if ndirs and ndirs != nfiles:
        sys.exit("entries: with folders, one file in each")
    os.makedirs(out, exist_ok=True)
    for i in range(nfiles):
        folder = os.path.join(out, "g%05d" % i) if ndirs else out
        if ndirs:
            os.mkdir(folder)
        with open(os.path.join(folder, "f%05d.bin" % i), "wb") as f:
            f.write(b"%015d\n" % i)


def status_fields(text):
    """VmRSS, VmHWM, RssAnon, RssFile of a /proc/PID/status text, KiB (missing ones absent)."""
    out = {}
    for line in text.splitlines():
        key, _, value = line.partition(":")
        if key in ("VmRSS", "VmHWM", "RssAnon", "RssFile"):
            out[key] = int(value.split()[0])
    return out


WINE_LOADERS = ("wine", "wine-preloader", "wine64", "wine64-preloader")


def find_processes(needles, ignore=()):
    """PIDs of the Wine loader processes (wine, or wine-preloader where Wine has one) whose
    command line holds one of needles, except those in ignore.

    Wine rewrites a loader's argv to the Windows program's own command line, so the program's
    path is looked for anywhere in it, in its POSIX and its Z: form: a program Wine cannot load
    into the process started is run by `start.exe /exec PATH` in a new process (parent 1, not a
    descendant of the one started) whose command line has the Z: form."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) in ignore:
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read()
            exe = os.readlink("/proc/%s/exe" % entry)
        except OSError:
            continue
        if os.path.basename(exe) in WINE_LOADERS and any(n.encode() in cmdline for n in needles):
            found.append(int(entry))
    return found


class Peaks:
    """Largest of each field over the samples; VmHWM as last read (the kernel keeps it monotonic)."""

    def __init__(self):
        self.values = {}
        self.samples = 0

    def add(self, fields):
        if not fields:
            return
        self.samples += 1
        for key, value in fields.items():
            self.values[key] = max(self.values.get(key, 0), value)


def temp_folders(prefix):
    """Names of the {GUID} folders in the prefix's temporary folders."""
    names = set()
    for temp in glob.glob(os.path.join(prefix, "drive_c/users/*/AppData/Local/Temp")) + \
            glob.glob(os.path.join(prefix, "drive_c/users/*/Temp")) + \
            glob.glob(os.path.join(prefix, "drive_c/windows/temp")):
        try:
            names |= {os.path.join(temp, n) for n in os.listdir(temp) if n.startswith("{") and n.endswith("}")}
        except OSError:
            pass
    return names


def read_text(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


def log_size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def launch(exe, env, stamp, switches, timeout, prefix):
    """One launch of exe under Wine: times (ns), exit status, stamp, memory, left folders, new log text."""
    if os.path.exists(stamp):
        os.remove(stamp)
    log = os.path.join(prefix, "drive_c/Vizoror.log")
    log_before = log_size(log)
    folders_before = temp_folders(prefix)
    argv = [wine_loader(env), exe] + switches.split()
    needles = (exe, wine_path(exe))
    ignore = set(find_processes(needles))  # left over from an earlier launch: not this one's
    start = time.time_ns()
    # Wine's own complaints (a program it cannot load) go to a file, never a pipe: a pipe
    # would stay open in whatever Wine process outlives the launch.
    errors_path = stamp + ".stderr"
    with open(errors_path, "wb") as errors:
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=errors, start_new_session=True)
    # Every matching process is sampled; the program's own is the one with the largest peak.
    # The list is renewed every RESCAN samples, and at every sample while it is empty.
    peaks, timed_out, tick = {}, False, 0
    while True:
        done, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if done:
            break
        if time.time_ns() - start > timeout * 1e9:
            os.killpg(proc.pid, signal.SIGKILL)
            for pid in peaks:  # one that start.exe made is in no group of ours
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
            timed_out = True
            _, status, usage = os.wait4(proc.pid, 0)
            break
        if not peaks or tick % RESCAN == 0:
            for pid in find_processes(needles, ignore):
                peaks.setdefault(pid, Peaks())
        tick += 1
        for pid, peak in peaks.items():
            try:
                with open("/proc/%d/status" % pid) as f:
                    peak.add(status_fields(f.read()))
            except OSError:
                pass
        time.sleep(SAMPLE_S)
    own = max(peaks.values(), key=lambda p: p.values.get("VmHWM", 0), default=Peaks())
    end = time.time_ns()
    stamp_ns, installer_line = None, None
    try:
        lines = read_text(stamp, "rb").decode("latin-1").split("\n")
        stamp_ns = int(lines[0].strip())
        installer_line = lines[1] if len(lines) > 1 else ""
    except (OSError, ValueError):
        pass
    new_log = ""
    if log_size(log) > log_before:
        with open(log, "rb") as f:
            f.seek(log_before)
            new_log = f.read().decode("latin-1").replace("\0", "").strip()
    try:
        wine_errors = read_text(errors_path, "rb").decode("latin-1").strip()
    except OSError:
        wine_errors = ""
    left = []
    for folder in sorted(temp_folders(prefix) - folders_before):
        try:
            left.append([folder, sorted(os.listdir(folder))])
        except OSError:
            left.append([folder, []])
        subprocess.run(["rm", "-rf", folder])  # so that one launch's leftovers do not count against the next
    return {
        "running": None if stamp_ns is None else stamp_ns - start,
        "exit": end - start,
        "status": None if timed_out else os.waitstatus_to_exitcode(status),
        "timed_out": timed_out,
        "maxrss": usage.ru_maxrss,
        "cpu": int((usage.ru_utime + usage.ru_stime) * 1e9),  # the loader's process: all the program's threads
        "pid_found": bool(peaks),
        "processes": len(peaks),
        "samples": own.samples,
        "peak": own.values,
        "installer_command": installer_line,
        "left_folders": left,
        "log": new_log,
        "stderr": wine_errors[-400:],
    }


def check(run, exit_code, switches):
    """Empty when the installer ran with the switches and its exit code came back, else why not."""
    problems = []
    if run["timed_out"]:
        problems.append("no exit within the time limit (killed)")
    elif run["status"] != exit_code:
        # Unix keeps the low 8 bits of a Windows exit code: the launcher's 1603 arrives as 67.
        problems.append("exit status %s%s, not the installer's %d" % (
            run["status"], " (1603)" if run["status"] == 1603 % 256 else "", exit_code))
    if run["running"] is None:
        problems.append("the installer did not run")
    elif not run["installer_command"].rstrip().endswith(" " + switches):
        problems.append("installer command line %r lacks %r" % (run["installer_command"], switches))
    return problems


def removal_text(runs):
    """'yes' when no launch left a folder in the temporary folder, else how many did and what was in one."""
    left = [r for r in runs if r["left_folders"]]
    if not left:
        return "yes"
    folder, files = left[0]["left_folders"][0]
    return "no (%d of %d; %s held %s)" % (len(left), len(runs), os.path.basename(folder), ", ".join(files) or "nothing")


def cmd_run(args):
    opts = parse(args, ["label", "kind", "bytes", "ours", "rounds", "stamp", "json", "arch"],
                 ["nsis", "before", "exit-code", "switches", "timeout", "nominal"])
    exit_code = int(opts.get("exit-code", "42"))
    switches = opts.get("switches", "/S")
    timeout = float(opts.get("timeout", "300"))
    prefix = os.environ["WINEPREFIX"]
    env = dict(os.environ, OEM_BENCH_STAMP=wine_path(opts["stamp"]), OEM_BENCH_EXIT=str(exit_code))
    nsis_env = dict(env, OEM_BENCH_EXIT="0")  # NSIS's ExecWait does not hand the code back
    sides = [("ours", opts["ours"], env, exit_code)]
    if opts.get("before"):
        sides.append(("before", opts["before"], env, exit_code))
    if opts.get("nsis"):
        sides.append(("nsis", opts["nsis"], nsis_env, 0))
    if len(sides) > 1:
        for _, exe, side_env, _ in sides:  # warm-up: page cache, Wine's DLLs
            launch(exe, side_env, opts["stamp"], switches, timeout, prefix)
    out = {"label": opts["label"], "kind": opts["kind"], "bytes": int(opts["bytes"]),
           "nominal": int(opts.get("nominal", opts["bytes"])), "rounds": int(opts["rounds"]),
           "switches": switches, "exit_code": exit_code, "load": None,
           "arch": opts["arch"], "loader": wine_loader(env)}
    for name, _, _, _ in sides:
        out[name] = []
    for _ in range(int(opts["rounds"])):
        for name, exe, side_env, code in sides:
            run = launch(exe, side_env, opts["stamp"], switches, timeout, prefix)
            run["problems"] = check(run, code, switches)
            out[name].append(run)
    out["load"] = os.getloadavg()[0]
    save(opts["json"], out)
    for name, _, _, _ in sides:
        runs = out[name]
        bad = [r for r in runs if r["problems"]]
        print("%-14s %-4s running %s ms, exit %s ms, VmHWM %s MiB, RssAnon %s MiB, %s" % (
            opts["label"], name, ms(median([r["running"] for r in runs])), ms(median([r["exit"] for r in runs])),
            mib(largest(runs, "VmHWM")), mib(largest(runs, "RssAnon")),
            "FAILED: " + "; ".join(bad[0]["problems"]) if bad else "ok"))


def cmd_unmade(args):
    opts = parse(args, ["label", "kind", "nominal", "json", "reason", "arch"])
    save(opts["json"], {"label": opts["label"], "kind": opts["kind"], "bytes": 0, "nominal": int(opts["nominal"]),
                        "arch": opts["arch"],
                        "rounds": 0, "ours": [], "unmade": opts["reason"], "load": os.getloadavg()[0]})


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def largest(runs, key):
    values = [r["peak"].get(key) for r in runs if r["peak"].get(key) is not None]
    return max(values) if values else None


def ms(ns):
    return "-" if ns is None else "%.0f" % (ns / 1e6)


def mib(kib):
    return "-" if kib is None else "%.1f" % (kib / 1024)


def ratio(a, b):
    return "-" if a is None or b is None or b == 0 else "%.2f" % (a / b)


def failure_text(runs):
    """'' when every run did its job; else FAILED with the first failed run's reasons and log record."""
    bad = [r for r in runs if r["problems"]]
    if not bad:
        return ""
    text = "FAILED (%d of %d): %s" % (len(bad), len(runs), "; ".join(bad[0]["problems"]))
    if bad[0]["log"]:
        records = [line for line in bad[0]["log"].splitlines() if line.strip()]
        text += "; Vizoror.log: `%s`" % " / ".join(records[-3:]).replace("`", "'")
    elif not bad[0]["timed_out"]:
        text += "; no record in Vizoror.log"
    if bad[0].get("stderr"):
        text += "; Wine said: `%s`" % bad[0]["stderr"].splitlines()[-1].replace("`", "'")
    return text


def growth(row, base):
    """Bytes of VmHWM per nominal package byte over the base row; None when it cannot be told."""
    hwm, base_hwm = largest(row["ours"], "VmHWM"), largest(base["ours"], "VmHWM")
    span = row["nominal"] - base["nominal"]
    if hwm is None or base_hwm is None or span <= 0 or row is base:
        return None
    return (hwm - base_hwm) * 1024.0 / span


def cmd_report(results, out):
    rows = []
    for name in sorted(os.listdir(results)):
        if name.startswith("size-") and name.endswith(".json"):
            rows.append(json.loads(read_text(os.path.join(results, name))))
    order = {"stored": 0, "compressed": 1, "code-zlib": 1, "code-lzma": 1, "entries": 2, "groups": 3}
    rows.sort(key=lambda d: (order.get(d["kind"], 9), d["nominal"]))
    stored_ok = [d for d in rows if d["kind"] == "stored" and not failure_text(d["ours"])]
    base = min(stored_ok, key=lambda d: d["nominal"]) if stored_ok else None
    arches = sorted({d.get("arch") or "unknown" for d in rows})
    if len(arches) != 1:
        sys.exit("report: the results in %s are for %s; one architecture per section" % (
            results, " and ".join(arches) or "no architecture"))
    arch = arches[0]
    loaders = sorted({d["loader"] for d in rows if d.get("loader")})
    lines = [BEGIN % arch, "## Launch on %s: big packages, many entries, against NSIS" % arch, "",
             "Architecture: %s (%s Setup.exe, bench installer and NSIS installer, run by %s)." % (
                 arch, PROGRAM_KIND.get(arch, "?"), ", ".join(loaders) or "-"), "",
             "Command: `%s`, run %s (1-minute load %s at the end)." % (
                 os.environ.get("BENCH_COMMAND", "scripts/bench-launch.sh"),
                 time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
                 "/".join("%.1f" % d["load"] for d in rows if d.get("load") is not None) or "-"), "",
             "Every launch is checked: the installer ran with the switches given to Setup.exe (`/S`, as the",
             "installer's own command line shows) and Setup.exe exited with the installer's exit code (42);",
             "a launch that does not is counted FAILED with what C:\\Vizoror.log got. *work folder removed*:",
             "no new {GUID} folder in the prefix's temporary folder once Setup.exe has exited. Verdicts on",
             "the targets (yes/no) only for cases whose launches all ran the installer.", "",
             "| package | Setup.exe bytes | runs | result | work folder removed | to installer, ms | to exit, ms |"
             " peak RssAnon MiB (< 64) | peak RssFile MiB | peak VmRSS MiB | VmHWM MiB | VmHWM growth per byte (<= 1.1) |",
             "|---|---:|---:|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    for d in rows:
        runs = d["ours"]
        grow = growth(d, base) if base else None
        anon = largest(runs, "RssAnon")
        # A launch that failed says nothing about the targets: figures without a verdict.
        judged = runs and not failure_text(runs)
        lines.append("| %s | %d | %d | %s | %s | %s | %s | %s%s | %s | %s | %s | %s |" % (
            describe(d), d["bytes"], len(runs),
            "NOT MADE: " + d["unmade"] if d.get("unmade") else failure_text(runs) or "ok",
            removal_text(runs) if runs else "-",
            ms(median([r["running"] for r in runs])), ms(median([r["exit"] for r in runs])),
            mib(anon), "" if anon is None or not judged else (" yes" if anon < 64 * 1024 else " no"),
            mib(largest(runs, "RssFile")), mib(largest(runs, "VmRSS")), mib(largest(runs, "VmHWM")),
            "-" if grow is None else "%.2f%s" % (grow, "" if not judged else " yes" if grow <= 1.1 else " no")))
    versus = [d for d in rows if d.get("nsis")]
    if versus:
        lines += ["", "Against the NSIS installer doing the same job (bench/launch/nsis-same-job.nsi, silent; it",
                  "stores what Setup.exe stores and compresses with zlib (SetCompressor zlib; LZMA where the row",
                  "says so) what Setup.exe compresses with LZW), alternated after one warm-up each; medians;",
                  "ratio = Setup.exe / NSIS,",
                  "target at most 0.6:", "",
                  "| package | rounds | to installer: ours | NSIS | ratio | to exit: ours | NSIS | ratio |"
                  " VmHWM ours | NSIS | peak RssAnon ours | NSIS | peak RssFile ours | NSIS |",
                  "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
        for d in versus:
            o, n = d["ours"], d["nsis"]
            ro, rn = median([r["running"] for r in o]), median([r["running"] for r in n])
            eo, en = median([r["exit"] for r in o]), median([r["exit"] for r in n])
            r = ratio(ro, rn)
            lines.append("| %s | %d | %s | %s | %s%s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
                describe(d), d["rounds"], ms(ro), ms(rn), r, "" if r == "-" else (" yes" if float(r) <= 0.6 else " no"),
                ms(eo), ms(en), ratio(eo, en), mib(largest(o, "VmHWM")), mib(largest(n, "VmHWM")),
                mib(largest(o, "RssAnon")), mib(largest(n, "RssAnon")), mib(largest(o, "RssFile")),
                mib(largest(n, "RssFile"))))
            bad = failure_text(n)
            if bad:
                lines.append("| (NSIS %s) | | %s | | | | | | | | | | | |" % (describe(d), bad))
    earlier = [d for d in rows if d.get("before")]
    if earlier:
        lines += ["", "Against the launcher before (OEM_BENCH_BEFORE: %s), the same package, alternated after one" % (
                      os.environ.get("OEM_BENCH_BEFORE_NAME", "another build")),
                  "warm-up each; medians; cost = (Setup.exe - before) / before, target at most 2 %; processor",
                  "time = user + system time of the launcher's process (all its threads, not Wine's server):", "",
                  "| package | rounds | to installer: ours | before | cost | to exit: ours | before | cost |"
                  " processor ms: ours | before | cost |",
                  "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
        for d in earlier:
            o, b = d["ours"], d["before"]
            ro, rb = median([r["running"] for r in o]), median([r["running"] for r in b])
            eo, eb = median([r["exit"] for r in o]), median([r["exit"] for r in b])
            co, cb = median([r.get("cpu") for r in o]), median([r.get("cpu") for r in b])
            lines.append("| %s | %d | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
                describe(d), d["rounds"], ms(ro), ms(rb), cost(ro, rb), ms(eo), ms(eb), cost(eo, eb),
                ms(co), ms(cb), cost(co, cb)))
            bad = failure_text(b)
            if bad:
                lines.append("| (before, %s) | | %s | | | | | | | | |" % (describe(d), bad))
    lines += ["", "Every run, ms to the installer / to exit (- = the installer did not run):", ""]
    for d in rows:
        for side, title in (("ours", "Setup.exe"), ("before", "before"), ("nsis", "NSIS")):
            if d.get(side):
                lines.append("- %s, %s: %s" % (describe(d), title, ", ".join(
                    "%s/%s" % (ms(r["running"]), ms(r["exit"])) for r in d[side])))
    warnings = os.path.join(results, "warnings.txt")
    if os.path.exists(warnings):
        lines += [""] + ["Warning: " + w for w in read_text(warnings).splitlines() if w.strip()]
    found = [r for d in rows for side in ("ours", "before", "nsis") for r in d.get(side) or []]
    lines += ["", "Memory: /proc/PID/status of every process whose /proc/PID/exe is Wine's loader (here",
              "%s: Debian's Wine has no wine-preloader) and whose command line holds the" % (
                  ", ".join(loaders) or "-"),
              "package's path (Wine rewrites it to the program's; a program Wine cannot load into the",
              "process started runs through start.exe in a new process, which has the Z: form), read every",
              "%g ms; the launcher's own process is the one with the largest VmHWM. Peak RssAnon /" % (SAMPLE_S * 1000),
              "RssFile / VmRSS = largest sample of it, VmHWM = the kernel's own peak of its resident set (not",
              "sampled). Growth = (VmHWM - VmHWM of the smallest stored package that ran) / (package bytes -",
              "its bytes), package bytes for the LZW row = the installer entry's size. Samples per launch:",
              "%s (median); no process found in %d of %d launches; Wine ran the package through start.exe"
              " (two processes) in %d." % (
                  "%.0f" % median([r["samples"] for r in found]) if found else "-",
                  sum(not r["pid_found"] for r in found), len(found),
                  sum(r.get("processes", 1) > 1 for r in found)), END]
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")


def cost(ours, before):
    """(ours - before) / before in per cent, signed; '-' when either is missing."""
    if ours is None or before is None or before == 0:
        return "-"
    return "%+.1f %%" % (100.0 * (ours - before) / before)


def describe(d):
    if d["kind"] == "stored":
        return "%s stored" % size_name(d["nominal"])
    if d["kind"] == "compressed":
        return "installer entry %s, LZW" % size_name(d["nominal"])
    if d["kind"] in ("code-zlib", "code-lzma"):
        return "machine-code installer %s, LZW (NSIS %s)" % (size_name(d["nominal"]), d["kind"][5:])
    return "{:,} {}".format(d["nominal"], d["kind"])


def size_name(n):
    return "%g GiB" % (n / (1024 * MiB)) if n >= 1024 * MiB else "%g MiB" % (n / MiB)


def section_arch(section):
    """The architecture a launch section is for, from its start marker."""
    found = BEGIN_RE.search(section)
    if not found:
        sys.exit("not a launch section: no start marker")
    return found.group(1)


def launch_sections(text):
    """The launch sections in text by architecture, each from its start marker to END."""
    sections = {}
    for found in BEGIN_RE.finditer(text):
        end = text.find(END, found.end())
        if end >= 0:
            sections[found.group(1)] = text[found.start():end + len(END)]
    return sections


def splice(text, section):
    """text with the launch section of section's architecture replaced by section; a section of an
    architecture text has none of goes after its last launch section (at the end when it has none)."""
    begin = BEGIN % section_arch(section)
    section = section.rstrip("\n")
    if begin in text and END in text.split(begin, 1)[1]:
        head, rest = text.split(begin, 1)
        return head + section + rest.split(END, 1)[1]
    if BEGIN_RE.search(text) and END in text:
        head, _, tail = text.rpartition(END)
        return head + END + "\n\n" + section + tail
    return text.rstrip("\n") + "\n\n" + section + "\n"


def cmd_splice(results_md, section_md):
    text = read_text(results_md) if os.path.exists(results_md) else "# Benchmark results\n"
    with open(results_md, "w") as f:
        f.write(splice(text, read_text(section_md)))




def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__ or "usage: see the file's head")
    cmd, args = sys.argv[1], sys.argv[2:]
    commands = {"entries": lambda: cmd_entries(*args), "run": lambda: cmd_run(args),
                "report": lambda: cmd_report(*args), "unmade": lambda: cmd_unmade(args), "splice": lambda: cmd_splice(*args)}
    if cmd not in commands:
        sys.exit("unknown subcommand " + cmd)
    commands[cmd]()


if __name__ == "__main__":
    main()
