"""Reads one message the way a modern reader does (Python's email package,
policy=default) and writes what it found, for Tegalo's send tests:

    python3 wire_check.py MESSAGE OUTDIR

OUTDIR/defects     every defect the parser registered, one a line: where, kind, text
OUTDIR/subject     the decoded subject
OUTDIR/from        "name|address" of each mailbox of From, one a line
OUTDIR/to, cc      likewise; a group's members follow a line "group:NAME"
OUTDIR/text        the decoded text part
OUTDIR/partN.name  for each attachment (N from 1): its file name (get_filename)
OUTDIR/partN.type  its content type, and "; charset=X" when it has one
OUTDIR/partN.cte   its Content-Transfer-Encoding
OUTDIR/partN.data  its decoded bytes
All text files are UTF-8.
"""

import email
import email.policy
import os
import sys


def write(out, name, content):
    with open(os.path.join(out, name), "wb") as f:
        f.write(content if isinstance(content, bytes) else content.encode("utf-8"))


def mailboxes(header):
    if header is None:
        return ""
    lines = []
    for group in header.groups:
        if group.display_name is not None:
            lines.append("group:" + group.display_name)
        for address in group.addresses:
            lines.append(address.display_name + "|" + address.addr_spec)
    return "".join(line + "\n" for line in lines)


def main(path, out):
    with open(path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    defects = []
    for n, part in enumerate(msg.walk()):
        defects += ["part %d: %s: %s" % (n, type(d).__name__, d) for d in part.defects]
        for name, value in part.items():
            defects += ["%s: %s: %s" % (name, type(d).__name__, d) for d in getattr(value, "defects", ())]
    write(out, "defects", "".join(d + "\n" for d in defects))
    write(out, "subject", str(msg["Subject"] or ""))
    write(out, "from", mailboxes(msg["From"]))
    write(out, "to", mailboxes(msg["To"]))
    write(out, "cc", mailboxes(msg["Cc"]))
    body = msg.get_body(preferencelist=("plain",))
    write(out, "text", body.get_content() if body is not None else "")
    for n, part in enumerate(msg.iter_attachments(), start=1):
        write(out, "part%d.name" % n, part.get_filename() or "")
        kind = part.get_content_type()
        if part.get_param("charset"):
            kind += "; charset=" + part.get_param("charset")
        write(out, "part%d.type" % n, kind)
        write(out, "part%d.cte" % n, part.get("Content-Transfer-Encoding", ""))
        write(out, "part%d.data" % n, part.get_payload(decode=True) or b"")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
