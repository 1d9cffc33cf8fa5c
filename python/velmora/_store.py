"""Stores, their four collections, their items, and resolving a logical name."""

import contextlib
import ctypes
import dataclasses
import functools
import os
import typing
import weakref

from . import _library as lib
from ._errors import NUMBER, Error, NotFound

_INVALID_HANDLE = NUMBER["kIviIniInvalidHandle"]
_NO_SUCH_KEY = NUMBER["kIviIniStoreNoSuchKey"]


@functools.lru_cache(maxsize=None)
def _kind(word):
    """The library's number for a kind, asked of the library itself."""
    kind = ctypes.c_int()
    lib.check(lib.library().velmora_store_kind_parse(word.encode("ascii"), ctypes.byref(kind)))
    return kind.value


def _release(handle):
    """Closes a store's handle without saving (a store's finalizer)."""
    with lib.LOCK:
        lib.library().velmora_store_close(handle)


class Store:
    """One store file, opened and read whole.

    ``Store(path)`` opens the file at path (a ``str`` or ``os.PathLike``);
    ``Store()`` or ``Store(None)`` opens the library's default store: the
    file the environment variable ``VELMORA_STORE`` names, else the system's
    (``/etc/velmora/store.ini`` for the packages). A missing or malformed
    file raises ``StoreRefused``.

    Edits (item attributes, ``add``, ``remove``) change the store in memory;
    ``save()`` writes them to the file, ``close()`` discards what was not
    saved. As a context manager a store closes without saving; use
    ``velmora.edit()`` to save on leaving the block.

    A store is not meant to be shared between threads without care, but no
    use of it can corrupt the library: every call holds the package's lock.
    """

    def __init__(self, path=None):
        if path is not None:
            path = os.fspath(path)
            if isinstance(path, bytes):
                path = lib.decode(path)
        encoded = None if path is None else lib.encode(path, "a path")
        handle = ctypes.c_void_p()
        problem = lib.Problem()
        with lib.LOCK:
            status = lib.library().velmora_store_open(encoded, ctypes.byref(handle), problem)
            if status < 0:
                raise lib.problem_error(status, problem, path or "the default store")
            self._handle = handle.value
            self._finalizer = weakref.finalize(self, _release, handle.value)
        self.logical_names = LogicalNames(self)
        self.sessions = Sessions(self)
        self.drivers = Drivers(self)
        self.devices = Devices(self)

    def _live(self):
        """The store's handle; Error (kIviIniInvalidHandle) once it is closed."""
        if self._handle is None:
            raise Error(_INVALID_HANDLE, "the store is closed")
        return self._handle

    @property
    def path(self):
        """The absolute path of the store's file."""
        with lib.LOCK:
            return lib.decode(lib.library().velmora_store_path(self._live()))

    @property
    def closed(self):
        """True once the store is closed."""
        return self._handle is None

    def close(self):
        """Closes the store, discarding edits that were not saved. Closing a
        closed store does nothing."""
        with lib.LOCK:
            # The handle is forgotten first: the library may hand the same
            # address to a later open.
            self._handle = None
            self._finalizer()

    def save(self):
        """Writes the edits to the file; the store stays open. Nothing is
        written when the file already holds what the store would write.

        Raises ChangedOnDisk when another program changed the file since it
        was read or last saved (reload, edit again, save again), Busy when
        another program held its lock too long, and Error for a failed file
        operation (``step``, ``path`` and ``error_number`` tell which). The
        file is then as it was and the store keeps its edits.
        """
        problem = lib.Problem()
        with lib.LOCK:
            status = lib.library().velmora_store_save(self._live(), problem)
            if status < 0:
                raise lib.problem_error(status, problem, self.path)

    def changed(self):
        """True when the file is no longer the one this store read or last
        saved: another program wrote, replaced or removed it."""
        changed = ctypes.c_int()
        with lib.LOCK:
            lib.check(lib.library().velmora_store_changed(self._live(), ctypes.byref(changed)))
        return bool(changed.value)

    def reload(self):
        """Reads the file again, discarding edits that were not saved. A file
        that is now refused raises StoreRefused, and the store keeps what it
        had."""
        problem = lib.Problem()
        with lib.LOCK:
            status = lib.library().velmora_store_reload(self._live(), problem)
            if status < 0:
                raise lib.problem_error(status, problem, self.path)

    def resolve(self, name):
        """Follows a logical name to everything needed to open its
        instrument: its session, the session's driver and device, and their
        values, as a Resolved record.

        Every link must lead somewhere: a logical name the store lacks, one
        that names no session, a session that names no driver or device, or
        a name of an item the store lacks raises NotFound, whose message names
        the missing link (``"session Meter7Session names driver orionDmm,
        which the store lacks"``).
        """
        with lib.LOCK:
            logical = self.logical_names._item(name, "logical name")
            session = _follow(logical, "session", self.sessions)
            driver = _follow(session, "driver", self.drivers)
            device = _follow(session, "device", self.devices)
            return Resolved(
                name=name,
                session=session.name,
                driver=driver.name,
                module=driver.module,
                prefix=driver.prefix,
                classes=driver.classes,
                device=device.name,
                resource=device.resource,
                simulate=session.simulate,
                driver_setup=session.driver_setup,
                channels=session.channels,
            )

    def _collections(self):
        return (self.logical_names, self.sessions, self.drivers, self.devices)

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __repr__(self):
        if self._handle is None:
            return "<velmora.Store closed>"
        return "<velmora.Store %r>" % self.path


