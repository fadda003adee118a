"""Shared pieces of the end-to-end scenarios."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wine"))

from service_env import *  # noqa: E402,F401,F403
from service_env import TEMPLATE, WIN_BIN, WIN64_BIN  # noqa: E402,F401


class ServiceTestCase(unittest.TestCase):
    """Fails at once, with the reason, when the Windows build or the prefix template is missing."""

    def setUp(self):
        if not os.path.exists(os.path.join(WIN_BIN, "quorveld.exe")):
            self.fail("quorveld.exe not built in " + WIN_BIN)
        if not os.path.isdir(TEMPLATE):
            self.fail("no Wine prefix template at " + TEMPLATE)
