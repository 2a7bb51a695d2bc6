"""The benchmark's tools (tools/bench): their readers and writers case by case, and with --smoke a run of
run-bench at tiny sizes whose every figure must come out well formed (not fast: the machine is shared).

    python3 tests/bench/bench_test.py                  the readers and writers
    python3 tests/bench/bench_test.py --smoke server   run-bench --smoke --part server, its figures checked
    python3 tests/bench/bench_test.py --smoke client   the same for the client (Wine)"""

import argparse
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "bench"))
sys.path.insert(0, os.path.join(ROOT, "tools", "web"))

from pelmora_bench import canned, figures, profiles, report, server_bench, sizes, trace  # noqa: E402
from pelmora_bench.figures import Figure, Goal  # noqa: E402

T0 = 1000000000  # a trace's times are ticks of 100 ns


def at(milliseconds):
    return T0 + int(milliseconds * 10000)


def line(begin_ms, end_ms, thread, event):
    return "%d %d %d %s" % (at(begin_ms), at(end_ms), thread, event)


# A log-in as pelmora.exe traces it: the handshake, half a second's sleep while the radio thread (2)
# has the modem answer, the configuration and the report, the panes and the groups, then idle.
LOG_IN_TRACE = "\n".join([
    line(100, 100, 1, "start calls=14"),
    line(150, 150, 1, "idle paint-pending=0"),
    line(160, 160.2, 1, "connect socket=5 result=-1"),
    line(160.2, 161, 1, "send socket=5 n=300 host=hand.127.0.0.1"),
    line(161, 170, 1, "recv socket=5 n=358"),
    line(170, 170.1, 1, "recv socket=5 n=0"),
    line(170.1, 171, 1, "close socket=5"),
    line(172, 172.1, 2, "send socket=9 n=9 text=AT+CREG?_"),
    line(172.1, 173.5, 2, "recv socket=9 n=43"),
    line(171.5, 671.5, 1, "sleep ms=500"),
    line(672, 672.1, 1, "connect socket=6 result=-1"),
    line(672.1, 673, 1, "send socket=6 n=180 host=config.127.0.0.1"),
    line(673, 675, 1, "recv socket=6 n=345"),
    line(675, 676, 1, "close socket=6"),
    line(677, 677.1, 1, "connect socket=7 result=-1"),
    line(677.1, 678, 1, "send socket=7 n=256 host=isee.127.0.0.1"),
    line(678, 680, 1, "recv socket=7 n=279"),
    line(680, 681, 1, "close socket=7"),
    line(700, 700.1, 1, "connect socket=8 result=-1"),
    line(700.1, 701, 1, "send socket=8 n=179 host=ineed.127.0.0.1"),
    line(701, 703, 1, "recv socket=8 n=512"),
    line(703, 704, 1, "recv socket=8 n=100"),
    line(704, 705, 1, "close socket=8"),
    line(705, 709, 1, "dc class=PelGroupTabWnd"),
    line(710, 712, 1, "paint class=PelGroupTabWnd"),
    line(720, 720, 1, "idle paint-pending=0"),
]) + "\n"