def _follow(item, key, target):
    """The item that item's reference `key` names, or NotFound for the
    missing link."""
    named = getattr(item, key)
    if not named:
        raise NotFound(lib.NO_SUCH_ITEM, "%s %s refers to no %s" % (item.kind, item.name, key))
    if named not in target:
        raise NotFound(
            lib.NO_SUCH_ITEM,
            "%s %s names %s %s, which the store lacks" % (item.kind, item.name, key, named),
        )
    return target[named]


@contextlib.contextmanager
def edit(path=None):
    """Opens a store for a block of edits and saves them when the block ends.

    ::

        with velmora.edit("/srv/bench3/store.ini") as store:
            store.devices["Meter7"].resource = "TCPIP0::10.0.0.9::INSTR"

    The edits are saved when the block ends normally and discarded when it
    raises. The store is closed either way, also when the save fails, whose
    exception (ChangedOnDisk, Busy, Error) then leaves the block.
    """
    store = Store(path)
    try:
        yield store
        store.save()
    finally:
        store.close()


@dataclasses.dataclass(frozen=True)
class Resolved:
    """Where a logical name leads: what ``Store.resolve`` answers.

    Attributes:
        name: the logical name.
        session: the name of its session.
        driver: the name of the session's driver.
        module: the driver's module (``"libacmeScope.so"``).
        prefix: the driver's prefix.
        classes: the driver's instrument classes, as written (a list).
        device: the name of the session's device.
        resource: the device's resource (``"TCPIP0::10.0.0.5::INSTR"``).
        simulate: whether the session is simulated (a bool).
        driver_setup: the session's driver setup text.
        channels: the session's channel names, ranges expanded (a list).
    """

    name: str
    session: str
    driver: str
    module: str
    prefix: str
    classes: typing.List[str]
    device: str
    resource: str
    simulate: bool
    driver_setup: str
    channels: typing.List[str]


# ---- Collections -----------------------------------------------------------


