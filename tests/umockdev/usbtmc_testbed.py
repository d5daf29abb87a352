#!/usr/bin/python3
"""An emulated USBTMC instrument for tests of the libusb provider on the real libusb code path.

umockdev serves the instrument's sysfs entry and device node; this script answers the usbdevfs
ioctls that libusb sends to that node (URBs on the control, bulk and interrupt pipes, claims,
kernel driver detach and attach), playing a WX2040 or WX2050 that speaks USBTMC. It then runs the
given command under umockdev's preload library and exits with its status.

Usage: usbtmc_testbed.py SCENARIO -- COMMAND [ARGS...]
Scenarios: plain, timeout, kernel-driver, clear-stalls, unplug, reenumerate, split-reply,
close-pending (nothing special on the device side: the test sends a command left unanswered).
Every protocol event the device sees goes to $FG_UMOCKDEV_LOG (one line each) for the test to
check. Exits 77 (skipped) when umockdev cannot run here, saying why.
"""
import errno
import os
import shutil
import struct
import subprocess
import sys

SKIPPED = 77


def skip(why):
    print("SKIPPED: " + why, flush=True)
    sys.exit(SKIPPED)


try:
    import gi
    gi.require_version("UMockdev", "1.0")
    from gi.repository import GLib, UMockdev
except (ImportError, ValueError) as missing:
    skip(f"umockdev's GObject bindings cannot be loaded ({missing}); "
         "install gir1.2-umockdev-1.0 and python3-gi")
if shutil.which("umockdev-wrapper") is None:
    skip("umockdev-wrapper is not installed; install umockdev")
# This process sends the uevents, which libudev builds from the emulated sysfs: it runs under the
# preload library too (and the test inherits it).
if "libumockdev-preload" not in os.environ.get("LD_PRELOAD", ""):
    os.execvp("umockdev-wrapper", ["umockdev-wrapper", sys.executable] + sys.argv)

# usbdevfs ioctls (x86_64 numbers, as libusb issues them).
SUBMITURB, DISCARDURB, REAPURB, REAPURBNDELAY = 0x8038550A, 0x550B, 0x4008550C, 0x4008550D
CLAIMINTERFACE, RELEASEINTERFACE, GETDRIVER = 0x8004550F, 0x80045510, 0x41045508
USBDEVFS_IOCTL, CLEAR_HALT, GET_CAPABILITIES = 0xC0105512, 0x80045515, 0x8004551A
SETINTERFACE, RESET, DISCONNECT, CONNECT = 0x80085504, 0x5514, 0x5516, 0x5517
URB_SIZE, URB_INTERRUPT, URB_CONTROL, URB_BULK = 56, 1, 2, 3
# Bulk continuation not needed: one URB per transfer; URBs of a vanished device can be reaped.
CAPABILITIES = 0x04 | 0x08 | 0x10

VENDOR, BULK_IN, BULK_OUT, INTERRUPT_IN = 0x2E5B, 0x81, 0x02, 0x83
SERIAL = "UMD2040"
WRITER_PRODUCT = 0x3A01


def descriptors(product):
    device = struct.pack("<BBHBBBBHHHBBBB", 18, 1, 0x0200, 0, 0, 0, 64, VENDOR, product, 0x0100,
                         1, 2, 3, 1)
    interface = bytes([9, 4, 0, 0, 3, 0xFE, 3, 1, 0])
    endpoints = (bytes([7, 5, BULK_IN, 2, 64, 0, 0]) + bytes([7, 5, BULK_OUT, 2, 64, 0, 0]) +
                 bytes([7, 5, INTERRUPT_IN, 3, 2, 0, 10]))
    total = 9 + len(interface) + len(endpoints)
    config = struct.pack("<BBHBBBBB", 9, 2, total, 1, 1, 0, 0x80, 50) + interface + endpoints
    return device + config


def bulk_header(msg_id, tag, size, attributes):
    return struct.pack("<BBBBIBBBB", msg_id, tag, (~tag) & 0xFF, 0, size, attributes, 0, 0, 0)


class Log:
    def __init__(self, path):
        self.file = open(path, "w") if path else None

    def __call__(self, line):
        if self.file:
            self.file.write(line + "\n")
            self.file.flush()


class Urb:
    def __init__(self, urb, buffer, kind, endpoint, length):
        self.urb, self.buffer, self.kind, self.endpoint, self.length = (
            urb, buffer, kind, endpoint, length)

    def finish(self, status, data=b"", offset=0):
        if data:
            self.buffer.update(offset, list(data))
        self.urb.update(4, list(struct.pack("<i", status)))
        self.urb.update(28, list(struct.pack("<i", len(data))))


