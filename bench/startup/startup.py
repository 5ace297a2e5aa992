#!/usr/bin/env python3
"""Start-up of the real program: from exec to the first row of the latest updates in the page.

Starts the release build under an Xvfb of its own, once per run, in a program folder holding a
generated catalogue, and reads the list page from outside through WebEngine's DevTools
endpoint (QTWEBENGINE_REMOTE_DEBUGGING): /json for the page, then Runtime.evaluate until the
element "list" holds a row. Also reports the peak memory (VmHWM) of the main process and of the
WebEngine processes under it, read when the row is there, and the main process's again a few
seconds later (--settle).

  bench/startup/startup.py [--build build/release] [--runs 5] [--sizes 100000,50]

Standard library only. The machine's load is printed with the figures: compare sizes measured
in the same run, not runs of different days.
"""

import argparse
import base64
import json
import os
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import time
import urllib.request

ROW_PROBE = ("(function(){var l=document.getElementById('list');"
             "return !!l && l.innerHTML.indexOf('id=\"bg\"')>=0;})()")


class DevToolsSocket:
    """The few WebSocket frames DevTools needs: masked text out, unmasked text in."""

    def __init__(self, url):
        rest = url.split("://", 1)[1]
        hostport, path = rest.split("/", 1)
        host, port = hostport.rsplit(":", 1)
        self.sock = socket.create_connection((host, int(port)), timeout=5)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET /{path} HTTP/1.1\r\nHost: {hostport}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise OSError("DevTools closed the handshake")
            head += chunk
        if b" 101 " not in head.split(b"\r\n", 1)[0]:
            raise OSError("DevTools refused the WebSocket")
        self.buffer = head.split(b"\r\n\r\n", 1)[1]
        self.next_id = 0

    def _read(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise OSError("DevTools closed the socket")
            self.buffer += chunk
        out, self.buffer = self.buffer[:n], self.buffer[n:]
        return out

    def _send(self, text):
        payload = text.encode()
        mask = os.urandom(4)
        n = len(payload)
        if n < 126:
            head = struct.pack("!BB", 0x81, 0x80 | n)
        elif n < 65536:
            head = struct.pack("!BBH", 0x81, 0x80 | 126, n)
        else:
            head = struct.pack("!BBQ", 0x81, 0x80 | 127, n)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(head + mask + masked)

    def _receive(self):
        b0, b1 = self._read(2)
        n = b1 & 0x7F
        if n == 126:
            n = struct.unpack("!H", self._read(2))[0]
        elif n == 127:
            n = struct.unpack("!Q", self._read(8))[0]
        return b0 & 0x0F, self._read(n)

    def evaluate(self, expression):
        self.next_id += 1
        self._send(json.dumps({"id": self.next_id, "method": "Runtime.evaluate",
                               "params": {"expression": expression, "returnByValue": True}}))
        while True:
            opcode, payload = self._receive()
            if opcode != 1:
                continue
            message = json.loads(payload)
            if message.get("id") == self.next_id:
                return message.get("result", {}).get("result", {}).get("value")

    def close(self):
        self.sock.close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def status_kb(pid, key):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def descendants(pid):
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except (OSError, IndexError):
            pass
    out, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            out.append(child)
            todo.append(child)
    return out


def start_xvfb():
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=(write,),
                            stderr=subprocess.DEVNULL)
    os.close(write)
    display = b""
    while not display.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            raise OSError("Xvfb did not start")
        display += chunk
    os.close(read)
    return xvfb, ":" + display.decode().strip()


def prepare_folder(root, build, resources):
    folder = os.path.join(root, f"vm{resources}")
    os.makedirs(os.path.join(folder, "set"), exist_ok=True)
    for program in ("vellumark", "vellumark-jet-reader"):
        shutil.copy2(os.path.join(build, "src", program), folder)
    categories = 2000 if resources >= 10000 else 10
    subprocess.run([os.path.join(build, "tools", "mdbwriter", "mdbwriter"), "catalogue",
                    os.path.join(folder, "set", "TreeList.mdb"), "--resources", str(resources),
                    "--categories", str(categories)], check=True)
    # Nothing answers there: the server check fails at once instead of going out.
    with open(os.path.join(folder, "set", "Endpoints.ini"), "w") as f:
        f.write("[endpoints]\nforum=http://127.0.0.1:9\ninfo_primary=http://127.0.0.1:9/a\n"
                "info_fallback=http://127.0.0.1:9/b\n")
    return folder


