#!/usr/bin/python3
"""class2sim: a scripted Class 2 / Class 2.0 fax modem on a pseudo-terminal.

The far end of every call is simulated: dialling reaches a fax machine that accepts the
pages sent to it (stored under --rx-dir as raw T.4 data and as PBM), and a call that rings in
sends the pages given with --send. Faults are injected from the command line. See README.md.
"""
import argparse
import os
import pty
import select
import signal
import subprocess
import sys
import time
import tty

DLE, ETX, DC1, DC2, DC3 = 0x10, 0x03, 0x11, 0x12, 0x13
CLASS2, CLASS20 = "2", "2.0"

# The keywords of each generation: the same dialogue under two spellings.
WORDS = {
    CLASS2: dict(con="+FCON", csi="+FCSI", tsi="+FTSI", dis="+FDIS", dcs="+FDCS", pts="+FPTS",
                 hng="+FHNG", cfr="+FCFR", et="+FET"),
    CLASS20: dict(con="+FCO", csi="+FCI", tsi="+FTI", dis="+FIS", dcs="+FCS", pts="+FPS",
                  hng="+FHS", cfr=None, et="+FET"),
}
# Post-page messages: +FET values, and Class 2.0's in-band DLE codes.
PPM_NAMES = {0: "MPS", 1: "EOM", 2: "EOP"}
PPM_DLE = {ord(","): 0, ord(";"): 1, ord("."): 2}

NUMERIC_RESULTS = {"OK": 0, "CONNECT": 1, "RING": 2, "NO CARRIER": 3, "ERROR": 4, "NO DIALTONE": 6,
                   "BUSY": 7, "NO ANSWER": 8}

BIT_RATES = [2400, 4800, 7200, 9600, 12000, 14400]

# Capability fields: vr, br, wd, ln, df, ec, bf, st.
DEFAULT_DIS = [1, 5, 0, 2, 0, 0, 0, 0]