class Collection:
    """The items of one kind in a store: a read-and-edit view, always current.

    ``len(c)``, ``name in c``, ``for name in c`` (names in file order),
    ``c[name]`` (the item; NotFound, a KeyError, when there is none),
    ``c.names()``, ``c.add(name)`` and ``c.remove(name)``.
    """

    _item_class = None  # the class of its items, which names the kind

    def __init__(self, store):
        self._store = store
        self._number = _kind(self._item_class._word)

    @property
    def kind(self):
        """The kind in words, for messages ("logical name")."""
        return self._item_class.kind

    def _item(self, name, what=None):
        if name not in self:
            raise NotFound(lib.NO_SUCH_ITEM, "no %s %s" % (what or self.kind, name))
        return self._item_class(self._store, name)

    def names(self):
        """The names of the items, in file order (added items last)."""
        with lib.LOCK:
            count = ctypes.c_uint32()
            handle = self._store._live()
            library = lib.library()
            lib.check(library.velmora_store_count(handle, self._number, ctypes.byref(count)))
            return [
                lib.read_string(library.velmora_store_name, handle, self._number, index)
                for index in range(count.value)
            ]

    def __len__(self):
        count = ctypes.c_uint32()
        with lib.LOCK:
            lib.check(
                lib.library().velmora_store_count(
                    self._store._live(), self._number, ctypes.byref(count)
                )
            )
        return count.value

    def __contains__(self, name):
        encoded = lib.encode(name)
        has = ctypes.c_int()
        with lib.LOCK:
            lib.check(
                lib.library().velmora_store_has_item(
                    self._store._live(), self._number, encoded, ctypes.byref(has)
                )
            )
        return bool(has.value)

    def __iter__(self):
        return iter(self.names())

    def __getitem__(self, name):
        with lib.LOCK:
            return self._item(name)

    def get(self, name, default=None):
        """The item called name, or default when there is none."""
        with lib.LOCK:
            return self._item(name) if name in self else default

    def add(self, name):
        """Adds an item with no keys at the end of the file and answers it.
        Error (kIviIniStoreItemExists) when the name is taken,
        (kIviIniStoreBadName) for an empty name or one with a line feed."""
        encoded = lib.encode(name)
        with lib.LOCK:
            lib.check(
                lib.library().velmora_store_add(self._store._live(), self._number, encoded),
                "%s %s" % (self.kind, name),
            )
            return self._item_class(self._store, name)

    def remove(self, name, force=False):
        """Removes the item. An item that others refer to is refused (Error,
        kIviIniStoreReferenced, naming them) unless force is true; the
        references then stay, naming an item the store lacks. NotFound when
        there is no such item."""
        encoded = lib.encode(name)
        with lib.LOCK:
            status = lib.library().velmora_store_remove(
                self._store._live(), self._number, encoded, 1 if force else 0
            )
            if status == NUMBER["kIviIniStoreReferenced"]:
                referrers = self._referrers(encoded)
                lib.check(status, "%s %s is named by %s" % (self.kind, name, ", ".join(referrers)))
            lib.check(status, "%s %s" % (self.kind, name))

    def _referrers(self, encoded):
        """'session Bench3.ScopeSession', ... for the items naming one."""
        handle = self._store._live()
        library = lib.library()
        count = ctypes.c_uint32()
        lib.check(
            library.velmora_store_referrer_count(
                handle, self._number, encoded, ctypes.byref(count)
            )
        )
        words = {c._number: c.kind for c in self._store._collections()}
        found = []
        for index in range(count.value):
            kind = ctypes.c_int()
            name = lib.read_string(
                library.velmora_store_referrer, handle, self._number, encoded, index,
                ctypes.byref(kind),
            )
            found.append("%s %s" % (words.get(kind.value, "item"), name))
        return found

    def __repr__(self):
        return "<velmora %s of %r>" % (type(self).__name__, self._store)


# ---- Items -------------------------------------------------------------------


class Item:
    """One item of a store, by name. Its keys are attributes: reading one
    reads the store, assigning one edits it (saved with the store), and
    ``del item.key`` removes the key's line. A key the item has no line for
    reads as ``""`` (``False`` for ``simulate``, ``[]`` for the lists)."""

    _word = None  # the kind as the file spells it
    kind = None  # the kind in words, for messages

    def __init__(self, store, name):
        self._store = store
        #: The item's name (exact bytes; letter case counts).
        self.name = name

    def _encoded(self):
        return lib.encode(self.name)

    def _number(self):
        return getattr(self._store, self._collection)._number

    def _context(self):
        return "%s %s" % (self.kind, self.name)

    def _get(self, key):
        with lib.LOCK:
            try:
                return lib.read_string(
                    lib.library().velmora_store_get,
                    self._store._live(),
                    self._number(),
                    self._encoded(),
                    key.encode("ascii"),
                    context=self._context(),
                )
            except NotFound as missing:
                if missing.status == _NO_SUCH_KEY:
                    return ""
                raise

    def _set(self, key, value):
        encoded = lib.encode(value, "a value")
        with lib.LOCK:
            lib.check(
                lib.library().velmora_store_set(
                    self._store._live(), self._number(), self._encoded(), key.encode("ascii"),
                    encoded,
                ),
                "%s: %s = %r" % (self._context(), key, value),
            )

    def _unset(self, key):
        with lib.LOCK:
            lib.check(
                lib.library().velmora_store_unset(
                    self._store._live(), self._number(), self._encoded(), key.encode("ascii")
                ),
                self._context(),
            )

    def __eq__(self, other):
        return (
            type(other) is type(self) and other._store is self._store and other.name == self.name
        )

    def __hash__(self):
        return hash((type(self), id(self._store), self.name))

    def __repr__(self):
        return "<velmora %s %r>" % (type(self).__name__, self.name)


