"""velmora.visa with PyVISA as a real client: PyVISA loads the VISA
stand-in, lists its resources, and opens one by logical name from a store.
CTest names the stand-in (VELMORA_VISA_STANDIN) and its resources file."""

import os

import pytest
from conftest import EXAMPLES, run_python

import velmora
import velmora.visa

INSTRUMENTS = (
    "TCPIP0::10.0.0.7::INSTR",
    "GPIB0::12::INSTR",
    "ASRL1::INSTR",
    "GPIB0::2::INSTR",
    "TCPIP0::10.0.0.5::INSTR",
    "VXI0::4::INSTR",
    "ASRL10::INSTR",
)


@pytest.fixture
def rm():
    pyvisa = pytest.importorskip("pyvisa")
    library = os.environ.get("VELMORA_VISA_STANDIN")
    if not library:
        pytest.skip("VELMORA_VISA_STANDIN does not name the VISA stand-in")
    manager = pyvisa.ResourceManager(library)
    yield manager
    manager.close()


class FakeManager:
    """Any object with open_resource will do."""

    def __init__(self):
        self.calls = []

    def open_resource(self, resource, **kwargs):
        self.calls.append((resource, kwargs))
        return "opened " + resource


def test_importing_velmora_leaves_pyvisa_alone():
    assert run_python("import sys, velmora, velmora.visa; print('pyvisa' in sys.modules)") == (
        "False\n"
    )


def test_pyvisa_lists_the_standins_resources(rm):
    assert rm.list_resources() == INSTRUMENTS
    assert rm.list_resources("GPIB?*") == ("GPIB0::12::INSTR", "GPIB0::2::INSTR", "GPIB0::INTFC")


def test_open_resource_opens_a_logical_names_instrument(rm, store_path):
    pyvisa = pytest.importorskip("pyvisa")
    with velmora.Store(store_path) as store:
        scope = velmora.visa.open_resource(rm, "Bench3.Scope", store, timeout=1234)
    try:
        assert isinstance(scope, pyvisa.resources.TCPIPInstrument)
        assert scope.resource_info.resource_name == "TCPIP0::10.0.0.5::inst0::INSTR"
        assert scope.timeout == 1234
    finally:
        scope.close()
    gen = velmora.visa.open_resource(rm, "Bench3.Gen", store=str(store_path))
    assert isinstance(gen, pyvisa.resources.GPIBInstrument)
    gen.close()

    # A resource VISA does not have is PyVISA's error; a broken chain ours.
    with velmora.edit(store_path) as store:
        store.devices["Rack1Slot2"].resource = "TCPIP0::10.0.0.99::INSTR"
    with pytest.raises(pyvisa.errors.VisaIOError):
        velmora.visa.open_resource(rm, "Bench3.Scope", store_path)
    with pytest.raises(velmora.NotFound):
        velmora.visa.open_resource(rm, "Meter7", store_path)


def test_open_resource_takes_any_manager_and_the_default_store(store_path, monkeypatch):
    manager = FakeManager()
    monkeypatch.setenv("VELMORA_STORE", str(store_path))
    assert velmora.visa.open_resource(manager, "Bench3.Gen", read_termination="\n") == (
        "opened GPIB0::12::INSTR"
    )
    assert manager.calls == [("GPIB0::12::INSTR", {"read_termination": "\n"})]

    with velmora.edit(store_path) as store:
        store.devices["Bench3.Gen"].resource = ""
    with pytest.raises(velmora.NotFound) as raised:
        velmora.visa.open_resource(manager, "Bench3.Gen")
    assert raised.value.detail == "logical name Bench3.Gen: device Bench3.Gen has no resource"
    with pytest.raises(velmora.NotFound):
        velmora.visa.open_resource(manager, "Spare", EXAMPLES / "store.ini")
    assert len(manager.calls) == 1
