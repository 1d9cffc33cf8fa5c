"""Stores, collections and items: reading the example store, resolving
logical names, and editing through edit(), with the saved file as proof."""

import gc
import threading

import pytest
from conftest import run_python

import velmora
from velmora import _library

SCOPE = velmora.Resolved(
    name="Bench3.Scope",
    session="Bench3.ScopeSession",
    driver="acmeScope",
    module="libacmeScope.so",
    prefix="acmeScope",
    classes=["IviDriver", "IviScope", "IviDigitizer"],
    device="Rack1Slot2",
    resource="TCPIP0::10.0.0.5::INSTR",
    simulate=False,
    driver_setup="Trace=false",
    channels=["CH1", "CH2", "CH3", "CH4", "TRIG"],
)


def test_reads_every_kind_of_the_example_store_in_file_order(store_path):
    with velmora.Store(store_path) as store:
        assert store.path == str(store_path)
        assert store.logical_names.names() == ["Bench3.Scope", "Bench3.Gen", "Meter7", "Spare"]
        assert list(store.sessions) == ["Bench3.ScopeSession", "Bench3.GenSession", "Meter7Session"]
        assert list(store.drivers) == ["acmeScope", "zetaFgen"]
        devices = store.devices
        assert [len(devices), "Meter7" in devices, "meter7" in devices] == [3, True, False]
        gen = store.sessions["Bench3.GenSession"]
        assert [gen.driver, gen.device, gen.description, gen.driver_setup, gen.simulate] == (
            ["zetaFgen", "Bench3.Gen", "", "", False])
        assert gen.channels == ["OUT1", "OUT2", "SYNC"]
        assert store.sessions["Meter7Session"].simulate is True
        assert store.drivers["zetaFgen"].classes == ["IviDriver", "IviFgen"]
        assert store.devices["Meter7"].description == "Spare meter, not wired yet"
        assert store.logical_names["Spare"].session == ""
        assert store.logical_names.get("Nope") is None
        with pytest.raises(KeyError):
            store.devices["Nope"]


def test_resolve_follows_the_whole_chain(store_path):
    with velmora.Store(store_path) as store:
        assert store.resolve("Bench3.Scope") == SCOPE
        gen = store.resolve("Bench3.Gen")
        assert (gen.resource, gen.module, gen.channels) == (
            "GPIB0::12::INSTR", "libzetaFgen.so", ["OUT1", "OUT2", "SYNC"])


@pytest.mark.parametrize(
    "name, edit, message",
    [
        ("Nope", None, "no logical name Nope"),
        ("Spare", None, "logical name Spare refers to no session"),
        ("Meter7", None, "session Meter7Session names driver orionDmm, which the store lacks"),
        (
            "Bench3.Gen",
            lambda s: s.devices.remove("Bench3.Gen", force=True),
            "session Bench3.GenSession names device Bench3.Gen, which the store lacks",
        ),
        (
            "Bench3.Scope",
            lambda s: delattr(s.sessions["Bench3.ScopeSession"], "device"),
            "session Bench3.ScopeSession refers to no device",
        ),
        (
            "Bench3.Scope",
            lambda s: s.sessions.remove("Bench3.ScopeSession", force=True),
            "logical name Bench3.Scope names session Bench3.ScopeSession, which the store lacks",
        ),
    ],
)
def test_resolve_names_the_missing_link(store_path, name, edit, message):
    with velmora.Store(store_path) as store:
        if edit:
            edit(store)
        with pytest.raises(velmora.NotFound) as raised:
            store.resolve(name)
    assert raised.value.detail == message
    assert raised.value.name == "kIviIniStoreNoSuchItem"
    assert isinstance(raised.value, KeyError)


