"""Shared pieces of the transfer engine benchmarks: a swarm on loopback
(opentracker, one aria2c seeder) and leechers to time against it."""

import hashlib
import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request

TITLE = re.compile(
    rb"\x1b\]0;(\d+)% Up: (\d+\.\d\d) MB @ (\d+\.\d\d) kB/s "
    rb"Down: (\d+\.\d\d) MB @ (\d+\.\d\d) kB/s \| ([^\x07]*)\x07")

NO_DISCOVERY = ["--bt-enable-lpd=false", "--enable-dht=false", "--enable-dht6=false",
                "--enable-peer-exchange=false", "--summary-interval=0",
                "--console-log-level=warn"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def engine_path():
    return os.path.join(os.environ["MIREL_BENCH_BUILD"], "transfer-engine", "mirel-engine")


def info_hash(torrent):
    data = open(torrent, "rb").read()

    def skip(i):
        c = data[i:i + 1]
        if c == b"i":
            return data.index(b"e", i) + 1
        if c in (b"l", b"d"):
            i += 1
            while data[i:i + 1] != b"e":
                i = skip(i)
            return i + 1
        colon = data.index(b":", i)
        return colon + 1 + int(data[i:colon])

    i = 1
    while data[i:i + 1] != b"e":
        key_end = skip(i)
        key = data[data.index(b":", i) + 1:key_end]
        value_end = skip(key_end)
        if key == b"info":
            return hashlib.sha1(data[key_end:value_end]).hexdigest()
        i = value_end
    raise ValueError("no info dictionary")


class Swarm:
    """Content of `size` bytes, its metainfo, opentracker and one aria2c
    seeder, all under a folder of /tmp that goes away with close()."""

    def __init__(self, size, piece_exp=20):
        self.folder = tempfile.mkdtemp(prefix="mirel-bench-", dir="/tmp")
        os.chmod(self.folder, 0o755)  # opentracker runs as nobody
        self.procs = []
        try:
            self.setup(size, piece_exp)
        except BaseException:
            self.close()
            raise

    def setup(self, size, piece_exp):
        seed = os.path.join(self.folder, "seed")
        os.mkdir(seed)
        self.content = os.path.join(seed, "Mirel Setup.exe")
        with open(self.content, "wb") as out:
            left = size
            while left:
                n = min(left, 16 << 20)
                out.write(os.urandom(n))
                left -= n
        self.size = size
        self.tracker_port = free_port()
        self.torrent = os.path.join(self.folder, "setup.torrent")
        subprocess.run(["mktorrent", "-l", str(piece_exp), "-a",
                        "http://127.0.0.1:%d/announce" % self.tracker_port,
                        "-o", self.torrent, self.content], check=True,
                       stdout=subprocess.DEVNULL)
        self.hash = info_hash(self.torrent)
        whitelist = os.path.join(self.folder, "whitelist")
        with open(whitelist, "w") as out:
            out.write(self.hash + "\n")
        os.chmod(whitelist, 0o644)
        self.spawn(["opentracker", "-i", "127.0.0.1", "-p", str(self.tracker_port),
                    "-P", str(self.tracker_port), "-w", whitelist], cwd=self.folder)
        self.wait(lambda: self.announce_ok(), 10, "opentracker")
        # Read once so every leecher finds it in the page cache alike.
        with open(self.content, "rb") as f:
            while f.read(16 << 20):
                pass
        self.spawn(["aria2c", "--dir=" + seed, "--listen-port=%d" % free_port(),
                    "--seed-ratio=0.0", "--bt-seed-unverified=true",
                    "--check-integrity=false", "--bt-max-peers=0"] + NO_DISCOVERY +
                   [self.torrent])
        self.wait(lambda: self.seeders() >= 1, 30, "aria2c seeder")

    def spawn(self, argv, **kw):
        p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True, **kw)
        self.procs.append(p)
        return p

    @staticmethod
    def wait(pred, seconds, what):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if pred():
                return
            time.sleep(0.05)
        raise SystemExit("bench: %s did not come up" % what)

    def get(self, path):
        try:
            # Straight to loopback, whatever proxy the environment names.
            opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
            with opener.open("http://127.0.0.1:%d%s" % (self.tracker_port, path),
                                        timeout=2) as r:
                return r.read()
        except OSError:
            return b""

    def announce_ok(self):
        q = ("info_hash=" + urllib.parse.quote(bytes.fromhex(self.hash)) +
             "&peer_id=-MB0001-benchprobe01&port=1&uploaded=0&downloaded=0&left=0"
             "&compact=1")
        ok = b"5:peers" in self.get("/announce?" + q)
        if ok:
            self.get("/announce?" + q + "&event=stopped")
        return ok

    def seeders(self):
        m = re.search(rb"8:completei(\d+)e",
                      self.get("/scrape?info_hash=" + urllib.parse.quote(bytes.fromhex(self.hash))))
        return int(m.group(1)) if m else -1

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
        shutil.rmtree(self.folder, ignore_errors=True)

    def same_as_content(self, path):
        return (os.path.exists(path) and os.path.getsize(path) == self.size and
                subprocess.run(["cmp", "-s", path, self.content]).returncode == 0)


