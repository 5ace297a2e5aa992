#!/usr/bin/env python3
"""The demo forum's catalogue: a realistic table of resources, written as SQLite and turned into
the password-protected Jet 4 file the program reads by the project's own writer
(`mdbwriter from-sqlite`).

Two versions are made from one seed: the first is what a new user starts with, the second is
what the forum offers as an update (the same resources plus a week of newer ones).

    catalogue.py OUT_DIR --forum http://127.0.0.1:18360 --mdbwriter PATH [--resources N]
"""

import argparse
import datetime
import os
import random
import sqlite3
import subprocess
import sys

PASSWORD = "kq7.vm3rxp.tz"
UTC8 = datetime.timezone(datetime.timedelta(hours=8))

# Three levels: top level -> second level -> third-level names (possibly none).
TREE = [
    ("界面设计", [("窗口与对话框", ["异形窗口", "透明窗口", "多窗口通信"]),
                  ("控件美化", ["按钮皮肤", "列表框", "树型框"]),
                  ("界面库", ["皮肤引擎"])]),
    ("网络通信", [("网页与HTTP", ["网页采集", "模拟登录", "下载工具"]),
                  ("套接字", ["服务器", "客户端", "局域网"]),
                  ("邮件与聊天", [])]),
    ("数据库", [("本地数据库", ["桌面数据库", "嵌入式数据库"]),
                ("网络数据库", ["服务器数据库"]),
                ("报表与打印", [])]),
    ("多媒体", [("音频", ["播放器", "录音"]),
                ("视频", []),
                ("图像处理", ["截图", "滤镜"])]),
    ("系统工具", [("文件操作", ["批量改名", "文件加密"]),
                  ("进程与内存", []),
                  ("注册表", []),
                  ("硬件信息", [])]),
    ("游戏开发", [("游戏辅助", []),
                  ("小游戏", ["棋牌", "休闲"])]),
    ("算法与加密", [("加密解密", ["散列算法", "对称加密"]),
                    ("排序与查找", []),
                    ("压缩解压", [])]),
    ("入门教程", [("基础语法", []),
                  ("例程合集", [])]),
]

TOPICS = {
    "界面设计": ["圆角窗口", "半透明界面", "仿办公软件界面", "侧边栏菜单", "标签页控件", "托盘图标",
                 "渐变按钮", "自绘列表", "换肤框架", "启动画面"],
    "网络通信": ["网页采集器", "自动登录", "多线程下载器", "局域网聊天", "端口扫描", "邮件群发",
                 "网页源码查看", "代理服务器", "文件传输", "远程控制"],
    "数据库": ["通讯录管理", "进销存系统", "图书管理", "学生成绩管理", "数据库备份", "记账本",
               "库存盘点", "会员管理", "报表打印", "数据导入导出"],
    "多媒体": ["音乐播放器", "录音机", "视频播放", "屏幕截图", "图片浏览器", "图片批量压缩",
               "滤镜特效", "屏幕录像", "歌词同步", "相册制作"],
    "系统工具": ["批量改名", "文件加密器", "进程管理器", "内存清理", "注册表编辑", "硬件检测",
                 "开机启动管理", "文件搜索", "磁盘清理", "定时关机"],
    "游戏开发": ["贪吃蛇", "俄罗斯方块", "五子棋", "连连看", "扫雷", "象棋", "推箱子", "飞机大战",
                 "打地鼠", "拼图游戏"],
    "算法与加密": ["散列计算", "文本加密", "快速排序", "二分查找", "压缩解压", "进制转换",
                   "随机数生成", "大数运算", "编码转换", "校验工具"],
    "入门教程": ["变量与常量", "循环语句", "子程序调用", "数组操作", "文本处理", "文件读写",
                 "窗口事件", "计时器", "多线程入门", "调试技巧"],
}

KINDS = ["源码", "例程", "模块", "示例", "工具", "演示", "完整版", "开源"]
VERSIONS = ["", "", "", "", "", "v1.0", "v2.0", "1.5版", "最终版", " v2.3 正式版"]
PREFIXES = ["", "", "", "", "[原创]", "[分享]", "【推荐】"]

SURNAMES = "王李张刘陈杨赵黄周吴徐孙胡朱高林何郭马罗"
NICKS = ["小明", "老张", "风之子", "代码狂人", "夜雨", "墨客", "清风", "月光", "蓝天", "石头",
         "阿飞", "小白", "大熊", "飞鸟", "云中客", "竹林", "青山", "星辰", "流水", "木子"]

INTRO_LINES = [
    "本例程演示了{t}的完整实现,代码注释详细,适合初学者学习。",
    "支持多线程,界面简洁,运行稳定。",
    "使用了自定义模块,无需第三方支持库。",
    "修复了上一版本中的若干问题,提高了运行速度。",
    "附带详细的使用说明,下载后解压即可运行。",
    "欢迎大家提出意见和建议,一起交流学习。",
    "源码仅供学习研究,请勿用于商业用途。",
    "已在多个系统上测试通过。",
]

ARTICLE_TAIL = "更多更好的Tessel源码尽在Vellumark，如果需要下载Vellumark,请百度一下"


