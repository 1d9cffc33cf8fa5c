"""IVI logical names for Python: read and edit a velmora store file.

A store says, for each logical name a test program asks for, which driver
session stands behind it, and so which driver, which instrument (its VISA
resource), and whether to simulate it::

    import velmora

    with velmora.Store("/srv/bench3/store.ini") as store:
        scope = store.resolve("Bench3.Scope")
        print(scope.resource, scope.driver, scope.simulate)

    with velmora.edit("/srv/bench3/store.ini") as store:    # saved at the end
        store.devices["Meter7"].resource = "TCPIP0::10.0.0.9::INSTR"

With PyVISA, ``velmora.visa.open_resource(rm, "Bench3.Scope")`` opens the
instrument a logical name stands for.

A store has four collections, ``logical_names``, ``sessions``, ``drivers``
and ``devices``; each answers ``len``, ``in``, iteration over names in file
order, ``names()``, ``[name]`` (the item), ``get``, ``add`` and ``remove``.
Items carry their keys as attributes, and assigning one edits the store:

- LogicalName: ``description``, ``session``
- Session: ``description``, ``driver``, ``device``, ``driver_setup``,
  ``simulate`` (a bool), ``channels`` (a list)
- Driver: ``description``, ``module``, ``prefix``, ``classes`` (a list)
- Device: ``description``, ``resource``

Failures raise ``velmora.Error`` or one of its subclasses, carrying the
status's number, name and text from libvelmora's status table:
``NotFound`` (also a ``KeyError``), ``ChangedOnDisk``, ``StoreRefused``
(with the line of the file it refused) and ``Busy``. No call returns a
status for the caller to check.

Text is UTF-8; bytes of a file that are not UTF-8 come back as surrogates
(``surrogateescape``) and are written back as they were. A ``str`` holding a
NUL character is refused with ``ValueError``, since C strings would cut it.

The package calls the store library ``libvelmora-store.so.1`` through
ctypes; the environment variable ``VELMORA_STORE_LIBRARY`` names another copy
of it. The library takes no locks, so the package serialises every call it
makes, from any thread, under one lock.
"""

from ._errors import Busy, ChangedOnDisk, Error, NotFound, StoreRefused
from ._store import (
    Collection,
    Device,
    Devices,
    Driver,
    Drivers,
    Item,
    LogicalName,
    LogicalNames,
    Resolved,
    Session,
    Sessions,
    Store,
    edit,
)
from ._version import __version__

# The classes are velmora's whatever module defines them: help(), repr() and
# tracebacks name them as users write them.
for _public in (Store, Resolved, Error, NotFound, ChangedOnDisk, StoreRefused, Busy, Collection,
                LogicalNames, Sessions, Drivers, Devices, Item, LogicalName, Session, Driver,
                Device):
    _public.__module__ = __name__
del _public

__all__ = [
    "Store",
    "edit",
    "Resolved",
    "Error",
    "NotFound",
    "ChangedOnDisk",
    "StoreRefused",
    "Busy",
    "Collection",
    "LogicalNames",
    "Sessions",
    "Drivers",
    "Devices",
    "Item",
    "LogicalName",
    "Session",
    "Driver",
    "Device",
    "__version__",
]
