"""pelmora.exe's trace (app/trace.h) read back: events, the program's requests, its waits, its paints,
and the intervals the client's figures are made of. Times are 100-nanosecond ticks of
CLOCK_MONOTONIC_RAW, as the trace writes them; durations come out in milliseconds."""

from dataclasses import dataclass, field

TICKS_PER_MS = 10000.0


@dataclass
class Event:
    begin: int
    end: int
    thread: int
    kind: str
    details: dict = field(default_factory=dict)

    @property
    def ms(self):
        return (self.end - self.begin) / TICKS_PER_MS

    def number(self, key, default=0):
        text = self.details.get(key)
        try:
            return int(text, 0)
        except (TypeError, ValueError):
            return default


def parse(text):
    """Every complete line of a trace; a last line cut short by a running program is left out."""
    events = []
    for line in text.split("\n")[:-1] if not text.endswith("\n") else text.split("\n"):
        parts = line.split(" ")
        if len(parts) < 4:
            continue
        try:
            begin, end, thread = int(parts[0]), int(parts[1]), int(parts[2])
        except ValueError:
            continue
        details = dict(part.split("=", 1) for part in parts[4:] if "=" in part)
        events.append(Event(begin, end, thread, parts[3], details))
    return events


def user_interface_thread(events):
    """The thread that started the trace: the entry's, which runs the windows."""
    for event in events:
        if event.kind == "start":
            return event.thread
    return None


def first_idle(events, after=0):
    """When the user-interface thread first waited for a message with nothing left to paint."""
    ui = user_interface_thread(events)
    for event in events:
        if event.kind == "idle" and event.thread == ui and event.begin >= after:
            return event.begin
    return None


@dataclass
class Request:
    """One exchange with the service: its socket's life on the user-interface thread."""
    kind: str
    begin: int
    end: int
    first_byte: int
    connected: int

    @property
    def ms(self):
        return (self.end - self.begin) / TICKS_PER_MS


def socket_sessions(events, thread):
    """The sockets of `thread` from connect to close: {socket: [events]} in order of connection."""
    sessions = {}
    open_sockets = {}
    order = 0
    for event in events:
        if event.thread != thread or "socket" not in event.details:
            continue
        handle = event.details["socket"]
        if event.kind == "connect" and handle not in open_sockets:
            order += 1
            open_sockets[handle] = (order, handle)
            sessions[open_sockets[handle]] = []
        key = open_sockets.get(handle)
        if key is None:
            continue
        sessions[key].append(event)
        if event.kind == "close":
            del open_sockets[handle]
    return [sessions[key] for key in sorted(sessions)]


def requests(events):
    """The requests to the service (sockets whose first send names a Host), in order."""
    ui = user_interface_thread(events)
    made = []
    for session in socket_sessions(events, ui):
        host = next((event.details.get("host") for event in session if event.kind == "send"), None)
        if not host:
            continue
        receives = [event for event in session if event.kind == "recv" and event.number("n") > 0]
        connected = next((event.end for event in session if event.kind == "connect"), session[0].begin)
        made.append(Request(kind=host.split(".")[0], begin=session[0].begin, end=session[-1].end,
                            first_byte=receives[0].end if receives else session[-1].end, connected=connected))
    return made


def modem_reading(events, begin, end):
    """How long the modem took to answer between `begin` and `end`, whichever thread asked: from the
    first AT command sent to the last bytes received back on a modem's socket, in milliseconds; None
    when nothing was asked."""
    modem_sockets = {event.details.get("socket") for event in events
                     if event.kind == "send" and event.details.get("text", "").upper().startswith("AT")}
    exchange = [event for event in events
                if event.details.get("socket") in modem_sockets and begin <= event.begin and event.end <= end and
                ((event.kind == "send" and event.details.get("text", "").upper().startswith("AT")) or
                 (event.kind == "recv" and event.number("n") > 0))]
    if not exchange or exchange[0].kind != "send":
        return None
    return (exchange[-1].end - exchange[0].begin) / TICKS_PER_MS


def waits(events, begin, end, thread):
    """The sleeps and the waits that ran out (nothing came) of `thread` between `begin` and `end`:
    [(label, milliseconds)] in order."""
    found = []
    for event in events:
        if event.thread != thread or event.begin < begin or event.end > end:
            continue
        if event.kind == "sleep":
            found.append(("Sleep(%s)" % event.details.get("ms"), event.ms))
        elif event.kind == "select" and event.details.get("result") == "0" and event.number("ms") > 0:
            found.append(("select %s ms ran out" % event.details.get("ms"), event.ms))
        elif event.kind == "wait" and event.details.get("result") == "258" and event.number("ms") > 0:
            found.append(("wait %s ms ran out" % event.details.get("ms"), event.ms))
    return found