def one_run(folder, display, settle_s, limit_s=30.0):
    port = free_port()
    env = dict(os.environ, DISPLAY=display, QTWEBENGINE_REMOTE_DEBUGGING=f"127.0.0.1:{port}",
               DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/bus", VM_OPENER="/bin/true")
    start = time.monotonic()
    program = subprocess.Popen([os.path.join(folder, "vellumark")], cwd=folder, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shown = None
    devtools = None
    try:
        while time.monotonic() - start < limit_s and program.poll() is None:
            if devtools is None:
                try:
                    with urllib.request.urlopen(f"http://127.0.0.1:{port}/json", timeout=1) as r:
                        pages = [t for t in json.load(r) if t.get("url", "").endswith("list.htm")]
                    if pages:
                        devtools = DevToolsSocket(pages[0]["webSocketDebuggerUrl"])
                except (OSError, ValueError):
                    pass
            if devtools is not None:
                try:
                    if devtools.evaluate(ROW_PROBE):
                        shown = time.monotonic() - start
                        break
                except (OSError, ValueError):
                    devtools = None
            time.sleep(0.005)
        main_kb = status_kb(program.pid, "VmHWM")
        web_kb = [status_kb(p, "VmHWM") for p in descendants(program.pid)]
        # The first seconds after the row go on: the tree, the server check, the page's fonts.
        time.sleep(settle_s)
        settled_kb = status_kb(program.pid, "VmHWM") if program.poll() is None else main_kb
    finally:
        if devtools is not None:
            devtools.close()
        program.terminate()
        try:
            program.wait(5)
        except subprocess.TimeoutExpired:
            program.kill()
            program.wait()
    return shown, main_kb, web_kb, settled_kb


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--sizes", default="100000,50")
    parser.add_argument("--settle", type=float, default=5.0,
                        help="seconds after the first row to read the main process's peak again")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    sizes = [int(s) for s in args.sizes.split(",")]

    # A name of our own: the program refuses to run from a path holding "local" or "temp",
    # which a random suffix could spell.
    root = f"/tmp/vm-startup-{os.getpid()}"
    os.makedirs(root)
    xvfb, display = start_xvfb()
    try:
        folders = {n: prepare_folder(root, build, n) for n in sizes}
        results = {n: [] for n in sizes}
        # Sizes interleaved, so that a change of the machine's load touches each alike.
        for _ in range(args.runs):
            for n in sizes:
                results[n].append(one_run(folders[n], display, args.settle))
        print(f"load average at the end: {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f} "
              f"{os.getloadavg()[2]:.2f} on {os.cpu_count()} cores")
        for n in sizes:
            times = [r[0] for r in results[n] if r[0] is not None]
            missed = len(results[n]) - len(times)
            mains = [r[1] / 1024 for r in results[n]]
            webs = [sum(r[2]) / 1024 for r in results[n]]
            counts = [len(r[2]) for r in results[n]]
            if times:
                print(f"{n} resources: first row after exec, median {statistics.median(times):.3f}"
                      f" s, spread {min(times):.3f}-{max(times):.3f} s over {len(times)} runs"
                      + (f" ({missed} never showed a row)" if missed else ""))
            else:
                print(f"{n} resources: no run showed a row")
            settled = [r[3] / 1024 for r in results[n]]
            print(f"  main process peak {args.settle:.0f} s after the row: median "
                  f"{statistics.median(settled):.0f} MB ({min(settled):.0f}-{max(settled):.0f})")
            print(f"  main process peak (VmHWM) median {statistics.median(mains):.0f} MB "
                  f"({min(mains):.0f}-{max(mains):.0f}); WebEngine processes "
                  f"{max(counts)}, their VmHWM summed median {statistics.median(webs):.0f} MB")
            print("  runs: " + ", ".join("-" if r[0] is None else f"{r[0]:.3f}"
                                         for r in results[n]))
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
