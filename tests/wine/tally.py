"""The tally of a group's checks, which goes on past a failed one, and the
failure that ends a group early."""


class Failed(Exception):
    pass


class Checks:
    """Counts the checks of a group and keeps going after a failed one, so
    that one run tells everything that is wrong."""

    def __init__(self):
        self.passed = 0
        self.failures = []

    def that(self, condition, what, detail=""):
        if condition:
            self.passed += 1
            print(f"  ok    {what}")
        else:
            self.failures.append(what)
            print(f"  FAIL  {what}" + (f"\n        {detail}" if detail else ""))
        return condition

    def equal(self, actual, expected, what):
        return self.that(actual == expected, what, f"expected {expected!r}, got {actual!r}")