def logged_in(events):
    """When the log-in had shown its outcome: the first wait for a message with nothing left to paint
    after the log-in's location report, by when the Me tab shows the place line."""
    report = next((request for request in requests(events) if request.kind == "isee"), None)
    return first_idle(events, report.end) if report is not None else None


def log_in_breakdown(events, started):
    """Where the automatic log-in's time goes, from the process's start to the Me tab painted with the
    place line (logged_in): [(label, milliseconds)], the parts adding up to the whole, plus the total."""
    ui = user_interface_thread(events)
    made = requests(events)
    hand = next((request for request in made if request.kind == "hand"), None)
    if hand is None:
        return None
    reports = [request for request in made if request.kind == "isee" and request.begin > hand.end]
    if not reports:
        return None
    painted = first_idle(events, reports[0].end)
    if painted is None:
        return None
    start_event = next(event for event in events if event.kind == "start")
    parts = [("start of the process to the program's entry", (start_event.begin - started) / TICKS_PER_MS)]
    window_shown = first_idle(events)
    login_requests = [request for request in made if hand.begin <= request.begin and request.end <= painted]
    parts.append(("entry to the first request (windows, settings, network)", (hand.begin - start_event.begin)
                  / TICKS_PER_MS))
    if window_shown is not None and window_shown < hand.begin:
        parts.append(("  of which: entry to the login window painted", (window_shown - start_event.begin)
                      / TICKS_PER_MS))
    previous_end = hand.begin
    accounted = 0.0
    for request in login_requests:
        gap = (request.begin - previous_end) / TICKS_PER_MS
        if gap > 0:
            parts.append(("between the requests", gap))
            for label, milliseconds in waits(events, previous_end, request.begin, ui):
                parts.append(("  of which: " + label, milliseconds))
            reading = modem_reading(events, previous_end, request.begin)
            if reading is not None:
                parts.append(("  of which: the modem's own answer to the cell reading", reading))
        parts.append(('request "%s" (connect %.1f ms, first byte %.1f ms)' % (
            request.kind, (request.connected - request.begin) / TICKS_PER_MS,
            (request.first_byte - request.begin) / TICKS_PER_MS), request.ms))
        accounted += request.ms
        previous_end = request.end
    parts.append(("last reply to the Me tab painted and idle", (painted - previous_end) / TICKS_PER_MS))
    for label, milliseconds in waits(events, previous_end, painted, ui):
        parts.append(("  of which: " + label, milliseconds))
    parts.append(("total: start of the process to the Me tab painted with the place line",
                  (painted - started) / TICKS_PER_MS))
    return parts


def refresh(events, after):
    """The first groups refresh after `after`: from the "ineed" request's start to the group tab painted.
    {"total", "busy", "request", "waiting", "after_reply", "measuring", "paint"} in milliseconds, where
    busy leaves out the user-interface thread's waits for the server (connecting and the first byte)."""
    ui = user_interface_thread(events)
    ineed = next((request for request in requests(events) if request.kind == "ineed" and request.begin >= after), None)
    if ineed is None:
        return None
    paint = next((event for event in events if event.kind == "paint" and event.thread == ui and
                  event.details.get("class") == "PelGroupTabWnd" and event.begin >= ineed.end), None)
    if paint is None:
        return None
    waiting = (ineed.first_byte - ineed.begin) / TICKS_PER_MS
    measuring = sum(event.ms for event in events if event.kind == "dc" and event.thread == ui and
                    ineed.end <= event.begin and event.end <= paint.begin)
    total = (paint.end - ineed.begin) / TICKS_PER_MS
    return {"total": total, "busy": total - waiting, "request": ineed.ms, "waiting": waiting,
            "after_reply": (paint.begin - ineed.end) / TICKS_PER_MS, "measuring": measuring, "paint": paint.ms}


def paints(events, window_class, after=0):
    """The durations of the paints of `window_class` that began after `after`, in order."""
    return [event.ms for event in events
            if event.kind == "paint" and event.details.get("class") == window_class and event.begin >= after]
