"""The client's benchmarks: pelmora.exe under Wine in the phone's desktop, each figure against a floor
measured in the same run under the same Wine, read from pelmora.exe's trace (PELMORA_TRACE) and from
the Linux process that runs it."""

import hashlib
import os
import re
import shutil
import subprocess
import time

from pelmora_web import end_process

from . import figures, trace
from .canned import CannedService
from .figures import Figure, Goal
from .server_bench import demo_cells
from .wine import Desktop, RemoteControl, monotonic_ticks, windows_path

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
MIB = 1024.0 * 1024.0
PASSWORD_HASH = hashlib.md5("пароль".encode("cp1251")).hexdigest()


def settings_xml(auto_log_in):
    user, digest = ("anna@pelmora.test", PASSWORD_HASH) if auto_log_in else ("", "")
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>\n<Settings>\n    <AutoRun>0</AutoRun>\n'
            '    <AutoLogIn>%d</AutoLogIn>\n    <UserID>%s</UserID>\n    <PassHash>%s</PassHash>\n    <SubName />\n'
            '</Settings>\n' % (1 if auto_log_in else 0, user, digest))


def device_xml(radio_port, com2_port):
    return ('<?xml version="1.0" encoding="UTF-8" ?>\n<Device>\n'
            '    <Radio mode="modem" modem="127.0.0.1:%d"/>\n    <Port name="COM2:" modem="127.0.0.1:%d"/>\n'
            '    <Handset manufacturer="Demo" model="PPC-2003" revision="4.21.1088" serial="354500001234567"'
            ' subscriber="+79161234567" operator="25001"/>\n</Device>\n' % (radio_port, com2_port))