class Figures(unittest.TestCase):
    def test_samples_are_shown_as_median_and_range(self):
        cases = [([], "–"), ([12.345], "12.3"), ([3, 1, 2], "2.00 (1.00–3.00)"),
                 ([15000, 14000], "14 500 (14 000–15 000)"), ([0.1234, 0.5], "0.312 (0.123–0.500)")]
        for samples, shown in cases:
            with self.subTest(samples=samples):
                self.assertEqual(figures.format_samples(samples), shown)

    def test_goals_judge_the_value_or_its_ratio_to_the_floor(self):
        cases = [
            (Goal("≥ 0.5", ratio_at_least=0.5), 50, 100, True),
            (Goal("≥ 0.5", ratio_at_least=0.5), 49, 100, False),
            (Goal("≤ 2 ×", ratio_at_most=2.0), 20, 10, True),
            (Goal("≤ 2 ×", ratio_at_most=2.0), 21, 10, False),
            (Goal("≤ 16 ms", value_at_most=16.0), 16, None, True),
            (Goal("< 1 %", value_below=1.0), 1.0, 0.1, False),
            (Goal("< 8 MiB above", above_floor_below=8.0), 11.9, 4.0, True),
            (Goal("< 8 MiB above", above_floor_below=8.0), 12.0, 4.0, False),
            (Goal("≤ 2 ×", ratio_at_most=2.0), 20, None, None),
            (Goal("≤ 16 ms", value_at_most=16.0), None, 1, None),
        ]
        for goal, value, floor, met in cases:
            with self.subTest(goal=goal.text, value=value, floor=floor):
                self.assertEqual(goal.met(value, floor), met)

    def test_a_figure_row_holds_median_floor_ratio_goal_and_verdict(self):
        figure = Figure(name="isee", unit="req/s", samples=[100, 300, 200], floor="nginx", floor_samples=[400, 400],
                        goal=Goal("≥ 0.5 of nginx", ratio_at_least=0.5))
        self.assertEqual(figure.cells(), ["isee", "req/s", "200 (100–300)", "nginx", "400 (400–400)", "0.500",
                                          "≥ 0.5 of nginx", "met"])
        self.assertEqual(Figure(name="x", unit="ms", samples=[1], goal=Goal("none", value_at_most=0)).verdict(),
                         "**missed**")

    def test_tables_escape_and_pad(self):
        self.assertEqual(figures.markdown_table(["a", "b"], [["1|2", "3"]]), "| a | b |\n| --- | --- |\n| 1\\|2 | 3 |")
        self.assertEqual(figures.text_table(["name", "x"], [["ab", "1"]]), "name  x\n----  -\nab    1")


class PhoneRequests(unittest.TestCase):
    def test_the_request_is_written_as_the_phone_writes_it(self):
        self.assertEqual(server_bench.phone_request("isee", "token=x&lac=1"),
                         b"POST http://localhost HTTP/1.0\r\nHost: isee.localhost\r\nContent-Type: "
                         b"application/x-www-form-urlencoded\r\nContent-Length: 13\r\n\r\ntoken=x&lac=1\r\n")
        self.assertTrue(server_bench.phone_request("hand", "user_id=Ян").endswith(
            b"Content-Length: 10\r\n\r\nuser_id=\xdf\xed\r\n"))

    def test_lua_strings_hold_any_byte(self):
        cases = [(b"POST /\r\n", '"POST /\\r\\n"'), (b'say "hi"\\', '"say \\034hi\\034\\092"'),
                 ("Ян".encode("cp1251"), '"\\223\\237"'), (b"\x00\x7f", '"\\000\\127"')]
        for data, literal in cases:
            with self.subTest(data=data):
                self.assertEqual(server_bench.lua_string(data), literal)

    def test_wrk_results_are_read_from_the_scripts_line(self):
        output = ('Running 1s test\nwrk-result {"requests": 5000, "duration_us": 2000000, "bytes": 1500000, '
                  '"connect_errors": 1, "read_errors": 2, "write_errors": 0, "status_errors": 3, "timeouts": 4, '
                  '"p50_us": 1500, "p90_us": 2000, "p99_us": 12250, "max_us": 30000}\n')
        result = server_bench.parse_wrk(output)
        self.assertEqual((result["rps"], result["p50_ms"], result["p99_ms"], result["errors"],
                          result["bytes_per_reply"]), (2500.0, 1.5, 12.25, 10, 300.0))
        with self.assertRaises(RuntimeError):
            server_bench.parse_wrk("unable to connect to 127.0.0.1:1 Connection refused\n")


