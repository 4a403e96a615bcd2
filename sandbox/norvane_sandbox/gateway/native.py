"""Turns the engine's Native output into what a ClickHouse server writes for a client that sent
client_protocol_version=54405.

The engine always writes revision-0 Native: blocks without block info and top-level
`DateTime('tz')` columns reported as plain `DateTime`. A client at 54405 skips 8 bytes of block
info before every block and takes a column's time zone from its type name, so each block gets the
block info a server writes at that revision, and `DateTime` columns can get their time zone back.

Finding where a block ends means walking its column data. Per column, revision 0 and 54405 both
write: name, type name, then (only when the block has rows) the serialization prefixes of the
type tree followed by the data; no custom-serialization byte.
"""
from __future__ import annotations

import re
from typing import Callable, List, Optional, Sequence, Tuple

# is_overflows (field 1) = false, bucket_num (field 2) = -1, end of fields
BLOCK_INFO = b"\x01\x00\x02\xff\xff\xff\xff\x00"

ResolveTypes = Callable[[List[str], List[str]], Optional[Sequence[str]]]


class UnsupportedNativeType(ValueError):
    """A column type whose Native layout the rewriter cannot walk."""

    def __init__(self, type_name: str, column_type: str | None = None):
        self.type_name = type_name
        self.column_type = column_type or type_name
        where = "" if self.column_type == type_name else f" (in column type {self.column_type})"
        super().__init__(f"Native output of type {type_name}{where} is not supported by the gateway")


class _Incomplete(Exception):
    """The buffer ends before the block does; `needed` is the buffer length to wait for."""

    def __init__(self, needed: int):
        super().__init__(needed)
        self.needed = needed


# ---- type names -------------------------------------------------------------------------------

def _scan(text: str, start: int = 0):
    """Yields (index, char, depth) for characters outside quotes; quoted text is skipped."""
    depth, i, n = 0, start, len(text)
    while i < n:
        c = text[i]
        if c in "'`\"":
            i += 1
            while i < n and text[i] != c:
                i += 2 if text[i] == "\\" else 1
            if i >= n:
                raise ValueError("unterminated quote")
        else:
            if c == "(":
                depth += 1
            elif c == ")":
                depth -= 1
                if depth < 0:
                    raise ValueError("unbalanced parentheses")
            yield i, c, depth
        i += 1
    if depth:
        raise ValueError("unbalanced parentheses")


def _split_call(name: str) -> Tuple[str, Optional[List[str]]]:
    """'Map(String, Array(Int8))' -> ('Map', ['String', 'Array(Int8)']); 'UInt8' -> ('UInt8', None)."""
    name = name.strip()
    open_at = name.find("(")
    if open_at < 0:
        return name, None
    args, piece_start = [], open_at + 1
    for i, c, depth in _scan(name, open_at):
        if depth == 0 and c == ")":
            if i != len(name) - 1:
                raise ValueError("text after the closing parenthesis")
            last = name[piece_start:i].strip()
            if last or args:
                args.append(last)
            return name[:open_at].strip(), args
        if depth == 1 and c == ",":
            args.append(name[piece_start:i].strip())
            piece_start = i + 1
    raise ValueError("unbalanced parentheses")


_ELEMENT_NAME = re.compile(r"([A-Za-z_][A-Za-z0-9_]*)\s+(\S.*)", re.S)


def _element_type(element: str) -> str:
    """Drops the element name of a named Tuple/Nested element: 'a Int8' / '`a b` Int8' -> 'Int8'."""
    if element.startswith(("`", '"')):
        for i, _c, _depth in _scan(element):
            return element[i:].strip()  # first character after the quoted name
        raise ValueError("element name without a type")
    match = _ELEMENT_NAME.fullmatch(element)
    return match.group(2) if match else element


# ---- compiled layouts -------------------------------------------------------------------------
# A layout is (kind, argument): ("fixed", byte width), ("string", None), ("nullable", layout),
# ("array", layout), ("tuple", [layouts]), ("lowcard", layout of the dictionary keys).

_FIXED_WIDTH = {
    "Int8": 1, "UInt8": 1, "Bool": 1, "Nothing": 1,
    "Int16": 2, "UInt16": 2, "BFloat16": 2, "Date": 2,
    "Int32": 4, "UInt32": 4, "Float32": 4, "Date32": 4, "DateTime": 4, "IPv4": 4, "Time": 4,
    "Int64": 8, "UInt64": 8, "Float64": 8,
    "Int128": 16, "UInt128": 16, "UUID": 16, "IPv6": 16,
    "Int256": 32, "UInt256": 32,
}
_FIXED_WIDTH.update(dict.fromkeys(
    ("IntervalNanosecond", "IntervalMicrosecond", "IntervalMillisecond", "IntervalSecond",
     "IntervalMinute", "IntervalHour", "IntervalDay", "IntervalWeek", "IntervalMonth",
     "IntervalQuarter", "IntervalYear"), 8))
