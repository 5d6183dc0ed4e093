#!/usr/bin/env python3
"""Makes the firmware set this build carries: two application images as the
PIC toolchains would write them in Intel HEX.

    tools/fwgen/make_firmware.py [output folder, default firmware/]

Run by hand when the images should change; the build only reads the HEX
files. The output is the same on every run (fixed seeds).

  pic24hj64_app.hex    PIC24HJ64: 30968 image bytes (7742 instruction words,
                       four HEX bytes each, phantom byte included); identity
                       word at program address 0x200 (image bytes 1024, 1025).
  pic18f26k80_app.hex  PIC18F26K80: 10401 program bytes, identity at bytes 14
                       and 15, and 1024 data EEPROM bytes at 0xF00000.

Both start with a reset GOTO to the application's start, which the updater
keeps as the Fix tail while it sends a GOTO into the bootloader instead.
"""
import os
import random
import sys

PIC24_WORDS = 7742           # 30968 bytes
PIC24_PRINT, PIC24_PREPARATION = 16, 0x04
PIC18_BYTES = 10401
PIC18_PRINT, PIC18_PREPARATION = 20, 0x0A
EEPROM_BYTES = 1024


def hex_records(chunks, width=16):
    """chunks: list of (hex address, bytes). Yields Intel HEX lines."""
    def record(rtype, address, data):
        body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, rtype]) + bytes(data)
        return ":" + body.hex().upper() + "%02X" % ((-sum(body)) & 0xFF)

    upper = None
    for start, data in chunks:
        for offset in range(0, len(data), width):
            address = start + offset
            piece = data[offset:offset + width]
            if address >> 16 != upper:
                upper = address >> 16
                yield record(0x04, 0, [upper >> 8, upper & 0xFF])
            yield record(0x00, address & 0xFFFF, piece)
    yield record(0x01, 0, [])


def write_hex(path, chunks):
    with open(path, "w", newline="\n") as f:
        for line in hex_records(chunks):
            f.write(line + "\n")


# ---------------------------------------------------------------- PIC24 ----

def pic24_word(insn):
    """One 24-bit instruction in image form: low, middle, high, phantom 0."""
    return [insn & 0xFF, (insn >> 8) & 0xFF, (insn >> 16) & 0xFF, 0x00]


def pic24_goto(target):
    return pic24_word(0x040000 | (target & 0xFFFE)) + pic24_word((target >> 16) & 0x7F)


def pic24_call(target):
    return pic24_word(0x020000 | (target & 0xFFFE)) + pic24_word((target >> 16) & 0x7F)


def pic24_function(rng, callees):
    """A plausible routine: register moves, arithmetic, SFR access, calls."""
    words = []
    for _ in range(rng.randint(12, 60)):
        kind = rng.randrange(8)
        d, s = rng.randrange(15), rng.randrange(15)
        if kind == 0:    # MOV #lit16, Wd
            words += pic24_word(0x200000 | (rng.randrange(0x10000) << 4) | d)
        elif kind == 1:  # MOV Ws, Wd
            words += pic24_word(0x780000 | (d << 7) | s)
        elif kind == 2:  # ADD Wb, Ws, Wd
            words += pic24_word(0x400000 | (rng.randrange(15) << 15) | (d << 7) | s)
        elif kind == 3:  # MOV Wd, SFR
            words += pic24_word(0x880000 | ((rng.randrange(0x0200, 0x0800) >> 1) << 4) | d)
        elif kind == 4:  # MOV SFR, Wd
            words += pic24_word(0x800000 | ((rng.randrange(0x0200, 0x0800) >> 1) << 4) | d)
        elif kind == 5 and callees:  # CALL an earlier routine
            words += pic24_call(rng.choice(callees))
        elif kind == 6:  # BRA short forward
            words += pic24_word(0x370000 | rng.randrange(1, 4))
        else:            # BSET SFR, #bit
            words += pic24_word(0xA80000 | (rng.randrange(8) << 13) | rng.randrange(0x0200, 0x0800, 2))
    return words + pic24_word(0x060000)  # RETURN