class CannedReplies(unittest.TestCase):
    def test_elements_are_printed_as_tinyxml_prints_them(self):
        cases = [
            (("status", "1"), 1, "    <status>1</status>\n"),
            (("sint", ""), 1, "    <sint />\n"),
            (("title", "Tom & \"Jerry\" <b>'"), 0, "<title>Tom &amp; &quot;Jerry&quot; &lt;b&gt;&apos;</title>\n"),
            (("sint", [("address", "Москва")]), 1, "    <sint>\n        <address>Москва</address>\n    </sint>\n"),
        ]
        for (name, content), depth, printed in cases:
            with self.subTest(name=name):
                self.assertEqual(canned.print_element(name, content, depth), printed)

    def test_the_groups_reply_holds_every_person_once(self):
        body = canned.ineed_document(canned.groups_of(10, ["Москва, ул. Тверская, 7"]))
        self.assertTrue(body.startswith(b'<?xml version="1.0" encoding="UTF-8" ?>\n<ineed>\n    <groups>\n'))
        self.assertEqual(body.count(b"<user>"), 10)
        self.assertEqual(body.count(b"<group>"), 3)
        self.assertEqual([body.count(b"<count>%d</count>" % count) for count in (5, 4)], [1, 2])
        self.assertEqual(canned.reprint(body), body)

    def test_the_shown_rows_follow_the_groups_in_order(self):
        service = canned.CannedService(["Адрес"])
        try:
            service.set_people(6)
            rows = service.ineed_rows(1, 2)
            groups = canned.groups_of(6, ["Адрес"])
            second, fourth = groups[0]["members"][1], groups[1]["members"][0]
            self.assertEqual(rows, [(second["name"], "Адрес, %s км" % second["distance"]),
                                    (fourth["name"], "Адрес, %s км" % fourth["distance"])])
            reply = server_bench.exchange(service.port, server_bench.phone_request("ineed", "token=x&group_list=1"))
            self.assertTrue(reply.startswith(b"HTTP/1.0 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\n"))
            self.assertEqual(server_bench.reply_body(reply), service.ineed_body)
            self.assertEqual(service.requests, ["ineed"])
        finally:
            service.stop()


class Traces(unittest.TestCase):
    def setUp(self):
        self.events = trace.parse(LOG_IN_TRACE)

    def test_lines_cut_short_are_left_out(self):
        cases = [("1 2 3 sleep ms=5\n", 1), ("1 2 3 sleep ms=5\n4 5 3 sl", 1), ("1 2 3 sleep ms=5\n4 5 3 idle\n", 2),
                 ("garbage\n", 0), ("", 0)]
        for text, count in cases:
            with self.subTest(text=text):
                self.assertEqual(len(trace.parse(text)), count)
        event = trace.parse("10 30010 7 select ms=200 result=0\n")[0]
        self.assertEqual((event.ms, event.thread, event.number("ms"), event.details["result"]), (3.0, 7, 200, "0"))

    def test_requests_are_the_sockets_that_name_a_host(self):
        made = trace.requests(self.events)
        self.assertEqual([(request.kind, round(request.ms, 1)) for request in made],
                         [("hand", 11.0), ("config", 4.0), ("isee", 4.0), ("ineed", 5.0)])
        self.assertEqual(trace.first_idle(self.events), at(150))
        self.assertEqual(trace.logged_in(self.events), at(720))

    def test_waits_are_the_sleeps_and_what_ran_out(self):
        extra = trace.parse("\n".join([line(1, 3, 1, "select ms=200 result=0"), line(3, 4, 1, "select ms=200 result=1"),
                                       line(4, 9, 1, "wait ms=5 result=258"), line(9, 10, 1, "wait ms=5 result=0"),
                                       line(10, 11, 2, "sleep ms=1")]) + "\n")
        self.assertEqual(trace.waits(extra, at(0), at(20), 1),
                         [("select 200 ms ran out", 2.0), ("wait 5 ms ran out", 5.0)])

    def test_the_log_in_is_taken_apart(self):
        parts = dict(trace.log_in_breakdown(self.events, at(0)))
        cases = [
            ("start of the process to the program's entry", 100.0),
            ('request "hand" (connect 0.2 ms, first byte 10.0 ms)', 11.0),
            ("  of which: Sleep(500)", 500.0),
            ("  of which: the modem's own answer to the cell reading", 1.5),
            ('request "ineed" (connect 0.1 ms, first byte 3.0 ms)', 5.0),
            ("last reply to the Me tab painted and idle", 15.0),
            ("total: start of the process to the Me tab painted with the place line", 720.0),
        ]
        for label, milliseconds in cases:
            with self.subTest(label=label):
                self.assertAlmostEqual(parts[label], milliseconds, places=3)

    def test_a_refresh_runs_from_the_request_to_the_group_tab_painted(self):
        self.assertEqual({key: round(value, 3) for key, value in trace.refresh(self.events, at(690)).items()},
                         {"total": 12.0, "busy": 9.0, "request": 5.0, "waiting": 3.0, "after_reply": 5.0,
                          "measuring": 4.0, "paint": 2.0})
        self.assertIsNone(trace.refresh(self.events, at(706)))
        self.assertEqual(trace.paints(self.events, "PelGroupTabWnd", at(0)), [2.0])


