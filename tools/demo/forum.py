#!/usr/bin/env python3
"""The demo forum: everything the program talks to, served on 127.0.0.1.

    forum.py --data DIR --mdbwriter PATH --engine PATH [--program PATH] [--port N]
             [--port-file FILE] [--rate BYTES_PER_SECOND] [--program-version TEXT]

Routes (the same ones the tests' loopback forum answers):

    /                                 the forum's home page
    /blog/vellumark-info.html         information page (primary), the server document in Base64
    /notes/vellumark-info.html        information page (fallback), the same document
    /file/id_<id>.html                the cloud drive's page of a file
    /cdlsched/getdl?fid=<id>&...      the cloud drive's download scheduler: the file itself
    /files/<number>.rar               a resource, as a generated 7z archive
    /files/main.7z                    the program update (only with --program)
    /article/<number>.html            a blog article carrying a resource's introduction
    /video/<number>.swf               a resource's video: a real Flash movie of its own colours
    /forum-*.html, /thread-*.html,
    /buy.htm, /go.html                the forum's, vendor's and chat's pages (placeholders)

Cloud drive files: "engine" (up.7z), "data" (the newer catalogue as data.7z), "main" (main.7z)
and "r<number>" (a resource). Downloads honour "Range" and "If-Range", so an interrupted
download resumes. Everything the forum serves is generated into DIR on first start.
"""

import argparse
import base64
import hashlib
import html
import http.server
import os
import random
import re
import shutil
import socketserver
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

sys.dont_write_bytecode = True  # nothing generated beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import catalogue  # noqa: E402
import swf  # noqa: E402

ENGINE_VERSION = "1.0"
CATALOGUE_VERSION = "2"
ARTICLE_START = '<div id=content class="content text-content clearfix">'
ARTICLE_END = '<div class="mod-post-info clearfix">'
CHUNK = 64 * 1024
MAX_PAYLOAD = 8 * 1024 * 1024


def seven_zip(archive, folder):
    """Packs the contents of `folder` into `archive` (written aside, then renamed)."""
    temp = archive + ".tmp.7z"
    if os.path.exists(temp):
        os.remove(temp)
    subprocess.run(["7zz", "a", "-t7z", "-mx=1", "-bd", "-bso0", "-bsp0", temp, "."],
                   cwd=folder, check=True)
    os.replace(temp, archive)


