#!/usr/bin/env python3
"""Gives a type library made by widl a fixed time instead of the time of the build.

widl writes the build time twice into the library's custom data: as text,
"Created by WIDL version V at <ctime>\\n", and as a 32-bit time value. Both
become SOURCE_DATE_EPOCH (the commit's time), so one source always gives the
same bytes. Without SOURCE_DATE_EPOCH the file is left as it is.

    stamp_type_library.py LIBRARY.tlb
"""
import calendar
import os
import re
import struct
import sys
import time

STAMP = re.compile(rb'(Created by WIDL version [^\n]* at )([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4})\n')
VT_UI4_MARK = b'WW\x13\x00'   # a custom value in the library: magic, then VT_UI4


def stamp(data: bytes, epoch: int) -> bytes:
    match = STAMP.search(data)
    if not match:
        raise ValueError('no widl creation stamp found')
    written = match.group(2).decode('ascii')
    # ctime() is local time; the value beside it is the same moment.
    built = int(time.mktime(time.strptime(written, '%a %b %d %H:%M:%S %Y')))
    fixed = time.strftime('%a %b %e %H:%M:%S %Y', time.gmtime(epoch)).encode('ascii')
    assert len(fixed) == len(match.group(2))
    data = data[:match.start(2)] + fixed + data[match.end(2):]
    # The time value follows the text; widl may read the clock a second later.
    for offset in range(match.end(), len(data) - 8):
        if data[offset:offset + 4] != VT_UI4_MARK:
            continue
        (value,) = struct.unpack_from('<I', data, offset + 4)
        if built - 2 <= value <= built + 2:
            return data[:offset + 4] + struct.pack('<I', epoch) + data[offset + 8:]
    raise ValueError('no widl time value found')


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    epoch = os.environ.get('SOURCE_DATE_EPOCH')
    if not epoch:
        return 0
    path = sys.argv[1]
    with open(path, 'rb') as f:
        data = f.read()
    try:
        data = stamp(data, int(epoch))
    except ValueError as error:
        print(f'{path}: {error}', file=sys.stderr)
        return 1
    with open(path, 'wb') as f:
        f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main())
