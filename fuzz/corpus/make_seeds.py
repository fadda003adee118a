#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target into fuzz/corpus/<target>/.

The seeds are committed; run this again only after changing an input layout of a target.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def record_line(hour, day, month, year, first, second=None):
    data = hour + day + month + year + (first >> 8) + (first & 0xFF)
    if second is None:
        return "%02X %02X %02X %02X %04X %02X" % (
            hour, day, month, year, first, (0xFF - data) & 0xFF)
    data += (second >> 8) + (second & 0xFF)
    return "%02X %02X %02X %02X %04X %04X %02X" % (
        hour, day, month, year, first, second, (0xFF - data) & 0xFF)


def count_record():
    put("count_record", "seven_fields", "0D 16 01 07 000C 0022 A6")
    put("count_record", "six_fields", "0D 16 01 07 000C C8")
    put("count_record", "run_together", "0D160107000C0022A6")
    put("count_record", "lower_case", "0d 16 01 07 000c 0022 a6")
    put("count_record", "garbage_date", record_line(0xFF, 0x20, 0x0D, 0xFF, 0xFFFF, 0xFFFF))
    put("count_record", "tabs_and_feeds", "\t0D\n16 01\t07 000C 0022 A6")
    put("count_record", "keyword", "cooling")


def box_step(ticks, start, chunk, sends_fail=False):
    chunk = chunk.encode("latin-1") if isinstance(chunk, str) else chunk
    assert ticks < 32 and start < 4 and len(chunk) < 256
    return bytes([start << 6 | sends_fail << 5 | ticks, len(chunk)]) + chunk


def box_link():
    serial = "0123456789ABCD01\r"
    records = "".join(record_line(h, 0x16, 1, 7, 10 * h, h) + "\r" for h in range(3))
    put("box_link", "download",
        box_step(2, 0, serial) + box_step(4, 3, records) + box_step(3, 3, "HASH\r")
        + box_step(2, 3, "COOL\r") + box_step(2, 3, "COOL\r"))
    put("box_link", "bad_checksum_then_biteme",
        box_step(2, 0, serial) + box_step(3, 3, "0D 16 01 07 000C 0022 A7\r\r")
        + box_step(2, 3, "BITEME\r"))
    put("box_link", "garbage_and_six_field",
        box_step(2, 0, serial) + box_step(2, 3, record_line(1, 0x20, 0x0D, 7, 5) + "\r")
        + box_step(2, 3, record_line(1, 2, 3, 4, 5) + "\r") + box_step(20, 3, "")
        + box_step(20, 3, ""))
    put("box_link", "set_time", box_step(2, 1, "COOL\r") + box_step(2, 1, "BUMMER\r"))
    put("box_link", "port_test",
        box_step(2, 2, "09050D02160107\r") + box_step(2, 2, "BUMMER\r")
        + box_step(25, 2, "") + box_step(2, 2, "FFFFFFFFFFFFFF\r"))
    put("box_link", "long_line_and_nul",
        box_step(2, 0, serial) + box_step(3, 3, "A" * 255) + box_step(3, 3, "B" * 255)
        + box_step(3, 3, "C" * 100 + "\r") + box_step(3, 3, "0D 16\x0001 07\r")
        + box_step(3, 3, "\n\r"))
    put("box_link", "bad_serial", box_step(2, 0, "01234\r") + box_step(15, 0, ""))
    put("box_link", "sends_fail",
        box_step(2, 0, serial, sends_fail=True) + box_step(12, 1, "", sends_fail=True)
        + box_step(25, 2, "", sends_fail=True))


def port_flags():
    put("port_flags", "all_zero", "990990990390")
    put("port_flags", "two_ones", "11990990990370")
    put("port_flags", "mixed", "2401990990990340")
    put("port_flags", "legacy_default", "001")
    put("port_flags", "settings",
        "ServerDomain=collect.example\nServerPort=8080\nLocalDir=C:\\data\\\n"
        "BoxRate=0\nUploadRate=6\nComPorts=11990990990370\nEncrypt=1\n")
    put("port_flags", "legacy_port", "ComPort=3\nLogging=0\n")
    put("port_flags", "empty_values", "ComPorts=\nLocalDir=\nServerDomain=\n")
    put("port_flags", "short_count", "ComPorts=21x25\n")


def cache_line(serial, date, hour, c1, c2):
    return "%s,%s,%02d,%05d,%05d\n" % (serial, date, hour, c1, c2)


def upload_batch():
    a, b = "0123456789abcd", "00000000000042"
    put("upload_batch", "two_lines_then_other_day",
        cache_line(a, "20070122", 13, 12, 34) + cache_line(a, "20070122", 13, 1, 2)
        + cache_line(a, "20070123", 0, 5, 5))
    put("upload_batch", "no_final_line_end", cache_line(a, "20070122", 13, 12, 34)[:-1])
    put("upload_batch", "interleaved",
        cache_line(a, "20070122", 1, 1, 1) + cache_line(b, "20070122", 1, 1, 1)
        + cache_line(a, "20070122", 2, 1, 1))
    put("upload_batch", "hour_24_and_empty_line",
        cache_line(a, "20070122", 24, 9, 9) + "\n" + cache_line(a, "20070122", 5, 1, 0))
    put("upload_batch", "bad_first_line", "garbage\n" + cache_line(a, "20070122", 5, 1, 0))
    put("upload_batch", "empty", "")


