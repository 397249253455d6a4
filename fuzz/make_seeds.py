#!/usr/bin/env python3
"""Writes the seed corpus under fuzz/corpus/<target>/ (run from anywhere)."""
import os, struct

here = os.path.dirname(os.path.abspath(__file__))

def put(target, name, data):
    d = os.path.join(here, "corpus", target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)

# Parameter markers: quotes of three kinds, "::", names ending at each stop.
for i, s in enumerate([
    "select * from t where a = :a and b = :b",
    "select ':not' , \"x:y\" , `z:w` , a::int from t",
    "exec p :x,:y;:z)",
    "select :'quoted name' from t",
    "select 'unclosed :a",
    "update t set c = :\r\n where d = :d\n",
    "select N'数据库:名' , :参数 from t",
    ":",
    "::::",
]):
    put("markers", "seed%02d" % i, s)

# A log entry: one byte whose lowest bit says whether the memo ends at a line
# start, then the entry text.
for i, (at_start, entry) in enumerate([
    (1, "成功登录数据库服务器:[127.0.0.1,1433]"),
    (1, "备份数据库\r\nuse master\r\n操作成功"),
    (0, "x"),
    (0, "a\r\nb\nc\rd"),
    (1, "😀 emoji"),
]):
    put("oplog", "seed%02d" % i, bytes([at_start]) + entry.encode())

# RPC parameters: name (B_VARCHAR), status, TYPE_INFO, value.
def bname(n):
    u = n.encode("utf-16-le")
    return bytes([len(n)]) + u
coll = b"\x04\x08\xd0\x00\x00"
nv = "数据".encode("utf-16-le")
put("rpcparam", "int", bname("@a") + b"\x00" + b"\x26\x04" + b"\x04" + struct.pack("<i", 42))
put("rpcparam", "nvarchar", bname("@s") + b"\x00" + b"\xe7" + struct.pack("<H", 40) + coll
    + struct.pack("<H", len(nv)) + nv)
put("rpcparam", "nvarcharmax", bname("@m") + b"\x01" + b"\xe7\xff\xff" + coll
    + struct.pack("<Q", 0xFFFFFFFFFFFFFFFE) + struct.pack("<I", len(nv)) + nv + struct.pack("<I", 0))
put("rpcparam", "null_int", bname("") + b"\x00" + b"\x26\x04\x00")
put("rpcparam", "varchar", bname("@v") + b"\x00" + b"\xa7" + struct.pack("<H", 10) + coll
    + struct.pack("<H", 3) + b"abc")
put("rpcparam", "decimal", bname("@d") + b"\x00" + b"\x6a\x11\x0a\x02" + b"\x05\x01" + struct.pack("<I", 12345))
put("rpcparam", "datetime", bname("@t") + b"\x00" + b"\x6f\x08\x08" + struct.pack("<iI", 45000, 300))

# A client's byte stream: PRELOGIN, LOGIN7 (sa / pw), then requests.
def packet(ptype, payload, status=1):
    return struct.pack(">BBHHBB", ptype, status, 8 + len(payload), 0, 1, 0) + payload

def prelogin():
    opts = [(0, b"\x0b\x00\x00\x00\x00\x00"), (1, b"\x02"), (2, b"\x00"), (3, b"\x00\x00\x00\x00"), (4, b"\x00")]
    head_len = len(opts) * 5 + 1
    head, data = b"", b""
    for oid, val in opts:
        head += struct.pack(">BHH", oid, head_len + len(data), len(val))
        data += val
    return head + b"\xff" + data

def login7(user, pwd, db="", version=0x74000004):
    def enc_pwd(p):
        out = bytearray()
        for b in p.encode("utf-16-le"):
            b = ((b << 4) & 0xF0) | (b >> 4)
            out.append(b ^ 0xA5)
        return bytes(out)
    fields = ["host", user, None, "fuzz", "srv", "", "ODBC", "", db]
    fixed = 94
    offs, blob = [], b""
    for k, v in enumerate(fields):
        if v is None:
            raw, n = enc_pwd(pwd), len(pwd)
        else:
            raw, n = v.encode("utf-16-le"), len(v)
        offs.append((fixed + len(blob), n))
        blob += raw
    body = struct.pack("<IIIIII", 0, version, 4096, 7, 1234, 0)
    body += bytes([0xE0, 0x03, 0x00, 0x00]) + struct.pack("<iI", 0, 0x409)
    for off, n in offs:
        body += struct.pack("<HH", off, n)
    body += b"\x00" * 6 + struct.pack("<HH", fixed + len(blob), 0) + struct.pack("<HHHHI", 0, 0, 0, 0, 0)
    assert len(body) == fixed, len(body)
    body += blob
    return struct.pack("<I", len(body)) + body[4:]

def batch(sql):
    # ALL_HEADERS with the transaction descriptor, then UCS-2 text.
    hdr = struct.pack("<IIHQI", 22, 18, 2, 0, 1)
    return hdr + sql.encode("utf-16-le")

stream = packet(0x12, prelogin()) + packet(0x10, login7("sa", "pw"))
put("tdsstream", "login_only", stream)
put("tdsstream", "prelogin_only", packet(0x12, prelogin()))
put("tdsstream", "login_badpwd", packet(0x12, prelogin()) + packet(0x10, login7("sa", "nope")))
put("tdsstream", "login_71", packet(0x12, prelogin()) + packet(0x10, login7("sa", "pw", version=0x71000001)))
put("tdsstream", "select", stream + packet(0x01, batch("select name from master..sysdatabases order by name")))
put("tdsstream", "create_drop", stream + packet(0x01, batch("create database fz\r\ndrop database fz\r\n")))
put("tdsstream", "attention", stream + packet(0x01, batch("waitfor delay '00:00:01'")) + packet(0x06, b""))
# Split batch over two packets (status 0 then end-of-message).
b = batch("select 1 as a, N'数据' as b")
put("tdsstream", "split", stream + packet(0x01, b[:10], status=0) + packet(0x01, b[10:]))
