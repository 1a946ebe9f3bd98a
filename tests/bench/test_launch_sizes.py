#!/usr/bin/env python3
# The launch benchmark's own logic: /proc parsing, the checks of a launch, growth, the RESULTS.md splice.
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench", "launch"))
import launch_sizes as ls  # noqa: E402

STATUS = """Name:\twine-preloader
VmPeak:\t  900000 kB
VmHWM:\t  812345 kB
VmRSS:\t  278000 kB
RssAnon:\t  262800 kB
RssFile:\t   15300 kB
RssShmem:\t       0 kB
"""


def run(**over):
    r = {"running": 5, "exit": 9, "status": 42, "timed_out": False, "installer_command": '"C:\\t\\setup.exe" /S',
         "left_folders": [], "log": "", "peak": {}, "samples": 3, "pid_found": True,
         "processes": 1}
    r.update(over)
    r["problems"] = ls.check(r, 42, "/S")
    return r


class StatusAndPeaks(unittest.TestCase):
    def test_fields_in_kib_and_largest_kept(self):
        fields = ls.status_fields(STATUS)
        self.assertEqual(fields, {"VmHWM": 812345, "VmRSS": 278000, "RssAnon": 262800, "RssFile": 15300})
        peaks = ls.Peaks()
        peaks.add(fields)
        peaks.add({"VmRSS": 100, "RssAnon": 300000, "RssFile": 10, "VmHWM": 812345})
        peaks.add(None)
        self.assertEqual(peaks.samples, 2)
        self.assertEqual(peaks.values["RssAnon"], 300000)
        self.assertEqual(peaks.values["VmRSS"], 278000)

    def test_only_a_wine_loader_counts(self):
        # This interpreter's command line holds its script's path, but it is no Wine loader.
        self.assertEqual(ls.find_processes((os.path.basename(__file__),)), [])


class Checks(unittest.TestCase):
    def test_complete_launch_has_no_problem(self):
        self.assertEqual(run()["problems"], [])

    def test_each_missing_part_of_the_job_is_named(self):
        self.assertIn("exit status 67 (1603), not the installer's 42", run(status=67)["problems"][0])
        self.assertIn("exit status 0, not", run(status=0)["problems"][0])
        self.assertEqual(run(running=None, installer_command=None)["problems"], ["the installer did not run"])
        self.assertIn("lacks '/S'", run(installer_command='"C:\\t\\setup.exe"')["problems"][0])
        killed = run(timed_out=True, status=None)
        self.assertIn("killed", killed["problems"][0])

    def test_left_work_folder_is_told_apart_from_a_failed_launch(self):
        left = run(left_folders=[["/p/Temp/{AB}", ["setup.exe", "setup.oem"]]])
        self.assertEqual(left["problems"], [])
        self.assertEqual(ls.removal_text([run(), left]), "no (1 of 2; {AB} held setup.exe, setup.oem)")
        self.assertEqual(ls.removal_text([run()]), "yes")

    def test_failure_row_carries_the_log_record(self):
        runs = [run(), run(status=1603, running=None, log="12/09 Cannot map\n12/09 Load failed")]
        text = ls.failure_text(runs)
        self.assertTrue(text.startswith("FAILED (1 of 2): exit status 1603"))
        self.assertIn("Vizoror.log: `12/09 Cannot map / 12/09 Load failed`", text)
        self.assertIn("no record in Vizoror.log", ls.failure_text([run(status=1603)]))
        unloaded = ls.failure_text([run(status=67, running=None, stderr="x\nwine: could not load image")])
        self.assertTrue(unloaded.endswith("; no record in Vizoror.log; Wine said: `wine: could not load image`"))
        self.assertEqual(ls.failure_text([run()]), "")


class Growth(unittest.TestCase):
    def test_bytes_of_peak_per_package_byte_over_the_base(self):
        base = {"nominal": 1 << 20, "ours": [run(peak={"VmHWM": 25 * 1024})]}
        big = {"nominal": 257 << 20, "ours": [run(peak={"VmHWM": 25 * 1024 + 3 * 256 * 1024}),
                                              run(peak={"VmHWM": 30 * 1024})]}
        self.assertAlmostEqual(ls.growth(big, base), 3.0)
        self.assertIsNone(ls.growth(base, base))
        self.assertIsNone(ls.growth({"nominal": 2 << 20, "ours": [run()]}, base))