def server_reply():
    status = struct.pack("<H", 200)
    seed = struct.pack("<H", 0x1234)
    agree = b'<p id="server_response@xxxx01221305" title="200">ok</p>\n'
    put("server_reply", "clock_agrees", bytes([2]) + status + seed + agree)
    put("server_reply", "result_201_encrypted",
        bytes([3]) + status + seed + b'<html>\r\n<b id="server_response" title="201">\r\n')
    put("server_reply", "no_marker_404",
        bytes([2]) + struct.pack("<H", 404) + seed + b"<html>not found</html>\n")
    put("server_reply", "cut_short", bytes([0]) + status + seed + agree + agree[:20])
    put("server_reply", "marker_without_result",
        bytes([2]) + status + seed + b'id="server_response@12\nid="server_response title="\n')
    put("server_reply", "input_batch",
        bytes([7]) + status + seed + bytes(range(256)) + bytes(150) + agree)


def hour_record(total, month, day, year, hour):
    return struct.pack("<HBBHH", total, month, day, year, hour)


def database(records, count=None, header_rest=b"LEGACY-HEADER!"):
    count = len(records) if count is None else count
    return (struct.pack("<H", count) + header_rest + b"".join(records) + bytes(16))


def legacy_database():
    other = [hour_record(3, 1, 21, 7, h) for h in range(5)]
    put("legacy_database", "no_records_of_the_day", bytes([0]) + database(other))
    put("legacy_database", "existing_hour",
        bytes([0]) + database(other + [hour_record(40, 1, 22, 7, 13),
                                       hour_record(50, 1, 22, 2007, 13)]))
    put("legacy_database", "short_file", bytes([0]) + b"\x05\x00abc")
    put("legacy_database", "count_beyond_file",
        bytes([0]) + database(other, count=0xFFF0))
    day = struct.pack("<HBB", 17, 1, 22) + bytes([2]) \
        + bytes([13]) + struct.pack("<II", 100, 200) + bytes([23]) + struct.pack("<II", 1, 0)
    put("legacy_database", "input_day", bytes([1]) + day + database(other))
    put("legacy_database", "no_database_key", bytes([8]) + database(other))
    put("legacy_database", "raw_batch", bytes([4]) + bytes(range(256)) + bytes(150)
        + database(other))


def status_log():
    sep = ";" + "=" * 45 + "\r\n"
    download = (sep + ";Download initiated at 07/01/22 1306\r\n"
                ";Serial #0123456789abcd\r\n"
                "Download initiated from 0123456789abcd v 01\r\n"
                ";start 2007/01/22 @ 13:06:09\r\n"
                "record    1:0D 16 01 07 000C 0022 A6\r\n"
                "record    2:0E 16 01 07 0001 0002 D0\r\n"
                ";ended 2007/01/22 @ 13:06:09\r\n"
                ";clearing data...\r\n;Data successfully cleared.\r\n"
                + sep + ";Download initiated at 07/01/22 1306\r\n"
                ";Unable to open com port 1\r\n")
    upload = (sep + ";Upload initiated at 07/01/22 1306\r\n"
              "; Request /submitr?0123456789abcd20070122M0c22Y0\r\n"
              ";Upload successful.  Server response 200\r\n"
              ";The remote time has been set to system time.\r\n")
    failures = (sep + ";Download initiated at 07/01/22 1406\r\n"
                ";The unit is not responding to AutoSerial.\r\n"
                + sep + ";Download initiated at 07/01/22 1506\r\n"
                ";Serial #0123456789abcd\r\n"
                "Download initiated from 0123456789abcd v 01\r\n"
                ";start 2007/01/22 @ 15:06:09\r\n"
                ";Error downloading data. The data download is incomplete.\r\n"
                + sep + ";Upload initiated at 07/01/22 1536\r\n"
                "; Request /submitrs?1A2B0123456789012345\r\n"
                ";Upload failed.  Server response 0\r\n")
    shutdown = "=*" * 23 + "=\r\n;Service shutdown at 07/01/22 1600\r\n"
    put("status_log", "delivering", download + upload)
    put("status_log", "failing", download + upload + failures)
    put("status_log", "shut_down", download + upload + shutdown)
    put("status_log", "cut_mid_write", download + upload[:-20])
    put("status_log", "cache_lines", "0123456789abcd,20070122,13,00012,00034\n"
        "0123456789abcd,20070122,14,00001,00002\ngarbage\n0123456789abcd,2007")


if __name__ == "__main__":
    count_record()
    box_link()
    port_flags()
    upload_batch()
    server_reply()
    legacy_database()
    status_log()