def make_pic24():
    rng = random.Random(2405)
    default_isr = 0x0204
    image = pic24_goto(0x0202)                       # reset: GOTO __reset
    while len(image) < 0x200 * 2:                    # IVT and AIVT
        image += pic24_word(default_isr)
    image += [PIC24_PRINT, PIC24_PREPARATION, 0, 0]  # identity word at 0x200
    assert len(image) == 0x202 * 2

    # __reset: BRA over the default handler, then stack set-up and the call
    # of main, whose address is fixed up once the routines are laid out.
    image += pic24_word(0x370001)                    # 0x202 BRA 0x206
    image += pic24_word(0x064000)                    # 0x204 __DefaultInterrupt: RETFIE
    image += pic24_word(0x208000 | 0xF)              # MOV #0x0800, W15
    image += pic24_word(0x27FF00 | 0x0)              # MOV #0x7FF0, W0
    image += pic24_word(0x880100 | 0x0)              # MOV W0, SPLIM
    call_main_at = len(image)
    image += pic24_call(0)                           # CALL main (fixed up below)
    image += pic24_word(0xFE0000)                    # RESET

    # Constant tables read through PSV: a sine table and a CRC-16 table.
    import math
    sine = [int(round(32767 * math.sin(2 * math.pi * i / 256))) & 0xFFFF for i in range(256)]
    crc = []
    for i in range(256):
        c = i << 8
        for _ in range(8):
            c = ((c << 1) ^ 0x1021) if c & 0x8000 else (c << 1)
        crc.append(c & 0xFFFF)
    text = b"VEX 1C application 01.05.00.02\0"
    tables = []
    for v in sine + crc:
        tables += [v & 0xFF, v >> 8, 0, 0]
    for i in range(0, len(text), 2):
        pair = text[i:i + 2] + b"\0"
        tables += [pair[0], pair[1], 0, 0]

    routines = []
    end = PIC24_WORDS * 4 - len(tables)
    while True:
        routine = pic24_function(rng, routines)
        if len(image) + len(routine) > end:
            break
        routines.append(len(image) // 2)
        image += routine
    while len(image) < end:
        image += pic24_word(0x000000)                # NOP padding before the tables
    image[call_main_at:call_main_at + 8] = pic24_call(routines[-1])
    image += tables
    assert len(image) == PIC24_WORDS * 4
    return image


# ---------------------------------------------------------------- PIC18 ----

def pic18_word(w):
    return [w & 0xFF, w >> 8]


def pic18_goto(target):
    w = target >> 1
    return pic18_word(0xEF00 | (w & 0xFF)) + pic18_word(0xF000 | ((w >> 8) & 0xFFF))


def pic18_call(target):
    w = target >> 1
    return pic18_word(0xEC00 | (w & 0xFF)) + pic18_word(0xF000 | ((w >> 8) & 0xFFF))


def pic18_function(rng, callees):
    words = []
    for _ in range(rng.randint(10, 50)):
        kind = rng.randrange(9)
        f = rng.randrange(0x60, 0x100)
        if kind == 0:
            words += pic18_word(0x0E00 | rng.randrange(256))          # MOVLW k
        elif kind == 1:
            words += pic18_word(0x6E00 | f)                           # MOVWF f
        elif kind == 2:
            words += pic18_word(0x5000 | f)                           # MOVF f, W
        elif kind == 3:
            words += pic18_word(0x8000 | (rng.randrange(8) << 9) | f)  # BSF f, b
        elif kind == 4:
            words += pic18_word(0x9000 | (rng.randrange(8) << 9) | f)  # BCF f, b
        elif kind == 5:
            words += pic18_word(0x2600 | f)                           # ADDWF f, F
        elif kind == 6 and callees:
            words += pic18_call(rng.choice(callees))
        elif kind == 7:
            words += pic18_word(0x6A00 | f)                           # CLRF f
        else:
            words += pic18_word(0xA000 | (rng.randrange(8) << 9) | f)  # BTFSS f, b
    return words + pic18_word(0x0012)                                  # RETURN


def make_pic18():
    rng = random.Random(2680)
    image = pic18_goto(0x0040) + [0, 0, 0, 0]        # reset: GOTO main, two NOPs
    image += pic18_goto(0x0030)                      # 0x0008 high-priority vector
    image += [0, 0, PIC18_PRINT, PIC18_PREPARATION]  # identity at bytes 14, 15
    image += [0] * 8                                 # NOPs up to 0x0018
    image += pic18_goto(0x0036)                      # 0x0018 low-priority vector
    image += [0] * (0x30 - len(image))
    image += pic18_word(0x0011)                      # 0x0030 high ISR: RETFIE FAST
    image += [0] * 4
    image += pic18_word(0x0010)                      # 0x0036 low ISR: RETFIE
    image += [0] * (0x40 - len(image))
    call_main_at = len(image)                        # 0x0040 start-up
    image += pic18_call(0)
    image += pic18_word(0x00FF)                      # RESET

    # Message table (RETLW-free "db" strings read with TBLRD), odd in length
    # as C strings packed by the compiler often are.
    messages = b"".join(m + b"\0" for m in (
        b"VEX 1C", b"01.05.00.02", b"CAN ready", b"EEPROM ok", b"EEPROM fault",
        b"Bus off", b"Watchdog", b"Low voltage"))
    if len(messages) % 2 == 0:
        messages += b"\0"
    routines = []
    end = PIC18_BYTES - len(messages)
    while True:
        routine = pic18_function(rng, routines)
        if len(image) + len(routine) > end:
            break
        routines.append(len(image))
        image += routine
    while len(image) < end:
        image += [0]                                 # NOP padding
    image[call_main_at:call_main_at + 4] = pic18_call(routines[-1])
    image += list(messages)
    assert len(image) == PIC18_BYTES
    return image


def make_eeprom():
    rng = random.Random(1024)
    data = [0xFF] * EEPROM_BYTES
    header = list(b"KV") + [0x01, 0x05, 0x00, 0x02]   # magic, layout version
    data[0:len(header)] = header
    data[0x10:0x14] = [0x00, 0x01, 0x86, 0xA0]         # CAN bit rate 100000
    data[0x14:0x16] = [0x07, 0xE0]                     # CAN identifier 0x7E0
    for i in range(64):                                # calibration, 64 words
        v = 0x8000 + rng.randrange(-600, 600)
        data[0x40 + 2 * i:0x42 + 2 * i] = [v >> 8, v & 0xFF]
    name = b"VEX 1C\0"
    data[0xC0:0xC0 + len(name)] = list(name)
    crc = sum(data[:0x3FE]) & 0xFFFF                   # additive check word
    data[0x3FE:0x400] = [crc >> 8, crc & 0xFF]
    return data


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "firmware")
    write_hex(os.path.join(out, "pic24hj64_app.hex"), [(0, make_pic24())])
    write_hex(os.path.join(out, "pic18f26k80_app.hex"), [(0, make_pic18()), (0xF00000, make_eeprom())])


if __name__ == "__main__":
    main()
