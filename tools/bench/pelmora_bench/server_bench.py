"""The server's benchmarks: pelmora-server against nginx serving the same reply bytes as a static file,
both loaded by wrk with the phone's exact requests, one connection per request, in the same run."""

import csv
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import pelmora_web
from pelmora_web import end_process

from . import figures
from .figures import Figure, Goal

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
PHONE_SCRIPT = os.path.join(ROOT, "tools", "bench", "phone.lua")
DEMO_CELLS = os.path.join(ROOT, "server", "demo", "moscow_cells.csv")
PASSWORD = "bench-пароль"


def phone_request(kind, body, host="localhost"):
    """The request bytes as pelmora.exe writes them: absolute form, the kind in the Host header, CR LF
    after the body (not counted in Content-Length); the body in the ANSI code page, as the e-mail
    address goes."""
    data = body.encode("cp1251")
    head = ("POST http://%s HTTP/1.0\r\nHost: %s.%s\r\nContent-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: %d\r\n\r\n" % (host, kind, host, len(data)))
    return head.encode("ascii") + data + b"\r\n"


def demo_cells():
    """The demo's cells as (lac, cid, address), in the order of their file."""
    with open(DEMO_CELLS, encoding="utf-8", newline="") as file:
        rows = [row for row in csv.reader(line for line in file if not line.startswith("#"))]
    return [(int(row[1]), int(row[2]), row[5]) for row in rows if len(row) >= 6 and row[0].strip().isdigit()]


def lua_string(data):
    """A Lua string literal of the bytes, readable whatever they hold."""
    out = ['"']
    for byte in data:
        if byte == 0x0D:
            out.append("\\r")
        elif byte == 0x0A:
            out.append("\\n")
        elif byte in (0x22, 0x5C) or byte < 0x20 or byte > 0x7E:
            out.append("\\%03d" % byte)
        else:
            out.append(chr(byte))
    out.append('"')
    return "".join(out)


def write_requests(path, requests):
    with open(path, "w") as file:
        file.write("return {\n" + ",\n".join(lua_string(request) for request in requests) + "\n}\n")


def parse_wrk(output):
    """wrk's result line (phone.lua's done()) as a dict with requests/s and percentiles in ms added."""
    match = re.search(r"^wrk-result (\{.*\})$", output, re.MULTILINE)
    if not match:
        raise RuntimeError("wrk gave no result:\n" + output)
    result = json.loads(match.group(1))
    seconds = result["duration_us"] / 1e6
    result["rps"] = result["requests"] / seconds if seconds > 0 else 0.0
    result["p50_ms"] = result["p50_us"] / 1000.0
    result["p99_ms"] = result["p99_us"] / 1000.0
    result["errors"] = sum(result[key] for key in ("connect_errors", "read_errors", "write_errors", "status_errors",
                                                   "timeouts"))
    result["bytes_per_reply"] = result["bytes"] / result["requests"] if result["requests"] else 0.0
    return result


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, process, seconds=15):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if process.poll() is not None:
            return False
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


