"""The web site clicked through in headless Chromium: two people sign up in two browsers, one makes a
group and invites the other, both phones report, and each sees the other on the groups page and on
the map; a wrong password shows its error; a form posted from another origin is refused.

    python3 tests/web/browser_test.py --server build/native/pelmora-server"""

import argparse
import http.server
import os
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "web"))
import pelmora_web  # noqa: E402

SERVER_PROGRAM = None

# Demo cells: home on Пятницкая and the office on Мясницкая, 2.9 km apart.
ANNA_CELL = (7704, 40403)
BORIS_CELL = (7702, 20212)


class ForeignSite:
    """A page on another origin whose form posts to Pelmora's "new group" form."""

    def __init__(self, target):
        page = ("<!DOCTYPE html><html><body><form method='post' action='%s/groups'>"
                "<input name='title' value='Чужая'><button id='send' type='submit'>Отправить</button>"
                "</form></body></html>" % target).encode("utf-8")

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(page)))
                self.end_headers()
                self.wfile.write(page)

            def log_message(self, *arguments):
                pass

        self.server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.address = "http://localhost:%d/" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class WebSiteInABrowser(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="pelmora-web-test-")
        self.server = pelmora_web.Server(SERVER_PROGRAM, self.folder.name)
        self.browsers = []

    def tearDown(self):
        for browser in self.browsers:
            browser.quit()
        self.server.stop()
        self.folder.cleanup()

    def browser(self):
        browser = pelmora_web.Browser()
        self.browsers.append(browser)
        return browser

    def sign_up(self, browser, email, name, password):
        browser.fill_form({"email": email, "name": name, "password": password, "password2": password})
        browser.wait_until(lambda: "/groups" in browser.driver.current_url)

    def test_two_people_meet_through_an_invitation_and_see_each_other(self):
        anna = self.browser()
        boris = self.browser()

        anna.open(self.server.address + "/")
        anna.click("a.button[href='/signup']")
        anna.wait_for("input[name=password2]")
        self.sign_up(anna, "anna.web@example.org", "Анна Веб", "пароль-анны")
        self.assertIn("Добро пожаловать в Pelmora!", anna.text())

        anna.fill_form({"title": "Семья"}, button="#new-group button")
        anna.wait_until(lambda: "Группа создана" in anna.text())
        anna.click("form[action$='/invitations'] button")
        link_field = anna.wait_for("#invitation-link")
        anna.click("button[data-copy]")
        anna.wait_until(lambda: anna.find("button[data-copy]").text == "Скопировано")
        link = link_field.get_attribute("value")
        self.assertRegex(link, r"^http://127\.0\.0\.1:%d/invitations/[0-9a-f]{32}$" % self.server.port)

        boris.open(link)
        self.assertIn("Анна Веб приглашает вас в группу «Семья»", boris.text())
        self.sign_up(boris, "boris.web@example.org", "Борис Веб", "boris-secret")

        anna_phone = pelmora_web.Phone(self.server)
        anna_phone.log_in("anna.web@example.org", "пароль-анны")
        anna_phone.report(*ANNA_CELL)
        boris_phone = pelmora_web.Phone(self.server)
        boris_phone.log_in("boris.web@example.org", "boris-secret")
        boris_phone.report(*BORIS_CELL)

        for viewer, other in ((anna, "Борис Веб"), (boris, "Анна Веб")):
            viewer.open(self.server.address + "/groups")
            rows = viewer.find_all("table.members tr")
            row = next(row.text for row in rows if other in row.text)
            self.assertIn("км", row)
            self.assertIn("только что", row)
            viewer.open(self.server.address + "/map")
            viewer.wait_until(lambda: len(viewer.find_all(".leaflet-tooltip")) >= 2)
            labels = [label.text for label in viewer.find_all(".leaflet-tooltip")]
            self.assertIn(other, labels)
            self.assertIn("Вы", labels)
            self.assertEqual(len(viewer.find_all("path.leaflet-interactive")), 2)
            self.assertIn(other, viewer.find("#people").text)
        # The places by their cells' addresses (the demo's marks there are not theirs to see).
        self.assertIn("Москва, ул. Пятницкая, 41", boris.find("#people").text)
        self.assertIn("Москва, ул. Мясницкая, 24", anna.find("#people").text)

    def test_a_wrong_password_shows_the_error(self):
        browser = self.browser()
        browser.open(self.server.address + "/login")
        browser.fill_form({"email": "demo@pelmora.ru", "password": "not-the-password"})
        browser.wait_for("p.error")
        self.assertEqual(browser.find("p.error").text, "Неверный адрес электронной почты или пароль")
        self.assertIn("/login", browser.driver.current_url)
        browser.fill_form({"email": "demo@pelmora.ru", "password": "pelmora"})
        browser.wait_until(lambda: browser.driver.current_url.endswith("/groups"))
        self.assertIn("Мои группы", browser.find("h1").text)

    def test_a_form_posted_from_another_origin_is_refused(self):
        browser = self.browser()
        browser.open(self.server.address + "/login")
        browser.fill_form({"email": "demo@pelmora.ru", "password": "pelmora"})
        browser.wait_until(lambda: browser.driver.current_url.endswith("/groups"))
        foreign = ForeignSite(self.server.address)
        try:
            browser.open(foreign.address)
            browser.click("#send")
            browser.wait_until(lambda: "Запрос отклонён" in browser.text())
        finally:
            foreign.stop()
        browser.open(self.server.address + "/groups")
        self.assertNotIn("Чужая", browser.text())
        self.assertIn("Семья", browser.text())


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True, help="the pelmora-server program")
    options, rest = parser.parse_known_args()
    SERVER_PROGRAM = os.path.abspath(options.server)
    unittest.main(argv=[sys.argv[0], "-v"] + rest)
