#!/usr/bin/env python3
"""A boot loader just good enough for pictures of an upload: asks for pages
0, 1, 2, ... over the master side of a pseudo-terminal and reads each answer
(3 header bytes, 128 page bytes and the checksum) without checking it, and
stops after the page given. Not a test: tests/support/VirtualBootLoader.h
checks every byte.
    pty_pager.py LINK LAST_PAGE     makes LINK -> the pty's slave, then waits
                                    for the program to open it"""
import os, sys, time, select

link, last = sys.argv[1], int(sys.argv[2])
master, slave = os.openpty()
slave_path = os.ttyname(slave)
os.close(slave)
if os.path.lexists(link):
    os.remove(link)
os.symlink(slave_path, link)

def read_answer(deadline):
    got = b""
    while len(got) < 132 and time.time() < deadline:
        ready, _, _ = select.select([master], [], [], 0.05)
        if not ready:
            continue
        try:
            got += os.read(master, 4096)
        except OSError:  # the program closed the port between two bursts
            time.sleep(0.005)
    return len(got) >= 132

page = 0
while page <= last:
    c2 = min(page, 112)
    try:
        os.write(master, bytes([0x50, 0x47, c2, page - c2]))
    except OSError:
        time.sleep(0.05)
        continue
    if read_answer(time.time() + 0.5):
        page += 1
    else:
        time.sleep(0.2)
# Holds the port until killed, so that the window keeps it open.
while True:
    time.sleep(1)