class StaticFloor:
    """A throw-away nginx: its own configuration and prefix in a temporary folder of its own, a free
    loopback port, no access log, one connection per reply, answering every request with the bytes of
    one static file. As root its workers drop to nginx's default unprivileged user: the folder is made
    where everybody may pass (the system's temporary folder) and readable by everybody."""

    CONFIGURATION = """daemon off;
worker_processes %(workers)d;
pid %(folder)s/nginx.pid;
error_log %(folder)s/error.log warn;
events { worker_connections 4096; }
http {
    access_log off;
    client_body_temp_path %(folder)s/temp/body;
    proxy_temp_path %(folder)s/temp/proxy;
    fastcgi_temp_path %(folder)s/temp/fastcgi;
    uwsgi_temp_path %(folder)s/temp/uwsgi;
    scgi_temp_path %(folder)s/temp/scgi;
    server_tokens off;
    keepalive_timeout 0;
    etag off;
    max_ranges 0;
    server {
        listen 127.0.0.1:%(port)d;
        root %(folder)s/www;
        default_type "text/xml; charset=utf-8";
        # Headers closer to the server's: no Last-Modified (no ETag, no Accept-Ranges above).
        add_header Last-Modified "";
        # The static module refuses a POST (405); the reply then goes out as the file, status 200.
        location / {
            try_files /reply.xml =404;
            error_page 405 =200 /reply.xml;
        }
    }
}
"""

    def __init__(self, workers):
        folder = tempfile.mkdtemp(prefix="pelmora-bench-nginx-", dir=tempfile.gettempdir())
        self.folder = folder
        self.port = free_port()
        os.makedirs(os.path.join(folder, "www"), exist_ok=True)
        os.makedirs(os.path.join(folder, "temp"), exist_ok=True)
        with open(os.path.join(folder, "nginx.conf"), "w") as file:
            file.write(self.CONFIGURATION % {"workers": workers, "folder": folder, "port": self.port})
        self.serve(b"<?xml version=\"1.0\" ?>\n<empty />\n")
        for path in (folder, os.path.join(folder, "www"), os.path.join(folder, "temp")):
            os.chmod(path, 0o755)
        self.process = subprocess.Popen(["nginx", "-p", folder, "-c", os.path.join(folder, "nginx.conf")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for_port(self.port, self.process):
            log = self.error_log()
            self.stop()
            raise RuntimeError("nginx did not start:\n" + log)

    def serve(self, body):
        """From now on every request gets `body`; nginx opens the file anew for each request."""
        path = os.path.join(self.folder, "www", "reply.xml")
        with open(path + ".new", "wb") as file:
            file.write(body)
        os.chmod(path + ".new", 0o644)
        os.replace(path + ".new", path)

    def error_log(self):
        try:
            with open(os.path.join(self.folder, "error.log")) as log:
                return log.read()
        except OSError:
            return ""

    def stop(self):
        end_process(self.process)
        shutil.rmtree(self.folder, ignore_errors=True)


def run_wrk(port, requests_path, connections, seconds, threads=2):
    environment = dict(os.environ, PELMORA_BENCH_REQUESTS=requests_path)
    command = ["wrk", "-t%d" % threads, "-c%d" % max(connections, threads), "-d%ds" % seconds,
               "--timeout", "%ds" % max(10, 2 * seconds), "-s", PHONE_SCRIPT, "http://127.0.0.1:%d/" % port]
    done = subprocess.run(command, env=environment, capture_output=True, text=True, timeout=seconds + 120)
    return parse_wrk(done.stdout + done.stderr)


def reply_body(reply):
    """The document of an HTTP reply (the text after the blank line), as bytes."""
    data = reply.encode("utf-8") if isinstance(reply, str) else reply
    return data[data.index(b"\r\n\r\n") + 4:]


class ServiceData:
    """A database of `users` accounts at the demo cells, the first of them (the viewer) in three groups
    of 50 people, made through the server's administration commands; tokens through the phone's
    handshake once a server runs."""

    def __init__(self, program, folder, users, group_size=50, groups=3):
        self.program = program
        self.folder = folder
        self.database = os.path.join(folder, "web.db")
        self.emails = ["bench%04d@pelmora.test" % number for number in range(1, users + 1)]
        self.cells = [(lac, cid) for lac, cid, _ in demo_cells()]
        self.tokens = []
        self.group_size = min(group_size, users)
        self.groups = groups

    def admin(self, *words):
        subprocess.run([self.program, "--db", self.database] + list(words), check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, timeout=60)

    def make(self):
        os.makedirs(self.folder, exist_ok=True)
        self.admin("cell", "import", DEMO_CELLS)
        # Each account's password is hashed with Argon2id: two at a time keep both cores busy.
        with ThreadPoolExecutor(2) as pool:
            list(pool.map(lambda item: self.admin("user", "add", item[1], PASSWORD, "Участник %d" % (item[0] + 1)),
                          enumerate(self.emails)))
        viewer = self.emails[0]
        members = self.emails[1:]
        for number in range(self.groups):
            title = "Группа %d" % (number + 1)
            self.admin("group", "add", title, viewer)
            start = number * (self.group_size - 1)
            for email in members[start:start + self.group_size - 1]:
                self.admin("group", "member", title, email)

    def cell_body(self, index):
        """The "isee" body of user `index`: three neighbouring demo cells, as a phone on the move reports."""
        cells = [self.cells[(index + step) % len(self.cells)] for step in range(3)]
        return "token=%s&mnc=01&lac=%d&cid=%d&lac1=%d&cid1=%d&lac2=%d&cid2=%d&delta=0&db=0" % (
            self.tokens[index], cells[0][0], cells[0][1], cells[1][0], cells[1][1], cells[2][0], cells[2][1])

    def hand_body(self, index):
        digest = hashlib.md5(PASSWORD.encode("cp1251")).hexdigest()
        return ("client_id=2&client_ver=1&user_id=%s&auth=%s&terminal_osn=2&terminal_firmver=4.21.1088"
                "&terminal_model=PPC-2003&user_subid=1" % (self.emails[index], digest))

    def log_in(self, port):
        """Every account logs in through the phone's handshake and reports once, so that everybody has
        a place; the tokens are kept in order."""
        def one(index):
            token = extract(exchange(port, phone_request("hand", self.hand_body(index))), "token")
            if not token:
                raise RuntimeError("the handshake of %s was refused" % self.emails[index])
            return token
        with ThreadPoolExecutor(4) as pool:
            self.tokens = list(pool.map(one, range(len(self.emails))))
            replies = list(pool.map(lambda index: exchange(port, phone_request("isee", self.cell_body(index))),
                                    range(len(self.emails))))
        if not all(b"<status>1</status>" in reply for reply in replies):
            raise RuntimeError("a report was refused")


def exchange(port, request, seconds=30):
    """Sends the request bytes and reads until the server closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=seconds) as connection:
        connection.sendall(request)
        reply = b""
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                return reply
            reply += chunk


def extract(reply, element):
    match = re.search(rb"<%s>([^<]*)</%s>" % (element.encode(), element.encode()), reply)
    return match.group(1).decode() if match else ""


class Benchmark:
    """One kind of request: the requests wrk sends, the reply nginx serves, the connections."""

    def __init__(self, name, requests, reply, connections):
        self.name = name
        self.requests = requests
        self.reply = reply
        self.connections = connections


class ServerBench:
    """Runs every server benchmark in one session: one database, a pelmora-server, an nginx."""

    def __init__(self, program, folder, settings, log):
        self.program = program
        self.folder = folder
        self.settings = settings
        self.log = log
        self.data = ServiceData(program, os.path.join(folder, "service"), settings.users)
        self.server = None
        self.nginx = None
        self.results = {}
        self.figures = []
        self.scaling_rows = []
        self.profiles = {}

    def start_server(self, threads):
        if self.server is not None:
            self.server.stop()
        self.server = pelmora_web.Server(self.program, self.data.folder, demo=False,
                                         options=["--threads", str(threads)])
        return self.server

    def start_nginx(self, workers):
        if self.nginx is not None:
            self.nginx.stop()
        self.nginx = StaticFloor(workers)
        return self.nginx

    def stop(self):
        if self.server is not None:
            self.server.stop()
            self.server = None
        if self.nginx is not None:
            self.nginx.stop()
            self.nginx = None

    def benchmarks(self, users=None):
        """isee from `users` distinct users (all by default), ineed of the viewer, hand of every user."""
        count = len(self.data.emails) if users is None else users
        port = self.server.port
        isee = [phone_request("isee", self.data.cell_body(index)) for index in range(count)]
        ineed = [phone_request("ineed", "token=%s&group_list=1" % self.data.tokens[0])]
        hand = [phone_request("hand", self.data.hand_body(index)) for index in range(count)]
        settings = self.settings
        return [
            Benchmark("isee", isee, reply_body(exchange(port, isee[0])), settings.isee_connections),
            Benchmark("ineed", ineed, reply_body(exchange(port, ineed[0])), settings.ineed_connections),
            Benchmark("hand", hand, reply_body(exchange(port, hand[0])), settings.hand_connections),
        ]

    def measure(self, benchmark, repeats, seconds, label):
        """Alternates wrk runs against the server and nginx; the results of each, in run order."""
        path = os.path.join(self.folder, "%s-requests.lua" % benchmark.name)
        write_requests(path, benchmark.requests)
        self.nginx.serve(benchmark.reply)
        targets = {"server": self.server.port, "nginx": self.nginx.port}
        runs = {"server": [], "nginx": []}
        for name, port in targets.items():
            run_wrk(port, path, benchmark.connections, 1)  # warm-up, not counted
        for repeat in range(repeats):
            order = ["server", "nginx"] if repeat % 2 == 0 else ["nginx", "server"]
            for name in order:
                result = run_wrk(targets[name], path, benchmark.connections, seconds)
                if name == "nginx" and result["status_errors"]:
                    # A floor that refuses requests measures nothing: the run stops with nginx's reason.
                    raise RuntimeError("nginx refused %d requests:\n%s" % (result["status_errors"],
                                                                          self.nginx.error_log()[-2000:]))
                runs[name].append(result)
                self.log("  %s %s #%d: %.0f req/s, p50 %.2f ms, p99 %.2f ms, %d errors" % (
                    label, name, repeat + 1, result["rps"], result["p50_ms"], result["p99_ms"], result["errors"]))
        return runs

    def run(self):
        settings = self.settings
        os.makedirs(self.folder, exist_ok=True)
        self.log("server: making %d accounts and three groups of %d" % (settings.users, self.data.group_size))
        self.data.make()
        self.start_server(settings.threads)
        self.data.log_in(self.server.port)
        self.start_nginx(settings.threads)
        for benchmark in self.benchmarks():
            runs = self.measure(benchmark, settings.repeats, settings.seconds, benchmark.name)
            self.results[benchmark.name] = runs
            self.figures += benchmark_figures(benchmark, runs, settings)
        if settings.profile:
            for benchmark in self.benchmarks()[:2]:
                self.profiles['server, "%s"' % benchmark.name] = self.profile_load(benchmark)
        self.scaling()
        self.stop()

    def scaling(self):
        """"isee" at fewer users, at fewer connections and at other thread counts (nginx with as many
        workers); the main run gives the row of all users at the usual connections and threads."""
        settings = self.settings
        users = len(self.data.emails)
        connections = settings.isee_connections
        label = "%d users, %d connections, --threads %d"
        rows = {(settings.threads, users, connections): self.results["isee"]}
        for count in settings.scaling_users:
            benchmark = self.benchmarks(count)[0]
            rows[(settings.threads, count, connections)] = self.measure(
                benchmark, settings.scaling_repeats, settings.scaling_seconds, label % (count, connections,
                                                                                         settings.threads))
        for count in settings.scaling_connections:
            benchmark = self.benchmarks()[0]
            benchmark.connections = count
            rows[(settings.threads, users, count)] = self.measure(
                benchmark, settings.scaling_repeats, settings.scaling_seconds, label % (users, count, settings.threads))
        for threads in settings.scaling_threads:
            self.start_server(threads)
            self.start_nginx(threads)
            benchmark = self.benchmarks()[0]
            rows[(threads, users, connections)] = self.measure(
                benchmark, settings.scaling_repeats, settings.scaling_seconds, label % (users, connections, threads))
        self.scaling_rows = [scaling_row(label % (key[1], key[2], key[0]), rows[key]) for key in sorted(rows)]

    def profile_load(self, benchmark):
        """A sampling profile (perf, cpu-clock) of the server while wrk sends the benchmark's requests."""
        from . import profiles
        path = os.path.join(self.folder, "%s-requests.lua" % benchmark.name)
        write_requests(path, benchmark.requests)
        seconds = max(2, self.settings.seconds)
        with ThreadPoolExecutor(1) as pool:
            load = pool.submit(run_wrk, self.server.port, path, benchmark.connections, seconds + 2)
            time.sleep(1)
            report = profiles.record_process(self.server.process.pid, seconds,
                                             os.path.join(self.folder, "%s.perf" % benchmark.name))
            load.result()
        return report


def scaling_row(label, runs):
    server = [run["rps"] for run in runs["server"]]
    nginx = [run["rps"] for run in runs["nginx"]]
    ratio = figures.median(server) / figures.median(nginx) if nginx and figures.median(nginx) else None
    return [label, figures.format_samples(server), figures.format_samples([run["p50_ms"] for run in runs["server"]]),
            figures.format_samples([run["p99_ms"] for run in runs["server"]]), figures.format_samples(nginx),
            figures.format_samples([run["p99_ms"] for run in runs["nginx"]]), figures.format_number(ratio)]


SCALING_HEADER = ["isee from", "server req/s", "server p50 ms", "server p99 ms", "nginx req/s", "nginx p99 ms",
                  "ratio req/s"]

# The goals of the issue, by request kind and measure.
GOALS = {
    ("isee", "rps"): Goal("≥ 0.5 of nginx", ratio_at_least=0.5),
    ("isee", "p99_ms"): Goal("≤ 2 × nginx", ratio_at_most=2.0),
    ("ineed", "rps"): Goal("≥ 0.3 of nginx", ratio_at_least=0.3),
}


def benchmark_figures(benchmark, runs, settings):
    """Requests/s, the 50th and the 99th percentile of one benchmark, each against nginx's."""
    server, nginx = runs["server"], runs["nginx"]
    note = "%d connections, wrk %d threads, %d s × %d; reply %.0f B (nginx %.0f B); errors %d (nginx %d)" % (
        benchmark.connections, 2, settings.seconds, settings.repeats,
        figures.median([run["bytes_per_reply"] for run in server]) or 0,
        figures.median([run["bytes_per_reply"] for run in nginx]) or 0,
        sum(run["errors"] for run in server), sum(run["errors"] for run in nginx))
    made = []
    for key, unit, what in (("rps", "req/s", "requests/s"), ("p50_ms", "ms", "50th percentile"),
                            ("p99_ms", "ms", "99th percentile")):
        made.append(Figure(name='server "%s" %s' % (benchmark.name, what), unit=unit,
                           samples=[run[key] for run in server], floor="nginx, same bytes",
                           floor_samples=[run[key] for run in nginx], goal=GOALS.get((benchmark.name, key)),
                           note=note if key == "rps" else ""))
    return made
