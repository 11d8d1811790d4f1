#!/usr/bin/env python3
"""VXI-11 under abuse: with every connection taken by idle and trickling clients, a new client
still gets in, and the ones holding a lock or waiting in a read are left alone."""
import struct
import sys
import unittest

# Runs itself again in a user and network namespace (or exits 77) on import.
from serve_vxi11_test import CORE, LOCK, READ, UNLOCK, Rpc, Server, call, getport, mark, \
    parse_reply

MAX_STREAMS = 32


class Abuse(unittest.TestCase):
    def test_a_fresh_client_gets_in(self):
        server = Server(extra=["--idle", "2"])
        try:
            holder = Rpc(server.core_port)  # the oldest: evicted first but for its lock
            _, held, _, _ = holder.link(b"inst2")
            self.assertEqual(holder.core(LOCK, struct.pack(">3I", held, 0, 0)), (0,))
            reader = Rpc(server.core_port)
            _, waiting, _, _ = reader.link(b"inst1")
            reader.send(mark(call(1, CORE, 1, READ,
                                  struct.pack(">6I", waiting, 64, 9000, 0, 0, 0))))
            idle = [Rpc(server.core_port) for _ in range(MAX_STREAMS - 3)]
            for rpc in idle:
                self.assertEqual(rpc.link(b"inst1")[0], 0)
            trickler = Rpc(server.core_port)
            trickler.send(b"\x80\x00")  # half a record mark, and no more
            trickler_port = trickler.sock.getsockname()[1]
            # Closed at the record deadline, 3 s on: past --idle for the others too.
            self.assertEqual(trickler.sock.recv(1), b"")

            fresh = []
            for round_ in range(4):  # each takes a place, the first the trickler's
                with self.subTest(round_):
                    fresh.append(Rpc(getport(CORE, 1, 6)))
                    error, lid, _, _ = fresh[-1].link(b"inst1")
                    self.assertEqual(error, 0)
                    self.assertEqual(fresh[-1].write(lid, b"*IDN?"), (0, 5))
                    error, _, data = fresh[-1].read(lid)
                    self.assertEqual(error, 0)
                    self.assertTrue(data.startswith(b"TOVRIK,"), data)

            _, _, results = parse_reply(reader.record())
            self.assertEqual(struct.unpack(">I", results[:4]), (15,))  # its timeout, not EOF
            self.assertEqual(holder.core(UNLOCK, struct.pack(">I", held)), (0,))
            survivors = {holder.sock.getsockname()[1], reader.sock.getsockname()[1]}
            for rpc in [holder, reader, trickler, *idle, *fresh]:
                rpc.close()
        finally:
            status = server.stop()
        self.assertEqual(status, 0)
        log = server.stderr
        self.assertIn("closed VXI-11 127.0.0.1:%d: line deadline" % trickler_port, log)
        evicted = [l for l in log.splitlines() if l.endswith(": evicted")]
        self.assertGreaterEqual(len(evicted), 3, log)
        self.assertFalse([l for l in evicted
                          if int(l.split(":")[2]) in survivors], log)
        self.assertIn("connections closed by a limit:", log)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