def categories():
    """Rows (id, level, parent id, name, introduction, weight), top levels first."""
    rows = []
    next_id = 1

    def add(level, parent, name, weight):
        nonlocal next_id
        row = (next_id, level, parent, name, "%s相关的源码与例程" % name, weight)
        rows.append(row)
        next_id += 1
        return row[0]

    for t, (top, seconds) in enumerate(TREE):
        top_id = add(1, 0, top, t)
        for s, (second, thirds) in enumerate(seconds):
            second_id = add(2, top_id, second, s)
            for h, third in enumerate(thirds):
                add(3, second_id, third, h)
    return rows


def top_of(rows, category_id):
    by_id = {r[0]: r for r in rows}
    row = by_id[category_id]
    while row[2] != 0:
        row = by_id[row[2]]
    return row[3]


def make_author(rng):
    if rng.random() < 0.5:
        return rng.choice(SURNAMES) + rng.choice(NICKS)
    return rng.choice(NICKS) + str(rng.randint(1, 99))


def make_size(rng):
    if rng.random() < 0.1:
        return ""
    kb = int(rng.lognormvariate(6.2, 1.1))
    kb = max(8, min(kb, 60000))
    return "%dKB" % kb if kb < 1024 else "%.2fMB" % (kb / 1024)


def make_intro(rng, number, title, forum):
    roll = rng.random()
    if roll < 0.3:
        return ""
    if roll < 0.75:
        count = rng.randint(1, 4)
        lines = rng.sample(INTRO_LINES, count)
        return "\r\n".join(line.format(t=title) for line in lines)
    return "%s/article/%d.html" % (forum, number)


def resources(forum, count, seed, start, end, first_number=1, recent=0, titles=None):
    """Resource rows; `recent` of them fall into the last week before `end`."""
    rng = random.Random(seed)
    cats = categories()
    # Resources live in second- and third-level categories, a few in top-level ones.
    homes = [r for r in cats if r[1] >= 2] + [r for r in cats if r[1] == 1][:2]
    titles = set() if titles is None else titles
    rows = []
    for i in range(count):
        number = first_number + i
        home = rng.choice(homes)
        topic = rng.choice(TOPICS[top_of(cats, home[0])])
        title = "%s%s%s%s" % (rng.choice(PREFIXES), topic, rng.choice(KINDS), rng.choice(VERSIONS))
        base, copy = title, 1
        while title in titles:
            copy += 1
            title = "%s(%d)" % (base, copy)
        titles.add(title)
        roll = rng.random()
        if roll < 0.06:
            address = ""
        elif roll < 0.76:
            address = "%s/files/%d.rar" % (forum, number)
        else:
            address = "kp,r%d,%d" % (number, number)
        video = "%s/video/%d.swf" % (forum, number) if rng.random() < 0.08 else ""
        if i >= count - recent:
            changed = end - rng.randint(0, 6 * 86400)
        else:
            changed = rng.randint(start, end - 8 * 86400)
        style = rng.choices([0, 1, 2, 3], weights=[70, 12, 10, 8])[0]
        rows.append((home[0], title, make_intro(rng, number, title, forum), make_author(rng),
                     address, video, make_size(rng), changed, style, rng.randint(0, 999), number))
    return rows


def epoch(year, month, day, hour=12):
    return int(datetime.datetime(year, month, day, hour, tzinfo=UTC8).timestamp())


# The first catalogue ends on 2024-06-30, the update a week later.
V1_END = epoch(2024, 6, 30)
V2_END = epoch(2024, 7, 7)
START = epoch(2018, 3, 1)


def catalogue_rows(forum, total, version):
    titles = set()
    rows = resources(forum, total, seed=7, start=START, end=V1_END, recent=40, titles=titles)
    if version >= 2:
        rows += resources(forum, 60, seed=8, start=V1_END, end=V2_END, first_number=total + 1,
                          recent=60, titles=titles)
    return rows


TREE_SQL = ('create table Tree ("ID" INTEGER, "层次" INTEGER, "父ID" INTEGER, "名称" TEXT, '
            '"介绍" TEXT, "权重" INTEGER)')
LIST_SQL = ('create table List ("ID" INTEGER, "名称" TEXT, "介绍" MEMO, "作者" TEXT, "地址" TEXT, '
            '"视频" TEXT, "大小" TEXT, "修改时间" INTEGER, "样式值" INTEGER, "权重" INTEGER, '
            '"编号" INTEGER)')


def write_sqlite(path, forum, total, version):
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path)
    db.execute(TREE_SQL)
    db.execute(LIST_SQL)
    db.executemany("insert into Tree values (?,?,?,?,?,?)", categories())
    db.executemany("insert into List values (?,?,?,?,?,?,?,?,?,?,?)",
                   catalogue_rows(forum, total, version))
    db.commit()
    db.close()


def write_mdb(sqlite_path, mdb_path, mdbwriter):
    temp = mdb_path + ".tmp"
    subprocess.run([mdbwriter, "from-sqlite", sqlite_path, temp, "--password", PASSWORD],
                   check=True)
    os.replace(temp, mdb_path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--forum", required=True, help="scheme, host and port of the demo forum")
    parser.add_argument("--mdbwriter", required=True)
    parser.add_argument("--resources", type=int, default=4000)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for version in (1, 2):
        sqlite_path = os.path.join(args.out, "catalogue-v%d.sqlite" % version)
        write_sqlite(sqlite_path, args.forum, args.resources, version)
        write_mdb(sqlite_path, os.path.join(args.out, "catalogue-v%d.mdb" % version),
                  args.mdbwriter)
    print("%d categories, %d + 60 resources" % (len(categories()), args.resources))


if __name__ == "__main__":
    sys.exit(main())