class _Text:
    """An attribute over one key of the item's section, read and written as
    text. References (a session, a driver, a device) are the name of the
    item they name; assigning "" makes them name none."""

    def __init__(self, key, doc):
        self.key = key
        self.__doc__ = doc

    def __get__(self, item, owner=None):
        if item is None:
            return self
        return item._get(self.key)

    def __set__(self, item, value):
        item._set(self.key, value)

    def __delete__(self, item):
        item._unset(self.key)


class _Simulate(_Text):
    """Simulate as a bool; assigning writes ``true`` or ``false``."""

    def __get__(self, item, owner=None):
        if item is None:
            return self
        simulate = ctypes.c_int()
        with lib.LOCK:
            lib.check(
                lib.library().velmora_store_simulate(
                    item._store._live(), item._encoded(), ctypes.byref(simulate)
                ),
                item._context(),
            )
        return bool(simulate.value)

    def __set__(self, item, value):
        if not isinstance(value, bool):
            raise TypeError("simulate takes a bool, not %s" % type(value).__name__)
        item._set(self.key, "true" if value else "false")


class _List(_Text):
    """A comma-separated key read as a list. Assigning a list writes its
    entries joined by ", "; assigning a str writes it as it stands."""

    def __init__(self, key, doc, count, entry):
        super().__init__(key, doc)
        self.count = count
        self.entry = entry

    def __get__(self, item, owner=None):
        if item is None:
            return self
        library = lib.library()
        with lib.LOCK:
            return lib.read_list(
                getattr(library, self.count),
                getattr(library, self.entry),
                item._store._live(),
                item._encoded(),
                context=item._context(),
            )

    def __set__(self, item, value):
        if not isinstance(value, str):
            entries = list(value)
            for entry in entries:
                lib.encode(entry, "a list entry")
                if "," in entry:
                    raise ValueError("a %s entry cannot hold a comma: %r" % (self.key, entry))
            value = ", ".join(entries)
        item._set(self.key, value)


class LogicalName(Item):
    """A logical name: what a test program asks for."""

    _word = "LogicalName"
    kind = "logical name"
    _collection = "logical_names"
    description = _Text("Description", "The logical name's description.")
    session = _Text("Session", "The name of the session it stands for.")


class Session(Item):
    """A driver session: a driver bound to a device, with its settings."""

    _word = "Session"
    kind = "session"
    _collection = "sessions"
    description = _Text("Description", "The session's description.")
    driver = _Text("Driver", "The name of the session's driver.")
    device = _Text("Device", "The name of the session's device.")
    driver_setup = _Text("DriverSetup", "The driver setup text passed to the driver.")
    simulate = _Simulate("Simulate", "Whether the driver simulates the instrument (a bool).")
    channels = _List(
        "Channels",
        "The channel names, ranges expanded (CH[1..4], TRIG reads as CH1, CH2, CH3, CH4, "
        "TRIG). Assign a list of entries (ranges allowed) or the raw value.",
        "velmora_store_channel_count",
        "velmora_store_channel",
    )


class Driver(Item):
    """A driver: the software module that runs an instrument."""

    _word = "Driver"
    kind = "driver"
    _collection = "drivers"
    description = _Text("Description", "The driver's description.")
    module = _Text("Module", "The driver's module (a shared library's name).")
    prefix = _Text("Prefix", "The driver's prefix.")
    classes = _List(
        "Classes",
        "The instrument classes the driver implements, as written (a list).",
        "velmora_store_class_count",
        "velmora_store_class",
    )


class Device(Item):
    """A device: an instrument on the bench, and where to reach it."""

    _word = "Device"
    kind = "device"
    _collection = "devices"
    description = _Text("Description", "The device's description.")
    resource = _Text("Resource", "The VISA resource that reaches it (TCPIP0::10.0.0.5::INSTR).")


class LogicalNames(Collection):
    """The store's logical names (LogicalName items)."""

    _item_class = LogicalName


class Sessions(Collection):
    """The store's driver sessions (Session items)."""

    _item_class = Session


class Drivers(Collection):
    """The store's drivers (Driver items)."""

    _item_class = Driver


class Devices(Collection):
    """The store's devices (Device items)."""

    _item_class = Device