def test_edit_saves_on_normal_exit_and_discards_on_an_exception(store_path):
    original = store_path.read_bytes()
    with pytest.raises(RuntimeError):
        with velmora.edit(store_path) as store:
            store.devices["Meter7"].resource = "TCPIP0::10.0.0.9::INSTR"
            store.logical_names.add("Bench4.Scope")
            raise RuntimeError("changed my mind")
    assert store.closed
    assert store_path.read_bytes() == original

    with velmora.edit(store_path) as store:
        store.devices["Rack1Slot2"].resource = "TCPIP0::10.0.0.9::INSTR"
        spare = store.logical_names["Spare"]
        spare.session = "Bench3.ScopeSession"
        del spare.description
        store.logical_names.add("Bench4.Scope").description = "new"
        store.sessions["Meter7Session"].simulate = False
    assert store.closed
    with velmora.Store(store_path) as store:
        assert store.resolve("Spare").resource == "TCPIP0::10.0.0.9::INSTR"
        assert store.logical_names.names()[-1] == "Bench4.Scope"
        assert store.logical_names["Bench4.Scope"].description == "new"
    text = store_path.read_text()
    assert "Description = Not assigned yet" not in text
    assert "Simulate = false\n\n; ---- Logical names" in text

    # Edits that come back to what the file holds leave it as it was.
    before = store_path.read_bytes()
    with velmora.edit(store_path) as store:
        scope = store.sessions["Bench3.ScopeSession"]
        scope.description = "something else"
        scope.description = "The bench 3 scope: four inputs and the external trigger"
    assert store_path.read_bytes() == before


def test_a_save_after_another_process_saved_raises_changed_on_disk(store_path):
    store = velmora.Store(store_path)
    assert store.changed() is False
    run_python(
        "import velmora\n"
        "with velmora.edit(%r) as store:\n"
        "    store.devices['Meter7'].description = 'taken by bench 4'\n" % str(store_path)
    )
    assert store.changed() is True
    store.devices["Meter7"].description = "mine"
    with pytest.raises(velmora.ChangedOnDisk) as raised:
        store.save()
    assert raised.value.path == str(store_path)
    assert "Description = taken by bench 4" in store_path.read_text()

    # Reloaded, the other edit shows and a save goes through.
    store.reload()
    assert store.devices["Meter7"].description == "taken by bench 4"
    store.devices["Meter7"].description = "mine"
    store.save()
    store.close()
    assert "Description = mine" in store_path.read_text()

    # edit() whose save fails raises, and leaves its store closed.
    with pytest.raises(velmora.ChangedOnDisk):
        with velmora.edit(store_path) as store:
            store.devices["Meter7"].description = "lost"
            store_path.write_text(store_path.read_text() + "\n")
    assert store.closed


def test_attributes_check_their_values_and_refusals_change_nothing(store_path):
    with velmora.Store(store_path) as store:
        session = store.sessions["Bench3.ScopeSession"]
        session.channels = ["IN[1..2]", "EXT"]
        assert session.channels == ["IN1", "IN2", "EXT"]
        session.channels = "A, B[0..1]"
        assert session.channels == ["A", "B0", "B1"]
        store.drivers["acmeScope"].classes = ["IviDriver", "IviDmm"]
        assert store.drivers["acmeScope"].classes == ["IviDriver", "IviDmm"]
        with pytest.raises(ValueError):
            session.channels = ["A, B"]
        with pytest.raises(TypeError):
            session.simulate = "yes"
        for key, value in [("channels", "A[2..1]"), ("description", "two\nlines")]:
            with pytest.raises(velmora.Error) as raised:
                setattr(session, key, value)
            assert raised.value.name == "kIviIniStoreBadValue"
        with pytest.raises(velmora.NotFound):
            session.driver = "orionDmm"  # a reference must name an item
        assert (session.channels, session.driver) == (["A", "B0", "B1"], "acmeScope")


