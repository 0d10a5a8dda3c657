#!/usr/bin/env python3
"""Builds the golden plot files and text exports byte by byte from the file
layouts, independently of the library's writers. Run from this folder; the
outputs are committed beside it.

Sample values follow one rule shared with the tests: the array passed as
argument a (0 = commanded position ... 12 = encoder 4, in call order) holds
value(a, i) = (a + 1) * 100 + i * 0.25 - 450 at sample i.
"""
import struct

# Call-order index of the array behind each channel bit.
ARG_OF_BIT = {0x01: 0, 0x02: 1, 0x04: 2, 0x08: 3, 0x400: 4, 0x800: 5,
              0x10: 6, 0x20: 7, 0x40: 8, 0x80: 9, 0x100: 10, 0x200: 12}
BLOCK_ORDER_40 = [0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x400, 0x800]
BLOCK_ORDER_41 = BLOCK_ORDER_40 + [0x100, 0x200]


def value(arg, i):
    return (arg + 1) * 100 + i * 0.25 - 450


def header4(version, mode, title, ts, gp, mask, left, right, count, sweep):
    h = bytearray(233)
    h[0:17] = version.encode()
    struct.pack_into('<h', h, 60, mode)
    t = title.encode()[:127]
    h[62:62 + len(t)] = t
    struct.pack_into('<d', h, 191, ts)
    struct.pack_into('<iiiii', h, 199, gp, mask, left, right, count)
    if mode == 2:
        sweep_mode, start, end, time = sweep
    else:
        sweep_mode, start, end, time = -1, -1.0, -1.0, -1.0
    struct.pack_into('<hfff', h, 219, sweep_mode, start, end, time)
    return bytes(h)


def plot4(path, version, order, mode, title, ts, gp, mask, left, right, count, sweep):
    data = header4(version, mode, title, ts, gp, mask, left, right, count, sweep)
    for bit in order:
        if mask & bit:
            data += b''.join(struct.pack('<d', value(ARG_OF_BIT[bit], i)) for i in range(count))
    open(path, 'wb').write(data)


def plot30(path, title, ts, factor, mask, left, right, per_row, rows):
    h = bytearray(214)
    h[0:17] = b'QEL Labrunner 3.0'
    t = title.encode()
    h[62:62 + len(t)] = t
    struct.pack_into('<dd', h, 142, ts, factor)
    struct.pack_into('<iiih', h, 158, mask, left, right, per_row)
    struct.pack_into('<i', h, 194, len(rows))
    data = bytes(h)
    for row in rows:
        assert len(row) == per_row
        data += b''.join(struct.pack('<d', v) for v in row)
    open(path, 'wb').write(data)


SWEEP = (3, 0.5, 20.0, 8.0)

# 4.1, mask 0x0D05, 100 samples, mode 1: blocks 0x01, 0x04, 0x400, 0x800, 0x100.
plot4('v41_mask0d05.plt', 'QEL Labrunner 4.1', BLOCK_ORDER_41, 1, 'Step response, plant 1',
      0.000884, 10, 0x0D05, 0x9, 0x80000, 100, SWEEP)
# 4.0: bits 0x100 and 0x200 stay in the mask but have no blocks.
plot4('v40_mask0703.plt', 'QEL Labrunner 4.0', BLOCK_ORDER_40, 1, 'Four oh', 0.000884, 10,
      0x0703, 0x3, 0x400, 20, SWEEP)
# 3.0, 4 values per row, mask 0x03: row i, column c holds 32 * ((c + 1) * 2 + i).
plot30('v30_mask0003.plt', 'Old plot', 0.000884, 10.0, 0x03, 0x1, 0x2, 4,
       [[32.0 * ((c + 1) * 2 + i) for c in range(4)] for i in range(5)])
# 3.0, 5 values per row, mask 0xC03: efforts in DAC counts in columns 3 and 4.
plot30('v30_mask0c03.plt', 'Old efforts', 0.000884, 2.0, 0xC03, 0x1, 0x80000, 5,
       [[32.0 * i, 99.0, -64.0 * i, 32767.0, -16384.0 + i] for i in range(3)])

# Text exports.
TIME_FACTOR = struct.unpack('<f', struct.pack('<f', 1.192093e-10))[0]


def export(path, titles, columns, count, gp, servo):
    """columns: (argument, format) per column, in column order."""
    text = ' Sample   Time   ' + ''.join(titles) + '\r\n\n'
    period = float(gp) * servo
    for i in range(count):
        row = '%c%5d %8.3f' % ('[' if i == 0 else ' ', i, period * i * TIME_FACTOR)
        for arg, fmt in columns:
            row += fmt % value(arg, i)
        text += row + (']\r\n' if i == count - 1 else ';\r\n')
    open(path, 'wb').write(text.encode())


# export_plot, kind 1, all ten channels (mask 0xCFF), 3 samples.
export('export_kind1_all.txt',
       ['  Commanded Pos ', '  Encoder 1 Pos ', '  Encoder 2 Pos ', '  Encoder 3 Pos ',
        '   Variable Q10 ', '   Variable Q11 ', '   Variable Q12 ', '   Variable Q13 ',
        '  Control Effort', '  Disturbance Effort'],
       [(a, ' %15.4f') for a in (0, 1, 2, 3, 6, 7, 8, 9, 4, 5)], 3, 10, 7427414)

# export_plot2, kind 11, decimals 3, mask 0x802: sensor 1 = 1.5, 2.25, -3.0 and
# argument 14 = 0.1, 0.2, 0.3 (written out by hand).
open('export2_kind11_mask802.txt', 'wb').write(
    b' Sample   Time     Sensor 1 Pos    Control Effort 2\r\n\n'
    b'[    0    0.000           1.500          0.1000;\r\n'
    b'     1    0.009           2.250          0.2000;\r\n'
    b'     2    0.018          -3.000          0.3000]\r\n')