# A linker map's memory map part, with a name long enough to wrap and sections strip leaves out.
LINK_MAP = """Archive member included to satisfy reference by file (symbol)

/usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(locale.o)
                              /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(ios_init.o) (std::locale::locale())
/usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(ios_init.o)
                              CMakeFiles/pelmora.dir/objects.a(main.cpp.obj) (std::ios_base::Init::Init())
../libtinyxml.a(tinyxml.cpp.obj)
                              (--whole-archive)

Discarded input sections

 .text          0x0000000140001000      0x999 should-not-count.o
Linker script and memory map

.text           0x0000000140001000    0x3000
 .text          0x0000000140001000      0x100 CMakeFiles/pelmora.dir/objects.a(main.cpp.obj)
 .text._ZNSt6localeC2Ev
                0x0000000140001100      0x200 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(locale.o)
 .text          0x0000000140001300      0x300 ../libtinyxml.a(tinyxml.cpp.obj)
 .text          0x0000000140001600       0x40 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc.a(_chkstk.o)
.rdata          0x0000000140004000     0x1000
 .rdata         0x0000000140004000       0x80 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(locale.o)
.bss            0x0000000140005000     0x1000
 .bss           0x0000000140005000      0x800 ../libpelmora_core.a(app_context.cpp.obj)
.rsrc           0x0000000140006000     0x1000
 .rsrc          0x0000000140006000      0x500 CMakeFiles/pelmora.dir/objects.a(pelmora.rc.res)
.debug_info     0x0000000140007000     0x1000
 .debug_info    0x0000000140007000      0x900 ../libpelmora_core.a(app_context.cpp.obj)
"""


class LinkMaps(unittest.TestCase):
    def test_kept_bytes_are_summed_by_origin(self):
        origins, members = sizes.breakdown(LINK_MAP)
        self.assertEqual(dict(origins), {"resources (icons, menus)": 0x500, "TinyXML": 0x300,
                                         "C++ library (libstdc++)": 0x280, "Pelmora's own code": 0x100,
                                         "GCC runtime (libgcc, unwinder)": 0x40})
        self.assertEqual([size for _, size in origins], sorted((size for _, size in origins), reverse=True))
        self.assertEqual(members, [("locale.o", 0x280, ("main.cpp.obj", "std::ios_base::Init::Init()"))])
        self.assertEqual(sizes.pulled_in_by(sizes.inclusions(LINK_MAP), "../libtinyxml.a(tinyxml.cpp.obj)"),
                         ("--whole-archive", ""))

    def test_origins_are_known_by_their_archive(self):
        cases = [("/usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_eh.a(unwind-seh.o)",
                  "GCC runtime (libgcc, unwinder)"),
                 ("/usr/x86_64-w64-mingw32/lib/libmingwex.a(strtod.o)", "C runtime (mingw-w64)"),
                 ("/usr/x86_64-w64-mingw32/lib/libpthread.a(thread.o)", "threads (winpthreads)"),
                 ("/usr/x86_64-w64-mingw32/lib/libkernel32.a(dkfns00012.o)", "import tables of system DLLs"),
                 ("dll stuff", "linker (headers, relocations, padding)")]
        for path, origin in cases:
            with self.subTest(path=path):
                self.assertEqual(sizes.origin_of(path), origin)