class Report(unittest.TestCase):
    def case(self, folder, label, kind, nominal, ours, nsis=None):
        data = {"label": label, "kind": kind, "bytes": nominal + 100, "nominal": nominal, "rounds": len(ours),
                "load": 1.0, "ours": ours, "arch": "x64", "loader": "/usr/lib/wine/wine64"}
        if nsis:
            data["nsis"] = nsis
        ls.save(os.path.join(folder, "size-%s.json" % label), data)

    def test_rows_verdicts_and_ratio(self):
        with tempfile.TemporaryDirectory() as tmp:
            self.case(tmp, "1M", "stored", 1 << 20, [run(peak={"VmHWM": 25 * 1024, "RssAnon": 8 * 1024})])
            self.case(tmp, "256M", "stored", 256 << 20,
                      [run(running=600 * 10**6, peak={"VmHWM": 25 * 1024 + 255 * 1024, "RssAnon": 70 * 1024})],
                      nsis=[run(running=1000 * 10**6, status=0, peak={"VmHWM": 23 * 1024})])
            self.case(tmp, "1G", "stored", 1 << 30,
                      [run(status=67, running=None, log="x: Failure to open", peak={"VmHWM": 30 * 1024})])
            out = os.path.join(tmp, "section.md")
            ls.cmd_report(tmp, out)
            text = ls.read_text(out)
        main, versus_part = text.split("Against the NSIS", 1)
        rows = {line.split(" | ")[0]: line for line in main.splitlines() if line.startswith("| ")}
        self.assertIn("| 8.0 yes |", rows["| 1 MiB stored"])
        big = rows["| 256 MiB stored"]
        self.assertIn("| 70.0 no |", big)  # private memory over 64 MiB
        self.assertTrue(big.endswith("| 1.00 yes |"), big)  # 255 MiB more over 255 MiB more package
        failed = rows["| 1 GiB stored"]
        self.assertIn("FAILED (1 of 1): exit status 67 (1603)", failed)
        self.assertTrue(failed.endswith("| 30.0 | 0.00 |"), failed)  # figures, no verdict
        versus = [line for line in versus_part.splitlines() if line.startswith("| 256 MiB stored | 1 |")]
        self.assertEqual(len(versus), 1)
        self.assertIn("| 600 | 1000 | 0.60 yes |", versus[0])
        self.assertTrue(text.startswith(ls.BEGIN % "x64") and text.rstrip().endswith(ls.END))
        self.assertIn("## Launch on x64:", text)
        self.assertIn("Architecture: x64 (PE32+ Setup.exe, bench installer and NSIS installer, run by "
                      "/usr/lib/wine/wine64).", text)

    def test_results_of_two_architectures_make_no_section(self):
        with tempfile.TemporaryDirectory() as tmp:
            self.case(tmp, "1M", "stored", 1 << 20, [run()])
            data = ls.json.loads(ls.read_text(os.path.join(tmp, "size-1M.json")))
            data.update(label="2M", arch="x86")
            ls.save(os.path.join(tmp, "size-2M.json"), data)
            with self.assertRaises(SystemExit) as raised:
                ls.cmd_report(tmp, os.path.join(tmp, "section.md"))
            self.assertIn("x64 and x86", str(raised.exception))


FAKE_WINE = r"""#!/bin/sh
# Stands in for the Wine loader: does what the environment asks, as the launcher and installer would.
stamp=$(printf '%s' "${OEM_BENCH_STAMP#Z:}" | tr '\\' '/')
if [ -n "$FAKE_RUN" ]; then printf '%s\n"C:\\w\\setup.exe" %s\n' "$(date +%s%N)" "$2" > "$stamp"; fi
if [ -n "$FAKE_LEAVE" ]; then mkdir -p "$WINEPREFIX/drive_c/users/u/Temp/$FAKE_LEAVE" && : > "$WINEPREFIX/drive_c/users/u/Temp/$FAKE_LEAVE/setup.oem"; fi
if [ -n "$FAKE_LOG" ]; then printf 'Setup.exe %s\r\n\0' "$FAKE_LOG" >> "$WINEPREFIX/drive_c/Vizoror.log"; fi
echo "wine: complaint" >&2
exit "${FAKE_EXIT:-0}"
"""


