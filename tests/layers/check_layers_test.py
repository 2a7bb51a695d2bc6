#!/usr/bin/env python3
"""tools/check-layers on small trees made for each case: what it lets through and what it reports."""

import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "check-layers")

# Each case: the files of the tree (path: the headers it includes), the exit code, and the texts the
# output must hold.
CASES = [
    ("downward and sideways includes pass",
     {"platform/ril.h": ["resources/texts.h"], "location/cell_source.h": ["platform/ril.h"],
      "protocol/handshake.h": ["location/cell_source.h"], "screens/me_tab.cpp": ["app/app_context.h"],
      "resources/texts.h": []},
     0, ["every include goes down or sideways, no circles"]),
    ("the application object's header may be included from below",
     {"protocol/transport.cpp": ["app/app_context.h"], "app/app_context.h": []},
     0, ["no circles"]),
    ("an upward include is reported with its line",
     {"protocol/configuration.cpp": ["protocol/configuration.h", "screens/me_tab.h"],
      "protocol/configuration.h": [], "screens/me_tab.h": []},
     1, ["protocol/configuration.cpp:2: upward include of screens/me_tab.h", "1 fault(s)"]),
    ("platform may not include location",
     {"platform/serial_port.cpp": ["location/cell_source.h"], "location/cell_source.h": []},
     1, ["platform/serial_port.cpp:1: upward include of location/cell_source.h"]),
    ("a circle through the sources of one layer",
     {"location/cell_monitor.h": [], "location/cell_monitor.cpp": ["location/cell_sampler.h"],
      "location/cell_sampler.h": [], "location/cell_sampler.cpp": ["location/cell_monitor.h"]},
     1, ["include circle: location/cell_monitor.cpp -> location/cell_sampler.h, "
         "location/cell_sampler.cpp -> location/cell_monitor.h"]),
    ("a circle in the tests counts too",
     {"tests/support/a.h": ["tests/support/b.h"], "tests/support/b.h": ["tests/support/a.h"]},
     1, ["include circle: tests/support/a.h -> tests/support/b.h"]),
]


def make_tree(root, files):
    for path, included in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as text:
            text.write("#pragma once\n" if path.endswith(".h") and not included else "")
            text.writelines(f'#include "{header}"\n' for header in included)


class CheckLayersTest(unittest.TestCase):
    def test_cases(self):
        for name, files, code, texts in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as root:
                make_tree(root, files)
                run = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
                self.assertEqual(run.returncode, code, run.stdout + run.stderr)
                for text in texts:
                    self.assertIn(text, run.stdout)


if __name__ == "__main__":
    unittest.main()
