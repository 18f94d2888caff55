#!/usr/bin/env python3
"""Tests of the fault generator of `make mutate-random` (mutate_random.py).

  mutate_random_test.py [C++ compiler]     (ctest -L tools)
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)
import mutate_random as mr  # noqa: E402

SAMPLE = os.path.join(HERE, "mutate_random_sample.cc")
CXX = "c++"


def sample_faults():
    with open(SAMPLE, encoding="utf-8") as fh:
        code = mr.Code(fh.read())
    return code, [mr.make_fault(0, "sample.cc", code, s) for s in mr.sites(code)]


def dry_run(**env):
    e = dict(os.environ, DRY_RUN="1", ONLY="")
    e.update({k: str(v) for k, v in env.items()})
    return subprocess.run([sys.executable, os.path.join(HERE, "mutate_random.py")], env=e,
                          capture_output=True, text=True, check=True).stdout


class Rules(unittest.TestCase):
    def test_each_rule_makes_the_faults_it_names_and_no_others(self):
        code, faults = sample_faults()
        made = {(f.rule, f.before, f.after) for f in faults}
        cases = [  # rule, the line before, the line after
            ("relational", "if (sum > limit) sum = limit;", "if (sum >= limit) sum = limit;"),
            ("relational", "return x >= lo && x < hi;", "return x > lo && x < hi;"),
            ("relational", "return x >= lo && x < hi;", "return x >= lo && x <= hi;"),
            ("relational", "if (sum <= 0 && limit != 16) return 0;",
             "if (sum < 0 && limit != 16) return 0;"),
            ("relational", "if (sum <= 0 && limit != 16) return 0;",
             "if (sum <= 0 && limit == 16) return 0;"),
            ("relational", "if (x == 2) note(\"x > 1 && !x; return 0;\"); // BAITED code: the "
             "literal stays whole", "if (x != 2) note(\"x > 1 && !x; return 0;\"); // BAITED "
             "code: the literal stays whole"),
            ("arithmetic", "int sum = a + b;", "int sum = a - b;"),
            ("arithmetic", "return sum - 1;", "return sum + 1;"),
            ("arithmetic", "if (m >= 1u) m = m + 1;", "if (m >= 1u) m = m + 0;"),
            ("arithmetic", "counter += 1;", "counter -= 1;"),
            ("logical", "return x >= lo && x < hi;", "return x >= lo || x < hi;"),
            ("logical", "if (!std::isalpha(static_cast<unsigned char>(s[i]))) continue;",
             "if (std::isalpha(static_cast<unsigned char>(s[i]))) continue;"),
            ("constant", "int counter = 0;", "int counter = 1;"),
            ("constant", "if (m >= 1u) m = m + 1;", "if (m >= 0u) m = m + 1;"),
            ("constant", "if (sum <= 0 && limit != 16) return 0;",
             "if (sum <= 0 && limit != 17) return 0;"),
            ("constant", "if (sum <= 0 && limit != 16) return 0;",
             "if (sum <= 0 && limit != 15) return 0;"),
            ("constant", "unsigned m = v & 0x1F;", "unsigned m = v & 0x20;"),
            ("constant", "m |= 0644;", "m |= 0643;"),
            ("constant", "m += 1'000;", "m += 1001;"),
            ("delete", "std::fputs(what, stdout);", "{}"),
            ("delete", "counter += 1;", "{}"),
            ("delete", "n = n - 1;", "{}"),
            ("delete", "++steps;", "{}"),
            ("delete", "counter++;", "{}"),
            ("delete", "if (s[i] == ' ') break;", "if (s[i] == ' ') {}"),
            ("delete", "note(\"one \" \"two\");", "{}"),
            ("return", "return x >= lo && x < hi;", "return !(x >= lo && x < hi);"),
            ("return", "return false;", "return true;"),
            ("return", "if (sum <= 0 && limit != 16) return 0;",
             "if (sum <= 0 && limit != 16) return 1;"),
            ("return", "return sum - 1;", "return {};"),
            ("return", "return x < 0 ? y : 1;", "return {};"),
            ("condition", "if (sum > limit) sum = limit;", "if (true) sum = limit;"),
            ("condition", "if (sum > limit) sum = limit;", "if (false) sum = limit;"),
            ("condition", "while (n > 1) {", "while (false) {"),
            ("condition", "if (run.log.debug_level) trace(sum);",
             "if (false) trace(sum);"),
            ("constant", "if (sum < 0) error_log(1, \"negative\");",
             "if (sum < 1) error_log(1, \"negative\");"),
            ("condition", "for (int k = 0; k < 3; k++) steps += k;",
             "for (int k = 0; false; k++) steps += k;"),
        ]
        for case in cases:
            self.assertIn(case, made)
        for f in faults:  # a fault keeps every line where it was
            self.assertEqual(mr.apply_fault(code.text, f).count("\n"), code.text.count("\n"), f)
        never = [  # (rule, a line where it has no place)
            ("delete", "int sum = a + b;"),  # a declaration
            ("delete", "int steps = 0;"),
            ("return", "return nullptr;"),  # no value to put in its place
            ("condition", "if constexpr (sizeof(int) == 4) y = r;"),
            ("condition", "while (n > 1) {", "while (true) {"),  # no endless loops
            # a log gate forced open only formats what the call drops
            ("condition", "if (run.log.debug_level) trace(sum);", "if (true) trace(sum);"),
            ("constant", "if (sum < 0) error_log(1, \"negative\");",
             "if (sum < 0) error_log(0, \"negative\");"),  # levels 0 and 1 show alike
            ("logical", "int &&r = static_cast<int &&>(y);"),  # a reference, not a logical and
            ("relational", "T twice(T v) {"),
            ("relational", "template <typename T>"),
            ("arithmetic", "int y = -1;"),  # a unary minus
        ]
        # A gate is a log's member, whoever holds the log.
        gates = mr.Code("void f() {\n  if (p.run->log.debug_level) t(1);\n"
                        "  if (log.info_level) t(2);\n  if (blog.debug_level) t(3);\n}\n")
        forced = [gates.text[s.start - 4:s.start] for s in mr.sites(gates)
                  if s.rule == "condition" and s.repl == "true"]
        self.assertEqual(forced, ["if ("], "only blog.debug_level is no gate")
        # Text joined to a literal cannot take a minus: such a fault would not build.
        joined = mr.Code('void f() {\n  s = t + "x";\n  u += "y";\n  v = "a" + w;\n  n = m + k;\n}\n')
        self.assertEqual([(s.start, s.repl) for s in mr.sites(joined) if s.rule == "arithmetic"],
                         [(joined.text.index("m + k") + 2, "-")])
        for rule, before, *after in never:
            hits = [f for f in faults
                    if f.rule == rule and f.before == before and (not after or f.after == after[0])]
            self.assertEqual(hits, [], (rule, before))

    def test_no_fault_in_a_comment_a_literal_or_a_directive(self):
        code, faults = sample_faults()
        bait_lines = {n for n, line in enumerate(code.text.split("\n"), 1) if "BAIT" in line}
        self.assertGreater(len(bait_lines), 6)
        lines = code.text.split("\n")
        for f in faults:
            last = code.line_of(f.end)
            spanned = set(range(f.line, last + 1))
            if "BAITED" in lines[f.line - 1]:  # code and a literal on one line
                self.assertTrue(f.after.endswith("// BAITED code: the literal stays whole"), f)
                if f.rule == "delete":  # the whole call goes, its literal with it
                    self.assertEqual(f.after.split(" //")[0], "if (x == 2) {}")
                else:
                    self.assertIn('note("x > 1 && !x; return 0;");', f.after, f)
                continue
            self.assertFalse(spanned & bait_lines, f)
        # The masked text keeps offsets and lines but hides every literal.
        self.assertEqual(len(code.masked), len(code.text))
        self.assertEqual(code.masked.count("\n"), code.text.count("\n"))
        self.assertNotIn("BAIT", code.masked)
        self.assertIn("std::fputs(what, stdout);", code.masked)

    def test_the_lexer_on_tricky_literals(self):
        cases = [  # text, what must stay visible after masking, what must be hidden
            ('a = "x\\" < y"; b < c;', ["b < c"], ["< y"]),
            ("a = '\\'' < 1; b = 2;", ["< 1", "b = 2"], ["\\'"]),
            ('a = R"d(x)" < 1)d" < 2;', ["< 2"], ["< 1"]),
            ("a = 1'000 < b; c = 'x';", ["1'000 < b", "c = '"], ["x'"]),
            ("x = 1; // y < 2\nz = 3;", ["x = 1;", "z = 3;"], ["y < 2"]),
            ("x = 1; /* y < 2\n w */ z = 3;", ["x = 1;", "z = 3;"], ["y < 2", "w"]),
            ("#define M(a) ((a) < 2 \\\n  && 1)\nint k = 0;", ["int k = 0;"], ["< 2", "&& 1"]),
            ('s = u8"a < b"; t = L\'<\';', ["s = u8", "t = L"], ["a < b", "<'"]),
        ]
        for text, shown, hidden in cases:
            masked = mr.mask(text)
            self.assertEqual(len(masked), len(text))
            for s in shown:
                self.assertIn(s, masked, (text, masked))
            for s in hidden:
                self.assertNotIn(s, masked, (text, masked))

    def test_every_rule_makes_a_fault_that_builds(self):
        code, faults = sample_faults()
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "sample.cc")

            def builds(text):
                with open(path, "w", encoding="utf-8") as fh:
                    fh.write(text)
                return subprocess.run([CXX, "-std=c++20", "-fsyntax-only", "-Wall", "-Wextra",
                                       "-Werror", path], capture_output=True).returncode == 0

            self.assertTrue(builds(code.text))
            for rule in mr.RULES:
                of_rule = [f for f in faults if f.rule == rule]
                self.assertTrue(of_rule, rule)
                for f in of_rule:
                    mutant = mr.apply_fault(code.text, f)
                    self.assertNotEqual(mutant, code.text)
                    if builds(mutant):
                        break
                else:
                    self.fail("no fault of rule %s builds" % rule)


class Draws(unittest.TestCase):
    def test_help_and_unknown_arguments_start_no_run(self):
        script = os.path.join(HERE, "mutate_random.py")
        for args, status, out, err in (
                (["--help"], 0, "Faults drawn by rule", ""),
                (["-h"], 0, "Faults drawn by rule", ""),
                (["--hlep"], 2, "", "mutate-random: unknown argument --hlep (--help lists them)\n"),
                (["--sites"], 2, "", "mutate-random: --sites needs a file\n")):
            r = subprocess.run([sys.executable, script] + args, capture_output=True, text=True,
                               timeout=20)
            self.assertEqual(r.returncode, status, args)
            self.assertTrue(r.stdout.startswith(out) and (out or not r.stdout), r.stdout)
            self.assertEqual(r.stderr, err)

    def test_a_seed_gives_the_same_faults_and_another_seed_others(self):
        first = dry_run(SEED=7, N=40)
        self.assertEqual(first, dry_run(SEED=7, N=40))
        self.assertTrue(first.startswith("mutate-random: seed 7\n"))
        # Faults marked equivalent are shown, as left out, among the 40 drawn.
        def drawn(text):
            return [line for line in text.splitlines()
                    if line[:4].strip().isdigit() and not line.endswith(", left out)")]
        faults = drawn(first)
        self.assertEqual(len(faults), 40)
        other = drawn(dry_run(SEED=8, N=40))
        self.assertLess(len(set(faults) & set(other)), 4)
        # Fault k alone is fault k of the whole draw (two drawn ones, the
        # later asked first).
        by_number = {int(line[:4]): line for line in faults}
        late, early = sorted(by_number)[-2], sorted(by_number)[2]
        alone = dry_run(SEED=7, ONLY="%d,%d" % (late, early)).splitlines()
        self.assertEqual([alone[2], alone[3]], [by_number[late], by_number[early]])

    def test_a_draw_spreads_over_the_files_by_their_lines(self):
        draw = mr.Draw(mr.ROOT, 11)
        faults = [draw.fault(k) for k in range(1, 201)]
        per_folder = {}
        for f in faults:
            per_folder[mr.folder_of(f.file)] = per_folder.get(mr.folder_of(f.file), 0) + 1
        lines = {}
        for f, _ in draw.lines:
            lines[mr.folder_of(f)] = lines.get(mr.folder_of(f), 0) + 1
        for folder, n in lines.items():
            expected = 200.0 * n / len(draw.lines)
            self.assertLessEqual(abs(per_folder.get(folder, 0) - expected), 2 + expected * 0.2,
                                 folder)
        self.assertEqual(len({(f.file, f.line) for f in faults}), 200)

    def test_shipped_files_leave_out_tests_and_what_only_tests_include(self):
        with tempfile.TemporaryDirectory() as root:
            files = {
                "tools/a/run.cc": '#include "tools/a/run.h"\n#include "b.h"\n',
                "tools/a/run.h": "",
                "tools/a/b.h": '#include "tools/a/deep.h"\n',
                "tools/a/deep.h": "",
                "tools/a/run_test.cc": '#include "tools/a/test_support.h"\n',
                "tools/a/test_support.h": '#include "tools/a/run.h"\n',
                "base/core/fails_test_support.cc": '#include "base/core/fails_test_support.h"\n',
                "base/core/fails_test_support.h": "",
                "base/core/x.cc": "",
                "fuzz/f.cc": "",
                "bench/b.cc": "",
                "tools/a/notes.txt": "",
            }
            for f, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(f)), exist_ok=True)
                with open(os.path.join(root, f), "w") as fh:
                    fh.write(text)
            self.assertEqual(mr.shipped_files(root, sorted(files)),
                             ["base/core/x.cc", "tools/a/b.h", "tools/a/deep.h", "tools/a/run.cc",
                              "tools/a/run.h"])

    def test_paths_keep_the_draw_in_the_files_they_name(self):
        with tempfile.TemporaryDirectory() as root:
            files = ["tools/a/x.cc", "tools/a/x.h", "tools/a/b/y.cc", "tools/ab/z.cc",
                     "base/w.cc"]
            for f in files:
                os.makedirs(os.path.join(root, os.path.dirname(f)), exist_ok=True)
                with open(os.path.join(root, f), "w") as fh:
                    fh.write("int f(int a) {\n  if (a < 2) return a + 1;\n  return 0;\n}\n")
            for paths, expected in (
                    (["tools/a"], ["tools/a/b/y.cc", "tools/a/x.cc"]),
                    (["tools/a/"], ["tools/a/b/y.cc", "tools/a/x.cc"]),
                    (["tools/a/*.cc"], ["tools/a/x.cc"]),
                    (["tools/a*"], ["tools/a/b/y.cc", "tools/a/x.cc", "tools/ab/z.cc"]),
                    (["tools/*/*.cc"], ["tools/a/x.cc", "tools/ab/z.cc"]),
                    (["tools/a/b*"], ["tools/a/b/y.cc"]),
                    (["tools/ab/z.cc", " base ", ""], ["base/w.cc", "tools/ab/z.cc"]),
                    ([], ["base/w.cc", "tools/a/b/y.cc", "tools/a/x.cc", "tools/ab/z.cc"])):
                draw = mr.Draw(root, 3, files=files, paths=paths)
                self.assertEqual(draw.files, expected, paths)
                self.assertEqual({draw.fault(k).file for k in range(1, 30)}, set(expected), paths)
            with self.assertRaises(SystemExit):
                mr.Draw(root, 3, files=files, paths=["tools/a", "tools/b"])

    def test_a_fault_marked_equivalent_is_left_out(self):
        draw = mr.Draw(mr.ROOT, 5)
        f = draw.fault(4)
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "equivalent.txt")
            with open(path, "w") as fh:
                fh.write("# a comment\n\nfile: %s\nrule: %s\nbefore:   %s\nafter: %s\n"
                         "why: the sample says so\n" % (f.file, f.rule, f.before, f.after))
            marked = mr.Draw(mr.ROOT, 5, mr.read_equivalents(path))
            got = []
            for g, left_out in marked.candidates():
                got.append((g.number, left_out))
                if g.number == 6:
                    break
            self.assertEqual(got, [(1, None), (2, None), (3, None), (4, "equivalent"),
                                   (5, None), (6, None)])
            with open(path, "w") as fh:
                fh.write("file: x.cc\nbefore: a\nafter: b\n")
            with self.assertRaises(SystemExit):
                mr.read_equivalents(path)


class FakeRunner(mr.Runner):
    """A runner whose ctest answers from a table: test -> status when run in
    a step, and when run alone."""

    def __init__(self, in_step, alone):
        super().__init__("/nonexistent", 2, 30, False)
        self.in_step, self.alone, self.calls = in_step, alone, []
        self.baseline = {t: 5.0 for t in in_step}

    def ctest(self, args, cap=None, jobs=None):
        names = [t for t in self.in_step if re.fullmatch(args[args.index("-R") + 1], t)]
        self.calls.append((sorted(names), jobs))
        table = self.alone if jobs == 1 else self.in_step
        results = []
        for t in names:
            results.append((t, table[t], 1.0))
            if table[t] != "Passed":
                break  # --stop-on-failure: the rest do not run
        return (0 if all(r[1] == "Passed" for r in results) else 8), results, ""


class Runs(unittest.TestCase):
    def test_programs_of_the_build_left_running_are_ended(self):
        with tempfile.TemporaryDirectory() as root:
            build = os.path.join(root, "build")
            os.makedirs(os.path.join(build, "tools"))
            program = os.path.join(build, "tools", "server")
            shutil.copy(shutil.which("sleep"), program)
            left = subprocess.Popen([program, "30"], start_new_session=True)
            replaced = subprocess.Popen([program, "30"], start_new_session=True)
            time.sleep(0.2)  # both are running the program
            os.unlink(program)  # as a new build replaces it
            shutil.copy(shutil.which("sleep"), program)
            other = subprocess.Popen([shutil.which("sleep"), "30"], start_new_session=True)
            try:
                ended = mr.end_leftovers(build)
                self.assertEqual(sorted(ended), sorted([(left.pid, "tools/server"),
                                                        (replaced.pid, "tools/server")]))
                self.assertEqual(left.wait(5), -signal.SIGKILL)
                self.assertEqual(replaced.wait(5), -signal.SIGKILL)
                self.assertIsNone(other.poll())
                self.assertEqual(mr.end_leftovers(build), [])
            finally:
                for p in (left, replaced, other):
                    if p.poll() is None:
                        p.kill()
                    p.wait()

    def test_a_test_out_of_time_counts_only_when_it_runs_out_alone(self):
        cases = [  # (in a step, alone, verdict)
            ({"a": "Passed", "b": "Timeout", "c": "Passed"}, {"b": "Passed"}, ("survived", "")),
            ({"a": "Passed", "b": "Timeout", "c": "Failed"}, {"b": "Passed"}, ("caught", "c")),
            ({"a": "Passed", "b": "Timeout", "c": "Passed"}, {"b": "Timeout"},
             ("caught", "b (timeout, run alone)")),
            ({"a": "Passed", "b": "Timeout", "c": "Passed"}, {"b": "Failed"},
             ("caught", "b (failed, run alone)")),
            ({"a": "Exception: SegFault", "b": "Passed"}, {}, ("caught", "a (exception: segfault)")),
            ({"a": "Passed", "b": "Passed"}, {}, ("survived", "")),
        ]
        for in_step, alone, verdict in cases:
            r = FakeRunner(in_step, alone)
            self.assertEqual(r.run_tests(sorted(in_step)), verdict, (in_step, alone))
            if verdict == ("survived", "") and alone:
                # c ran after the step was cut short at b
                self.assertIn((["c"], None), r.calls, r.calls)

    def test_a_later_run_cuts_time_limits_from_the_originals(self):
        with tempfile.TemporaryDirectory() as tmp:
            sub = os.path.join(tmp, "tools")
            os.makedirs(sub)
            lists = [os.path.join(tmp, "CTestTestfile.cmake"), os.path.join(sub, "x_tests.cmake")]
            for p in lists:
                with open(p, "w") as fh:
                    fh.write('set_tests_properties(a PROPERTIES TIMEOUT 300)\n'
                             'set_tests_properties(b PROPERTIES TIMEOUT "10")\n')

            def limits():
                out = []
                for p in lists:
                    with open(p) as fh:
                        out.append(re.findall(r'TIMEOUT "?(\d+)', fh.read()))
                return out

            def runner(limit):
                r = mr.Runner(tmp, 2, limit, False)
                r.build = tmp
                return r

            runner(30).limit_timeouts()
            self.assertEqual(limits(), [["30", "10"]] * 2)
            runner(120).limit_timeouts()
            self.assertEqual(limits(), [["120", "10"]] * 2)
            runner(5).limit_timeouts()
            self.assertEqual(limits(), [["5", "5"]] * 2)
            with open(lists[0], "w") as fh:  # written anew by CMake
                fh.write('set_tests_properties(a PROPERTIES TIMEOUT 200)\n')
            runner(60).limit_timeouts()
            self.assertEqual(limits(), [["60"], ["60", "10"]])


if __name__ == "__main__":
    if len(sys.argv) > 1:
        CXX = sys.argv.pop(1)
    unittest.main(verbosity=1)