class Engine:
    """Our engine in a pty of its own; titles parsed as they come."""

    def __init__(self, swarm, target, interval="1"):
        port = free_port()
        self.start = time.monotonic()
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execv(engine_path(), [engine_path(), "--responsefile", swarm.torrent,
                                     "--saveas", target, "--max_uploads", "10",
                                     "--min_uploads", "3", "--minport", str(port),
                                     "--maxport", str(port + 50),
                                     "--display_interval", interval])
        self.buf = b""
        self.titles = []  # (seconds since start, downloaded MB, activity)
        self.peak_kib = 0

    def pump(self, timeout=0.01):
        r, _, _ = select.select([self.fd], [], [], timeout)
        if r:
            try:
                data = os.read(self.fd, 65536)
            except OSError:
                data = b""
            now = time.monotonic() - self.start
            self.buf += data
            for m in TITLE.finditer(self.buf):
                self.titles.append((now, float(m.group(4)), m.group(6).decode()))
            last = self.buf.rfind(b"\x07")
            if last >= 0:
                self.buf = self.buf[last + 1:]
        try:
            with open("/proc/%d/status" % self.pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        self.peak_kib = max(self.peak_kib, int(line.split()[1]))
        except OSError:
            pass

    def run_until(self, pred, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.pump()
            if pred():
                return time.monotonic() - self.start
        raise SystemExit("bench: the engine did not get there in %d s" % seconds)

    def seeding(self):
        return bool(self.titles) and self.titles[-1][2] == "Seeding"

    def quit(self):
        os.write(self.fd, b"q")
        end = time.monotonic() + 10
        while time.monotonic() < end:
            self.pump()
            pid, _ = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                break
        else:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        os.close(self.fd)


def time_engine(swarm, folder):
    target = os.path.join(folder, "engine.bin")
    engine = Engine(swarm, target, interval="0.1")
    seconds = engine.run_until(engine.seeding, 600)
    engine.quit()
    ok = swarm.same_as_content(target)
    os.remove(target)
    if not ok:
        raise SystemExit("bench: the engine's file differs")
    return seconds, engine.peak_kib


def time_aria2(swarm, folder):
    out = os.path.join(folder, "aria2")
    os.mkdir(out)
    start = time.monotonic()
    p = swarm.spawn(["aria2c", "--dir=" + out, "--listen-port=%d" % free_port(),
                     "--seed-time=0"] + NO_DISCOVERY + [swarm.torrent])
    if p.wait(600) != 0:
        raise SystemExit("bench: aria2c leecher failed")
    seconds = time.monotonic() - start
    ok = swarm.same_as_content(os.path.join(out, "Mirel Setup.exe"))
    shutil.rmtree(out)
    if not ok:
        raise SystemExit("bench: aria2c's file differs")
    return seconds


def time_transmission(swarm, folder):
    """Seconds, or None when transmission-cli cannot finish here."""
    out = os.path.join(folder, "transmission")
    config = os.path.join(out, ".config")
    os.makedirs(config)
    with open(os.path.join(config, "settings.json"), "w") as f:
        f.write('{"dht-enabled": false, "lpd-enabled": false, "pex-enabled": false,'
                ' "port-forwarding-enabled": false}\n')
    marker = os.path.join(out, "done")
    script = os.path.join(out, "finished.sh")
    with open(script, "w") as f:
        f.write("#!/bin/sh\ntouch '%s'\n" % marker)
    os.chmod(script, 0o755)
    start = time.monotonic()
    p = swarm.spawn(["transmission-cli", "-g", config, "-w", out, "-p", str(free_port()),
                     "-M", "-D", "-U", "-f", script, swarm.torrent], cwd=out)
    seconds = None
    data = os.path.join(out, "Mirel Setup.exe")
    blocks, moved = -1, start
    # Give up when nothing arrives for 30 s: it may not take peers on loopback.
    while time.monotonic() - moved < 30 and p.poll() is None:
        if os.path.exists(marker):
            seconds = time.monotonic() - start
            break
        now_blocks = os.stat(data).st_blocks if os.path.exists(data) else 0
        if now_blocks != blocks:
            blocks, moved = now_blocks, time.monotonic()
        time.sleep(0.01)
    os.killpg(p.pid, signal.SIGTERM)
    try:
        p.wait(10)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
    if seconds is not None and not swarm.same_as_content(os.path.join(out, "Mirel Setup.exe")):
        raise SystemExit("bench: transmission-cli's file differs")
    shutil.rmtree(out)
    return seconds
