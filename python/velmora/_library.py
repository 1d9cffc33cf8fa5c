"""libvelmora-store through ctypes: loading it, the one lock every call
holds, text to and from C strings, and failed statuses turned into
exceptions.

The library takes no locks, and ctypes lets other threads run while a call
is in C, so every call, finalizers included, runs under LOCK. It is
re-entrant: the garbage collector may run a store's finalizer on a thread
that already holds it, between two calls of a sequence.
"""

import ctypes
import os
import threading

from ._errors import NUMBER, make_error

#: The library the package loads, by the name the dynamic loader knows.
SONAME = "libvelmora-store.so.1"
#: An environment variable naming another copy of it (a path), for a build
#: tree or a test.
LIBRARY_VARIABLE = "VELMORA_STORE_LIBRARY"

LOCK = threading.RLock()

_OK = 0
_OUT_OF_MEMORY = NUMBER["kIviIniOutOfMemory"]
NO_SUCH_ITEM = NUMBER["kIviIniStoreNoSuchItem"]

_store_p = ctypes.c_void_p
_kind = ctypes.c_int
_char_p = ctypes.c_char_p
_int32 = ctypes.c_int32
_uint32 = ctypes.c_uint32
_int_p = ctypes.POINTER(ctypes.c_int)
_uint32_p = ctypes.POINTER(ctypes.c_uint32)


class Problem(ctypes.Structure):
    """velmora_store_problem: why an open, a reload or a save failed."""

    _fields_ = [
        ("status", ctypes.c_int32),
        ("line", ctypes.c_uint32),
        ("error_number", ctypes.c_int32),
        ("step", ctypes.c_char * 32),
        ("path", ctypes.c_char * 4096),
        ("message", ctypes.c_char * 256),
    ]


# Each function the package calls: its result and argument types.
_PROTOTYPES = {
    "velmora_store_open": (_int32, [_char_p, ctypes.POINTER(_store_p), ctypes.POINTER(Problem)]),
    "velmora_store_close": (None, [_store_p]),
    "velmora_store_save": (_int32, [_store_p, ctypes.POINTER(Problem)]),
    "velmora_store_reload": (_int32, [_store_p, ctypes.POINTER(Problem)]),
    "velmora_store_changed": (_int32, [_store_p, _int_p]),
    "velmora_store_path": (_char_p, [_store_p]),
    "velmora_store_kind_parse": (_int32, [_char_p, ctypes.POINTER(_kind)]),
    "velmora_store_count": (_int32, [_store_p, _kind, _uint32_p]),
    "velmora_store_name": (_int32, [_store_p, _kind, _uint32, _char_p, _int32]),
    "velmora_store_has_item": (_int32, [_store_p, _kind, _char_p, _int_p]),
    "velmora_store_add": (_int32, [_store_p, _kind, _char_p]),
    "velmora_store_remove": (_int32, [_store_p, _kind, _char_p, ctypes.c_int]),
    "velmora_store_referrer_count": (_int32, [_store_p, _kind, _char_p, _uint32_p]),
    "velmora_store_referrer": (
        _int32,
        [_store_p, _kind, _char_p, _uint32, ctypes.POINTER(_kind), _char_p, _int32],
    ),
    "velmora_store_has_key": (_int32, [_store_p, _kind, _char_p, _char_p, _int_p]),
    "velmora_store_get": (_int32, [_store_p, _kind, _char_p, _char_p, _char_p, _int32]),
    "velmora_store_set": (_int32, [_store_p, _kind, _char_p, _char_p, _char_p]),
    "velmora_store_unset": (_int32, [_store_p, _kind, _char_p, _char_p]),
    "velmora_store_simulate": (_int32, [_store_p, _char_p, _int_p]),
    "velmora_store_channel_count": (_int32, [_store_p, _char_p, _uint32_p]),
    "velmora_store_channel": (_int32, [_store_p, _char_p, _uint32, _char_p, _int32]),
    "velmora_store_class_count": (_int32, [_store_p, _char_p, _uint32_p]),
    "velmora_store_class": (_int32, [_store_p, _char_p, _uint32, _char_p, _int32]),
}

_library = None


def library():
    """The loaded library, loaded on first use (under LOCK).

    Raises OSError naming the library when it cannot be loaded, or when it
    lacks a function the package calls.
    """
    global _library
    with LOCK:
        if _library is None:
            name = os.environ.get(LIBRARY_VARIABLE) or SONAME
            try:
                loaded = ctypes.CDLL(name)
                for function, (result, arguments) in _PROTOTYPES.items():
                    entry = getattr(loaded, function)
                    entry.restype = result
                    entry.argtypes = arguments
            except (OSError, AttributeError) as error:
                raise OSError(
                    "velmora cannot use the store library %s (%s; set %s to its path "
                    "to use another copy)" % (name, error, LIBRARY_VARIABLE)
                ) from None
            _library = loaded
        return _library


def encode(text, what="a name"):
    """text as the C string the library takes: UTF-8, with the bytes that
    surrogateescape decoding carried through as they were. A NUL would end
    the C string early and silently, so it is refused."""
    if not isinstance(text, str):
        raise TypeError("%s must be a str, not %s" % (what, type(text).__name__))
    if "\0" in text:
        raise ValueError("%s cannot hold a NUL character: %r" % (what, text))
    return text.encode("utf-8", "surrogateescape")


def decode(data):
    """A C string from the library as str; bytes that are not UTF-8 become
    surrogates, which encode() turns back into the same bytes."""
    return data.decode("utf-8", "surrogateescape")


def check(status, context=None):
    """Raises the exception for a failed status; returns a non-negative one."""
    if status < 0:
        raise make_error(status, context)
    return status


def problem_error(status, problem, path):
    """The exception for a failed open, reload or save of the store file at
    path, from its problem record: the line of a refused file, the step,
    path and errno of a failed file operation, and the library's sentence."""
    return make_error(
        status,
        context=path if not problem.line else "%s:%d" % (path, problem.line),
        message=decode(problem.message) or None,
        path=decode(problem.path) or path,
        step=decode(problem.step),
        error_number=problem.error_number,
        line=problem.line,
    )


def read_string(function, *arguments, context=None):
    """Calls a function that fills a buffer under the string-return rule
    (its last two arguments are the buffer and its size) and answers the
    string. Expects LOCK held, so that the size asked first stays right."""
    size = 256
    while True:
        buffer = ctypes.create_string_buffer(size)
        status = function(*arguments, buffer, size)
        if status == _OK:
            return decode(buffer.value)
        if status < 0:
            raise make_error(status, context)
        if status <= size:  # a size it already had: the library misbehaves
            raise make_error(_OUT_OF_MEMORY, context, "the library asked for a size it was given")
        size = status


def read_list(count_function, item_function, *arguments, context=None):
    """Reads a counted list of strings: count_function(*arguments, &count),
    then item_function(*arguments, index, buffer, size) for each index."""
    with LOCK:
        count = ctypes.c_uint32()
        check(count_function(*arguments, ctypes.byref(count)), context)
        return [
            read_string(item_function, *arguments, index, context=context)
            for index in range(count.value)
        ]

