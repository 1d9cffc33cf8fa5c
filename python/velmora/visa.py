"""Opening instruments by logical name with PyVISA.

::

    import pyvisa
    import velmora.visa

    rm = pyvisa.ResourceManager()
    scope = velmora.visa.open_resource(rm, "Bench3.Scope", timeout=5000)

This module does not import PyVISA itself: any object with an
``open_resource`` method will do.
"""

import os

from ._errors import NotFound
from ._library import NO_SUCH_ITEM
from ._store import Store

__all__ = ["open_resource"]


def open_resource(rm, logical_name, store=None, **kwargs):
    """Opens the instrument that a logical name stands for.

    Resolves logical_name in store and calls
    ``rm.open_resource(resource, **kwargs)`` with the resource of its
    session's device, answering what that answers (a PyVISA Resource).

    Arguments:
        rm: a PyVISA ResourceManager, or any object with ``open_resource``.
        logical_name: the logical name to resolve.
        store: a ``velmora.Store``, a path of a store file, or ``None`` for
            the library's default store. A store opened here is closed again
            before the resource is opened.
        kwargs: passed to ``rm.open_resource`` as they are.

    A simulated session is opened all the same: VISA knows no simulation,
    so a caller for whom it matters checks ``store.resolve(name).simulate``
    first.

    Raises NotFound when the name, or a link of its chain, is missing, or
    when its device has no resource; StoreRefused when the store file cannot
    be read; and whatever ``rm.open_resource`` raises.
    """
    if isinstance(store, Store):
        resolved = store.resolve(logical_name)
    else:
        with Store(None if store is None else os.fspath(store)) as opened:
            resolved = opened.resolve(logical_name)
    if not resolved.resource:
        raise NotFound(
            NO_SUCH_ITEM,
            "logical name %s: device %s has no resource" % (logical_name, resolved.device),
        )
    return rm.open_resource(resolved.resource, **kwargs)
