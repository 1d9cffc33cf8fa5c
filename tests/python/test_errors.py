"""Every status of the table raises its class, with the number, name and
text the library itself gives; refused files carry their line."""

import ctypes
import os

import pytest

import velmora
from velmora import _errors, _library

# The statuses that raise a class of their own; every other raises Error.
SPECIAL = {
    "kIviIniStoreNoSuchItem": velmora.NotFound,
    "kIviIniStoreNoSuchKey": velmora.NotFound,
    "kIviIniStoreChangedOnDisk": velmora.ChangedOnDisk,
    "kIviIniStoreBusy": velmora.Busy,
    **{
        name: velmora.StoreRefused
        for name in [
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
        ]
    },
}


def test_every_status_raises_its_class_with_the_librarys_name_and_text():
    library = _library.library()
    library.velmora_store_status_name.restype = ctypes.c_char_p
    library.velmora_store_status_text.restype = ctypes.c_char_p
    names = set()
    for number, name, text in _errors.STATUSES:
        # The table the build wrote is the one the library answers from.
        assert library.velmora_store_status_name(ctypes.c_int32(number)).decode() == name
        assert library.velmora_store_status_text(ctypes.c_int32(number)).decode() == text
        names.add(name)
        if number == 0:
            continue
        error = _errors.make_error(number, "device Meter7")
        assert type(error) is SPECIAL.get(name, velmora.Error)
        assert (error.status, error.name, error.text) == (number, name, text)
        assert str(error) == "device Meter7: %s (%s, %d)" % (text, name, number)
    assert set(SPECIAL) <= names  # no special case names a status the table lacks
    assert len(names) == len(_errors.STATUSES)
    unknown = _errors.make_error(-99999)
    assert type(unknown) is velmora.Error and unknown.name is None
    assert issubclass(velmora.NotFound, KeyError)
    for cls in SPECIAL.values():
        assert issubclass(cls, velmora.Error)


@pytest.mark.parametrize(
    "text, line, status",
    [
        ("[Device A]\nResource = x\n[Session S]\nChannels = CH[4..1]\n", 4, "kIviIniStoreBadChannels"),
        ("Resource = x\n", 1, "kIviIniStoreKeyOutsideSection"),
        ("[Device A]\n[Device A]\n", 2, "kIviIniStoreDuplicateSection"),
        ("[Device A]\nok = 1\n\0", 3, "kIviIniStoreNulByte"),
    ],
)
def test_a_refused_file_names_its_line(tmp_path, text, line, status):
    path = tmp_path / "bad.ini"
    path.write_bytes(text.encode())
    with pytest.raises(velmora.StoreRefused) as raised:
        velmora.Store(path)
    error = raised.value
    assert (error.name, error.line, error.path) == (status, line, str(path))
    where = "%s:%d: " % (path, line) if line else "%s: " % path
    assert str(error).startswith(where) and str(error).endswith("(%s, %d)" % (status, error.status))


def test_a_reload_of_a_now_refused_file_keeps_the_store(store_path):
    with velmora.Store(store_path) as store:
        store_path.write_text("[Driver acmeScope\n")
        with pytest.raises(velmora.StoreRefused) as raised:
            store.reload()
        assert (raised.value.name, raised.value.line) == ("kIviIniStoreBadHeader", 1)
        assert store.resolve("Bench3.Scope").driver == "acmeScope"
    with pytest.raises(velmora.StoreRefused) as raised:
        velmora.Store(store_path.parent / "missing.ini")
    assert raised.value.name == "kIviIniStoreNotFound"


def test_a_failed_save_tells_its_step_and_keeps_the_edits(store_path):
    os.link(store_path, store_path.parent / "second-name.ini")
    with velmora.Store(store_path) as store:
        store.devices["Meter7"].description = "kept"
        with pytest.raises(velmora.Error) as raised:
            store.save()
        assert raised.value.name == "kIviIniStoreHardLinked"
        assert raised.value.path == str(store_path)
        assert store.devices["Meter7"].description == "kept"
    os.unlink(store_path.parent / "second-name.ini")


def test_a_save_in_a_folder_it_cannot_write_names_the_failed_step(store_path):
    if os.geteuid() == 0:
        pytest.skip("root writes into any folder, so the save cannot fail here")
    with velmora.Store(store_path) as store:
        store.devices["Meter7"].description = "kept"
        store_path.parent.chmod(0o555)
        try:
            with pytest.raises(velmora.Error) as raised:
                store.save()
        finally:
            store_path.parent.chmod(0o755)
        assert raised.value.step and raised.value.error_number != 0
