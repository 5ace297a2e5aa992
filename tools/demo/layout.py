#!/usr/bin/env python3
"""Lays out the portable program folder for the demo forum at ADDRESS:

    layout.py WORK_FOLDER DATA_FOLDER ADDRESS

- set/Endpoints.ini points every address of the program at the forum;
- set/TreeList.mdb is the forum's first catalogue, so that the program has something to show
  and then finds the newer one on the forum (it is put back when the forum's address changed,
  because the catalogue's download addresses name the forum, and a newer catalogue fetched from
  the old address and still waiting in set/data.7z is dropped);
- set/Start.ini gets the program's default download settings and the versions of the engine
  and catalogue that are installed. Keys that are already there are kept.
"""

import os
import re
import shutil
import sys

sys.dont_write_bytecode = True  # nothing generated beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import forum  # noqa: E402

SECTION = "主窗口"


def write_atomic(path, data):
    temp = path + ".tmp"
    with open(temp, "wb") as f:
        f.write(data)
    os.replace(temp, path)


def read_forum_address(endpoints):
    if not os.path.exists(endpoints):
        return ""
    with open(endpoints, "rb") as f:
        m = re.search(rb"^forum=(.*?)\r?$", f.read(), re.M)
    return m.group(1).decode("ascii", "replace") if m else ""


def set_keys(path, values, keep_existing):
    """Sets keys of [主窗口] in a GBK profile file, adding the file and section as needed."""
    text = open(path, "rb").read().decode("gbk") if os.path.exists(path) else ""
    lines = text.replace("\r\n", "\n").split("\n")
    while lines and lines[-1] == "":
        lines.pop()
    if not any(line.strip() == "[%s]" % SECTION for line in lines):
        lines += ["[%s]" % SECTION]
    start = next(i for i, line in enumerate(lines) if line.strip() == "[%s]" % SECTION)
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("[")), len(lines))
    while end > start + 1 and lines[end - 1] == "":
        end -= 1
    for key, value in values.items():
        found = next((i for i in range(start + 1, end) if lines[i].split("=", 1)[0].strip() == key),
                     None)
        if found is None:
            lines.insert(end, "%s=%s" % (key, value))
            end += 1
        elif not keep_existing:
            lines[found] = "%s=%s" % (key, value)
    write_atomic(path, ("\r\n".join(lines) + "\r\n").encode("gbk"))


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    work, data, address = sys.argv[1:]
    settings = os.path.join(work, "set")
    os.makedirs(settings, exist_ok=True)
    endpoints = os.path.join(settings, "Endpoints.ini")
    catalogue = os.path.join(settings, "TreeList.mdb")
    start = os.path.join(settings, "Start.ini")

    moved = read_forum_address(endpoints) != address
    entries = [
        ("forum", address),
        ("info_primary", address + "/blog/vellumark-info.html"),
        ("info_fallback", address + "/notes/vellumark-info.html"),
        ("cloud_site", address),
        ("cloud_scheduler", address),
        ("blog_prefix", address),
        ("chat", address),
        ("chat_room", "1180"),
        ("vendor", address),
    ]
    write_atomic(endpoints, ("[endpoints]\r\n" + "".join(
        "%s=%s\r\n" % entry for entry in entries)).encode("ascii"))

    set_keys(start, {"下载方式": "1", "下载打开": "1", "下载关闭": "1",
                     "下载引擎版本": forum.ENGINE_VERSION}, keep_existing=True)
    if moved or not os.path.exists(catalogue):
        temp = catalogue + ".tmp"
        shutil.copyfile(os.path.join(data, "catalogue-v1.mdb"), temp)
        os.replace(temp, catalogue)
        # A newer catalogue fetched from a forum at another address would be installed at the
        # next start, with that forum's download addresses.
        pending = os.path.join(settings, "data.7z")
        if moved and os.path.exists(pending):
            os.remove(pending)
        # The first catalogue is installed: the forum's newer one is then offered as an update.
        set_keys(start, {"数据库版本": "1"}, keep_existing=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
