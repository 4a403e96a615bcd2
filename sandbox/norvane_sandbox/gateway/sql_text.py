"""Just enough SQL lexing to route a request: what kind of statement it is, which
output format it asks for, and where an INSERT's inline data begins.

The engine does the real parsing; this only looks at tokens outside string
literals, quoted identifiers and comments.
"""
from __future__ import annotations

import re
from dataclasses import dataclass
from typing import Iterator

from .errors import EngineError

_TOKEN = re.compile(r"""
    (?P<space>\s+)
  | (?P<comment>--[^\n]*|/\*.*?(?:\*/|\Z))
  | (?P<string>'(?:[^'\\]|\\.|'')*(?:'|\Z))
  | (?P<quoted>"(?:[^"\\]|\\.|"")*(?:"|\Z)|`(?:[^`\\]|\\.|``)*(?:`|\Z))
  | (?P<word>[^\W\d]\w*)
  | (?P<number>\d[\w.]*)
  | (?P<punct>.)
""", re.X | re.S)

# Statements whose answer is a result set in some output format.
RESULT_STATEMENTS = {"SELECT", "WITH", "SHOW", "DESCRIBE", "DESC", "EXISTS", "EXPLAIN", "CHECK"}
# Keywords after which an INSERT carries its rows as SQL rather than as format-encoded data.
_INSERT_SQL_SOURCES = {"VALUES", "SELECT", "WITH"}


@dataclass(frozen=True)
class Token:
    kind: str
    text: str
    start: int
    end: int

    @property
    def keyword(self) -> str:
        return self.text.upper() if self.kind == "word" else ""


def tokens(sql: str) -> Iterator[Token]:
    """Significant tokens of `sql` (whitespace and comments skipped), lazily."""
    for match in _TOKEN.finditer(sql):
        kind = match.lastgroup
        if kind not in ("space", "comment"):
            yield Token(kind, match.group(), match.start(), match.end())


@dataclass(frozen=True)
class Statement:
    sql: str                    # what the engine runs; for an INSERT with data, the INSERT head
    kind: str                   # leading keyword, upper case
    output_format: str | None   # FORMAT clause of a result-producing statement
    insert_format: str | None = None   # format of the inline data of an INSERT
    data: bytes = b""

    @property
    def produces_result(self) -> bool:
        return self.kind in RESULT_STATEMENTS


def _leading_keyword(sql: str) -> str:
    for token in tokens(sql):
        if token.text != "(":
            return token.keyword
    return ""


# What can hide a semicolon (comments, literals, quoted names), and a semicolon: enough to find
# the end of the first statement without making a token of every value of a long INSERT.
_HIDING_OR_SEMICOLON = re.compile(r"""--[^\n]*|/\*.*?(?:\*/|\Z)|'(?:[^'\\]|\\.|'')*(?:'|\Z)"""
                                  r"""|"(?:[^"\\]|\\.|"")*(?:"|\Z)|`(?:[^`\\]|\\.|``)*(?:`|\Z)|;""", re.S)


def _check_single_statement(sql: str) -> None:
    for semicolon in _HIDING_OR_SEMICOLON.finditer(sql):
        if semicolon.group() != ";":
            continue
        end = semicolon.end()
        for token in tokens(sql[end:]):
            if token.text != ";":
                start = end + token.start
                raise EngineError.build(62, "SYNTAX_ERROR",
                                        f"Syntax error (Multi-statements are not allowed): failed at "
                                        f"position {start + 1} (end of query): {sql[start:start + 40]!r}")
        return


def _format_clause(sql: str) -> tuple[Token, Token] | None:
    """The last top-level `FORMAT name` that ends the statement (before `;` or SETTINGS)."""
    found = None
    depth = 0
    items = list(tokens(sql))
    for index, token in enumerate(items):
        if token.text == "(":
            depth += 1
        elif token.text == ")":
            depth -= 1
        elif depth == 0 and token.keyword == "FORMAT" and index + 1 < len(items):
            name = items[index + 1]
            rest = items[index + 2:]
            if name.kind == "word" and (not rest or rest[0].text == ";" or rest[0].keyword == "SETTINGS"):
                found = (token, name)
    return found


def _output_format(sql: str) -> str | None:
    clause = _format_clause(sql)
    return clause[1].text if clause else None


def without_format(sql: str) -> str:
    """`sql` without its FORMAT clause or trailing semicolon, to be used as a subquery."""
    clause = _format_clause(sql)
    if clause is not None:
        sql = sql[:clause[0].start] + sql[clause[1].end:]
    return sql.strip().rstrip(";").strip()


def _insert_data_split(sql: str) -> tuple[int, str, int] | None:
    """For `INSERT ... FORMAT name <data>`: (head end, format name, data start), else None."""
    previous: Token | None = None
    for token in tokens(sql):
        if token.keyword in _INSERT_SQL_SOURCES:
            return None
        if previous is not None and previous.keyword == "FORMAT" and token.kind == "word":
            data_start = token.end
            while data_start < len(sql) and sql[data_start] in " \t":
                data_start += 1
            if sql.startswith("\r\n", data_start):
                data_start += 2
            elif sql.startswith("\n", data_start):
                data_start += 1
            return previous.start, token.text, data_start
        previous = token
    return None


def parse_statement(query_param: str | None, body: bytes) -> Statement:
    """Join the URL `query` parameter and the body the way the HTTP interface does, then route.

    With both present, a `query` naming an INSERT's format takes the whole body as data;
    otherwise the statement is the `query` parameter, a newline, then the body.
    """
    if query_param is not None and body and _leading_keyword(query_param) == "INSERT":
        split = _insert_data_split(query_param)
        if split is not None:
            head_end, fmt, _ = split
            _check_single_statement(query_param[:head_end])
            return Statement(query_param[:head_end].rstrip(), "INSERT", None, fmt, body)
    text = body.decode("utf-8", "surrogateescape")
    if query_param is not None:
        text = f"{query_param}\n{text}" if text else query_param
    kind = _leading_keyword(text)
    if not kind:
        raise EngineError.build(62, "SYNTAX_ERROR", "Empty query")
    if kind == "INSERT":
        split = _insert_data_split(text)
        if split is not None:
            head_end, fmt, data_start = split
            head = text[:head_end]
            _check_single_statement(head)
            return Statement(head.rstrip(), kind, None, fmt,
                             text[data_start:].encode("utf-8", "surrogateescape"))
    _check_single_statement(text)
    sql = text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
    output = _output_format(sql) if kind in RESULT_STATEMENTS else None
    return Statement(sql, kind, output)