class Profiles(unittest.TestCase):
    def test_perf_reports_are_read_row_by_row(self):
        text = ("# Samples: 2K of event 'cpu-clock'\n#\n    12.50%  [.] sqlite3VdbeExec                 -      -\n"
                "     3.25%     1.00%  [k] do_syscall_64\n     0.75%  libc.so.6\n")
        self.assertEqual(profiles.parse_report(text, 10),
                         [(12.5, "sqlite3VdbeExec"), (3.25, "do_syscall_64"), (0.75, "libc.so.6")])
        self.assertEqual(profiles.parse_report(text, 1), [(12.5, "sqlite3VdbeExec")])
        self.assertEqual([profiles.sample_count(text), profiles.sample_count("# Samples: 731 of"),
                          profiles.sample_count("")], [2000, 731, 0])

    def test_names_lose_their_arguments(self):
        cases = [("TiXmlElement::Parse(char const*, TiXmlParsingData*, TiXmlEncoding)", "TiXmlElement::Parse"),
                 ("std::vector<Person, std::allocator<Person> >::push_back(Person const&)",
                  "std::vector<Person, std::allocator<Person> >::push_back"),
                 ("(anonymous namespace)::OnSize(HWND__*)", "(anonymous namespace)::OnSize"), ("memcpy", "memcpy")]
        for symbol, short in cases:
            with self.subTest(symbol=symbol):
                self.assertEqual(profiles.short_name(symbol), short)


class Documents(unittest.TestCase):
    def test_a_run_replaces_only_its_own_block(self):
        cases = [
            ("# Performance\n\nText.\n", "latest", "new\n",
             "# Performance\n\nText.\n\n<!-- bench:latest -->\nnew\n<!-- /bench:latest -->\n"),
            ("A\n<!-- bench:latest -->\nold\n<!-- /bench:latest -->\nB\n", "latest", "new\n",
             "A\n<!-- bench:latest -->\nnew\n<!-- /bench:latest -->\nB\n"),
            ("A\n<!-- bench:before -->\nkept\n<!-- /bench:before -->\n", "latest", "new\n",
             "A\n<!-- bench:before -->\nkept\n<!-- /bench:before -->\n\n"
             "<!-- bench:latest -->\nnew\n<!-- /bench:latest -->\n"),
        ]
        for document, name, content, expected in cases:
            with self.subTest(document=document):
                self.assertEqual(report.replace_block(document, name, content), expected)


# What each smoke run must produce: the figure names (as they begin) and whether each has a floor.
SMOKE_FIGURES = {
    "server": [('server "isee" requests/s', True), ('server "isee" 50th percentile', True),
               ('server "isee" 99th percentile', True), ('server "ineed" requests/s', True),
               ('server "ineed" 50th percentile', True), ('server "ineed" 99th percentile', True),
               ('server "hand" requests/s', True), ('server "hand" 50th percentile', True),
               ('server "hand" 99th percentile', True)],
    "client": [("start-up to the first screen painted", True), ("automatic log-in to the Me tab", True),
               ("log-in: sleeps and waits that ran out", False), ('"ineed", 100 people', True),
               ("idle CPU over", True), ("private memory, 100 people loaded", True),
               ("group tab repaint, 100 people", True), ("pelmora.exe stripped", True)],
}


def finite(value):
    return isinstance(value, (int, float)) and math.isfinite(value)