def packed(archive, files):
    """Makes a 7z archive of {name: bytes or source path}."""
    with tempfile.TemporaryDirectory(prefix="vm-demo-") as scratch:
        for name, content in files.items():
            path = os.path.join(scratch, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if isinstance(content, bytes):
                with open(path, "wb") as f:
                    f.write(content)
            else:
                shutil.copy2(content, path)
        seven_zip(archive, scratch)


def parse_size(text):
    m = re.fullmatch(r"([\d.]+)(KB|MB)", text or "")
    if not m:
        return 64 * 1024
    return int(float(m.group(1)) * (1024 if m.group(2) == "KB" else 1024 * 1024))


class Forum:
    def __init__(self, args, port):
        self.args = args
        self.port = port
        self.address = "http://127.0.0.1:%d" % port
        self.data = os.path.abspath(args.data)
        self.cache = os.path.join(self.data, "files")
        self.locks = {}
        self.locks_guard = threading.Lock()
        os.makedirs(self.cache, exist_ok=True)
        self.prepare_catalogues()
        self.prepare_archives()
        db = sqlite3.connect(os.path.join(self.data, "catalogue-v2.sqlite"))
        self.resources = {row[0]: row[1:] for row in db.execute(
            'select "编号", "名称", "作者", "介绍", "大小", "ID" from List')}
        self.categories = {row[0]: row[1] for row in db.execute('select "ID", "名称" from Tree')}
        db.close()

    # Generated content -------------------------------------------------------------------

    def prepare_catalogues(self):
        stamp = os.path.join(self.data, "catalogue.stamp")
        want = "%s %d" % (self.address, self.args.resources)
        current = open(stamp).read() if os.path.exists(stamp) else ""
        if current == want and all(os.path.exists(os.path.join(self.data, "catalogue-v%d.mdb" % v))
                                   for v in (1, 2)):
            return
        for version in (1, 2):
            sqlite_path = os.path.join(self.data, "catalogue-v%d.sqlite" % version)
            catalogue.write_sqlite(sqlite_path, self.address, self.args.resources, version)
            catalogue.write_mdb(sqlite_path,
                                os.path.join(self.data, "catalogue-v%d.mdb" % version),
                                self.args.mdbwriter)
        # The newer catalogue as the archive the program fetches: TreeList.mdb at its root.
        packed(os.path.join(self.cache, "data.7z"),
               {"TreeList.mdb": os.path.join(self.data, "catalogue-v2.mdb")})
        with open(stamp, "w") as f:
            f.write(want)

    def prepare_archives(self):
        self.pack_if_changed("up.7z", {"up.exe": self.args.engine})
        if self.args.program:
            files = {"vellumark": self.args.program, "up.exe": self.args.engine}
            # The Access reader's own program travels with the program it was built with.
            reader = os.path.join(os.path.dirname(self.args.program), "vellumark-jet-reader")
            if os.path.exists(reader):
                files["vellumark-jet-reader"] = reader
            # So does the Flash player the viewer plays videos with.
            player = os.path.join(os.path.dirname(self.args.program), "ruffle")
            if os.path.isdir(player):
                for name in sorted(os.listdir(player)):
                    files["ruffle/" + name] = os.path.join(player, name)
            self.pack_if_changed("main.7z", files)

    def pack_if_changed(self, name, files):
        """Packs the built files again only when one of them changed: the program is large."""
        archive = os.path.join(self.cache, name)
        stamp = archive + ".stamp"
        want = repr(sorted((n, os.path.abspath(p), os.path.getsize(p), os.path.getmtime(p))
                           for n, p in files.items()))
        if os.path.exists(archive) and os.path.exists(stamp) and open(stamp).read() == want:
            return
        packed(archive, files)
        with open(stamp, "w") as f:
            f.write(want)

    def resource_archive(self, number):
        """The archive of resource `number`, made on first request and kept."""
        if number not in self.resources:
            return None
        path = os.path.join(self.cache, "r%d.7z" % number)
        with self.locks_guard:
            lock = self.locks.setdefault(number, threading.Lock())
        with lock:
            if not os.path.exists(path):
                title, author, intro, size, category = self.resources[number]
                rng = random.Random(number)
                payload = rng.randbytes(min(parse_size(size), MAX_PAYLOAD))
                readme = "%s\r\n作者: %s\r\n分类: %s\r\n\r\n%s\r\n" % (
                    title, author, self.categories.get(category, ""),
                    intro if not intro.startswith("http") else "详细介绍见 " + intro)
                packed(path, {"%s/说明.txt" % title: readme.encode("utf-8"),
                              "%s/源码.dat" % title: payload})
        return path

    def document(self):
        """The server document (GBK), entries KEY(VALUE)KEY."""
        entries = [
            ("版本号", "1"),
            ("程序版本", self.args.program_version),
            ("更新地址", self.address + "/thread-1-1-1.html"),
            ("主程序地址", self.address + "/files/main.7z"),
            ("下载引擎版本", ENGINE_VERSION),
            ("下载引擎地址", self.address + "/file/id_engine.html"),
            ("数据库版本", CATALOGUE_VERSION),
            ("数据库地址", self.address + "/file/id_data.html"),
        ]
        text = "Vellumark 服务器信息\r\n" + "".join(
            "%s(%s)%s\r\n" % (k, v, k) for k, v in entries)
        return text.encode("gbk")

    def information_page(self):
        encoded = base64.b64encode(self.document()).decode("ascii")
        lines = "".join(encoded[i:i + 76] + "\r\n" for i in range(0, len(encoded), 76))
        page = ("<html><head><title>Vellumark 程序信息</title></head><body>"
                "<p>Vellumark 的程序信息,请勿修改。</p><div class=\"post\">数据流[" + lines +
                "]数据流</div></body></html>")
        return page.encode("gbk")

    def article(self, number):
        if number not in self.resources:
            return None
        title, author, _intro, _size, category = self.resources[number]
        rng = random.Random(number * 7)
        lines = rng.sample(catalogue.INTRO_LINES, 2)
        paragraphs = [
            "<p>%s 是 %s 分享在「%s」分类下的作品。</p>" % (
                html.escape(title), html.escape(author), html.escape(self.categories[category])),
            "<p>%s</p>" % lines[0].format(t=html.escape(title)),
            "<p>%s</p>" % lines[1].format(t=html.escape(title)),
            "<p><b>更新记录</b><br />%s 修复界面显示问题<br />%s 首次发布</p>" % (
                "2024-05-%02d" % rng.randint(1, 28), "2023-11-%02d" % rng.randint(1, 28)),
            "<p>%s</p>" % catalogue.ARTICLE_TAIL,
        ]
        page = ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%s</title></head>"
                "<body><div class=\"header\">演示博客</div>%s<h2>%s</h2>%s</div>%s"
                "<p>发表于 2024-06-01</p></div></body></html>") % (
            html.escape(title), ARTICLE_START, html.escape(title), "".join(paragraphs),
            ARTICLE_END)
        return page.encode("utf-8")

    def cloud_file(self, fid):
        if fid in ("engine", "data", "main"):
            path = os.path.join(self.cache, {"engine": "up.7z", "data": "data.7z",
                                             "main": "main.7z"}[fid])
            return path if os.path.exists(path) else None
        m = re.fullmatch(r"r(\d+)", fid)
        return self.resource_archive(int(m.group(1))) if m else None


def demo_movie(number):
    """A real Flash movie for resource `number`: its own pair of colours."""
    rng = random.Random(number)
    background = "%02x%02x%02x" % (rng.randint(0, 90), rng.randint(40, 120), rng.randint(120, 220))
    colour = "%02x%02x%02x" % (rng.randint(200, 255), rng.randint(120, 200), rng.randint(0, 60))
    return swf.movie(320, 240, background, colour)


