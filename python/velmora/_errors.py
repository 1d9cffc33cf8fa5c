"""The exceptions of the package, and which status raises which.

Every failure the library answers is raised as an exception carrying the
status's number, name and text from libvelmora's one status table; no call
of the package returns a status.
"""

from ._statuses import STATUSES

_BY_NUMBER = {number: (name, text) for number, name, text in STATUSES}
NUMBER = {name: number for number, name, _ in STATUSES}


class Error(Exception):
    """A failure of libvelmora, or of the package's use of it.

    Attributes:
        status: the status number the library answered (negative).
        name: its name in libvelmora's status table, e.g.
            ``"kIviIniStoreNoSuchItem"`` (``None`` for a number the table
            does not have).
        text: the table's meaning of the status.
        detail: the whole message: what failed and why, in words.
        path: the file (or folder) the failure is about: the store's file,
            or for a failed file operation the one it failed on; ``None``
            when the failure is not about a file.
        step: for a failed file operation, its name (``"rename"``,
            ``"write"``, ...), else ``""``.
        error_number: that operation's ``errno``, else 0.

    ``str(error)`` is the detail followed by the status's name and number:
    ``"session Meter9Session: no item of that name, or an index past the
    last (kIviIniStoreNoSuchItem, -1320)"``.
    """

    def __init__(self, status, detail="", path=None, step="", error_number=0):
        self.status = status
        self.name, self.text = _BY_NUMBER.get(status, (None, "status %d" % status))
        self.detail = detail or self.text
        self.path = path
        self.step = step
        self.error_number = error_number
        super().__init__(status, self.detail)

    def __str__(self):
        return "%s (%s, %d)" % (self.detail, self.name or "unknown status", self.status)

    def __repr__(self):
        return "%s(%d, %r)" % (type(self).__name__, self.status, self.detail)


class NotFound(Error, KeyError):
    """No item of that name, no such key in an item, or a link of a logical
    name's chain that leads nowhere. Also a ``KeyError``, so that
    ``collection[name]`` behaves like a mapping's look-up."""


class ChangedOnDisk(Error):
    """A save was refused because another program changed, replaced or
    removed the file since this store read it. Nothing was written: reload,
    apply the edits again and save again."""


class StoreRefused(Error):
    """The store file could not be opened or read, or was refused as it
    stands (a malformed line, a duplicate section, ...).

    Attributes:
        line: the line the refusal is about, counted from 1; 0 when it is
            about the file as a whole (missing, unreadable, too large).
    """

    def __init__(self, status, detail="", path=None, step="", error_number=0, line=0):
        self.line = line
        super().__init__(status, detail, path, step, error_number)


class Busy(Error):
    """A save was refused because another program held the store's lock too
    long. Nothing was written: try again."""


# Which class each status raises; a status not named here raises Error.
# Names, not numbers: the numbers live in the table alone.
_CLASS_BY_NAME = {
    "kIviIniStoreNoSuchItem": NotFound,
    "kIviIniStoreNoSuchKey": NotFound,
    "kIviIniStoreChangedOnDisk": ChangedOnDisk,
    "kIviIniStoreBusy": Busy,
}
# The statuses of opening and reloading a file: the file is refused, or
# cannot be found where the path leads.
_LOADING = (
    "kIviIniStoreNotFound",
    "kIviIniStoreUnreadable",
    "kIviIniStoreFileTooLarge",
    "kIviIniStoreLineTooLong",
    "kIviIniStoreNulByte",
    "kIviIniStoreBadLine",
    "kIviIniStoreKeyOutsideSection",
    "kIviIniStoreBadHeader",
    "kIviIniStoreBadQuoting",
    "kIviIniStoreDuplicateSection",
    "kIviIniStoreDuplicateKey",
    "kIviIniStoreBadChannels",
    "kIviIniStoreBadSimulate",
    "kIviIniStoreNoWorkingFolder",
)
_CLASS_BY_NAME.update({name: StoreRefused for name in _LOADING})


def error_class(status):
    """The exception class a status raises."""
    name = _BY_NUMBER.get(status, (None, None))[0]
    return _CLASS_BY_NAME.get(name, Error)


def make_error(status, context=None, message=None, path=None, step="", error_number=0,
               line=0):
    """The exception for a status. Its detail is context (what the call was
    about: an item, a file and line) and message (why, in words; the
    status's text when not given)."""
    cls = error_class(status)
    why = message or _BY_NUMBER.get(status, (None, "status %d" % status))[1]
    detail = "%s: %s" % (context, why) if context else why
    if cls is StoreRefused:
        return StoreRefused(status, detail, path, step, error_number, line)
    return cls(status, detail, path, step, error_number)