class SmokeRun(unittest.TestCase):
    part = None
    results = None

    @classmethod
    def setUpClass(cls):
        folder = tempfile.mkdtemp(prefix="pelmora-bench-smoke-")
        cls.addClassCleanup(shutil.rmtree, folder, True)
        path = os.path.join(folder, "results.json")
        done = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "bench", "run-bench"), "--smoke", "--part",
                               cls.part, "--no-document", "--results", path, "--work", os.path.join(folder, "work")],
                              capture_output=True, text=True, timeout=840)
        cls.output = done.stdout + done.stderr
        cls.returncode = done.returncode
        with open(path, encoding="utf-8") as file:
            cls.results = json.load(file)

    def test_the_run_succeeds_and_prints_the_table(self):
        self.assertEqual(self.returncode, 0, self.output)
        self.assertIn("Figure  ", self.output)
        self.assertIn("Goal met", self.output)

    def test_every_figure_is_well_formed(self):
        made = self.results["figures"]
        self.assertEqual(len(made), len(SMOKE_FIGURES[self.part]), [figure["name"] for figure in made])
        for (name, has_floor), figure in zip(SMOKE_FIGURES[self.part], made):
            with self.subTest(figure=name):
                self.assertTrue(figure["name"].startswith(name), figure["name"])
                self.assertTrue(figure["samples"])
                self.assertTrue(all(finite(value) and value >= 0 for value in figure["samples"]), figure)
                if has_floor:
                    self.assertTrue(figure["floor"])
                    self.assertTrue(figure["floor_samples"] and all(finite(value) and value >= 0
                                                                    for value in figure["floor_samples"]), figure)
                    floor = figures.median(figure["floor_samples"])
                    if floor:
                        self.assertAlmostEqual(figure["ratio"], figures.median(figure["samples"]) / floor)
                self.assertIn(figure["verdict"], ["", "met", "**missed**"])

    def test_the_breakdowns_are_complete(self):
        if self.part == "server":
            rows = self.results["server_scaling"]
            self.assertEqual([row[0] for row in rows], ["10 users, 20 connections, --threads 1",
                                                        "5 users, 20 connections, --threads 2",
                                                        "10 users, 4 connections, --threads 2",
                                                        "10 users, 20 connections, --threads 2"])
            by_name = {figure["name"]: figure for figure in self.results["figures"]}
            for kind in ("isee", "ineed", "hand"):
                with self.subTest(kind=kind):
                    p50 = figures.median(by_name['server "%s" 50th percentile' % kind]["samples"])
                    p99 = figures.median(by_name['server "%s" 99th percentile' % kind]["samples"])
                    self.assertLessEqual(p50, p99)
                    self.assertGreater(figures.median(by_name['server "%s" requests/s' % kind]["samples"]), 0)
            return
        labels = [label for label, _ in self.results["log_in_parts"]]
        for request in ("hand", "config", "isee", "ineed"):
            with self.subTest(request=request):
                self.assertTrue(any(label.startswith('request "%s"' % request) for label in labels), labels)
        total = self.results["log_in_parts"][-1][1]
        top = [milliseconds for label, milliseconds in self.results["log_in_parts"] if not label.startswith("  ")]
        self.assertAlmostEqual(sum(top[:-1]), total, delta=0.01 * total)
        self.assertEqual([row[0] for row in self.results["client_scaling"]], ["10", "100"])
        origins = dict(self.results["size_parts"])
        for origin in ("C++ library (libstdc++)", "Pelmora's own code", "TinyXML", "resources (icons, menus)"):
            with self.subTest(origin=origin):
                self.assertGreater(origins.get(origin, 0), 0)


class ServerLayout(unittest.TestCase):
    """The client's canned service answers in the layout of pelmora-server's own replies."""

    def test_the_servers_replies_print_as_the_canned_ones(self):
        import pelmora_web
        folder = tempfile.mkdtemp(prefix="pelmora-bench-layout-")
        self.addCleanup(shutil.rmtree, folder, True)
        server = pelmora_web.Server(os.path.join(ROOT, "build", "native", "pelmora-server"), folder)
        try:
            phone = pelmora_web.Phone(server)
            phone.log_in("demo@pelmora.ru", "pelmora")
            bodies = {"config": "token=%s&config_get=1" % phone.token, "ineed": "token=%s&group_list=1" % phone.token,
                      "isee": "token=%s&mnc=01&lac=7701&cid=10101&lac1=7701&cid1=10101&lac2=7701&cid2=10101"
                              "&delta=0&db=0" % phone.token}
            for kind, body in bodies.items():
                with self.subTest(kind=kind):
                    reply = server_bench.exchange(server.port, server_bench.phone_request(kind, body))
                    document = server_bench.reply_body(reply)
                    self.assertEqual(canned.reprint(document), document)
                    self.assertEqual(canned.http_reply(document), reply)
        finally:
            server.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--smoke", choices=["server", "client"])
    arguments, rest = parser.parse_known_args()
    loader = unittest.TestLoader()
    if arguments.smoke:
        SmokeRun.part = arguments.smoke
        suite = loader.loadTestsFromTestCase(SmokeRun)
        if arguments.smoke == "server":
            suite.addTests(loader.loadTestsFromTestCase(ServerLayout))
    else:
        suite = unittest.TestSuite(loader.loadTestsFromTestCase(case) for case in
                                   (Figures, PhoneRequests, CannedReplies, Traces, LinkMaps, Profiles, Documents))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
