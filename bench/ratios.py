"""Prints the target ratios of Google Benchmark JSON reports, one per line.

Each entry compares a benchmark's time with a reference measured in the same
run (another benchmark, or ten times a smaller one for linearity), with a
fixed time in milliseconds, or names a counter the benchmark reports; the
ratio must not exceed the limit.
"""
import json
import sys

# (label, benchmark, reference, limit[, "cpu"]). The reference is a
# benchmark, a list of benchmarks (the best peer: the fastest of them), a
# pair (benchmark, factor), or a fixed time in milliseconds; a pair as the
# benchmark names one of its counters. "cpu" compares in-process work by the
# processor time it took, which other programs' load on the machine leaves
# alone; whole processes that compute alone report theirs as their time.
TEXT = "Japanese text, 10 MB"
RECEIVE = "1,000 messages of 5 KB"
RATIOS = [
    ("SjisToJis vs iconv CP932->ISO-2022-JP, in process, " + TEXT, "BM_SjisToJis/10", "BM_IconvCp932ToIso2022jp/10", 0.5, "cpu"),
    ("JisToSjis vs iconv ISO-2022-JP->CP932, in process, " + TEXT, "BM_JisToSjis/10", "BM_IconvIso2022jpToCp932/10", 0.5, "cpu"),
    ("tegalo-convert sjis-to-jis vs best of iconv, nkf, whole processes (processor time), " + TEXT, "BM_ConvertProcessSjisToJis/10/manual_time",
     ["BM_IconvProcessCp932ToIso2022jp/10/manual_time", "BM_NkfProcessSjisToJis/10/manual_time"], 0.5),
    ("tegalo-convert jis-to-sjis vs best of iconv, nkf, whole processes (processor time), " + TEXT, "BM_ConvertProcessJisToSjis/10/manual_time",
     ["BM_IconvProcessIso2022jpToCp932/10/manual_time", "BM_NkfProcessJisToSjis/10/manual_time"], 0.5),
    ("SjisToJis 10 MB vs 10 x 1 MB (linear)", "BM_SjisToJis/10", ("BM_SjisToJis/1", 10), 1.5, "cpu"),
    ("JisToSjis 10 MB vs 10 x 1 MB (linear)", "BM_JisToSjis/10", ("BM_JisToSjis/1", 10), 1.5, "cpu"),
    ("DecodeHeaderWords 10 MB vs 10 x 1 MB (linear)", "BM_DecodeHeaderWords/10", ("BM_DecodeHeaderWords/1", 10), 1.5, "cpu"),
    ("base64 encode vs OpenSSL EVP_EncodeBlock, same CR LF lines, in process, 10 MB", "BM_Base64EncodeLines/10",
     "BM_OpenSslEncodeBlockLines/10", 0.5, "cpu"),
    ("base64 decode vs best of OpenSSL EVP_DecodeBlock per line, EVP_DecodeUpdate, in process, 10 MB",
     "BM_Base64DecodeLines/10", ["BM_OpenSslDecodeBlockLines/10", "BM_OpenSslDecodeUpdate/10"], 0.5, "cpu"),
    ("tegalo-convert base64-encode vs coreutils base64, whole processes (processor time), 10 MB", "BM_ConvertProcessBase64Encode/10/manual_time",
     "BM_CoreutilsBase64Encode/10/manual_time", 0.5),
    ("tegalo-convert base64-decode vs coreutils base64 -d, whole processes (processor time), 10 MB", "BM_ConvertProcessBase64Decode/10/manual_time",
     "BM_CoreutilsBase64Decode/10/manual_time", 0.5),
    ("attachment encode 10 MB vs 10 x 1 MB (linear)", "BM_AttachmentEncode/10", ("BM_AttachmentEncode/1", 10), 1.5),
    ("attachment decode 10 MB vs 10 x 1 MB (linear)", "BM_AttachmentDecode/10", ("BM_AttachmentDecode/1", 10), 1.5),
    ("tegalo --receive vs mpop to maildir, as they are (mpop syncs each message), " + RECEIVE,
     "BM_TegaloReceive1000/iterations:3", "BM_MpopReceive1000/iterations:3", 1.0),
    ("tegalo --receive vs mpop to mbox, as they are, " + RECEIVE,
     "BM_TegaloReceive1000/iterations:3", "BM_MpopReceive1000Mbox/iterations:3", 1.0),
    ("tegalo --receive vs mpop to maildir, both under eatmydata, " + RECEIVE + " (medians, runs taking turns)",
     ("BM_ReceiveTurns1000Eatmydata/iterations:9/manual_time", "vs_mpop_maildir"), None, 0.5),
    ("tegalo --receive vs mpop to mbox, both under eatmydata, " + RECEIVE + " (medians, runs taking turns)",
     ("BM_ReceiveTurns1000Eatmydata/iterations:9/manual_time", "vs_mpop_mbox"), None, 0.5),
    ("the server alone, sending " + RECEIVE + " to a client that keeps nothing, vs mpop to mbox under eatmydata (reference: no client can take less)",
     ("BM_ReceiveTurns1000Eatmydata/iterations:9/manual_time", "server_vs_mpop_mbox"), None, 1.0),
    ("tegalo --receive vs Python poplib writing one file with one fsync, " + RECEIVE,
     "BM_TegaloReceive1000/iterations:3", "BM_PoplibReceive1000/iterations:3", 1.0),
    ("tegalo --receive vs mpop to maildir, both under eatmydata, 200 messages of 5 KB (medians, runs taking turns)",
     ("BM_ReceiveTurns200Eatmydata/iterations:9/manual_time", "vs_mpop_maildir"), None, 0.5),
    ("tegalo --receive vs mpop to mbox, both under eatmydata, 200 messages of 5 KB (medians, runs taking turns)",
     ("BM_ReceiveTurns200Eatmydata/iterations:9/manual_time", "vs_mpop_mbox"), None, 0.5),
    ("the server alone, sending 200 messages of 5 KB to a client that keeps nothing, vs mpop to mbox under eatmydata (reference: no client can take less)",
     ("BM_ReceiveTurns200Eatmydata/iterations:9/manual_time", "server_vs_mpop_mbox"), None, 1.0),
    ("tegalo --receive vs Python poplib writing one file with one fsync, 200 messages of 5 KB",
     "BM_TegaloReceive200/iterations:3", "BM_PoplibReceive200/iterations:3", 1.0),
    ("1,000 into a shown folder of 100,000 vs into an empty one", "BM_WindowReceive1000Into100k/iterations:3",
     "BM_WindowReceive1000IntoEmpty/iterations:3", 1.5),
    # The window's own work (its process's processor time): the server's
    # part and the disk's are the same on both sides.
    ("1,000 into a folder of 100,000 while another folder is shown vs while it is shown (processor time of the window)",
     "BM_WindowReceive1000Into100kOtherShown/iterations:3", "BM_WindowReceive1000Into100k/iterations:3", 1.2, "cpu"),
    ("the same on the clock (disk and server included)",
     "BM_WindowReceive1000Into100kOtherShown/iterations:3", "BM_WindowReceive1000Into100k/iterations:3", 1.5),
    ("tegalo --send-waiting vs Python smtplib in one session, no syncs on either side (tegalo under eatmydata), 1,000 messages of 5 KB",
     "BM_TegaloSendWaiting1000Eatmydata/iterations:1", "BM_SmtplibSend1000/iterations:1", 1.5),
    ("tegalo --send-waiting vs Python smtplib in one session, no syncs on either side (tegalo under eatmydata), 100 messages of 5 KB",
     "BM_TegaloSendWaiting100Eatmydata/iterations:3", "BM_SmtplibSend100/iterations:3", 1.5),
    ("tegalo --send-waiting 1,000 vs 10 x 100 (linear)", "BM_TegaloSendWaiting1000/iterations:1",
     ("BM_TegaloSendWaiting100/iterations:3", 10), 1.2),
    ("tegalo --send-waiting 20 with 100,000 in sent vs 20 with an empty sent (medians, runs taking turns)",
     ("BM_TegaloSendWaiting20Sent100kVsEmpty/iterations:9/manual_time", "ratio"), None, 1.2),
    ("tegalo --send-waiting 100 vs msmtp, one process and connection per message (reference)",
     "BM_TegaloSendWaiting100/iterations:3", "BM_MsmtpSend100/iterations:1", 1.0),
    ("first display of 100,000 records in a fresh process vs cat of the file",
     "BM_FirstDisplay/100000/iterations:3/manual_time", "BM_CatFolderFile/100000/iterations:5", 12.0),
    ("first display of 300,000 records in a fresh process vs cat of the file",
     "BM_FirstDisplay/300000/iterations:3/manual_time", "BM_CatFolderFile/300000/iterations:5", 12.0),
    ("memory of the first display of 100,000 records vs the file size",
     ("BM_FirstDisplay/100000/iterations:3/manual_time", "memory_ratio"), None, 1.1),
    ("memory of the first display of 300,000 records vs the file size",
     ("BM_FirstDisplay/300000/iterations:3/manual_time", "memory_ratio"), None, 1.1),
    ("first filter of 100,000 records vs 0.3 s", "BM_FirstFilterOfFolder/iterations:3", 300.0, 1.0),
    ("first filter of 100,000 records vs a plain memmem of the folder file", "BM_FirstFilterOfFolder/iterations:3",
     "BM_PlainScanOfFolderFile/iterations:5", 2.0, "cpu"),
    ("further filter of 100,000 records vs 0.3 s", "BM_NextFilterOfFolder/iterations:5", 300.0, 1.0),
    ("further filter of 100,000 records vs a plain memmem of the folder file", "BM_NextFilterOfFolder/iterations:5",
     "BM_PlainScanOfFolderFile/iterations:5", 2.0, "cpu"),
    ("open an unread message in a folder of 100,000 vs 0.1 s", "BM_OpenUnreadMessageInLargeFolder/iterations:20",
     100.0, 1.0),
    ("storing 1,000 UTF-8 messages of 5 KB vs 1,000 ISO-2022-JP ones", "BM_StoreUtf8Messages1000/iterations:5", "BM_StoreIso2022jpMessages1000/iterations:5", 1.2),
]


def to_ms(b, key="real_time"):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1000.0}[b.get("time_unit", "ns")]
    return b[key] * scale


def main(paths):
    real, cpu, counters = {}, {}, {}
    for path in paths:
        with open(path) as f:
            report = json.load(f)
        for b in report["benchmarks"]:
            if b.get("run_type", "iteration") == "iteration" and "error_occurred" not in b:
                real[b["name"]] = to_ms(b)
                cpu[b["name"]] = to_ms(b, "cpu_time")
                counters[b["name"]] = b
    failed = False
    for label, name, ref, limit, *how in RATIOS:
        times = cpu if how == ["cpu"] else real
        if isinstance(name, tuple):
            bench, counter = name
            if bench not in counters or counter not in counters[bench]:
                continue
            ratio = counters[bench][counter]
        elif isinstance(ref, float):
            if name not in times:
                continue
            ratio = times[name] / ref
        elif isinstance(ref, list):
            peers = [times[r] for r in ref if r in times]
            if name not in times or not peers:
                continue
            ratio = times[name] / min(peers)
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
