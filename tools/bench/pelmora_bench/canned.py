"""A service that answers pelmora.exe at once with prepared replies, laid out byte for byte as
pelmora-server lays out its own (TinyXML's printer), and the groups reply for any number of people."""

import socket
import socketserver
import threading
import xml.etree.ElementTree as ElementTree

TOKEN = "0123456789abcdef0123456789abcdef"
FIRST_NAMES = ["Анна", "Борис", "Вера", "Глеб", "Дарья", "Егор", "Жанна", "Захар", "Ирина", "Кирилл", "Лидия",
               "Максим", "Нина", "Олег", "Полина", "Роман", "Светлана", "Тимур", "Ульяна", "Фёдор"]
LAST_NAMES = ["Смирнов", "Иванов", "Кузнецов", "Попов", "Васильев", "Петров", "Соколов", "Михайлов", "Новиков",
              "Фёдоров", "Морозов", "Волков", "Алексеев", "Лебедев", "Семёнов", "Егоров", "Павлов", "Козлов"]
DISTANCES = ["0.3", "1.2", "2.2", "3.5", "4.8", "7.9", "12", "18.4"]


def escape(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")
            .replace("'", "&apos;"))


def print_element(name, content, depth=1):
    """An element as TinyXML's printer writes it: four blanks a level, text on the element's line, an
    element without content as <name />. `content` is a text, or a list of (name, content) pairs."""
    indent = "    " * depth
    if isinstance(content, str):
        return "%s<%s>%s</%s>\n" % (indent, name, escape(content), name) if content else "%s<%s />\n" % (indent, name)
    if not content:
        return "%s<%s />\n" % (indent, name)
    inner = "".join(print_element(child, grandchildren, depth + 1) for child, grandchildren in content)
    return "%s<%s>\n%s%s</%s>\n" % (indent, name, inner, indent, name)


def document(root, children):
    """A whole reply document: the declaration and the root element."""
    return ('<?xml version="1.0" encoding="UTF-8" ?>\n' + print_element(root, children, 0)).encode("utf-8")


def tree_of(element):
    """An ElementTree element as (name, content) in print_element's terms."""
    children = list(element)
    if not children:
        return element.tag, element.text or ""
    return element.tag, [tree_of(child) for child in children]


def reprint(data):
    """A document parsed and printed again by print_element: equal to `data` when the layouts agree."""
    name, content = tree_of(ElementTree.fromstring(data))
    return document(name, content)


def http_reply(body):
    return (b"HTTP/1.0 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: %d\r\n\r\n" % len(body)
            + body)


def person(number, cells):
    """Person `number`: a name, one of the demo cells' addresses and a distance."""
    first = FIRST_NAMES[number % len(FIRST_NAMES)]
    last = LAST_NAMES[(number // len(FIRST_NAMES)) % len(LAST_NAMES)]
    if first.endswith("а") or first.endswith("я"):
        last += "а"
    address = cells[number % len(cells)]
    return {"id": 1000 + number, "name": "%s %s" % (first, last), "address": address,
            "distance": DISTANCES[number % len(DISTANCES)]}


def groups_of(people_count, cells, group_count=3):
    """`people_count` people spread over `group_count` groups, as pelmora-server would send them."""
    people = [person(number, cells) for number in range(people_count)]
    groups = []
    for index in range(group_count):
        members = people[index::group_count]
        groups.append({"id": index + 1, "title": ["Семья", "Друзья", "Работа"][index % 3], "members": members})
    return groups


def ineed_document(groups):
    content = []
    for group in groups:
        users = [("user", [("user_id", str(member["id"])), ("name", member["name"]),
                           ("address", member["address"]), ("distance", member["distance"])])
                 for member in group["members"]]
        content.append(("group", [("title", group["title"]), ("group_id", str(group["id"])),
                                  ("count", str(len(group["members"]) + 1)), ("users", users)]))
    return document("ineed", [("groups", content)])


HANDSHAKE = document("handshake", [("status", "0"), ("token", TOKEN), ("mode", "0"), ("userName", "Анна Смирнова"),
                                   ("method", "1"), ("method", "2"), ("method", "3")])
CONFIGURATION = document("config", [("config_rate", "0"), ("config_visibilily", "0"), ("config_privatetime", "0"),
                                    ("config_forcegps", "0"), ("config_levelgps", "0")])
REPORT = document("isee", [("status", "1"), ("timer", "300"),
                           ("sint", [("address", "Москва, Манежная площадь, 1")])])


class CannedService:
    """Answers on a free loopback port: "hand", "config", "isee" and "ineed" at once, one connection per
    request, as pelmora-server does (it reads the whole request, answers, closes)."""

    def __init__(self, cells):
        self.cells = cells
        self.replies = {"hand": http_reply(HANDSHAKE), "config": http_reply(CONFIGURATION),
                        "isee": http_reply(REPORT)}
        self.people = 0
        self.set_people(0)
        self.requests = []
        service = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                service.answer(self.request)

        socketserver.ThreadingTCPServer.allow_reuse_address = True
        self.server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def set_people(self, count):
        """From now on "ineed" answers with `count` people in three groups."""
        self.people = count
        self.ineed_body = ineed_document(groups_of(count, self.cells))
        self.replies["ineed"] = http_reply(self.ineed_body)

    def ineed_rows(self, start, count):
        """(name, address line) of `count` people from the `start`th on, as the group tab shows them when
        all groups are shown: group after group, "NAME" and "ADDRESS, DISTANCE км"."""
        shown = [member for group in groups_of(self.people, self.cells) for member in group["members"]]
        return [(member["name"], "%s, %s км" % (member["address"], member["distance"]))
                for member in shown[start:start + count]]

    def answer(self, connection):
        connection.settimeout(30)
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = connection.recv(4096)
            if not chunk:
                return
            data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        length = 0
        kind = ""
        for line in head.split(b"\r\n"):
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value.strip() or 0)
            elif name.strip().lower() == b"host":
                kind = value.strip().split(b".")[0].decode("ascii", "replace")
        while len(body) < length + 2:
            chunk = connection.recv(4096)
            if not chunk:
                break
            body += chunk
        self.requests.append(kind)
        connection.sendall(self.replies.get(kind, http_reply(document("error", [("code", "400"),
                                                                             ("description", "unknown")]))))
        connection.shutdown(socket.SHUT_WR)
        try:
            while connection.recv(4096):
                pass
        except OSError:
            pass

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
