"""Prints the target ratios of Google Benchmark JSON reports, one per line.

Each entry compares a benchmark's time with a reference measured in the same
run (another benchmark, or ten times a smaller one for linearity), with a
fixed time in milliseconds, or names a counter the benchmark reports; the
ratio must not exceed the limit.
"""
import json
import sys

# (label, benchmark, reference benchmark, limit)
RATIOS = [
    ("SjisToJis vs iconv CP932->ISO-2022-JP, 10 MB", "BM_SjisToJis/10", "BM_IconvCp932ToIso2022jp/10", 1.0),
    ("JisToSjis vs iconv ISO-2022-JP->CP932, 10 MB", "BM_JisToSjis/10", "BM_IconvIso2022jpToCp932/10", 1.0),
    ("SjisToJis 10 MB vs 10 x 1 MB (linear)", "BM_SjisToJis/10", ("BM_SjisToJis/1", 10), 1.5),
    ("JisToSjis 10 MB vs 10 x 1 MB (linear)", "BM_JisToSjis/10", ("BM_JisToSjis/1", 10), 1.5),
    ("DecodeHeaderWords 10 MB vs 10 x 1 MB (linear)", "BM_DecodeHeaderWords/10", ("BM_DecodeHeaderWords/1", 10), 1.5),
    ("attachment base64 encode vs coreutils base64, 10 MB", "BM_AttachmentEncode/10", "BM_CoreutilsBase64Encode/10", 2.0),
    ("attachment base64 decode vs coreutils base64 -d, 10 MB", "BM_AttachmentDecode/10", "BM_CoreutilsBase64Decode/10", 2.0),
    ("attachment encode 10 MB vs 10 x 1 MB (linear)", "BM_AttachmentEncode/10", ("BM_AttachmentEncode/1", 10), 1.5),
    ("attachment decode 10 MB vs 10 x 1 MB (linear)", "BM_AttachmentDecode/10", ("BM_AttachmentDecode/1", 10), 1.5),
    ("storing 1,000 UTF-8 messages of 5 KB vs 1,000 ISO-2022-JP ones", "BM_StoreUtf8Messages1000/iterations:5", "BM_StoreIso2022jpMessages1000/iterations:5", 1.2),
    ("tegalo --receive vs mpop, 1,000 messages of 5 KB", "BM_TegaloReceive1000/iterations:3", "BM_MpopReceive1000/iterations:3", 1.0),
    ("1,000 into a shown folder of 100,000 vs into an empty one", "BM_WindowReceive1000Into100k/iterations:3", "BM_WindowReceive1000IntoEmpty/iterations:3", 1.5),
    ("tegalo --send-waiting vs msmtp, 200 messages of 5 KB", "BM_TegaloSendWaiting200/iterations:3", "BM_MsmtpSend200/iterations:3", 1.0),
    ("switch to a folder of 100,000 messages vs 1 s", "BM_SwitchToLargeFolder/iterations:5", 1000.0, 1.0),
    ("open an unread message in it vs 0.1 s", "BM_OpenUnreadMessageInLargeFolder/iterations:20", 100.0, 1.0),
    ("memory of that folder vs its file size", ("BM_SwitchToLargeFolder/iterations:5", "memory_ratio"), None, 2.0),
]


def to_ms(b):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1000.0}[b.get("time_unit", "ns")]
    return b["real_time"] * scale


def main(paths):
    times, counters = {}, {}
    for path in paths:
        with open(path) as f:
            report = json.load(f)
        for b in report["benchmarks"]:
            if b.get("run_type", "iteration") == "iteration" and "error_occurred" not in b:
                times[b["name"]] = to_ms(b)
                counters[b["name"]] = b
    failed = False
    for label, name, ref, limit in RATIOS:
        if isinstance(name, tuple):
            bench, counter = name
            if bench not in counters or counter not in counters[bench]:
                continue
            ratio = counters[bench][counter]
        elif isinstance(ref, float):
            if name not in times:
                continue
            ratio = times[name] / ref
        else:
            scale = 1
            if isinstance(ref, tuple):
                ref, scale = ref
            if name not in times or ref not in times:
                continue
            ratio = times[name] / (times[ref] * scale)
        ok = ratio <= limit
        failed |= not ok
        print(f"RATIO {label}: {ratio:.2f} (target <= {limit}) {'ok' if ok else 'MISSED'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
