#!/usr/bin/env python3
"""Writes the inputs of the fuzz targets into corpus/<target>/: seed-* files
built here from the protocols' published shapes (not by the code under test),
and repro-* files, the inputs of faults found by fuzzing, kept so the replay
shows each stays mended. Inputs that libFuzzer adds to a corpus are kept as
they are. Fields of one input are separated by the byte 0xFF
(tests/fuzz/FuzzSupport.h).
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SEP = b"\xff"


def write(target, name, data, kind="seed"):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, kind + "-" + name), "wb") as f:
        f.write(data)


def reproducers():
    # A packet number that overflowed the parser's int (undefined behaviour).
    write("Cimd2Packet", "number-overflow", bytes.fromhex("0234333036303034303031 3a 09 03"), "repro")
    # 4294967347 wrapped to 51 and read as a login response.
    write("Cimd2Packet", "wraps-to-login-resp", b"\x024294967347:001\t\x03", "repro")
    # Character references and overlong UTF-8 forged reply lines.
    write("WctpReply", "forged-line", b'<?xml version="1.0"?><r><wctp-ClientSuccess successCode="200" '
          b'trackingNumber="a&#13;&#10;errorText=x"/></r>', "repro")
    write("WctpReply", "overlong-crlf", b'<?xml version="1.0"?><r><wctp-ClientSuccess '
          b'trackingNumber="a\xc0\x8d\xc0\x8aerrorText=x"/></r>', "repro")
    write("Win1252", "overlong-crlf", bytes.fromhex("c08dc08a"), "repro")
    # RecordSize 1 made every byte of an older provider file a whole record.
    write("RecordFile", "record-size-1", b"\x00" + record_header(1, b"QXDB 7.5") + b"p" * 4096, "repro")
    # A quoted value lost its quotes at the next save.
    write("ConfigDat", "quoted-password", b"'abc'" + SEP + b"[Server]\r\nPassword=x\r\n", "repro")


def cimd2(body):
    raw = b"\x02" + body
    return raw + b"%02X" % (sum(raw) & 0xFF) + b"\x03"


def dns_mx_answer():
    header = struct.pack(">HHHHHH", 0x1234, 0x8180, 1, 2, 0, 0)
    qname = b"\x07example\x03com\x00"
    question = qname + struct.pack(">HH", 15, 1)
    answers = b""
    for pref, host in ((10, b"\x04mail\xc0\x0c"), (5, b"\x02mx\x01b\xc0\x0c")):
        rdata = struct.pack(">H", pref) + host
        answers += b"\xc0\x0c" + struct.pack(">HHIH", 15, 1, 300, len(rdata)) + rdata
    return header + question + answers


def record_header(size, version):
    head = bytearray(57)
    head[0:4] = struct.pack("<i", size)
    head[20] = len(version)
    head[21:21 + len(version)] = version
    return bytes(head)


def mcf(block):
    header = struct.pack("<IIIIII", 24 + len(block), 24 + len(block), 24 + len(block), 1, len(block), 24)
    return header + block


def main():
    write("Cimd2Packet", "login-resp", cimd2(b"51:001\t"))
    write("Cimd2Packet", "submit-resp", cimd2(b"53:003\t021:555\t060:261210120000\t"))
    write("Cimd2Packet", "nack", b"noise\x0299:005\t900:100\t901:Syntax error\t\x03")
    write("Cimd2Packet", "two", cimd2(b"52:007\t") + cimd2(b"90:009\t"))

    write("Win1252", "text", "caf\u00e9 \u20ac \u2122 a\u00a9b".encode("utf-8"))
    write("Win1252", "c1", bytes(range(0x80, 0xA0)))
    write("Win1252", "surrogate", b"\xed\xa0\x80x\xf4\x90\x80\x80")

    ok = b"\x01A1,555,1234\x02Hello there\x03\x04\r\n"
    write("EncoderFrame", "ok", b"\x20\x00" + ok)
    write("EncoderFrame", "truncate", b"\x15\x01" + ok + b"\x013,5551234\x02x\x03\x04")
    write("EncoderFrame", "multiline", b"\x20\x00\x01AB123\x02line one\r\nline two\x03\x04\r\n\x01A\x02\x03\x04")

    write("TapReply", "login", b"\x98\x01" + b"5551234" + SEP + b"Hello TAP world " * 20 + SEP
          + b"ID=\r\x1b[p\r110 1.8\r\x06\r\x1b\x04\r")
    write("TapReply", "blocks", b"\x10\x00" + b"1" * 75 + SEP + b"x\x02y\x03z\x1b\r\n\xe9" * 40 + SEP
          + b"\r\x15\r\r\x06\r\x1e\r\n\x1b\x04\r")

    # The pager's dialogue: flags (mode, Nextel, errors shown, line ends,
    # reverse), message length, PIN, message, then one answer per write.
    def tap_dialogue(flags, length, message, *answers):
        return bytes([flags, length]) + b"5551234" + SEP + message + SEP + SEP.join(answers)
    write("TapPagerWait", "direct-ack", tap_dialogue(0x01, 80, b"Hello", b"ID=", b"110 1.8\r\x1b[p\r", b"\x06\r"))
    write("TapPagerWait", "tcp-nak-then-ack", tap_dialogue(0x02, 20, b"Two blocks of a page " * 3, b"\rID=",
                                                           b"\x06\r", b"\x15\r", b"\x06\r", b"\r\x06\r",
                                                           b"\n\x06\r"))
    write("TapPagerWait", "modem-relogin-denied", tap_dialogue(0x00, 140, b"x", b"I", b"D=", b"\x15\r",
                                                               b"\x1b\x04\r"))
    write("TapPagerWait", "nextel-id", tap_dialogue(0x06, 140, b"Query me",
                                                    b"ID=", b"\x1b[p\r", b"211 send successful - 4711 \x06\r",
                                                    b"211 query successful - 4711 \x06\r"))
    write("TapPagerWait", "silent-ends", tap_dialogue(0x19, 140, b"Nobody answers", b"ID=\x00"))
    write("TapPagerWait", "invalid-pin", tap_dialogue(0x21, 5, b"Reverse order", b"ID=", b"\x06\r",
                                                      b"\x1e\r"))

    # The modem line: flags (blind, S7, pulse, line ends, DTR hang-up, extra
    # init), unsolicited lines, operations (0 dial, 1 passthrough, 2 answer,
    # 3 drop, 4 use the call), then the modem's answer to each write.
    def hayes(flags, unsolicited, ops, *answers):
        return bytes([flags]) + unsolicited + SEP + bytes(ops) + SEP + SEP.join(answers)
    write("HayesResult", "dial-connect", hayes(0x10, b"", [0, 4, 3], b"ATZ\r\r\nOK\r\n", b"\r\nOK\r\n",
                                               b"\r\nCONNECT 9600/ARQ\r\nID=", b"\x06\r", b"",
                                               b"\r\nOK\r\n", b"\r\nOK\r\n"))
    write("HayesResult", "busy-then-no-carrier", hayes(0x07, b"", [0, 0], b"OK\r", b"OK\r", b"OK\r", b"OK\r",
                                                       b"\r\nBUSY\r\n", b"OK\r", b"OK\r", b"OK\r", b"OK\r",
                                                       b"\nNO CARRIER\n"))
    write("HayesResult", "ring-answer", hayes(0x28, b"\r\nRING\r\n\r\nRING\r\n", [2, 4, 4, 3],
                                              b"\r\nCONNECT\r\n", b"data", b"\r\nNO CARRIER\r\n"))
    write("HayesResult", "init-error", hayes(0x00, b"\x00\x7f", [0, 1, 4, 3], b"\r\nERROR\r\n"))
    write("HayesResult", "silent", hayes(0x00, b"", [0, 2, 3]))

    # The GSM receive thread: the text-line wait (x 40 ms), polls, then the
    # reads of the port, one per field.
    def gsm_rx(wait, polls, *reads):
        return bytes([wait, polls]) + SEP.join(reads)
    cmt = b'+CMT: "+4917012345",,"26/12/11,09:00:00+04"\r\n'
    write("GsmIndication", "one", gsm_rx(25, 0, b"\r\n" + cmt + b"Hello there\r\n"))
    write("GsmIndication", "split", gsm_rx(25, 1, b"noise", cmt[:9], cmt[9:] + b"Hel", b"lo\r\n"))
    write("GsmIndication", "alpha-and-two", gsm_rx(5, 2, b'+CMT: "0123","Alice","26/12/11,09:00:00+04"\r\nx\r\n'
                                                   + cmt + b"second\r\n"))
    write("GsmIndication", "others", gsm_rx(1, 3, b'\r\n+CMTI: "SM",3\r\n', b'+CDS: 6,17,"0123",129\r\n',
                                            b"\r\nOK\r\n", b"+CMS ERROR: 500\r\n"))
    write("GsmIndication", "never-ends", gsm_rx(255, 0, cmt + b"no line end"))

    bind_resp = struct.pack(">IIII", 16 + 5, 0x80000002, 0, 1) + b"SMSC\x00"
    submit_resp = struct.pack(">IIII", 16 + 9, 0x80000004, 0, 2) + b"ab12cd34\x00"
    query_body = b"ab12cd34\x00" + b"261210120000000+\x00" + b"\x02" + b"\x00"
    query_resp = struct.pack(">IIII", 16 + len(query_body), 0x80000003, 0, 3) + query_body
    write("SmppPdu", "session", bind_resp + submit_resp + query_resp)
    write("SmppPdu", "nack", struct.pack(">IIII", 16, 0x80000000, 0x0E, 4))
    write("SmppPdu", "huge", struct.pack(">IIII", 0xFFFFFFF0, 0x80000004, 0, 5))

    # SNPP: flags (1 LOGI, 2 COVE, 4 2WAY, 8 reverse, 16 numeric only, 32 parts of 40), the
    # message, then the server's bytes as they arrive (RFC 1861 replies, level 3 for 2WAY).
    snpp_ok = [b"220 SNPP Gateway Ready\r\n", b"250 Login OK\r\n", b"250 Coverage OK\r\n",
               b"250 Pager ID Accepted\r\n", b"250 Message OK\r\n", b"250 Message Sent Successfully\r\n",
               b"221 Bye\r\n"]
    write("SnppReply", "one-way", b"\x03" + b"Hello there" + SEP + SEP.join(snpp_ok))
    write("SnppReply", "two-way", b"\x04" + b"hi" + SEP + SEP.join(
        [b"220 ready\r\n", b"250 2WAY OK\r\n", b"250 OK\r\n", b"250 OK\r\n", b"860 ABC123 XYZ Queued\r\n"]))
    write("SnppReply", "parts-cut-lines", b"\x28" + b"call me at 555 1234 when you can, " * 4 + SEP + SEP.join(
        [b"220 re", b"ady\n250 ", b"OK\r", b"\n250 OK\r\n250 OK\r\n", b"250 Sent\r\n221 Bye\r\n"]))
    write("SnppReply", "refusals", b"\x05" + b"MSTA ABC123" + SEP + SEP.join(
        [b"220 x\r\n", b"421 Too busy\r\n", b"550 Error\r\n", b"x" * 5000, b"\r\n"]))

    # SMPP and CIMD2 sessions: flags (1 CIMD2, 2 status query, 4 several parts, 8 reverse), then
    # the centre's bytes as they arrive, for a client whose sequence and packet numbers start at 1.
    def pdu(command, seq, body=b"", status=0):
        return struct.pack(">IIII", 16 + len(body), command, status, seq) + body
    write("SmppSession", "submit", b"\x00" + SEP.join(
        [pdu(0x80000002, 1, b"SMSC\x00"), pdu(0x00000015, 7)[:9], pdu(0x00000015, 7)[9:],
         pdu(0x80000004, 2, b"ab12cd34\x00"), pdu(0x80000006, 3)]))
    write("SmppSession", "query", b"\x02" + SEP.join(
        [pdu(0x80000002, 1, b"SMSC\x00"), pdu(0x80000003, 2, query_body), pdu(0x80000006, 3)]))
    write("SmppSession", "refused", b"\x04" + SEP.join(
        [pdu(0x80000002, 1, b"SMSC\x00"), pdu(0x80000004, 2, b"\x00", 0x45), pdu(0x80000000, 0, b"", 3)]))
    write("SmppSession", "cimd2-submit", b"\x01" + SEP.join(
        [cimd2(b"51:001\t"), cimd2(b"53:003\t021:5551234\t060:261210120000\t"), cimd2(b"52:005\t")]))
    write("SmppSession", "cimd2-query", b"\x03" + SEP.join(
        [cimd2(b"51:001\t"), b"junk", cimd2(b"54:003\t021:5551234\t060:261210120000\t061:2\t"),
         cimd2(b"52:005\t")]))

    write("TnppPacket", "idpage", b"\x00\x01\x12\x34\x03\x01" + b"12345" + SEP + b"Page text"
          + SEP + b"\x01000103000100\x02B@12345     Page text\x03\x12\x34")
    write("TnppPacket", "linkstart", b"\x01\x0000000000000\x02\x03\x00\x00")

    write("GsmPdu", "national", b"" + SEP + b"0123456789" + SEP + b"Hello [world] \x80 {x}")
    write("GsmPdu", "centre", b"+491710760000" + SEP + b"+4917012345" + SEP + b"long text " * 40)
    write("GsmPdu", "bad", b"12a" + SEP + b"+" + SEP + b"\xff")

    write("GsmAtReply", "cmgs", b"\x03\x01" + b"AT+CMGS=\"0123\"\r" + SEP + b"AT+CMGS=\"0123\"\r\r\n> ")
    write("GsmAtReply", "ident", b"\x05\x00" + b"AT+CGMI\r" + SEP + b"AT+CGMI\r\r\n+CGMI: Nokia\r\n\r\nOK\r\n")
    write("GsmAtReply", "error", b"\x01\x00" + b"AT+CREG?\r" + SEP
          + b"\r\n+CREG: 0,1\r\n\"a\",\"b\",\"c\"\r\n+CMS ERROR: 500\r\n")

    success = (b'<?xml version="1.0"?><wctp-Operation wctpVersion="wctp-dtd-v1r1"><wctp-SubmitClientResponse>'
               b'<wctp-ClientSuccess successCode="200" successText="Message Accepted" trackingNumber="T42"/>'
               b'</wctp-SubmitClientResponse></wctp-Operation>')
    write("WctpReply", "success", success)
    write("WctpReply", "failure", b'<?xml version="1.0"?><wctp-Operation><wctp-Failure errorCode="401" '
          b'errorText="Invalid PIN"/></wctp-Operation>')
    write("WctpReply", "query", b'<?xml version="1.0"?><wctp-Operation><wctp-QueryResponse>'
          b'<wctp-ClientResponseHeader responseTimestamp="2024-01-01T00:00:00" trackingNumber="T42"/>'
          b'<wctp-Notification type="Delivered"/><wctp-Alphanumeric>line\r\ntwo</wctp-Alphanumeric>'
          b'</wctp-QueryResponse><wctp-NoMessages/></wctp-Operation>')
    write("WctpReply", "latin1", b'<?xml version="1.0" encoding="ISO-8859-1"?><r>'
          b'<wctp-Success successText="caf\xe9"/><wctp-Error errorText="x"/></r>')

    write("MxAnswer", "two-mx", dns_mx_answer())

    config = (b"[Nerivale Port]\r\nTimeOut=60\r\nLength=160\r\nTruncateMsgs=0\r\nEnabled=1\r\nComPort=0\r\n"
              b"[WCTP]\r\nWCTPSenderID=NOYB\r\nWCTPFOBSSL=1\r\n[SMTP]\r\nServer=\"mail.example\"\r\nPort=25\r\n"
              b"[TNPP]\r\nSourceAddr=$1F\r\nDestAddr=0x10\r\n[sms]\r\ncomport=2\r\n[Server]\r\nPassword='pw'\r\n")
    write("ConfigDat", "quoted", b"'abc'" + SEP + config)
    write("ConfigDat", "blanks", b" \"x\" " + SEP + b"; comment\n[A]\rk = v\n[a]\nk=2")

    provider75 = record_header(2511, b"QXDB 7.5") + b"\x07Carrier" + bytes(2503) + bytes(2511)
    write("RecordFile", "provider-7.5", b"\x00" + provider75)
    write("RecordFile", "route-1.0", b"\x02" + record_header(440, b"QXDB 1.0") + b"\x07Default" + bytes(432))
    write("RecordFile", "port-too-old", b"\x81" + record_header(649, b"QXDB 6.9") + bytes(649))
    write("RecordFile", "group-current", b"\x04" + record_header(361, b"QXDB 7.1") + bytes(361))

    write("ModemConfig", "full", mcf(b"NVMCF 1\r\nSpeed=9600\r\nDataBits=7\r\nParity=E\r\nStopBits=1\r\n"
                                     b"Flow=RtsCts\r\nExtraInit=AT&K3\r\nDial=Tone\r\nBlindDial=0\r\n"
                                     b"DialTimeout=60\r\nLater=1\r\n"))
    write("ModemConfig", "windows", struct.pack("<IIIIII", 40, 40, 40, 1, 16, 24) + bytes(16))

    write("ModemsIni", "two-lines", b"[Line0]\r\nName=USR\r\nDevice=/dev/ttyS0\r\nInit=ATZ|AT&F\r\n"
          b"[line255]\r\nName=Last\r\nHangup=ATH\r\n[Line256]\r\nName=Out\r\n")
    write("InstallFile", "full", b"[Nerivale]\r\nInstallDir=/opt/nerivale\r\nVersion=1.0.0.0\r\n"
          b"CommonAppData=/var/lib\r\n")
    write("InstallFile", "empty-values", b"[nerivale]\nInstallDir=\nCommonAppData=\"\"\n")

    write("PipeMessage", "page", b"cmd=page\r\npin=5551234\r\nmsg=Hello\r\n")
    write("PipeMessage", "fields", b"cmd" + SEP + b"log" + SEP + b"text" + SEP + b"a=b" + SEP + b"CMD" + SEP + b"x")


if __name__ == "__main__":
    main()
    reproducers()
