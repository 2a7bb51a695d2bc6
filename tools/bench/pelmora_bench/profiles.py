"""Where the time goes: sampling profiles with perf (Debian's linux-perf) on the cpu-clock event, which
works where the hardware counters do not (a virtual machine). The server's symbols come from its ELF
file; the Windows program's from its own symbol table (nm), since perf does not read PE files."""

import bisect
import os
import re
import signal
import subprocess
import time
from collections import Counter

NM = "x86_64-w64-mingw32-nm"
OBJDUMP = "x86_64-w64-mingw32-objdump"
KERNEL = "[kernel.kallsyms]"


def available():
    """True when perf can sample this machine's processes (cpu-clock; the counters need not work)."""
    try:
        done = subprocess.run(["perf", "record", "-e", "cpu-clock", "-o", "/dev/null", "--", "true"],
                              capture_output=True, timeout=30)
        return done.returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def counters_work():
    """What the issue asks first: `perf stat -e instructions true` counts instructions."""
    try:
        done = subprocess.run(["perf", "stat", "-x,", "-e", "instructions", "true"], capture_output=True, text=True,
                              timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return done.returncode == 0 and "not supported" not in done.stderr and "<not" not in done.stderr


def parse_report(text, limit):
    """perf report --stdio lines "  12.34%  [.] symbol" (or two percent columns with --children): the
    first percentage and the symbol, at most `limit` rows."""
    rows = []
    for line in text.splitlines():
        match = re.match(r"^\s+([\d.]+)%\s+(?:[\d.]+%\s+)?(?:\[[.k]\]\s+)?(.+?)\s*$", line)
        if match:
            # perf adds empty IPC columns ("-  -") after the symbol where it has no counters.
            symbol = re.sub(r"(\s+-)+$", "", match.group(2))
            rows.append((float(match.group(1)), symbol[:140]))
        if len(rows) >= limit:
            break
    return rows


def sample_count(report):
    """The "# Samples: 2K of event ..." line of a perf report, as a number."""
    match = re.search(r"# Samples: ([\d.]+)([KM]?)", report)
    if not match:
        return 0
    return int(float(match.group(1)) * {"": 1, "K": 1000, "M": 1000000}[match.group(2)])


# Frames every sample passes through, which say nothing about where the time goes.
ROOT_FRAMES = re.compile(r"^(clone3?|start_thread|0x[0-9a-f]+|entry_SYSCALL_64_after_hwframe|do_syscall_64|"
                         r"boost::asio::detail::(scheduler::run|posix_thread::func.*|executor_op.*)|"
                         r"boost_asio_detail_posix_thread_function|std::thread::_State_impl.*)$")


def record_process(pid, seconds, path, limit=20):
    """Samples process `pid` for `seconds` with call graphs; the top functions by their own time, by the
    time spent in them and what they call (frames common to everything left out), and by library."""
    subprocess.run(["perf", "record", "-e", "cpu-clock", "-F", "499", "--call-graph", "dwarf,16384", "-p", str(pid),
                    "-o", path, "--", "sleep", str(seconds)], capture_output=True, timeout=seconds + 120)
    profile = {"samples": 0, "self": [], "children": [], "modules": []}
    report = {}
    for name, options in (("self", ["--no-children", "--sort", "symbol"]),
                          ("children", ["--children", "--sort", "symbol"]),
                          ("modules", ["--no-children", "--sort", "dso"])):
        report[name] = subprocess.run(["perf", "report", "-i", path, "--stdio", "-g", "none", "--percent-limit", "0.5"]
                                      + options, capture_output=True, text=True, timeout=600).stdout
        rows = parse_report(report[name], 200)
        if name == "children":
            rows = [row for row in rows if not ROOT_FRAMES.match(row[1])]
        profile[name] = rows[:limit]
    profile["samples"] = sample_count(report["self"])
    return profile


def image_range(program):
    """(first, end) addresses of a PE program's image where it prefers to be loaded; Wine loads an
    executable there, in memory perf sees as anonymous."""
    output = subprocess.run([OBJDUMP, "-p", program], capture_output=True, text=True, timeout=120).stdout
    base = re.search(r"^ImageBase\s+([0-9a-fA-F]+)", output, re.MULTILINE)
    size = re.search(r"^SizeOfImage\s+([0-9a-fA-F]+)", output, re.MULTILINE)
    if not base or not size:
        return (0, 0)
    return (int(base.group(1), 16), int(base.group(1), 16) + int(size.group(1), 16))


def symbol_table(program):
    """(addresses, names) of the functions in a PE program's symbol table, sorted by address."""
    output = subprocess.run([NM, "--demangle", "--defined-only", program], capture_output=True, text=True,
                            timeout=120).stdout
    entries = []
    for line in output.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in ("T", "t"):
            entries.append((int(parts[0], 16), parts[2]))
    entries.sort()
    return [address for address, _ in entries], [name for _, name in entries]


def short_name(symbol):
    """A C++ name without its argument list, so that overloads and lambdas group together."""
    depth = 0
    for index, character in enumerate(symbol):
        if character == "(" and depth == 0 and index > 0:
            return symbol[:index]
        if character == "<":
            depth += 1
        elif character == ">":
            depth -= 1
    return symbol


def profile_wine_process(program, workload, path, executable, limit=15):
    """Samples the user-interface thread of a running Windows program while `workload()` runs: the top
    functions by their own time outside the kernel (pelmora.exe's named from its symbol table, Wine's
    PE libraries by their name), the top ones in the kernel, and the split between the libraries."""
    recorder = subprocess.Popen(["perf", "record", "-e", "cpu-clock", "-F", "1999", "-t", str(program.pid),
                                 "-o", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    try:
        workload()
    finally:
        recorder.send_signal(signal.SIGINT)
        recorder.wait(60)
    script = subprocess.run(["perf", "script", "-i", path, "-F", "ip,sym,dso"], capture_output=True, text=True,
                            timeout=600).stdout
    return summarise_samples(script, symbol_table(executable), image_range(executable),
                             os.path.basename(executable), limit)


def summarise_samples(script, table, image, name, limit):
    """perf script's "ADDRESS SYMBOL (LIBRARY)" lines counted by function and by library."""
    addresses, names = table
    functions, kernel, modules = Counter(), Counter(), Counter()
    total = 0
    for line in script.splitlines():
        match = re.match(r"^\s*([0-9a-f]+)\s+(.*?)\s*\((.*)\)\s*$", line)
        if not match:
            continue
        address, symbol, module = int(match.group(1), 16), match.group(2), os.path.basename(match.group(3))
        total += 1
        if image[0] <= address < image[1]:
            index = bisect.bisect_right(addresses, address) - 1
            module = name
            symbol = short_name(names[index]) if index >= 0 else "?"
        elif symbol in ("[unknown]", ""):
            symbol = "(%s)" % module
        modules[module] += 1
        (kernel if module == KERNEL else functions)[symbol] += 1
    percent = (lambda count: 100.0 * count / total) if total else (lambda count: 0.0)
    return {"samples": total, "self": [(percent(count), symbol) for symbol, count in functions.most_common(limit)],
            "children": [], "kernel": [(percent(count), symbol) for symbol, count in kernel.most_common(5)],
            "modules": [(percent(count), module) for module, count in modules.most_common(limit)]}
