"""Engine error texts ("Code: N. DB::Exception: ... (NAME)") and their HTTP statuses.

The statuses follow the ClickHouse HTTP interface: authentication failures are
403, statements the engine cannot parse or whose arguments are wrong are 400,
references to unknown objects are 404, and everything else is 500.
"""
from __future__ import annotations

import re

# ABORTED: what every statement gets once the embedded engine has hit a fatal error.
ENGINE_FAILED = 236

_CODE = re.compile(r"Code: (\d+)\.")
_NAME = re.compile(r"\(([A-Z][A-Z0-9_]+)\)")

_STATUS_BY_NAME = {
    401: {"REQUIRED_PASSWORD"},
    403: {"UNKNOWN_USER", "WRONG_PASSWORD", "AUTHENTICATION_FAILED", "SET_NON_GRANTED_ROLE"},
    400: {"BAD_ARGUMENTS", "BAD_QUERY_PARAMETER", "CANNOT_COMPILE_REGEXP", "CANNOT_PARSE_TEXT",
          "CANNOT_PARSE_ESCAPE_SEQUENCE", "CANNOT_PARSE_QUOTED_STRING", "CANNOT_PARSE_DATE",
          "CANNOT_PARSE_DATETIME", "CANNOT_PARSE_NUMBER", "CANNOT_PARSE_INPUT_ASSERTION_FAILED",
          "CANNOT_PARSE_UUID", "CANNOT_PARSE_BOOL", "CANNOT_PARSE_IPV4", "CANNOT_PARSE_IPV6",
          "CANNOT_PARSE_DOMAIN_VALUE_FROM_STRING", "DUPLICATE_COLUMN", "ILLEGAL_COLUMN",
          "UNKNOWN_ELEMENT_IN_AST", "UNKNOWN_TYPE_OF_AST_NODE", "TOO_DEEP_AST", "TOO_BIG_AST",
          "UNEXPECTED_AST_STRUCTURE", "SYNTAX_ERROR", "INCORRECT_DATA", "TYPE_MISMATCH",
          "NUMBER_OF_ARGUMENTS_DOESNT_MATCH", "ILLEGAL_TYPE_OF_ARGUMENT",
          "VALUE_IS_OUT_OF_RANGE_OF_DATA_TYPE", "NUMBER_OF_COLUMNS_DOESNT_MATCH"},
    404: {"UNKNOWN_TABLE", "UNKNOWN_FUNCTION", "UNKNOWN_IDENTIFIER", "UNKNOWN_TYPE",
          "UNKNOWN_STORAGE", "UNKNOWN_DATABASE", "UNKNOWN_SETTING", "UNKNOWN_DIRECTION_OF_SORTING",
          "UNKNOWN_AGGREGATE_FUNCTION", "UNKNOWN_FORMAT", "UNKNOWN_DATABASE_ENGINE",
          "UNKNOWN_TYPE_OF_QUERY", "NO_SUCH_COLUMN_IN_TABLE", "SESSION_NOT_FOUND"},
    501: {"NOT_IMPLEMENTED"},
}
_STATUS = {name: status for status, names in _STATUS_BY_NAME.items() for name in names}


class EngineError(Exception):
    """A failed statement, carrying the engine's own message."""

    def __init__(self, message: str):
        self.message = message.strip()
        super().__init__(self.message)
        code = _CODE.search(self.message)
        names = _NAME.findall(self.message)
        self.code = int(code.group(1)) if code else 1001
        self.name = names[-1] if names else "STD_EXCEPTION"

    @property
    def http_status(self) -> int:
        return _STATUS.get(self.name, 500)

    @property
    def engine_failed(self) -> bool:
        """The embedded engine has stopped for good ("The server is shutting down due to a fatal
        error"): no later statement of this process can run."""
        return self.code == ENGINE_FAILED

    @classmethod
    def build(cls, code: int, name: str, text: str) -> "EngineError":
        return cls(f"Code: {code}. DB::Exception: {text}. ({name})")

    @classmethod
    def from_exception(cls, exc: BaseException) -> "EngineError":
        """Wrap an exception from the engine, dropping any prefix the binding put before "Code:"."""
        text = str(exc)
        start = text.find("Code: ")
        if start >= 0:
            return cls(text[start:])
        return cls.build(1001, "STD_EXCEPTION", f"{type(exc).__name__}: {text}")


def authentication_failed(user: str) -> EngineError:
    return EngineError.build(516, "AUTHENTICATION_FAILED",
                             f"{user}: Authentication failed: password is incorrect, "
                             f"or there is no user with such name")