def simple_page(title, body):
    return ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%s</title></head>"
            "<body><h1>%s</h1>%s</body></html>" % (title, title, body)).encode("utf-8")


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "VellumarkDemoForum/1.0"
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        if self.server.forum.args.verbose:
            super().log_message(fmt, *args)

    def do_GET(self):
        forum = self.server.forum
        url = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(url.path)
        query = urllib.parse.parse_qs(url.query)
        try:
            self.route(forum, path, query)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def route(self, forum, path, query):
        if path == "/":
            links = ("<ul><li><a href=\"/forum-81-1.html\">在线提问</a></li>"
                     "<li><a href=\"/thread-118062-1-1.html\">分享资源</a></li>"
                     "<li><a href=\"/thread-118071-1-1.html\">问题反馈</a></li></ul>")
            return self.send(200, "text/html; charset=utf-8",
                             simple_page("Vellumark 演示论坛", links))
        if path in ("/blog/vellumark-info.html", "/notes/vellumark-info.html"):
            return self.send(200, "text/html", forum.information_page())
        m = re.fullmatch(r"/file/id_([^/]+)\.html", path)
        if m:
            fid = html.escape(m.group(1))
            return self.send(200, "text/html; charset=utf-8", simple_page(
                "网盘文件 %s" % fid,
                "<p><a href=\"/cdlsched/getdl?fid=%s\">下载</a></p>" % fid))
        if path == "/cdlsched/getdl":
            file = forum.cloud_file(query.get("fid", [""])[0])
            return self.send_file(file) if file else self.not_found()
        if path == "/files/main.7z":
            file = forum.cloud_file("main")
            return self.send_file(file) if file else self.not_found()
        m = re.fullmatch(r"/files/(\d+)\.rar", path)
        if m:
            file = forum.resource_archive(int(m.group(1)))
            return self.send_file(file) if file else self.not_found()
        m = re.fullmatch(r"/article/(\d+)\.html", path)
        if m:
            page = forum.article(int(m.group(1)))
            return self.send(200, "text/html; charset=utf-8", page) if page else self.not_found()
        m = re.fullmatch(r"/video/(\d+)\.swf", path)
        if m:
            return self.send(200, "application/x-shockwave-flash", demo_movie(int(m.group(1))))
        if re.fullmatch(r"/(forum|thread)-[\d-]+\.html|/buy\.htm|/go\.html", path):
            return self.send(200, "text/html; charset=utf-8", simple_page(
                "Vellumark 演示论坛", "<p>这是演示论坛的页面 %s。</p>" % html.escape(path)))
        return self.not_found()

    def not_found(self):
        self.send(404, "text/html; charset=utf-8", simple_page("404", "<p>没有这个页面。</p>"))

    def send(self, status, content_type, body, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def send_file(self, path):
        size = os.path.getsize(path)
        stat = os.stat(path)
        etag = '"%s"' % hashlib.sha1(("%s %d %d" % (path, size, stat.st_mtime_ns))
                                     .encode()).hexdigest()[:20]
        first = 0
        ranged = False
        m = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        if_range = self.headers.get("If-Range")
        if m and (if_range is None or if_range == etag):
            first = int(m.group(1))
            if first >= size:
                return self.send(416, "text/html", b"", [("Content-Range", "bytes */%d" % size),
                                                         ("ETag", etag)])
            ranged = True
        self.send_response(206 if ranged else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size - first))
        self.send_header("ETag", etag)
        self.send_header("Accept-Ranges", "bytes")
        if ranged:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, size - 1, size))
        self.end_headers()
        rate = self.server.forum.args.rate
        with open(path, "rb") as f:
            f.seek(first)
            while True:
                chunk = f.read(CHUNK)
                if not chunk:
                    break
                self.wfile.write(chunk)
                if rate > 0:
                    time.sleep(len(chunk) / rate)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", required=True, help="folder for everything generated")
    parser.add_argument("--mdbwriter", required=True)
    parser.add_argument("--engine", required=True, help="the up.exe to offer as up.7z")
    parser.add_argument("--program", help="the program to offer as main.7z")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--port-file", help="written with the port once the forum answers")
    parser.add_argument("--rate", type=float, default=0, help="download speed limit, bytes/s")
    parser.add_argument("--resources", type=int, default=4000)
    parser.add_argument("--program-version", default="1.4 测试版",
                        help="the newest program version the forum announces")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    try:
        server = Server(("127.0.0.1", args.port), Handler)
    except OSError:
        if args.port == 0:
            raise
        server = Server(("127.0.0.1", 0), Handler)  # the preferred port is taken
    port = server.server_address[1]
    server.forum = Forum(args, port)
    if args.port_file:
        temp = args.port_file + ".tmp"
        with open(temp, "w") as f:
            f.write("%d\n" % port)
        os.replace(temp, args.port_file)
    print("demo forum on http://127.0.0.1:%d" % port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
