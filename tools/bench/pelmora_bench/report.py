"""The run written down: the machine, the table of figures, the breakdowns, the scaling and the profiles,
as text for the terminal and as a block of docs/performance.md."""

import os
import platform
import re
import subprocess
import time

from .figures import FIGURE_HEADER, figure_rows, format_number, markdown_table, text_table

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))


def first_line(command):
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return "not found"
    text = (done.stdout or done.stderr).strip()
    return text.splitlines()[0] if text else "not found"


def load_average():
    with open("/proc/loadavg") as file:
        return " ".join(file.read().split()[:3])


def machine():
    """The facts a reader needs to weigh the figures: (name, value) pairs."""
    cpu = "unknown"
    with open("/proc/cpuinfo") as file:
        match = re.search(r"^model name\s*:\s*(.+)$", file.read(), re.MULTILINE)
        if match:
            cpu = match.group(1)
    with open("/proc/meminfo") as file:
        memory = int(re.search(r"MemTotal:\s+(\d+)", file.read()).group(1)) / (1024.0 * 1024.0)
    return [
        ("CPU", cpu),
        ("Cores", str(os.cpu_count())),
        ("Memory", "%.1f GiB" % memory),
        ("Kernel", platform.release()),
        ("Wine", first_line(["/usr/lib/wine/wine64", "--version"])),
        ("Windows compiler", first_line(["x86_64-w64-mingw32-g++-posix", "--version"])),
        ("Native compiler", first_line(["g++", "--version"])),
        ("nginx", first_line(["nginx", "-v"])),
        ("wrk", first_line(["wrk", "--version"])),
        ("Commit", first_line(["git", "-C", ROOT, "describe", "--always", "--dirty"])),
    ]


def profile_lines(title, profile):
    if not profile:
        return []
    lines = ["%s (%d samples)" % (title, profile["samples"])]
    for heading, key in (("own time", "self"), ("with what it calls", "children"), ("own time in the kernel", "kernel"),
                         ("library", "modules")):
        if profile.get(key):
            lines.append("  by " + heading + ":")
            lines += ["    %5.1f %%  %s" % (percent, name) for percent, name in profile[key]]
    return lines


def profile_markdown(title, profile):
    if not profile:
        return ""
    parts = ["**%s** (%d samples)\n" % (title, profile["samples"])]
    for heading, key in (("Own time", "self"), ("With what it calls", "children"),
                         ("Own time in the kernel", "kernel"), ("By library", "modules")):
        if profile.get(key):
            parts.append(markdown_table([heading, "%"], [[name, "%.1f" % percent] for percent, name in profile[key]]))
            parts.append("")
    return "\n".join(parts)


class Run:
    """Everything one run measured."""

    def __init__(self, label, settings):
        self.label = label
        self.settings = settings
        self.started = time.strftime("%Y-%m-%d %H:%M %Z")
        self.load_before = load_average()
        self.load_after = None
        self.machine = machine()
        self.figures = []
        self.server_scaling = []
        self.client_scaling = []
        self.log_in_parts = []
        self.size_parts = []
        self.profiles = {}
        self.notes = []

    def finish(self):
        self.load_after = load_average()

    def header(self):
        return "Run %s (%s): load average %s at the start, %s at the end" % (
            self.started, self.label, self.load_before, self.load_after or "–")

    def text(self):
        from .server_bench import SCALING_HEADER
        from .client_bench import CLIENT_SCALING_HEADER
        lines = [self.header(), ""]
        lines.append(text_table(FIGURE_HEADER, figure_rows(self.figures)))
        for index, figure in enumerate(self.figures, 1):
            if figure.note:
                lines.append("  [%d] %s: %s" % (index, figure.name, figure.note))
        if self.log_in_parts:
            lines += ["", "Automatic log-in, part by part (ms):"]
            lines += ["  %8s  %s" % (format_number(milliseconds), label) for label, milliseconds in self.log_in_parts]
        if self.server_scaling:
            lines += ["", text_table(SCALING_HEADER, self.server_scaling)]
        if self.client_scaling:
            lines += ["", text_table(CLIENT_SCALING_HEADER, self.client_scaling)]
        for title, profile in self.profiles.items():
            lines += [""] + profile_lines(title, profile)
        lines += [""] + self.notes
        return "\n".join(lines)

    def markdown(self):
        from .server_bench import SCALING_HEADER
        from .client_bench import CLIENT_SCALING_HEADER
        parts = ["### %s" % self.header(), ""]
        parts.append(markdown_table(["Machine", ""], self.machine))
        parts += ["", "Settings: " + self.settings.describe(), ""]
        parts.append(markdown_table(FIGURE_HEADER, figure_rows(self.figures)))
        parts.append("")
        for index, figure in enumerate(self.figures, 1):
            if figure.note:
                parts.append("%d. %s: %s" % (index, figure.name, figure.note))
        if self.log_in_parts:
            parts += ["", "**Automatic log-in, part by part** (the run of median total)", ""]
            parts.append(markdown_table(["Part", "ms"], [[label.replace("  of which: ", "↳ "),
                                                          format_number(milliseconds)]
                                                         for label, milliseconds in self.log_in_parts]))
        if self.size_parts:
            parts += ["", "**Where the bytes of pelmora.exe come from** (input sections kept by strip)", ""]
            parts.append(markdown_table(["Origin", "KiB"], [[label.replace("  C++ library: ", "↳ libstdc++ "),
                                                             "%.1f" % (size / 1024.0)] for label, size in
                                                            self.size_parts]))
        if self.server_scaling:
            parts += ["", "**Server scaling** (\"isee\"; nginx with as many workers as the server's threads)", "",
                      markdown_table(SCALING_HEADER, self.server_scaling)]
        if self.client_scaling:
            parts += ["", "**Client scaling** (\"ineed\", three groups, 240×320)", "",
                      markdown_table(CLIENT_SCALING_HEADER, self.client_scaling)]
        for title, profile in self.profiles.items():
            parts += ["", profile_markdown(title, profile)]
        if self.notes:
            parts += [""] + ["- " + note for note in self.notes]
        return "\n".join(parts).rstrip() + "\n"


def replace_block(document, name, content):
    """The document with the block between <!-- bench:NAME --> and <!-- /bench:NAME --> replaced, or
    the block added at the end when the document has none."""
    begin, end = "<!-- bench:%s -->" % name, "<!-- /bench:%s -->" % name
    block = "%s\n%s%s" % (begin, content, end)
    start = document.find(begin)
    stop = document.find(end)
    if start >= 0 and stop > start:
        return document[:start] + block + document[stop + len(end):]
    return document.rstrip() + "\n\n" + block + "\n"


def write_document(path, name, content):
    document = ""
    if os.path.exists(path):
        with open(path, encoding="utf-8") as file:
            document = file.read()
    if not document:
        document = "# Performance\n"
    with open(path + ".new", "w", encoding="utf-8") as file:
        file.write(replace_block(document, name, content))
    os.replace(path + ".new", path)
