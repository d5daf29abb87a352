"""libflintgate-visa.so as the VISA library of Debian's pyvisa, against flintgate-sim.

Usage: pyvisa_client_test.py LIBRARY SIMULATOR
Exits 77 (skipped) when pyvisa is not installed.
"""
import os
import subprocess
import sys
import tempfile
import threading
import time
import unittest

try:
    import pyvisa
    from pyvisa import constants, errors
except ImportError as missing:
    print(f"SKIPPED: pyvisa cannot be imported ({missing}); install python3-pyvisa")
    sys.exit(77)

LIBRARY, SIMULATOR = sys.argv[1], sys.argv[2]
SERIAL = "PYVISA1"
NAME = f"USB0::0x2E5B::0x3A01::{SERIAL}::INSTR"
RAMP = [(i * 7) & 0xFFFF for i in range(40000)]


def ramp_block_bytes(count):
    return b"".join(bytes([(i * 7) & 0xFF, ((i * 7) >> 8) & 0xFF]) for i in range(count))


def text(key):
    # pyvisa 1.11 hands access keys back as bytes, later versions as str.
    return key.decode() if isinstance(key, bytes) else key


class PyvisaClient(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bus = tempfile.TemporaryDirectory(prefix="fg-pyvisa-")
        os.chmod(cls.bus.name, 0o700)
        os.environ["FLINTGATE_SIMBUS"] = cls.bus.name
        os.environ["FLINTGATE_VISA_PROVIDERS"] = "simbus"
        cls.trace = open(os.path.join(cls.bus.name, "trace.txt"), "w+")
        cls.sim = subprocess.Popen([SIMULATOR, f"WX2040:{SERIAL}"], stdout=cls.trace,
                                   stderr=subprocess.STDOUT)
        cls.rm = pyvisa.ResourceManager(LIBRARY)
        deadline = time.monotonic() + 10
        while NAME not in cls.rm.list_resources("?*::INSTR"):
            if time.monotonic() > deadline or cls.sim.poll() is not None:
                raise RuntimeError("flintgate-sim did not come onto the bus")
            time.sleep(0.05)

    @classmethod
    def tearDownClass(cls):
        cls.rm.close()
        cls.sim.terminate()
        cls.sim.wait(10)
        cls.trace.close()
        cls.bus.cleanup()

    def open(self, rm=None):
        inst = (rm or self.rm).open_resource(NAME)
        self.addCleanup(inst.close)
        inst.timeout = 3000
        return inst

    def trace_text(self):
        self.trace.flush()
        with open(self.trace.name) as f:
            return f.read()

    def test_open_reads_the_resource_attributes(self):
        info = self.rm.resource_info(NAME)
        self.assertEqual(info.interface_type, constants.InterfaceType.usb)
        self.assertEqual(info.resource_class, "INSTR")
        inst = self.open()
        self.assertIsInstance(inst, pyvisa.resources.USBInstrument)
        self.assertEqual(inst.resource_name, NAME)
        self.assertEqual(inst.manufacturer_id, 0x2E5B)
        self.assertEqual(inst.model_code, 0x3A01)
        self.assertEqual(inst.serial_number, SERIAL)
        self.assertEqual(inst.interface_number, 0)
        self.assertEqual(inst.usb_protocol, 1)
        self.assertEqual(inst.lock_state, constants.AccessModes.no_lock)
        self.assertEqual(inst.timeout, 3000)

    def test_terminations_end_reads_and_are_stripped(self):
        inst = self.open()
        inst.read_termination = "\n"
        inst.write_termination = "\n"
        self.assertTrue(inst.get_visa_attribute(constants.VI_ATTR_TERMCHAR_EN))
        identity = inst.query("*IDN?")
        self.assertTrue(identity.startswith("VANDRELL,WX2040,"), identity)
        self.assertNotIn("\n", identity)

        # A termination character inside the message ends the read there; the rest waits for
        # the next read, or is dropped by a flush.
        inst.read_termination = ","
        inst.write("*IDN?")
        self.assertEqual(inst.read(), "VANDRELL")
        self.assertEqual(inst.read(), "WX2040")
        inst.flush(constants.BufferOperation.discard_read_buffer)
        self.assertEqual(inst.query("*IDN?"), "VANDRELL")
        inst.flush(constants.BufferOperation.discard_read_buffer)

        # Without a termination character a read ends at the message's end.
        inst.read_termination = None
        self.assertFalse(inst.get_visa_attribute(constants.VI_ATTR_TERMCHAR_EN))
        self.assertEqual(inst.query("*IDN?"), identity + "\n")

    def test_binary_block_reads_survive_newlines_in_the_data(self):
        inst = self.open()
        inst.read_termination = "\n"
        values = inst.query_binary_values("WAV:DATA? 40000", datatype="H", is_big_endian=False)
        self.assertEqual(list(values), RAMP)
        inst.read_termination = None
        raw = inst.query_binary_values("WAV:DATA? 3", datatype="B", container=bytes)
        self.assertEqual(raw, ramp_block_bytes(3))

    def test_status_byte_shows_a_waiting_reply(self):
        inst = self.open()
        self.assertEqual(inst.read_stb() & 0x10, 0)
        inst.write("*IDN?")
        deadline = time.monotonic() + 5
        while inst.read_stb() & 0x10 == 0:
            self.assertLess(time.monotonic(), deadline, "MAV never set")
            time.sleep(0.02)
        inst.read()
        self.assertEqual(inst.read_stb() & 0x10, 0)

    def test_trigger_reaches_the_instrument(self):
        inst = self.open()
        before = self.trace_text().count("-- trigger")
        inst.assert_trigger()
        deadline = time.monotonic() + 5
        while self.trace_text().count("-- trigger") == before:
            self.assertLess(time.monotonic(), deadline, "no trigger in the trace")
            time.sleep(0.02)

    def test_service_requests_are_refused_without_an_interrupt_pipe(self):
        inst = self.open()
        with self.assertRaises(errors.VisaIOError) as refused:
            inst.enable_event(constants.EventType.service_request, constants.EventMechanism.queue)
        self.assertEqual(refused.exception.error_code, constants.StatusCode.error_invalid_event)

    def test_lock_between_two_resource_managers(self):
        # pyvisa keeps one resource manager per library path: a second spelling of the path
        # gives a second one, with its own VISA resource manager session.
        other = pyvisa.ResourceManager(os.path.join(os.path.dirname(LIBRARY), ".",
                                                    os.path.basename(LIBRARY)))
        self.addCleanup(other.close)
        self.assertNotEqual(other.session, self.rm.session)
        a, b = self.open(), self.open(other)
        a.read_termination = b.read_termination = "\n"

        a.lock_excl()
        self.assertEqual(a.lock_state, constants.AccessModes.exclusive_lock)
        with self.assertRaises(errors.VisaIOError) as locked:
            b.query("*IDN?")
        self.assertEqual(locked.exception.error_code, constants.StatusCode.error_resource_locked)
        started = time.monotonic()
        with self.assertRaises(errors.VisaIOError) as waited:
            b.lock_excl(timeout=300)
        self.assertEqual(waited.exception.error_code, constants.StatusCode.error_timeout)
        self.assertGreaterEqual(time.monotonic() - started, 0.25)
        self.assertTrue(a.query("*IDN?").startswith("VANDRELL"))
        a.unlock()
        b.lock_excl(timeout=300)
        b.unlock()

        # A shared lock under one key admits both sessions.
        self.assertEqual(text(a.lock(requested_key="bench")), "bench")
        self.assertEqual(text(b.lock(requested_key="bench")), "bench")
        self.assertTrue(b.query("*IDN?").startswith("VANDRELL"))
        a.unlock()
        b.unlock()

    def test_clear_after_a_timeout(self):
        inst = self.open()
        inst.read_termination = "\n"
        inst.timeout = 200
        with self.assertRaises(errors.VisaIOError) as timed_out:
            inst.read()
        self.assertEqual(timed_out.exception.error_code, constants.StatusCode.error_timeout)
        inst.timeout = 3000
        # A reply left unread before the clear is gone after it.
        inst.write("*IDN?")
        time.sleep(0.2)
        inst.clear()
        values = inst.query_binary_values("WAV:DATA? 4", datatype="H", is_big_endian=False)
        self.assertEqual(list(values), RAMP[:4])

    def test_close_from_another_thread_ends_a_blocked_read(self):
        inst = self.open()
        inst.timeout = None  # VI_TMO_INFINITE: only the close can end the read
        ended = {}

        def read():
            try:
                inst.read_raw()
                ended["code"] = "returned"
            except errors.VisaIOError as error:
                ended["code"] = error.error_code

        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        time.sleep(0.3)
        self.assertTrue(reader.is_alive(), "the read did not wait")
        started = time.monotonic()
        inst.close()
        self.assertLess(time.monotonic() - started, 1.5, "close waited for the read")
        reader.join(3)
        self.assertFalse(reader.is_alive(), "the read went on after the close")
        self.assertEqual(ended["code"], constants.StatusCode.error_abort)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