def test_collections_add_and_remove_items(store_path):
    with velmora.Store(store_path) as store:
        added = store.drivers.add("orionDmm")
        assert added == store.drivers["orionDmm"] and added.module == ""
        assert store.resolve("Meter7").driver == "orionDmm"
        for name, status in [("orionDmm", "kIviIniStoreItemExists"), ("", "kIviIniStoreBadName")]:
            with pytest.raises(velmora.Error) as raised:
                store.drivers.add(name)
            assert raised.value.name == status
        with pytest.raises(velmora.Error) as raised:
            store.devices.remove("Rack1Slot2")
        assert raised.value.name == "kIviIniStoreReferenced"
        assert "session Bench3.ScopeSession" in str(raised.value)
        assert "Rack1Slot2" in store.devices
        store.devices.remove("Rack1Slot2", force=True)
        store.logical_names.remove("Spare")
        assert "Rack1Slot2" not in store.devices and len(store.logical_names) == 3
        with pytest.raises(velmora.NotFound):
            store.logical_names.remove("Spare")
        meter = store.devices["Meter7"]
        store.devices.remove("Meter7", force=True)
        with pytest.raises(velmora.NotFound):
            meter.description  # an item removed since


def test_text_is_utf8_and_other_bytes_round_trip(store_path):
    with velmora.edit(store_path) as store:
        store.devices.add("Prüfplatz 3").description = "Oszilloskop für 4 Kanäle"
        store.devices["Meter7"].description = "raw \udcff byte"
    data = store_path.read_bytes()
    assert "[Device Prüfplatz 3]".encode() in data
    assert b"Description = raw \xff byte" in data
    with velmora.Store(store_path) as store:
        assert store.devices["Prüfplatz 3"].description == "Oszilloskop für 4 Kanäle"
        assert store.devices["Meter7"].description == "raw \udcff byte"
        for bad in ["Meter\x007", "a\x00"]:
            with pytest.raises(ValueError):
                store.devices[bad]
            with pytest.raises(ValueError):
                store.devices["Meter7"].description = bad
        with pytest.raises(TypeError):
            store.devices[7]
    with pytest.raises(ValueError):
        velmora.Store(str(store_path) + "\x00")


def test_a_closed_store_forgets_its_handle(store_path):
    store = velmora.Store(store_path)
    store.devices["Meter7"].description = "not saved"
    store.close()
    store.close()
    assert store._handle is None and repr(store) == "<velmora.Store closed>"
    # A later open may get the same address; the closed store never uses it.
    with velmora.Store(store_path) as other:
        with pytest.raises(velmora.Error) as raised:
            store.devices.names()
        assert raised.value.name == "kIviIniInvalidHandle"
        assert other.devices["Meter7"].description == "Spare meter, not wired yet"


def test_finalizers_close_under_the_lock(store_path, monkeypatch):
    closed = []

    class Recording:
        def __init__(self, library):
            self._library = library

        def __getattr__(self, name):
            return getattr(self._library, name)

        def velmora_store_close(self, handle):
            closed.append(handle)
            self._library.velmora_store_close(handle)

    monkeypatch.setattr(_library, "_library", Recording(_library.library()))
    store = velmora.Store(store_path)
    handle = store._handle
    collected = threading.Event()

    def drop():
        gc.collect()  # the store and its collections form a cycle
        collected.set()

    holder = [store]
    del store
    # Only the worker collects: a collection on this thread, which holds the
    # lock, would run the finalizer here.
    gc.disable()
    try:
        hold_lock_while_the_worker_collects(holder, drop, closed)
    finally:
        gc.enable()
    assert collected.is_set() and closed == [handle]


def hold_lock_while_the_worker_collects(holder, drop, closed):
    with _library.LOCK:
        holder.clear()
        worker = threading.Thread(target=drop)
        worker.start()
        worker.join(0.2)
        assert closed == []  # held off by the lock, however long it waits
    worker.join(30)


def test_threads_share_stores_safely(store_path):
    shared = velmora.Store(store_path)
    failures = []

    def work():
        try:
            with velmora.Store(store_path) as own:
                for _ in range(100):
                    assert shared.resolve("Bench3.Scope") == SCOPE
                    assert own.sessions["Bench3.GenSession"].channels == ["OUT1", "OUT2", "SYNC"]
        except Exception as error:  # reported below, with the thread's failure
            failures.append(error)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(60)
    shared.close()
    assert failures == []