class Instrument(UMockdev.IoctlBase):
    """One attachment of the instrument: a device node with its pipes and its USBTMC state."""

    def __init__(self, bed, product, devnum):
        super().__init__()
        self.bed, self.product, self.devnum = bed, product, devnum
        self.log = bed.log
        self.gone = False
        self.driver_bound = bed.scenario == "kernel-driver"
        self.pending = []   # IN URBs waiting for data
        self.done = []      # URBs ready to be reaped
        self.message = b""
        self.replies = []   # whole reply messages, oldest first
        self.reply_sent = 0
        self.request = None  # (bTag, TransferSize) of the REQUEST_DEV_DEP_MSG_IN being served
        self.in_pipe = b""   # bytes of the current bulk-IN transfer not yet delivered
        self.notifications = []
        self.last_tag = 0
        self.clears = 0
        self.idn_count = 0
        self.stuck = False     # scenario timeout: an answer was lost on its way
        self.stuck_tag = None  # the bTag of the request it belonged to, once aborted
        self.abort_checks = 0

    # --- usbdevfs -------------------------------------------------------------------------
    def do_handle_ioctl(self, client):
        request, arg = client.get_request(), client.get_arg()
        try:
            result = self.ioctl(request, arg)
        except Exception as failure:  # a fault of this script must show, not hang libusb
            self.log(f"helper error {failure!r}")
            result = -errno.EIO
        self.pump()
        client.complete(0 if result >= 0 else -1, 0 if result >= 0 else -result)
        return True

    def ioctl(self, request, arg):
        if request == REAPURBNDELAY or request == REAPURB:
            if not self.done:
                return -errno.ENODEV if self.gone else -errno.EAGAIN
            urb = self.done.pop(0)
            arg.resolve(0, 8).set_ptr(0, urb.urb)
            return 0
        if self.gone:
            return -errno.ENODEV
        if request == GET_CAPABILITIES:
            arg.resolve(0, 4).update(0, list(struct.pack("<I", CAPABILITIES)))
            return 0
        if request == GETDRIVER:
            if not self.driver_bound:
                return -errno.ENODATA
            arg.resolve(0, 260).update(4, list(b"usbtmc\0"))
            return 0
        if request == USBDEVFS_IOCTL:
            interface, code = struct.unpack("<ii", bytes(arg.resolve(0, 16).retrieve())[:8])
            if code == DISCONNECT and self.driver_bound:
                self.driver_bound = False
                self.log(f"detach {interface}")
                return 0
            if code == CONNECT and not self.driver_bound:
                self.driver_bound = True
                self.log(f"attach {interface}")
                return 0
            return -errno.ENODATA
        if request == CLAIMINTERFACE:
            if self.driver_bound:
                return -errno.EBUSY
            self.log("claim")
            return 0
        if request == RELEASEINTERFACE:
            self.log("release")
            return 0
        if request == CLEAR_HALT:
            endpoint = struct.unpack("<I", bytes(arg.resolve(0, 4).retrieve()))[0]
            self.log(f"clear-halt 0x{endpoint:02X}")
            return 0
        if request in (SETINTERFACE, RESET):
            return 0
        if request == SUBMITURB:
            return self.submit(arg.resolve(0, URB_SIZE))
        if request == DISCARDURB:
            address = struct.unpack("<Q", bytes(arg.retrieve())[:8])[0]
            for urb in self.pending:
                if urb.urb.client_addr == address:
                    self.pending.remove(urb)
                    urb.finish(-errno.ENOENT)
                    self.done.append(urb)
                    self.log(f"discard 0x{urb.endpoint:02X}")
                    return 0
            return -errno.EINVAL
        self.log(f"unhandled ioctl 0x{request:08X}")
        return -errno.ENOTTY

    def submit(self, urb_data):
        raw = bytes(urb_data.retrieve())
        kind, endpoint = raw[0], raw[1]
        length = struct.unpack_from("<i", raw, 24)[0]
        buffer = urb_data.resolve(16, length) if length > 0 else urb_data
        urb = Urb(urb_data, buffer, kind, endpoint, length)
        if kind == URB_CONTROL:
            self.control(urb, bytes(buffer.retrieve()))
        elif kind == URB_BULK and endpoint == BULK_OUT:
            data = bytes(buffer.retrieve())
            self.bulk_out(data)
            urb.urb.update(4, list(struct.pack("<i", 0)))
            urb.urb.update(28, list(struct.pack("<i", len(data))))
            self.done.append(urb)
        elif kind in (URB_BULK, URB_INTERRUPT) and endpoint in (BULK_IN, INTERRUPT_IN):
            self.pending.append(urb)
        else:
            return -errno.EINVAL
        return 0

    def pump(self):
        """Completes the waiting IN URBs that have data now."""
        for urb in list(self.pending):
            if urb.endpoint == BULK_IN:
                if not self.in_pipe:
                    self.next_transfer()
                if not self.in_pipe:
                    continue
                data, self.in_pipe = self.in_pipe[:urb.length], self.in_pipe[urb.length:]
            elif self.notifications:
                data = self.notifications.pop(0)
            else:
                continue
            self.pending.remove(urb)
            urb.finish(0, data)
            self.done.append(urb)

    # --- USBTMC ---------------------------------------------------------------------------
    def control(self, urb, buffer):
        request_type, request, value, index, length = struct.unpack("<BBHHH", buffer[:8])
        reply = None
        if request_type == 0x80 and request == 6 and value >> 8 == 3:
            strings = {1: "VANDRELL", 2: "WX2040" if self.product == 0x3A01 else "WX2050",
                       3: SERIAL}
            if value & 0xFF == 0:
                reply = bytes([4, 3, 0x09, 0x04])
            else:
                text = strings.get(value & 0xFF, "").encode("utf-16-le")
                reply = bytes([2 + len(text), 3]) + text
        elif request_type == 0xA1 and request == 5:  # INITIATE_CLEAR
            self.clears += 1
            if self.bed.scenario == "clear-stalls" and self.clears == 2:
                self.log("clear stalled")
                urb.finish(-errno.EPIPE)
                self.done.append(urb)
                return
            self.log("clear")
            self.message, self.replies, self.reply_sent = b"", [], 0
            self.request, self.in_pipe = None, b""
            reply = bytes([1])
        elif request_type == 0xA1 and request == 6:  # CHECK_CLEAR_STATUS
            reply = bytes([1, 0])
        elif request_type == 0xA1 and request == 7:  # GET_CAPABILITIES
            reply = bytes([1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x05, 0]) + bytes(8)
        elif request_type == 0xA1 and request == 128:  # READ_STATUS_BYTE
            tag = value & 0xFF
            available = 0x10 if self.replies else 0
            self.notifications.append(bytes([0x80 | tag, available]))
            self.log(f"read-status-byte {tag}")
            reply = bytes([1, tag, 0])
        elif request_type == 0xA2 and request == 3:  # INITIATE_ABORT_BULK_IN
            tag = value & 0xFF
            ours = self.request is not None and self.request[0] == tag
            self.log(f"abort-bulk-in {tag} {'in progress' if ours else 'not in progress'}")
            reply = bytes([1 if ours else 0x81, tag])
            if ours:
                self.request = None
                if self.stuck:
                    self.stuck, self.stuck_tag = False, tag
        elif request_type == 0xA2 and request == 4:  # CHECK_ABORT_BULK_IN_STATUS
            self.abort_checks += 1
            if self.stuck_tag is not None and self.abort_checks == 1:
                # Part of the aborted reply was already on its way: the host must drain it.
                self.in_pipe = bulk_header(2, self.stuck_tag, 5, 0) + b"STALE" + bytes(3)
                reply = bytes([2, 1, 0, 0]) + struct.pack("<I", 0)
            else:
                self.stuck_tag = None
                self.log("abort done")
                reply = bytes([1, 0, 0, 0]) + struct.pack("<I", 0)
        if reply is None:
            self.log(f"stall control 0x{request_type:02X} {request}")
            urb.finish(-errno.EPIPE)
        else:
            urb.finish(0, reply[:length], 8)
        self.done.append(urb)

    def check_tag(self, tag, inverse):
        expected = 1 if self.last_tag == 255 else self.last_tag + 1
        if tag == 0 or inverse != (~tag) & 0xFF or (self.last_tag and tag != expected):
            self.log(f"bad tag {tag} after {self.last_tag}")
        if self.last_tag == 255 and tag == 1:
            self.log("tag wrapped")
        self.last_tag = tag

    def bulk_out(self, data):
        if len(data) < 12:
            self.log("short bulk-out")
            return
        msg_id, tag, inverse, _, size, attributes = struct.unpack("<BBBBIB", data[:9])
        self.check_tag(tag, inverse)
        if msg_id == 1:  # DEV_DEP_MSG_OUT
            self.message += data[12:12 + size]
            if attributes & 1:
                message, self.message = self.message, b""
                self.command(message.decode("latin-1").strip())
        elif msg_id == 2:  # REQUEST_DEV_DEP_MSG_IN
            self.request = (tag, size)
        elif msg_id == 128:
            self.log("trigger")

    def next_transfer(self):
        """Starts the DEV_DEP_MSG_IN transfer that answers the request being served."""
        if self.request is None or not self.replies:
            return
        tag, size = self.request
        reply = self.replies[0]
        limit = self.bed.transfer_limit or size
        chunk = reply[self.reply_sent:self.reply_sent + min(size, limit)]
        self.reply_sent += len(chunk)
        last = self.reply_sent == len(reply)
        if last:
            self.replies.pop(0)
            self.reply_sent = 0
        payload = chunk + bytes((-len(chunk)) % 4)
        self.in_pipe = bulk_header(2, tag, len(chunk), 1 if last else 0) + payload
        self.request = None

    def command(self, text):
        self.log(f"command {text}")
        header = text.split(" ")[0].upper()
        if header == "*IDN?":
            self.idn_count += 1
            scenario = self.bed.scenario
            if scenario == "timeout" and self.idn_count == 1:
                self.stuck = True
                return
            if scenario == "unplug" and self.idn_count == 2:
                GLib.timeout_add(200, self.bed.unplug, self)
                return
            model = "WX2040-WRITER" if self.bed.writer else (
                "WX2040" if self.product == 0x3A01 else "WX2050")
            self.replies.append(f"VANDRELL,{model},{SERIAL},2.00-01-01-01-01-0100\n".encode())
        elif header == "DATA?":
            count = int(text.split(" ")[1])
            self.replies.append(bytes((i * 13) & 0xFF for i in range(count)))
        elif header == "SRQ":
            self.notifications.append(bytes([0x81, 0x40]))
        elif header == "SYST:UPDATE" and self.bed.scenario == "reenumerate":
            GLib.timeout_add(50, self.bed.restart_as_writer, self)


