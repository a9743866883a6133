"""Fetches every message of a POP3 mailbox with Python's poplib (RETR one
after another, leaving them on the server), writes them one after another
to one file and syncs it once: the plain ceiling that `tegalo --receive` is
measured against.

Usage: poplib_receive.py PORT USER PASSWORD FILE
"""
import os
import poplib
import sys


def main(port, user, password, path):
    pop = poplib.POP3("127.0.0.1", port)
    pop.user(user)
    pop.pass_(password)
    count, _ = pop.stat()
    with open(path, "wb") as out:
        for number in range(1, count + 1):
            _, lines, _ = pop.retr(number)
            out.write(b"\r\n".join(lines) + b"\r\n")
        out.flush()
        os.fsync(out.fileno())
    pop.quit()


if __name__ == "__main__":
    main(int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4])
