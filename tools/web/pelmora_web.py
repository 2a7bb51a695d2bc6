"""Pelmora's web site under a real browser: the server on a free port with a database of its own,
headless Chromium from Debian driven by Selenium, and a phone that speaks the phone protocol.

Shared by the browser tests (tests/web/) and the screenshot tool (tools/web-screenshots)."""

import hashlib
import json
import os
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def end_process(process, seconds=10):
    """Asks a program we started to end, and kills it when it has not after `seconds`."""
    if process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Server:
    """pelmora-server with the demo's cells and people standing still, on a free loopback port."""

    def __init__(self, program, folder, demo=True, options=()):
        """`options`: further command-line options of the server, such as ["--threads", "4"]."""
        self.folder = folder
        self.database = os.path.join(folder, "web.db")
        ready = os.path.join(folder, "port")
        if os.path.exists(ready):
            os.remove(ready)
        arguments = [program, "--listen", "127.0.0.1:0", "--db", self.database, "--ready-file", ready]
        arguments += list(options)
        if demo:
            arguments += ["--demo", "--walk-step", "0"]
        self.log = open(os.path.join(folder, "server.log"), "w")
        self.process = subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=self.log)
        deadline = time.time() + 15
        while not os.path.exists(ready):
            if self.process.poll() is not None or time.time() > deadline:
                raise RuntimeError("pelmora-server did not start; see " + self.log.name)
            time.sleep(0.05)
        with open(ready) as file:
            self.port = int(file.read())
        self.address = "http://127.0.0.1:%d" % self.port

    def stop(self):
        end_process(self.process)
        self.log.close()

    def api(self, method, path, body=None, token=None):
        """One call of the JSON API: (status, parsed answer or None)."""
        request = urllib.request.Request(self.address + path, method=method,
                                         data=None if body is None else json.dumps(body).encode())
        if token:
            request.add_header("Authorization", "Bearer " + token)
        try:
            with urllib.request.urlopen(request, timeout=10) as answer:
                text = answer.read()
                return answer.status, json.loads(text) if text else None
        except urllib.error.HTTPError as error:
            return error.code, json.loads(error.read() or b"null")


class Phone:
    """What pelmora.exe sends: the handshake with the MD5 of the Windows-1251 password, and reports."""

    def __init__(self, server):
        self.server = server
        self.token = None

    def request(self, kind, body):
        data = body.encode("cp1251")
        head = ("POST http://localhost HTTP/1.0\r\nHost: %s.localhost\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n" % (kind, len(data)))
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as connection:
            connection.sendall(head.encode() + data + b"\r\n")
            connection.shutdown(socket.SHUT_WR)
            reply = b""
            while True:
                chunk = connection.recv(4096)
                if not chunk:
                    break
                reply += chunk
        return reply.decode("utf-8")

    def log_in(self, email, password):
        digest = hashlib.md5(password.encode("cp1251")).hexdigest()
        reply = self.request("hand", "client_id=2&client_ver=1&user_id=%s&auth=%s&terminal_osn=2"
                                     "&terminal_firmver=4.21.1088&terminal_model=PPC-2003&user_subid=1" % (email, digest))
        if "<status>0</status>" not in reply:
            raise AssertionError("the phone's log-in was refused:\n" + reply)
        self.token = reply.split("<token>")[1].split("</token>")[0]

    def report(self, lac, cid):
        """Reports standing in one cell of network 01 (its three last cells the same)."""
        cells = "lac=%d&cid=%d&lac1=%d&cid1=%d&lac2=%d&cid2=%d" % (lac, cid, lac, cid, lac, cid)
        reply = self.request("isee", "token=%s&mnc=01&%s&delta=0&db=0" % (self.token, cells))
        if "<status>1</status>" not in reply:
            raise AssertionError("the report was refused:\n" + reply)


class Browser:
    """One headless Chromium with a profile of its own: its cookies are its own."""

    def __init__(self, width=1280, height=900):
        self.profile = tempfile.mkdtemp(prefix="pelmora-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--disable-dev-shm-usage", "--hide-scrollbars", "--lang=ru-RU",
                         "--user-data-dir=" + self.profile, "--window-size=%d,%d" % (width, height)):
            options.add_argument(argument)
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.driver.set_page_load_timeout(30)
        self.size(width, height)

    def size(self, width, height):
        """The page's viewport in CSS pixels, a phone's (touch, narrow) at 480 and below."""
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width <= 480})

    def open(self, address):
        self.driver.get(address)

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def find_all(self, css):
        return self.driver.find_elements(By.CSS_SELECTOR, css)

    def type(self, css, text):
        field = self.find(css)
        field.clear()
        field.send_keys(text)

    def click(self, css):
        self.find(css).click()

    def wait_for(self, css, seconds=30):
        return WebDriverWait(self.driver, seconds).until(
            expected_conditions.presence_of_element_located((By.CSS_SELECTOR, css)))

    def wait_until(self, condition, seconds=30):
        # A page that is being replaced after a click drops the elements a condition looked at;
        # the condition is simply asked again on the next page.
        return WebDriverWait(self.driver, seconds,
                             ignored_exceptions=(NoSuchElementException, StaleElementReferenceException)).until(
            lambda driver: condition())

    def text(self):
        return self.find("body").text

    def fill_form(self, fields, button="main form button[type=submit]"):
        for name, value in fields.items():
            self.type("main form [name=%s]" % name, value)
        self.click(button)

    def screenshot(self, path, width, height):
        """The whole page at `width` CSS pixels, however long it is (at least `height`)."""
        self.size(width, height)
        time.sleep(0.3)
        full = self.driver.execute_script("return Math.ceil(document.documentElement.scrollHeight)")
        self.size(width, max(height, full))
        time.sleep(0.5)
        self.driver.save_screenshot(path)
        self.size(width, height)

    def quit(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)