class ModemSimulator:
    """pelmora-phonesim on two free ports: the radio layer's modem and COM2:."""

    def __init__(self, program, folder):
        ready = os.path.join(folder, "phonesim.ports")
        if os.path.exists(ready):
            os.remove(ready)
        self.process = subprocess.Popen([program, "--ready-file", ready, "0", "0"], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.time() + 15
        while True:
            if os.path.exists(ready):
                with open(ready) as file:
                    ports = [int(line) for line in file.read().split()]
                if len(ports) >= 2:
                    self.ports = ports
                    return
            if self.process.poll() is not None or time.time() > deadline:
                raise RuntimeError("pelmora-phonesim did not start")
            time.sleep(0.05)

    def stop(self):
        end_process(self.process)


class ClientBench:
    def __init__(self, win_build, native_build, folder, settings, log):
        self.programs = {name: os.path.join(win_build, name + ".exe") for name in
                         ("pelmora", "pelmora-bench-window", "pelmora-bench-floor", "pelmora-bench-remote")}
        self.native_build = native_build
        self.folder = folder
        self.settings = settings
        self.log = log
        self.figures = []
        self.scaling_rows = []
        self.log_in_parts = []
        self.size_parts = []
        self.profile = None
        self.work = os.path.join(folder, "pelmora")
        self.modem = None
        self.service = None

    # The folder pelmora.exe runs from: the program, its settings and the device profile.
    def prepare_folder(self, auto_log_in):
        os.makedirs(self.work, exist_ok=True)
        target = os.path.join(self.work, "pelmora.exe")
        if not os.path.exists(target) or os.path.getmtime(target) < os.path.getmtime(self.programs["pelmora"]):
            shutil.copy2(self.programs["pelmora"], target)
        with open(os.path.join(self.work, "settings.xml"), "w", encoding="utf-8") as file:
            file.write(settings_xml(auto_log_in))
        with open(os.path.join(self.work, "device.xml"), "w", encoding="utf-8") as file:
            file.write(device_xml(*self.modem.ports[:2]))
        return target

    def trace_path(self, name):
        return os.path.join(self.folder, "traces", name + ".trace")

    def run(self):
        os.makedirs(os.path.join(self.folder, "traces"), exist_ok=True)
        self.modem = ModemSimulator(os.path.join(self.native_build, "pelmora-phonesim"), self.folder)
        self.service = CannedService([address for _, _, address in demo_cells()])
        try:
            desktop = Desktop(vga=False)
            desktop.environment["PELMORA_SERVICE_HOST"] = "127.0.0.1"
            desktop.environment["PELMORA_SERVICE_PORT"] = str(self.service.port)
            remote = RemoteControl(desktop, self.programs["pelmora-bench-remote"])
            try:
                self.start_up(desktop)
                self.log_in(desktop)
                self.groups(desktop, remote)
            finally:
                remote.stop()
            vga = Desktop(vga=True)
            vga.environment["PELMORA_SERVICE_HOST"] = "127.0.0.1"
            vga.environment["PELMORA_SERVICE_PORT"] = str(self.service.port)
            remote = RemoteControl(vga, self.programs["pelmora-bench-remote"])
            try:
                self.repaint(vga, remote)
            finally:
                remote.stop()
            self.size()
        finally:
            self.service.stop()
            self.modem.stop()

    def launch(self, desktop, name, auto_log_in, trace_name):
        program = self.prepare_folder(auto_log_in) if name == "pelmora" else self.programs[name]
        return desktop.start(program, folder=self.work, trace_path=self.trace_path(trace_name))

    def start_up(self, desktop):
        """From starting the program to its first screen painted (the first wait for a message with
        nothing left to paint), against the minimal window program started the same way."""
        samples = {"pelmora": [], "pelmora-bench-window": []}
        loading = {"pelmora": [], "pelmora-bench-window": []}
        for repeat in range(self.settings.client_repeats + 1):
            order = list(samples) if repeat % 2 == 0 else list(reversed(list(samples)))
            for name in order:
                program = self.launch(desktop, name, False, "start-%s-%d" % (name, repeat))
                try:
                    idle = program.wait_for(trace.first_idle, 60, "the first screen painted")
                    entry = next(event.begin for event in program.events() if event.kind == "start")
                finally:
                    program.stop()
                if repeat > 0:  # the first start of each warms Wine's caches and is not counted
                    samples[name].append((idle - program.started) / trace.TICKS_PER_MS)
                    loading[name].append((entry - program.started) / trace.TICKS_PER_MS)
        self.log("  start-up: pelmora %s ms, floor %s ms" % (figures.format_samples(samples["pelmora"]),
                                                            figures.format_samples(samples["pelmora-bench-window"])))
        self.figures.append(Figure(name="start-up to the first screen painted", unit="ms", samples=samples["pelmora"],
                                   floor="minimal Win32 window", floor_samples=samples["pelmora-bench-window"],
                                   goal=Goal("≤ 1.2 × floor", ratio_at_most=1.2),
                                   note="240×320, started by the Wine loader from Linux; of which loading to the "
                                        "program's entry %s ms (floor %s ms)" % (
                                            figures.format_samples(loading["pelmora"]),
                                            figures.format_samples(loading["pelmora-bench-window"]))))

    def log_in(self, desktop):
        """The automatic log-in against the canned service and the simulated modem, both answering at
        once: from the start of the process to the Me tab's place line painted, part by part."""
        self.service.set_people(self.settings.login_people)
        runs = []
        for repeat in range(self.settings.client_repeats):
            program = self.launch(desktop, "pelmora", True, "login-%d" % repeat)
            try:
                parts = program.wait_for(lambda events: trace.log_in_breakdown(events, program.started), 120,
                                         "the Me tab after the log-in")
                events = program.events()
            finally:
                program.stop()
            runs.append((parts, events))
        totals = [parts[-1][1] for parts, _ in runs]
        unavoidable = [sum(milliseconds for label, milliseconds in parts
                           if label.startswith("request ") or label.endswith("the cell reading")) for parts, _ in runs]
        waited = [sum(milliseconds for label, milliseconds in parts
                      if label.startswith("  of which: Sleep") or " ran out" in label) for parts, _ in runs]
        middle = sorted(range(len(runs)), key=lambda index: totals[index])[len(runs) // 2]
        self.log_in_parts = runs[middle][0]
        note = "the breakdown below is the run of median total"
        self.figures.append(Figure(name="automatic log-in to the Me tab with the place line", unit="ms", samples=totals,
                                   floor="its requests and the modem's reading", floor_samples=unavoidable, note=note))
        self.figures.append(Figure(name="log-in: sleeps and waits that ran out (UI thread)", unit="ms",
                                   samples=waited, goal=Goal("none", value_at_most=1.0), note=note))
        self.log("  log-in: %s ms, of which requests %s ms, sleeps and waits %s ms" % (
            figures.format_samples(totals), figures.format_samples(unavoidable), figures.format_samples(waited)))

    def parse_floor(self, desktop, body, repeats):
        path = os.path.join(self.folder, "ineed-%d.xml" % len(body))
        with open(path, "wb") as file:
            file.write(body)
        output = desktop.run(self.programs["pelmora-bench-floor"], ["parse", windows_path(path), str(repeats)])
        return [float(value) for value in re.findall(r"parse-ms ([\d.]+)", output)]

    def logged_in(self, desktop, remote, trace_name, people):
        """pelmora.exe logged in with `people` in its groups, the group tab on screen."""
        self.service.set_people(people)
        program = self.launch(desktop, "pelmora", True, trace_name)
        program.wait_for(trace.logged_in, 120, "the log-in")
        before = monotonic_ticks()
        remote.send("key right")
        program.wait_for(lambda events: trace.paints(events, "PelGroupTabWnd", before) or None, 60,
                         "the group tab painted")
        return program

    def refreshes(self, program, remote, repeats):
        """`repeats` report cycles ("Обновить все места" does the same), each to the group tab painted."""
        results = []
        for _ in range(repeats):
            before = monotonic_ticks()
            remote.send("report")
            results.append(program.wait_for(lambda events: trace.refresh(events, before), 120, "the refresh"))
        return results

    def groups(self, desktop, remote):
        settings = self.settings
        program = self.logged_in(desktop, remote, "groups", settings.people_counts[0])
        floor_program = None
        try:
            for people in settings.people_counts:
                self.service.set_people(people)
                self.refreshes(program, remote, 1)  # the first refresh at this size warms up, not counted
                results = self.refreshes(program, remote, settings.client_repeats)
                floor = self.parse_floor(desktop, self.service.ineed_body, settings.client_repeats)
                busy = [result["busy"] for result in results]
                self.log("  ineed %d people: busy %s ms, parse floor %s ms" % (
                    people, figures.format_samples(busy), figures.format_samples(floor)))
                self.scaling_rows.append(client_scaling_row(people, len(self.service.ineed_body), results, floor,
                                                            program.private_bytes() / MIB))
                if people == settings.people_counts[-1]:
                    self.figures.append(Figure(
                        name='"ineed", %d people in 3 groups: UI thread busy' % people, unit="ms", samples=busy,
                        floor="bare TinyXML parse", floor_samples=floor, goal=Goal("≤ 3 × floor", ratio_at_most=3.0),
                        note="from the request to the group tab painted, less the wait for the server; 240×320"))
            if settings.profile:
                from . import profiles
                self.profile = profiles.profile_wine_process(program, lambda: self.refreshes(program, remote, 3),
                                                             os.path.join(self.folder, "ineed.perf"),
                                                             self.symbols_program())
            floor_program = self.launch(desktop, "pelmora-bench-window", False, "idle-floor")
            floor_program.wait_for(trace.first_idle, 60, "the floor's window")
            self.memory_and_idle(program, floor_program, settings.people_counts[-1])
        finally:
            remote.close(program)
            if floor_program is not None:
                floor_program.stop()

    def symbols_program(self):
        """The shipped pelmora.exe is stripped; the build keeps a copy with its symbol table beside it."""
        copy = os.path.join(os.path.dirname(self.programs["pelmora"]), "pelmora-symbols.exe")
        return copy if os.path.exists(copy) else self.programs["pelmora"]

    def memory_and_idle(self, program, floor_program, people):
        settings = self.settings
        memory = [program.private_bytes() / MIB]
        floor_memory = [floor_program.private_bytes() / MIB]
        windows = max(1, settings.idle_seconds // 10)
        window = settings.idle_seconds / windows
        loads, floor_loads = [], []
        start, floor_start = program.cpu_seconds(), floor_program.cpu_seconds()
        began = time.monotonic()
        for _ in range(windows):
            before, floor_before, at = program.cpu_seconds(), floor_program.cpu_seconds(), time.monotonic()
            time.sleep(window)
            elapsed = time.monotonic() - at
            loads.append(100.0 * (program.cpu_seconds() - before) / elapsed)
            floor_loads.append(100.0 * (floor_program.cpu_seconds() - floor_before) / elapsed)
        elapsed = time.monotonic() - began
        whole = 100.0 * (program.cpu_seconds() - start) / elapsed
        floor_whole = 100.0 * (floor_program.cpu_seconds() - floor_start) / elapsed
        memory.append(program.private_bytes() / MIB)
        floor_memory.append(floor_program.private_bytes() / MIB)
        self.log("  idle %.0f s: pelmora %.3f %% of a core, floor %.3f %%; private memory %.1f MiB, floor %.1f MiB" % (
            elapsed, whole, floor_whole, memory[-1], floor_memory[-1]))
        self.figures.append(Figure(
            name="idle CPU over %.0f s, logged in, worker running" % elapsed, unit="% of a core", samples=loads,
            floor="minimal Win32 window", floor_samples=floor_loads, goal=Goal("< 1 %", value_below=1.0),
            note="whole interval: %.3f %% (floor %.3f %%); the spread is over %d windows of %.0f s" % (
                whole, floor_whole, windows, window)))
        self.figures.append(Figure(
            name="private memory, %d people loaded" % people, unit="MiB", samples=memory,
            floor="minimal Win32 window", floor_samples=floor_memory,
            goal=Goal("< 8 MiB above the floor", above_floor_below=8.0),
            note="resident private pages of the Wine process (Wine's own included, hence the floor), "
                 "before and after the idle interval"))

    def repaint(self, desktop, remote):
        settings = self.settings
        people = settings.people_counts[-1]
        program = self.logged_in(desktop, remote, "repaint", people)
        try:
            before = monotonic_ticks()
            remote.send("scroll %d" % (people // 2))
            program.wait_for(lambda events: trace.paints(events, "PelGroupTabWnd", before) or None, 60,
                             "the scrolled group tab")
            samples = []
            for _ in range(settings.repaint_repeats):
                before = monotonic_ticks()
                remote.send("invalidate")
                samples.append(program.wait_for(lambda events: (trace.paints(events, "PelGroupTabWnd", before)
                                                                or [None])[0], 60, "the repaint"))
        finally:
            remote.close(program)
        rows = os.path.join(self.folder, "rows.txt")
        with open(rows, "w", encoding="utf-8") as file:
            for person in self.service.ineed_rows(people // 2, 24):
                file.write("%s\t%s\n" % person)
        output = desktop.run(self.programs["pelmora-bench-floor"], ["paint", windows_path(rows),
                                                                     str(settings.repaint_repeats)])
        floor = [float(value) for value in re.findall(r"paint-ms ([\d.]+)", output)]
        self.log("  repaint: %s ms, floor %s ms" % (figures.format_samples(samples), figures.format_samples(floor)))
        self.figures.append(Figure(
            name="group tab repaint, %d people, scrolled to the middle" % people, unit="ms", samples=samples,
            floor="the visible rows drawn bare", floor_samples=floor, goal=Goal("≤ 16 ms", value_at_most=16.0),
            note="480×640, BeginPaint (with the erase) to EndPaint"))

    def size(self):
        from . import sizes
        report = sizes.measure(self.programs["pelmora"], self.programs["pelmora-bench-window"],
                               os.path.join(os.path.dirname(self.programs["pelmora"]), "pelmora.map"), self.folder)
        self.size_parts = report["parts"]
        self.figures.append(Figure(
            name="pelmora.exe stripped", unit="MiB", samples=[report["stripped"] / MIB],
            floor="minimal Win32 window, stripped", floor_samples=[report["floor_stripped"] / MIB],
            goal=Goal("< 1 MiB", value_below=1.0),
            note="as built %.2f MiB; where the bytes come from: below" % (report["built"] / MIB)))


def client_scaling_row(people, reply_bytes, results, floor, private_mib):
    busy = [result["busy"] for result in results]
    ratio = figures.median(busy) / figures.median(floor) if floor and figures.median(floor) else None
    return [str(people), "%.0f KiB" % (reply_bytes / 1024.0), figures.format_samples(busy),
            figures.format_samples([result["waiting"] for result in results]),
            figures.format_samples([result["request"] - result["waiting"] for result in results]),
            figures.format_samples([result["after_reply"] for result in results]),
            figures.format_samples([result["measuring"] for result in results]),
            figures.format_samples([result["paint"] for result in results]), figures.format_samples(floor),
            figures.format_number(ratio), "%.1f" % private_mib]


CLIENT_SCALING_HEADER = ["people", "reply", "UI busy ms", "wait for the first byte ms", "receiving ms",
                         "reply to paint ms", "measuring (GetDC) ms", "paint ms", "parse floor ms", "ratio",
                         "private MiB"]
