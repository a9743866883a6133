"""Prints the target ratios of a Google Benchmark JSON report, one per line.

Each entry names two benchmarks measured in the same run and how their times
compare with the target: "faster" means the first must take at most `limit`
times the second's time.
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
]


def main(path):
    with open(path) as f:
        report = json.load(f)
    times = {}
    for b in report["benchmarks"]:
        if b.get("run_type", "iteration") == "iteration" and "error_occurred" not in b:
            times[b["name"]] = b["real_time"]
    failed = False
    for label, name, ref, limit in RATIOS:
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
    sys.exit(main(sys.argv[1]))