class Sim:
    def __init__(self, opts):
        self.o = opts
        self.master, slave = pty.openpty()
        self.slave_path = os.ttyname(slave)
        tty.setraw(slave)
        os.close(slave)   # the master now sees the port closed until a program opens it
        os.set_blocking(self.master, False)
        if opts.link:
            try:
                os.unlink(opts.link)
            except FileNotFoundError:
                pass
            os.symlink(self.slave_path, opts.link)
        self.log = open(opts.log, "a") if opts.log else None
        self.t0 = time.monotonic()
        self.command_counts = {}
        self.page = 0            # pages accepted from the program (MCF), this call
        self.rejected = 0        # transmissions answered with RTN
        self.transmissions = 0   # page transmissions, this call
        self.deliveries = 0      # page transmissions to a receiving program, this call
        self.resends = 0         # times the page being delivered was sent again after RTN
        self.page_data_in = b""  # the last transmission, until its verdict
        self.rings = 0
        self.calls = 0
        self.broken = None
        self.garbage_seed = 1
        self.reset()

    # ---- state --------------------------------------------------------------------------

    def reset(self):
        self.echo = True
        self.verbose = True
        self.fclass = "0"
        self.params = {}          # +F parameters set by the program, keyword -> value text
        self.local_dis = list(DEFAULT_DIS)
        self.in_call = False
        self.direction = None     # "tx" (program sends) or "rx" (program receives)
        self.session = None       # negotiated DCS
        self.pending_status = 1   # the page verdict: set by a receiving program (+FPTS= / +FPS=),
                                  # or the far end's answer to the last page sent
        self.send_index = 0       # next page of --send to deliver
        self.resent = False
        self.idle_since = time.monotonic()
        self.ringing = False
        self.next_ring = 0
        self.buf = b""

    @property
    def w(self):
        return WORDS[CLASS20 if self.fclass == "2.0" else CLASS2]

    @property
    def generation(self):
        return CLASS20 if self.fclass == "2.0" else CLASS2

    # ---- output -------------------------------------------------------------------------

    def trace(self, what):
        line = "%8.3f %s" % (time.monotonic() - self.t0, what)
        if self.log:
            self.log.write(line + "\n")
            self.log.flush()
        if self.o.trace:
            sys.stderr.write(line + "\n")

    def write(self, data):
        while data:
            try:
                n = os.write(self.master, data)
                data = data[n:]
            except BlockingIOError:
                select.select([], [self.master], [], 1.0)
            except OSError:
                return

    def respond(self, text):
        self.trace("> " + text)
        if not self.verbose and text in NUMERIC_RESULTS:
            # ATV0: result codes as digits, ended by CR alone.
            self.write(b"%d\r" % NUMERIC_RESULTS[text])
            return
        self.write(b"\r\n" + text.encode() + b"\r\n")

    def hng(self, code):
        if self.generation == CLASS20:
            return "%s:%02X" % (self.w["hng"], code)
        return "%s:%d" % (self.w["hng"], code)

    # ---- input --------------------------------------------------------------------------

    def line_rate(self):
        """Page data bytes a second: the session's bit rate, sped up by --speedup."""
        br = (self.session or self.negotiate())[1]
        return BIT_RATES[min(br, 5)] / 8.0 * self.o.speedup

    def pace(self, start, nbytes):
        """Waits until `nbytes` of page data would have crossed the line since `start`."""
        due = start + nbytes / self.line_rate()
        now = time.monotonic()
        if due > now:
            time.sleep(due - now)

    def read_some(self, timeout, limit=4096):
        """Bytes from the program, b"" on time-out; raises EOFError when the port closes."""
        r, _, _ = select.select([self.master], [], [], timeout)
        if not r:
            return b""
        try:
            data = os.read(self.master, limit)
        except BlockingIOError:
            return b""
        except OSError:
            raise EOFError
        if not data:
            raise EOFError
        return data

    def port_open(self):
        p = select.poll()
        p.register(self.master, select.POLLIN)
        for _, ev in p.poll(0):
            if ev & select.POLLHUP:
                return False
        return True

    # ---- main loop ----------------------------------------------------------------------

    def run(self):
        print("A %s" % self.slave_path)
        print("READY", flush=True)
        opened = False
        while True:
            if not self.port_open():
                if opened:
                    self.trace("port closed")
                    opened = False
                    self.reset()
                    if self.o.calls and self.calls >= self.o.calls:
                        return
                time.sleep(0.02)
                continue
            if not opened:
                self.trace("port opened")
                opened = True
            try:
                data = self.read_some(0.05)
            except EOFError:
                continue
            self.buf += data
            while b"\r" in self.buf:
                line, self.buf = self.buf.split(b"\r", 1)
                self.command_line(line)
            self.maybe_ring()

    def maybe_ring(self):
        if not self.o.send or self.in_call or self.calls >= max(self.o.calls, 1):
            return
        now = time.monotonic()
        if not self.ringing:
            if self.fclass in ("2", "2.0") and now - self.idle_since >= self.o.ring_delay:
                self.ringing = True
                self.rings = 0
                self.next_ring = now
            return
        if now >= self.next_ring:
            if self.rings >= self.o.rings:
                self.ringing = False
                self.calls += 1
                return
            self.rings += 1
            self.respond("RING")
            self.next_ring = now + 3.0

    # ---- commands -----------------------------------------------------------------------

    def breakdown(self, text):
        """Whether this command line makes the modem fall silent, talk garbage or vanish."""
        for mode, triggers in (("silent", self.o.silent_after), ("garbage", self.o.garbage_after),
                               ("vanish", self.o.vanish_after)):
            for t in triggers:
                cmd, _, nth = t.partition(":")
                if cmd != "*" and cmd.upper() not in text.upper():
                    continue
                key = "break " + t
                self.command_counts[key] = self.command_counts.get(key, 0) + 1
                if int(nth or "1") == self.command_counts[key]:
                    return mode
        return None

    def command_line(self, raw):
        text = raw.decode("latin-1").strip("\n").lstrip("\x00\x11\x13")
        if not text:
            return
        if self.broken is None:
            self.broken = self.breakdown(text)
            if self.broken:
                self.trace("fault: the modem goes %s at %s" % (self.broken, text))
        if self.broken == "vanish":
            if self.o.link:
                os.unlink(self.o.link)
            os._exit(0)
        if self.broken == "silent":
            self.trace("< " + text + " (no answer)")
            return
        if self.broken == "garbage":
            self.trace("< " + text + " (garbage)")
            self.write(bytes((self.garbage_seed * 7 + i * 31) % 256 for i in range(40)))
            self.garbage_seed += 1
            return
        if self.echo:
            self.write(raw + b"\r")
        self.trace("< " + text)
        self.idle_since = time.monotonic()
        if text.upper().startswith("A/"):
            return
        if not text.upper().startswith("AT"):
            return
        body = text[2:]
        results = []
        final = "OK"
        i = 0
        while i < len(body):
            c = body[i]
            if c in " ;":
                i += 1
                continue
            if c == "+":
                end = body.find(";", i)
                end = len(body) if end < 0 else end
                final = self.extended(body[i:end], results)
                i = end
            elif c.upper() == "D":
                final = self.dial(body[i + 1:].strip(), results)
                i = len(body)
            else:
                j = i + 1
                if c == "&" and j < len(body):
                    j += 1
                if c.upper() == "S":
                    while j < len(body) and body[j] not in "+;" and not (body[j].isalpha() and body[j - 1] != "S"):
                        j += 1
                else:
                    while j < len(body) and body[j].isdigit():
                        j += 1
                final = self.basic(body[i:j], results)
                i = j
            if final not in ("OK",):
                break
        for r in results:
            self.respond(r)
        if final:
            self.respond(final)

    def counted_fault(self, name):
        """Whether the fault list asks for ERROR on this occurrence of `name` (e.g. +FDT:2)."""
        key = name.upper()
        self.command_counts[key] = self.command_counts.get(key, 0) + 1
        n = self.command_counts[key]
        for f in self.o.error:
            cmd, _, nth = f.partition(":")
            if cmd.upper() == key and (not nth or int(nth) == n):
                self.trace("fault: ERROR for %s #%d" % (key, n))
                return True
        return False

    def hangup_fault(self, name):
        for f in self.o.hangup_after:
            parts = f.split(":")
            if parts[0].upper() == name.upper() and int(parts[1] if len(parts) > 1 else 1) == self.command_counts.get(name.upper(), 0):
                return int(parts[2]) if len(parts) > 2 else 50
        return None

    def basic(self, cmd, results):
        c = cmd.upper()
        if self.counted_fault(c[:1]):
            return "ERROR"
        if c.startswith("E"):
            self.echo = c[1:] != "0"
        elif c.startswith("V"):
            self.verbose = c[1:] != "0"
        elif c.startswith("Z"):
            self.reset()
        elif c.startswith("H"):
            if self.in_call and c[1:] in ("", "0"):
                self.end_call()
        elif c.startswith("A") and c == "A":
            return self.answer(results)
        elif c.startswith("I"):
            results.append("class2sim")
        return "OK"

    def extended(self, cmd, results):
        name, op, value = cmd, "", ""
        for sep in ("=?", "?", "="):
            k = cmd.find(sep)
            if k > 0:
                name, op, value = cmd[:k], sep, cmd[k + len(sep):]
                break
        key = name.upper()
        if self.counted_fault(key):
            return "ERROR"
        if key == "+FCLASS":
            if op == "=?":
                results.append(self.o.fclass_list)
            elif op == "?":
                results.append(self.fclass)
            elif op == "=":
                classes = [c.strip("() ") for c in self.o.fclass_list.split(",")]
                if value not in classes:
                    return "ERROR"
                self.fclass = value
            return "OK"
        if self.fclass not in ("2", "2.0"):
            return "ERROR"
        if key in ("+FMFR", "+FMI") and op == "?":
            results.append("class2sim")
        elif key in ("+FMDL", "+FMM") and op == "?":
            results.append("Class 2 and 2.0 simulator")
        elif key in ("+FREV", "+FMR") and op == "?":
            results.append("1.0")
        elif key in ("+FDT",):
            return self.data_transmit(results)
        elif key in ("+FDR",):
            return self.data_receive(results)
        elif key == "+FET" and op == "=":
            return self.end_of_page(int(value or "0"), results)
        elif key in ("+FPTS", "+FPS") and op == "=":
            self.pending_status = int(value.split(",")[0] or "1")
        elif key in ("+FPTS", "+FPS") and op == "?":
            results.append(str(self.pending_status))
        elif key in ("+FDCC", "+FCC", "+FDIS", "+FIS") and op == "=":
            fields = value.split(",")
            for n, f in enumerate(fields[:8]):
                if f.strip():
                    self.local_dis[n] = int(f, 16) if self.generation == CLASS20 and n == 0 else int(f)
        elif key in ("+FDCC", "+FCC", "+FDIS", "+FIS") and op == "?":
            results.append(",".join(str(x) for x in self.local_dis))
        elif key in ("+FDCC", "+FCC", "+FDIS", "+FIS") and op == "=?":
            results.append("(0,1),(0-5),(0-4),(0-2),(0-3),(0-2),(0),(0-7)")
        elif op == "=?":
            results.append("(0-255)")
        elif op == "?":
            results.append(self.params.get(key, "0"))
        elif op == "=":
            self.params[key] = value
        return "OK"

    # ---- calls --------------------------------------------------------------------------

    def remote_dis(self):
        return [int(x) for x in self.o.remote_dis.split(",")]

    def negotiate(self):
        local, remote = self.local_dis, self.remote_dis()
        dcs = [min(a, b) for a, b in zip(local, remote)]
        dcs[7] = 0
        return dcs

    def caps_text(self, caps):
        if self.generation == CLASS20:
            return ",".join(["%X" % caps[0]] + [str(x) for x in caps[1:]])
        return ",".join(str(x) for x in caps)

    def dial(self, number, results):
        if self.counted_fault("D"):
            return "ERROR"
        if self.fclass not in ("2", "2.0"):
            return "NO CARRIER"
        digits = number.lstrip("TtPpWw,").rstrip(";")
        for d in self.o.dial_result:
            num, _, result = d.partition("=")
            if num == digits or num == "*":
                self.trace("dial %s: %s" % (digits, result))
                time.sleep(0.2)
                self.calls += 1
                return result
        self.trace("dial %s: answered" % digits)
        time.sleep(0.2)
        self.in_call = True
        self.direction = "tx"
        self.page = 0
        self.rejected = 0
        self.transmissions = 0
        results.append(self.w["con"])
        results.append('%s:"%s"' % (self.w["csi"], self.o.remote_id))
        results.append("%s:%s" % (self.w["dis"], self.caps_text(self.remote_dis())))
        return "OK"

    def answer(self, results):
        if not self.o.send:
            time.sleep(0.2)
            return "NO CARRIER"
        self.ringing = False
        self.in_call = True
        self.direction = "rx"
        self.send_index = 0
        self.deliveries = 0
        self.resends = 0
        self.session = self.negotiate()
        results.append(self.w["con"])
        results.append('%s:"%s"' % (self.w["tsi"], self.o.remote_id))
        results.append("%s:%s" % (self.w["dcs"], self.caps_text(self.session)))
        return "OK"

    def end_call(self):
        if self.in_call:
            self.calls += 1
        self.in_call = False
        self.direction = None
        self.ringing = False
        self.idle_since = time.monotonic()

    def call_dropped(self, code, results, final="ERROR"):
        results.append(self.hng(code))
        self.end_call()
        return final

    # ---- the program sends ----------------------------------------------------------------

    def data_transmit(self, results):
        if not self.in_call or self.direction != "tx":
            return "ERROR"
        code = self.hangup_fault("+FDT")
        if code is not None:
            return self.call_dropped(code, results)
        if self.session is None:
            self.session = self.negotiate()
            results.append("%s:%s" % (self.w["dcs"], self.caps_text(self.session)))
        for r in results:
            self.respond(r)
        results.clear()
        self.respond("CONNECT")
        if self.o.no_xon:
            self.trace("fault: no XON")
        else:
            self.write(bytes([DC1]))
        return self.receive_page(results)

    def receive_page(self, results):
        """Collects one page of DLE-stuffed data from the program."""
        self.transmissions += 1
        data = bytearray()
        dle = False
        ppm = None
        cut = None
        if self.transmissions in self.o.hangup_in_page:
            cut = 2000
        deadline = time.monotonic() + self.o.data_timeout
        start = time.monotonic()
        consumed = 0
        while True:
            # Read no faster than the line carries the data: the port's queue is the flow control.
            # A modem that takes the whole page first reads it as fast as it comes.
            if not self.o.whole_page:
                self.pace(start, consumed)
            try:
                chunk = self.read_some(0.5, 256)
                consumed += len(chunk)
            except EOFError:
                self.end_call()
                return None
            if chunk:
                deadline = time.monotonic() + self.o.data_timeout
            elif time.monotonic() > deadline:
                self.trace("no page data for %.0f s" % self.o.data_timeout)
                return self.call_dropped(40, results)
            done = False
            for i, b in enumerate(chunk):
                if dle:
                    dle = False
                    if b == DLE:
                        data.append(DLE)
                    elif b == ETX:
                        done = True
                    elif b in PPM_DLE and self.generation == CLASS20:
                        ppm = PPM_DLE[b]
                        done = True
                    # Other DLE pairs (DLE SUB etc.) carry no page data here.
                elif b == DLE:
                    dle = True
                else:
                    data.append(b)
                if done:
                    self.buf = chunk[i + 1:]
                    break
            if cut is not None and len(data) >= cut:
                self.trace("fault: the far end hangs up in transmission %d" % self.transmissions)
                self.respond(self.hng(self.o.hangup_code))
                self.drain_until_etx(dle)
                self.end_call()
                return "ERROR"
            if done:
                break
        self.page_data_in = bytes(data)
        self.trace("transmission %d: %d bytes%s" % (self.transmissions, len(data), "" if ppm is None else ", " + PPM_NAMES[ppm]))
        if self.o.whole_page:
            # Only now does the page cross the line; the program hears of it once it has.
            self.trace("whole page: sending it on the line")
            self.pace(time.monotonic(), consumed)
        if ppm is None:
            return "OK"
        return self.post_page(ppm, results)

    def drain_until_etx(self, dle):
        end = time.monotonic() + 5
        while time.monotonic() < end:
            try:
                chunk = self.read_some(0.2)
            except EOFError:
                return
            for b in chunk:
                if dle and b == ETX:
                    return
                dle = not dle and b == DLE

    def end_of_page(self, ppm, results):
        if not self.in_call:
            return "ERROR"
        if self.direction == "rx":
            return "OK"
        return self.post_page(ppm, results)

    def post_page(self, ppm, results):
        code = self.hangup_fault("+FET")
        if code is not None:
            return self.call_dropped(code, results)
        status = 1
        if self.transmissions in self.o.rtn:
            status = 2
            self.trace("fault: RTN for transmission %d" % self.transmissions)
            self.rejected += 1
            self.store_page("rejected-%03d" % self.rejected, self.page_data_in)
        else:
            self.page += 1
            self.store_page("page-%03d" % self.page, self.page_data_in)
        self.pending_status = status
        if status != 1 and self.o.rtn_error:
            # Some modems end a rejected page with ERROR; the program asks +FPS? / +FPTS?.
            return "ERROR"
        results.append("%s:%d" % (self.w["pts"], status))
        if ppm == 2 and status == 1:
            results.append(self.hng(0))
            self.end_call()
        elif ppm == 1:
            self.session = None
        return "OK"

    def store_page(self, name, data):
        if not self.o.rx_dir:
            return
        os.makedirs(self.o.rx_dir, exist_ok=True)
        base = os.path.join(self.o.rx_dir, name)
        with open(base + ".g3", "wb") as f:
            f.write(data)
        args = ["g3topbm"]
        if not self.reversed_bits("tx"):
            args.append("-reversebits")
        if self.session and self.session[0] == 0:
            args.append("-stretch")
        with open(base + ".g3", "rb") as src, open(base + ".pbm", "wb") as dst:
            subprocess.run(args, stdin=src, stdout=dst, stderr=subprocess.DEVNULL)
        with open(os.path.join(self.o.rx_dir, "pages.txt"), "a") as f:
            f.write("%s transmission %d bytes %d dcs %s\n" % (name, self.transmissions, len(data),
                                                               self.caps_text(self.session or self.negotiate())))

    # ---- the program receives -----------------------------------------------------------

    def reversed_bits(self, direction):
        """Whether page data on the port has the first bit on the line in bit 7 (+FBOR/+FBO bit 0
        asks for that). Many Class 2 modems deliver received data so even with +FBOR=0, and
        Class 2 programs expect it; Class 2.0 has the same order both ways."""
        bor = self.params.get("+FBOR" if self.generation == CLASS2 else "+FBO", "0")
        reverse = (int(bor or "0") & 1) == 1
        if direction == "rx" and self.generation == CLASS2 and not self.o.class2_rx_direct:
            reverse = not reverse
        return reverse

    def page_counts(self, rows, bad, run):
        """A good page's status with its row counts: decimal in Class 2, hexadecimal in Class 2.0."""
        form = "1,%X,%X,%X,0" if self.generation == CLASS20 else "1,%d,%d,%d"
        return form % (rows, bad, run)

    def page_data(self, path):
        args = ["pbmtog3"]
        if not self.reversed_bits("rx"):
            args.append("-reversebits")
        with open(path, "rb") as src:
            return subprocess.run(args, stdin=src, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout

    def data_receive(self, results):
        if not self.in_call or self.direction != "rx":
            return "ERROR"
        code = self.hangup_fault("+FDR")
        if code is not None:
            return self.call_dropped(code, results)
        rejected = self.pending_status in (2, 4) and self.send_index > 0
        if rejected and self.o.resends is not None:
            # The far end sends a rejected page again up to --resends times, then gives up.
            if self.resends >= self.o.resends:
                self.trace("the far end gives up on page %d" % self.send_index)
                return self.call_dropped(0, results, "OK")
            self.trace("the program asks for page %d again" % self.send_index)
            self.send_index -= 1
            self.resends += 1
        elif rejected and not self.resent:
            # The program rejected the last page (RTN): the far end sends it again.
            self.trace("the program asks for page %d again" % self.send_index)
            self.send_index -= 1
            self.resent = True
        else:
            self.resent = False
        if not rejected:
            self.resends = 0
        self.pending_status = 1
        if self.send_index >= len(self.o.send):
            return self.call_dropped(0, results, "OK")
        if self.w["cfr"] and self.send_index == 0:
            results.append(self.w["cfr"])
        number = self.send_index + 1
        data = self.page_data(self.o.send[self.send_index])
        if self.o.whole_page:
            # The page crosses the line into the modem before it says CONNECT.
            self.trace("whole page: taking page %d from the line" % number)
            self.pace(time.monotonic(), len(data))
        for r in results:
            self.respond(r)
        results.clear()
        self.respond("CONNECT")
        # The program says it is ready with DC2 (some send XON instead).
        deadline = time.monotonic() + 5
        ready = False
        while time.monotonic() < deadline and not ready:
            try:
                chunk = self.read_some(0.2)
            except EOFError:
                self.end_call()
                return None
            if DC2 in chunk or DC1 in chunk:
                ready = True
        if not ready:
            self.trace("no DC2 from the program")
            return self.call_dropped(90, results)
        self.deliveries += 1
        status = self.page_counts(2376, 0, 0)
        for given in self.o.row_counts:
            delivery, counts = given.split(":", 1)
            if int(delivery) == self.deliveries:
                # The page arrives intact, but the modem counts these rows as bad.
                status = self.page_counts(*(int(v) for v in counts.split(",")))
        if self.deliveries in self.o.bad_copy:
            # Line noise garbles a sixth of the page; the modem still says 1 (MCF) but counts
            # the rows it could not decode.
            self.trace("fault: transmission %d arrives damaged" % self.deliveries)
            start, length = len(data) // 3, len(data) // 6
            noise = bytes((self.deliveries * 7919 + i * 104729) % 251 for i in range(length))
            data = data[:start] + noise + data[start + length:]
            status = self.page_counts(2376, 396, 360)
        stuffed = data.replace(bytes([DLE]), bytes([DLE, DLE]))
        if number in self.o.hangup_in_page:
            self.trace("fault: the far end hangs up in page %d" % number)
            self.write(stuffed[: len(stuffed) // 2] + bytes([DLE, ETX]))
            return self.call_dropped(self.o.hangup_code, results)
        self.trace("> page %d: %d bytes" % (number, len(data)))
        start = time.monotonic()
        for at in range(0, len(stuffed), 256):
            if not self.o.whole_page:
                self.pace(start, at)
            self.write(stuffed[at:at + 256])
        self.write(bytes([DLE, ETX]))
        last = number == len(self.o.send)
        ppm = 2 if last else 1 if number in self.o.eom_after else 0
        # The program's verdict on this page (+FPTS=/+FPS=) is given before the next +FDR.
        results.append("%s:%s" % (self.w["pts"], status))
        results.append("%s:%d" % (self.w["et"], ppm))
        self.send_index += 1
        return "OK"


def main():
    ap = argparse.ArgumentParser(description="a scripted Class 2 / Class 2.0 fax modem on a pseudo-terminal")
    ap.add_argument("link", nargs="?", help="create this symbolic link to the port")
    ap.add_argument("--fclass-list", default="0,2,2.0", help='answer to AT+FCLASS=? ("0,2,2.0")')
    ap.add_argument("--remote-id", default="+1 555 0100", help="the far station's identity")
    ap.add_argument("--remote-dis", default="1,5,0,2,0,0,0,0", help="the far station's capabilities")
    ap.add_argument("--dial-result", action="append", default=[], metavar="NUMBER=RESULT",
                    help='dialling NUMBER gives RESULT (BUSY, NO CARRIER, NO DIALTONE, NO ANSWER; "*" any)')
    ap.add_argument("--rx-dir", help="store pages received from the program here")
    ap.add_argument("--send", action="append", default=[], metavar="PBM",
                    help="an incoming call delivers these pages (repeatable, in order)")
    ap.add_argument("--eom-after", action="append", type=int, default=[], metavar="N",
                    help="page N of --send ends with EOM (+FET:1): a new document follows in the call")
    ap.add_argument("--ring-delay", type=float, default=1.0, help="idle seconds in fax class before RING")
    ap.add_argument("--rings", type=int, default=5, help="RINGs before the caller gives up")
    ap.add_argument("--calls", type=int, default=0, help="exit after this many calls (0: never)")
    ap.add_argument("--class2-rx-direct", action="store_true",
                    help="in Class 2, deliver received page data in the same bit order as sent data")
    ap.add_argument("--error", action="append", default=[], metavar="CMD[:N]",
                    help="answer ERROR to command CMD (e.g. +FDT, D, +FCLASS), its Nth use only")
    ap.add_argument("--hangup-after", action="append", default=[], metavar="CMD[:N[:CODE]]",
                    help="the far end hangs up at the Nth CMD (+FDT, +FET, +FDR): hang-up CODE, ERROR")
    ap.add_argument("--hangup-in-page", action="append", type=int, default=[], metavar="N",
                    help="the far end hangs up in the middle of the Nth page it sends or is sent")
    ap.add_argument("--hangup-code", type=int, default=50, help="hang-up code for --hangup-in-page")
    ap.add_argument("--rtn", action="append", type=int, default=[], metavar="N",
                    help="the far end rejects the Nth page transmission of a call (+FPTS:2 / +FPS:2)")
    ap.add_argument("--bad-copy", action="append", type=int, default=[], metavar="N",
                    help="the Nth page transmission to a receiving program in a call arrives damaged: "
                    "+FPTS:1 / +FPS:1 with its bad rows counted")
    ap.add_argument("--row-counts", action="append", default=[], metavar="N:ROWS,BAD,RUN",
                    help="the Nth page transmission to a receiving program arrives intact, but the modem "
                    "reports these counts of rows, bad rows and most bad rows in a row with +FPTS:1 / +FPS:1")
    ap.add_argument("--resends", type=int, metavar="N",
                    help="the far end sends a page the program rejects again at most N times, then hangs up "
                    "(default: once, then it goes on with the next page)")
    ap.add_argument("--silent-after", action="append", default=[], metavar="CMD[:N]",
                    help="from the Nth command line containing CMD (\"*\": any) on, answer nothing")
    ap.add_argument("--garbage-after", action="append", default=[], metavar="CMD[:N]",
                    help="from the Nth command line containing CMD on, answer every line with garbage")
    ap.add_argument("--vanish-after", action="append", default=[], metavar="CMD[:N]",
                    help="at the Nth command line containing CMD, exit: the port disappears")
    ap.add_argument("--rtn-error", action="store_true",
                    help="a rejected page ends in ERROR instead of +FPTS:2 / +FPS:2; +FPTS? / +FPS? then gives 2")
    ap.add_argument("--no-xon", action="store_true", help="send no XON after CONNECT for +FDT")
    ap.add_argument("--whole-page", action="store_true",
                    help="a modem that holds a whole page: sending, it takes the data at once and answers "
                         "once the page has crossed the line; receiving, it says CONNECT to +FDR once the "
                         "page has crossed the line, then passes it on at once")
    ap.add_argument("--speedup", type=float, default=1.0,
                    help="page data crosses the line this many times faster than its bit rate")
    ap.add_argument("--data-timeout", type=float, default=10.0, help="seconds without page data before hanging up")
    ap.add_argument("--trace", action="store_true", help="show the dialogue on stderr")
    ap.add_argument("--log", help="append the dialogue to this file")
    opts = ap.parse_args()
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    sim = Sim(opts)
    try:
        sim.run()
    except KeyboardInterrupt:
        pass
    finally:
        if opts.link:
            try:
                os.unlink(opts.link)
            except OSError:
                pass


if __name__ == "__main__":
    main()