class Testbed:
    def __init__(self, scenario):
        self.scenario = scenario
        self.log = Log(os.environ.get("FG_UMOCKDEV_LOG"))
        self.transfer_limit = 1000 if scenario == "split-reply" else 0
        self.writer = False
        self.bed = UMockdev.Testbed.new()
        self.instruments = []
        product = 0x3A02 if scenario == "reenumerate" else 0x3A01
        self.plug(product, 2)

    def plug(self, product, devnum):
        syspath = f"/sys/devices/usb1/1-{devnum}"
        node = f"bus/usb/001/{devnum:03d}"
        hex_descriptors = descriptors(product).hex()
        self.bed.add_from_string(
            f"P: /devices/usb1/1-{devnum}\nN: {node}\n"
            f"E: DEVNAME=/dev/{node}\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n"
            f"E: BUSNUM=001\nE: DEVNUM={devnum:03d}\nE: MAJOR=189\nE: MINOR={devnum - 1}\n"
            f"A: busnum=1\\n\nA: devnum={devnum}\\n\nA: speed=480\\n\n"
            f"A: idVendor={VENDOR:04x}\\n\nA: idProduct={product:04x}\\n\n"
            f"A: serial={SERIAL}\\n\nA: bConfigurationValue=1\\n\n"
            f"A: dev=189:{devnum - 1}\\n\nH: descriptors={hex_descriptors}\n")
        instrument = Instrument(self, product, devnum)
        instrument.syspath = syspath
        self.bed.attach_ioctl(f"/dev/{node}", instrument)
        self.instruments.append(instrument)
        return instrument

    def unplug(self, instrument):
        """The device leaves the bus: its URBs end with ENODEV, its node and sysfs entry go."""
        self.log(f"unplugged {instrument.devnum}")
        instrument.gone = True
        for urb in instrument.pending:
            urb.finish(-errno.ENODEV)
            instrument.done.append(urb)
        instrument.pending = []
        self.bed.uevent(instrument.syspath, "remove")
        self.bed.remove_device(instrument.syspath)
        return False

    def restart_as_writer(self, instrument):
        self.unplug(instrument)
        GLib.timeout_add(300, self.writer_appears)
        return False

    def writer_appears(self):
        self.writer = True
        instrument = self.plug(WRITER_PRODUCT, 3)
        self.bed.uevent(instrument.syspath, "add")
        self.log("writer on the bus")
        return False


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        print(__doc__)
        return 2
    testbed = Testbed(sys.argv[1])
    env = dict(os.environ)
    env["UMOCKDEV_DIR"] = testbed.bed.get_root_dir()
    env["FG_UMOCKDEV_SCENARIO"] = sys.argv[1]
    # The preload library comes first; a sanitizer runtime must not insist on that place.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    child = subprocess.Popen(sys.argv[3:], env=env)
    loop = GLib.MainLoop()
    status = {"code": None}

    def watch():
        code = child.poll()
        if code is None:
            return True
        status["code"] = code
        loop.quit()
        return False

    def expire():
        print("usbtmc_testbed: the test did not finish in 240 s", flush=True)
        child.kill()
        return False

    GLib.timeout_add(20, watch)
    GLib.timeout_add_seconds(240, expire)
    loop.run()
    return status["code"] if status["code"] is not None else 1


if __name__ == "__main__":
    sys.exit(main())
