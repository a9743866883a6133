"""Sends every message file of a directory (in name order) in one SMTP
session on one connection with Python's smtplib: the plain ceiling that
`tegalo --send-waiting` is measured against.

Usage: smtplib_send.py PORT DIRECTORY
"""
import os
import smtplib
import sys


def main(port, directory):
    names = sorted(os.listdir(directory))
    with smtplib.SMTP("127.0.0.1", port) as smtp:
        for name in names:
            with open(os.path.join(directory, name), "rb") as f:
                smtp.sendmail("taro@example.jp", ["hanako@example.jp"], f.read())


if __name__ == "__main__":
    main(int(sys.argv[1]), sys.argv[2])