# Types whose arguments do not change their width.
_FIXED_WITH_ARGS = {
    "Enum8": 1, "Enum16": 2, "DateTime": 4, "DateTime64": 8, "Time64": 8,
    "Decimal32": 4, "Decimal64": 8, "Decimal128": 16, "Decimal256": 32,
}
# Geo types are named domains over these layouts.
_GEO = {
    "Point": "Tuple(Float64, Float64)",
    "Ring": "Array(Point)",
    "LineString": "Array(Point)",
    "MultiLineString": "Array(LineString)",
    "Polygon": "Array(Ring)",
    "MultiPolygon": "Array(Polygon)",
}
_STRING = ("string", None)


def _decimal_width(precision: int) -> int:
    for limit, width in ((9, 4), (18, 8), (38, 16), (76, 32)):
        if 1 <= precision <= limit:
            return width
    raise ValueError("decimal precision out of range")


def _compile(type_name: str) -> tuple:
    base, args = _split_call(type_name)
    if args is None:
        if base in _FIXED_WIDTH:
            return ("fixed", _FIXED_WIDTH[base])
        if base == "String":
            return _STRING
        if base in _GEO:
            return _compile(_GEO[base])
        raise UnsupportedNativeType(type_name)
    if base in _FIXED_WITH_ARGS and args:
        return ("fixed", _FIXED_WITH_ARGS[base])
    if base == "FixedString" and len(args) == 1 and args[0].isdigit() and int(args[0]) > 0:
        return ("fixed", int(args[0]))
    if base == "Decimal" and len(args) in (1, 2) and args[0].isdigit():
        return ("fixed", _decimal_width(int(args[0])))
    if base == "Nullable" and len(args) == 1:
        return ("nullable", _compile(args[0]))
    if base == "LowCardinality" and len(args) == 1:
        keys_base, keys_args = _split_call(args[0])
        keys = _compile(keys_args[0] if keys_base == "Nullable" and keys_args else args[0])
        if keys[0] not in ("fixed", "string"):
            raise UnsupportedNativeType(type_name)
        return ("lowcard", keys)
    if base == "Array" and len(args) == 1:
        return ("array", _compile(args[0]))
    if base in ("Tuple", "Nested"):
        if not args:
            if base == "Tuple":  # an empty tuple writes one placeholder byte per row
                return ("fixed", 1)
            raise UnsupportedNativeType(type_name)
        elements = ("tuple", [_compile(_element_type(a)) for a in args])
        return elements if base == "Tuple" else ("array", elements)
    if base == "Map" and len(args) == 2:
        return ("array", ("tuple", [_compile(args[0]), _compile(args[1])]))
    if base == "SimpleAggregateFunction" and len(args) == 2:
        return _compile(args[1])
    raise UnsupportedNativeType(type_name)


def compile_type(type_name: str) -> tuple:
    """The layout of a column type; UnsupportedNativeType if it cannot be walked."""
    try:
        return _compile(type_name)
    except UnsupportedNativeType as exc:
        raise UnsupportedNativeType(exc.type_name, type_name) from None
    except ValueError as exc:
        raise UnsupportedNativeType(type_name) from exc


# ---- walking column data ----------------------------------------------------------------------

class _Reader:
    __slots__ = ("buf", "pos")

    def __init__(self, buf: bytearray, pos: int):
        self.buf, self.pos = buf, pos

    def skip(self, size: int) -> None:
        end = self.pos + size
        if end > len(self.buf):
            raise _Incomplete(end)
        self.pos = end

    def varuint(self) -> int:
        buf, pos, value, shift = self.buf, self.pos, 0, 0
        while True:
            if pos >= len(buf):
                raise _Incomplete(pos + 1)
            byte = buf[pos]
            pos += 1
            value |= (byte & 0x7F) << shift
            if byte < 0x80:
                self.pos = pos
                return value
            shift += 7
            if shift > 63:
                raise ValueError("malformed varuint in Native stream")

    def uint64(self) -> int:
        start = self.pos
        self.skip(8)
        return int.from_bytes(self.buf[start:start + 8], "little")

    def text(self) -> str:
        size = self.varuint()
        start = self.pos
        self.skip(size)
        return self.buf[start:self.pos].decode("utf-8", "replace")


_LC_KEY_VERSION = 1
_LC_GLOBAL_DICTIONARY = 1 << 8
_LC_ADDITIONAL_KEYS = 1 << 9
_LC_FLAGS = _LC_GLOBAL_DICTIONARY | _LC_ADDITIONAL_KEYS | (1 << 10)


def _skip_prefix(r: _Reader, layout: tuple) -> None:
    """Serialization-state prefixes: written for the whole type tree before any column data."""
    kind, arg = layout
    if kind == "lowcard":
        if r.uint64() != _LC_KEY_VERSION:
            raise ValueError("unknown LowCardinality key version in Native stream")
    elif kind in ("nullable", "array"):
        _skip_prefix(r, arg)
    elif kind == "tuple":
        for element in arg:
            _skip_prefix(r, element)


def _skip_fixed(r: _Reader, width: int, rows: int) -> None:
    r.skip(width * rows)


