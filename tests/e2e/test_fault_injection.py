"""A short fault-injection run: the real service under Wine, five boxes, about twenty faults
(kills, server outages and bad replies, misbehaving boxes, a full disk), then a drain and a
record-by-record reconciliation. tools/faults/long-run does the same with many more faults."""
import os
import sys
import unittest

from harness import ServiceTestCase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "faults"))
from faults import FaultRun  # noqa: E402


class FaultInjectionTest(ServiceTestCase):
    def test_every_record_reaches_the_server_exactly_as_counted(self):
        outcome = FaultRun(seed=11, faults=20, box_count=5, long_delays=False,
                           verbose=True).run()
        print(outcome.table(), flush=True)
        self.assertTrue(outcome.drained, outcome.table())
        self.assertEqual(outcome.lost, [], outcome.table())
        self.assertEqual(outcome.corrupted, [], outcome.table())
        self.assertEqual(outcome.undecodable, 0, outcome.table())
        self.assertEqual(outcome.db_doubled, [], outcome.table())
        self.assertEqual(outcome.db_short, [], outcome.table())
        self.assertFalse(outcome.db_header_changed, outcome.table())
        self.assertEqual(outcome.delivered, outcome.generated)
        self.assertGreaterEqual(sum(outcome.faults.values()), 20)


if __name__ == "__main__":
    unittest.main()
