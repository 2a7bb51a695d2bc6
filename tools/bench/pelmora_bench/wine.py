"""Windows programs under the Wine that tools/wine-run sets up (the phone-sized desktop, the prefix of
this tree), started directly so that their Linux process, its CPU time and its memory can be read."""

import os
import subprocess
import time

from pelmora_web import end_process

from . import trace

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")


def monotonic_ticks():
    """Now on the trace's clock: CLOCK_MONOTONIC_RAW in 100-nanosecond ticks."""
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW) // 100


def windows_path(path):
    """Wine maps the Linux root to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def process_cpu_seconds(pid):
    """CPU time of all the process's threads so far: the scheduler's nanoseconds where the kernel keeps
    them, else utime + stime in clock ticks."""
    total_ns = 0
    found = False
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as file:
                total_ns += int(file.read().split()[0])
                found = True
    except OSError:
        found = False
    if found:
        return total_ns / 1e9
    with open("/proc/%d/stat" % pid) as file:
        fields = file.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def private_bytes(pid):
    """The process's private resident memory (Private_Clean + Private_Dirty of smaps_rollup)."""
    total = 0
    with open("/proc/%d/smaps_rollup" % pid) as file:
        for line in file:
            name, _, value = line.partition(":")
            if name in ("Private_Clean", "Private_Dirty", "Private_Hugetlb"):
                total += int(value.split()[0]) * 1024
    return total


class Desktop:
    """A phone-sized Wine desktop: 240x320, or 480x640 with `vga`."""

    def __init__(self, vga=False):
        options = ["--vga"] if vga else []
        output = subprocess.run([WINE_RUN] + options + ["--environment"], check=True, capture_output=True,
                                text=True, timeout=600).stdout
        settings = dict(line.split("=", 1) for line in output.splitlines() if "=" in line)
        self.wine = settings.pop("WINE")
        self.environment = dict(os.environ, **settings)
        self.vga = vga

    def start(self, program, arguments=(), folder=None, trace_path=None, pipes=False):
        environment = dict(self.environment)
        if trace_path is not None:
            if os.path.exists(trace_path):
                os.remove(trace_path)
            environment["PELMORA_TRACE"] = windows_path(trace_path)
        started = monotonic_ticks()
        process = subprocess.Popen([self.wine, program] + list(arguments), cwd=folder, env=environment,
                                   stdin=subprocess.PIPE if pipes else subprocess.DEVNULL,
                                   stdout=subprocess.PIPE if pipes else subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, text=pipes)
        return Program(process, started, trace_path)

    def run(self, program, arguments=(), timeout=600):
        """Runs a console program to its end; its standard output."""
        done = subprocess.run([self.wine, program] + list(arguments), env=self.environment, capture_output=True,
                              text=True, timeout=timeout)
        if done.returncode != 0:
            raise RuntimeError("%s failed (%d):\n%s%s" % (program, done.returncode, done.stdout, done.stderr))
        return done.stdout


class Program:
    """A started Windows program: its Linux process and, when traced, its trace."""

    def __init__(self, process, started, trace_path):
        self.process = process
        self.pid = process.pid
        self.started = started
        self.trace_path = trace_path

    def events(self):
        try:
            with open(self.trace_path, encoding="utf-8", errors="replace") as file:
                return trace.parse(file.read())
        except FileNotFoundError:
            return []

    def wait_for(self, condition, seconds, what):
        """Reads the trace until `condition(events)` gives something other than None; that value."""
        deadline = time.time() + seconds
        while True:
            value = condition(self.events())
            if value is not None:
                return value
            if self.process.poll() is not None:
                raise RuntimeError("the program ended (%d) before %s" % (self.process.returncode, what))
            if time.time() > deadline:
                raise RuntimeError("no %s within %d s" % (what, seconds))
            time.sleep(0.02)

    def cpu_seconds(self):
        return process_cpu_seconds(self.pid)

    def private_bytes(self):
        return private_bytes(self.pid)

    def stop(self):
        end_process(self.process)


class RemoteControl:
    """pelmora-bench-remote.exe: commands to a running pelmora.exe in the same desktop."""

    def __init__(self, desktop, program):
        self.program = desktop.start(program, pipes=True)

    def send(self, command):
        self.program.process.stdin.write(command + "\n")
        self.program.process.stdin.flush()
        answer = self.program.process.stdout.readline().strip()
        if answer != "ok":
            raise RuntimeError("remote control, %s: %s" % (command, answer or "no answer"))

    def close(self, program, seconds=10):
        """Closes pelmora.exe's main window, so that it ends as it does on its own (its trace written
        out); ends the process when that does not happen in time."""
        try:
            self.send("close")
            program.process.wait(seconds)
        except (RuntimeError, subprocess.TimeoutExpired):
            pass
        program.stop()

    def stop(self):
        if self.program.process.poll() is None:
            self.program.process.stdin.close()
            self.program.stop()