def _skip_string(r: _Reader, _arg, rows: int) -> None:
    buf, end, pos = r.buf, len(r.buf), r.pos
    for _ in range(rows):
        if pos < end and buf[pos] < 0x80:  # the usual one-byte length
            pos += 1 + buf[pos]
        else:
            r.pos = pos
            size = r.varuint()
            pos = r.pos + size
    r.pos = pos
    if pos > end:
        raise _Incomplete(pos)


def _skip_nullable(r: _Reader, nested: tuple, rows: int) -> None:
    r.skip(rows)  # null map
    _skip_data(r, nested, rows)


def _skip_array(r: _Reader, nested: tuple, rows: int) -> None:
    if rows:
        r.skip(8 * (rows - 1))
        _skip_data(r, nested, r.uint64())  # the last offset is the number of elements


def _skip_tuple(r: _Reader, elements: list, rows: int) -> None:
    for element in elements:
        _skip_data(r, element, rows)


def _skip_lowcard(r: _Reader, keys: tuple, rows: int) -> None:
    # Granules of: index type | flags, [key count, keys], row count, indexes.
    while rows:
        index_type = r.uint64()
        width_code = index_type & ~_LC_FLAGS
        if width_code > 3 or index_type & _LC_GLOBAL_DICTIONARY:
            raise ValueError("unexpected LowCardinality index type in Native stream")
        if index_type & _LC_ADDITIONAL_KEYS:
            _skip_data(r, keys, r.uint64())
        granule_rows = r.uint64()
        if not 0 < granule_rows <= rows:
            raise ValueError("bad LowCardinality row count in Native stream")
        r.skip(granule_rows << width_code)
        rows -= granule_rows


_SKIP = {"fixed": _skip_fixed, "string": _skip_string, "nullable": _skip_nullable,
         "array": _skip_array, "tuple": _skip_tuple, "lowcard": _skip_lowcard}


def _skip_data(r: _Reader, layout: tuple, rows: int) -> None:
    kind, arg = layout
    _SKIP[kind](r, arg, rows)


# ---- the rewriter -----------------------------------------------------------------------------

_DATETIME_WITH_ZONE = re.compile(r"DateTime\('(?:[^'\\]|\\.)+'\)", re.S)


def _encode_text(value: str) -> bytes:
    data = value.encode()
    size, out = len(data), bytearray()
    while size >= 0x80:
        out.append((size & 0x7F) | 0x80)
        size >>= 7
    out.append(size)
    return bytes(out) + data


class NativeRewriter:
    """Feed it the engine's Native stream in pieces of any size; get back whole blocks as a
    server at protocol revision 54405 would write them."""

    def __init__(self, resolve_types: ResolveTypes | None = None):
        self._resolve_types = resolve_types
        self._resolved = False
        self._replacements: dict = {}  # column index -> type name written instead of DateTime
        self._layouts: dict = {}
        self._buf = bytearray()
        self._needed = 0

    def feed(self, data: bytes) -> bytes:
        """Takes the next piece of the stream; returns every block it completes, rewritten.
        After an exception the rewriter must not be used again."""
        self._buf += data
        if not self._buf or len(self._buf) < self._needed:
            return b""
        out, pos = bytearray(), 0
        try:
            while pos < len(self._buf):
                pos = self._block(pos, out)
            self._needed = 0
        except _Incomplete as exc:
            self._needed = exc.needed - pos
        del self._buf[:pos]
        return bytes(out)

    def finish(self) -> bytes:
        """End of the stream: returns what is left; ValueError if it stopped inside a block."""
        out = self.feed(b"")
        if self._buf:
            raise ValueError(f"Native stream ended inside a block ({len(self._buf)} bytes left over)")
        return out

    def _layout(self, type_name: str) -> tuple:
        layout = self._layouts.get(type_name)
        if layout is None:
            layout = self._layouts[type_name] = compile_type(type_name)
        return layout

    def _block(self, start: int, out: bytearray) -> int:
        """Appends the block at `start` to `out` and returns where it ends; _Incomplete when the
        buffer does not yet hold all of it (nothing is appended then)."""
        r = _Reader(self._buf, start)
        columns, rows = r.varuint(), r.varuint()
        names, types, spans = [], [], []
        for _ in range(columns):
            names.append(r.text())
            type_start = r.pos
            types.append(r.text())
            spans.append((type_start, r.pos))
            layout = self._layout(types[-1])
            if rows:
                _skip_prefix(r, layout)
                _skip_data(r, layout, rows)
        if not self._resolved:
            self._resolved = True
            self._resolve(names, types)
        out += BLOCK_INFO
        copied = start
        for index, (type_start, type_end) in enumerate(spans):
            replacement = self._replacements.get(index)
            if replacement is not None and types[index] == "DateTime":
                out += self._buf[copied:type_start]
                out += replacement
                copied = type_end
        out += self._buf[copied:r.pos]
        return r.pos

    def _resolve(self, names: List[str], types: List[str]) -> None:
        if self._resolve_types is None or "DateTime" not in types:
            return
        resolved = self._resolve_types(list(names), list(types))
        for index, (reported, full) in enumerate(zip(types, resolved or ())):
            if reported == "DateTime" and isinstance(full, str) and _DATETIME_WITH_ZONE.fullmatch(full):
                self._replacements[index] = _encode_text(full)