class Launch(unittest.TestCase):
    """One launch through a stand-in for wine: the stamp, the exit status, leftovers and the log."""

    def launch(self, **fake):
        tmp = self.tmp.name
        env = dict(os.environ, WINELOADER=os.path.join(tmp, "bin", "wine64"),
                   WINEPREFIX=os.path.join(tmp, "prefix"), OEM_BENCH_STAMP=ls.wine_path(os.path.join(tmp, "stamp")))
        env.update(fake)
        r = ls.launch(os.path.join(tmp, "Setup.exe"), env, os.path.join(tmp, "stamp"), "/S", 30, env["WINEPREFIX"])
        r["problems"] = ls.check(r, 42, "/S")
        return r

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        os.makedirs(os.path.join(self.tmp.name, "bin"))
        os.makedirs(os.path.join(self.tmp.name, "prefix", "drive_c", "users", "u", "Temp", "{OLD}"))
        # Named like no wrapper on PATH: the launch must run the loader it is given.
        wine = os.path.join(self.tmp.name, "bin", "wine64")
        with open(wine, "w") as f:
            f.write(FAKE_WINE)
        os.chmod(wine, 0o755)

    def tearDown(self):
        self.tmp.cleanup()

    def test_installer_ran_and_its_code_came_back(self):
        r = self.launch(FAKE_RUN="1", FAKE_EXIT="42")
        self.assertEqual(r["problems"], [])
        self.assertGreater(r["running"], 0)
        self.assertLessEqual(r["running"], r["exit"])
        self.assertEqual(r["left_folders"], [])  # {OLD} was there before
        self.assertEqual((r["log"], r["stderr"]), ("", "wine: complaint"))

    def test_failed_launch_keeps_its_log_record_and_leftover(self):
        r = self.launch(FAKE_EXIT="1603", FAKE_LEAVE="{NEW}", FAKE_LOG="Failure to open")
        self.assertEqual(r["problems"], ["exit status 67 (1603), not the installer's 42", "the installer did not run"])
        self.assertEqual(r["log"], "Setup.exe Failure to open")
        self.assertEqual([os.path.basename(f) for f, _ in r["left_folders"]], ["{NEW}"])
        self.assertEqual(r["left_folders"][0][1], ["setup.oem"])
        temp = os.path.join(self.tmp.name, "prefix", "drive_c", "users", "u", "Temp")
        self.assertEqual(sorted(os.listdir(temp)), ["{OLD}"])  # the next launch starts clean

    def test_a_launch_that_hangs_is_killed(self):
        with open(os.path.join(self.tmp.name, "bin", "wine64"), "w") as f:
            f.write("#!/bin/sh\nsleep 30\n")
        tmp = self.tmp.name
        env = dict(os.environ, WINELOADER=os.path.join(tmp, "bin", "wine64"))
        r = ls.launch(os.path.join(tmp, "Setup.exe"), env, os.path.join(tmp, "stamp"), "/S", 0.3,
                      os.path.join(tmp, "prefix"))
        self.assertTrue(r["timed_out"])
        self.assertLess(r["exit"], 10 * 10**9)
        self.assertIn("no exit within the time limit (killed)", ls.check(r, 42, "/S"))

    def test_no_loader_is_no_launch(self):
        env = {k: v for k, v in os.environ.items() if k != "WINELOADER"}
        with self.assertRaises(SystemExit):
            ls.launch(os.path.join(self.tmp.name, "Setup.exe"), env, os.path.join(self.tmp.name, "stamp"), "/S", 5,
                      os.path.join(self.tmp.name, "prefix"))


def section(arch, body):
    return "%s\n%s\n%s\n" % (ls.BEGIN % arch, body, ls.END)


class Splice(unittest.TestCase):
    def test_replaces_only_the_section_of_its_architecture(self):
        old = "# R\n\nintro\n\n%s\n%s\n## Packaging\nkept\n" % (section("x86", "x86 table"), section("x64", "old"))
        new = ls.splice(old, section("x64", "new table"))
        self.assertEqual(new, "# R\n\nintro\n\n%s\n%s\n## Packaging\nkept\n" % (
            section("x86", "x86 table"), section("x64", "new table")))
        self.assertEqual(ls.splice(new, section("x64", "new table")), new)
        self.assertEqual(ls.launch_sections(new), {"x86": section("x86", "x86 table").rstrip(),
                                                   "x64": section("x64", "new table").rstrip()})

    def test_new_architecture_goes_after_the_last_section(self):
        old = "# R\n\n%s\n## Packaging\n" % section("x86", "x86 table")
        self.assertEqual(ls.splice(old, section("x64", "t")),
                         "# R\n\n%s\n%s\n## Packaging\n" % (section("x86", "x86 table"), section("x64", "t")))

    def test_appends_when_unmarked(self):
        self.assertEqual(ls.splice("# R\n", section("x64", "S")), "# R\n\n" + section("x64", "S"))
        with self.assertRaises(SystemExit):
            ls.splice("# R\n", "no marker\n")


class Entries(unittest.TestCase):
    def test_one_file_per_folder_or_all_in_one(self):
        with tempfile.TemporaryDirectory() as tmp:
            ls.cmd_entries(os.path.join(tmp, "flat"), 5, 0)
            ls.cmd_entries(os.path.join(tmp, "groups"), 3, 3)
            self.assertEqual(len(os.listdir(os.path.join(tmp, "flat"))), 5)
            folders = sorted(os.listdir(os.path.join(tmp, "groups")))
            self.assertEqual(folders, ["g00000", "g00001", "g00002"])
            self.assertEqual(os.listdir(os.path.join(tmp, "groups", "g00002")), ["f00002.bin"])
            with self.assertRaises(SystemExit):
                ls.cmd_entries(os.path.join(tmp, "bad"), 4, 2)


if __name__ == "__main__":
    unittest.main()
