"""Numbers whose every text is an attempt at SQL: a statement must carry their value."""


class HostileInt(int):
    def __str__(self):
        return "'x') or (contract = 'zz'"

    __repr__ = __str__

    def __format__(self, spec):
        return "(select 40 + 2)"


class HostileFloat(float):
    def __str__(self):
        return "(select 40 + 2)"

    __repr__ = __str__

    def __format__(self, spec):
        return "(select 40 + 2)"
