#!/usr/bin/python3
"""A Modbus TCP client nobody here wrote (pymodbus), for the gateway tests.

    modbus_client.py PORT OP...

OP is FUNC:UNIT:ADDRESS:ARG with FUNC ir (input registers, ARG = count),
di (discrete inputs), co (coils), hr (holding registers), wc (write one
coil, ARG 0 or 1), wm (write coils, ARG = bits as 0/1 text from ADDRESS on),
wr (write one holding register, ARG its value), id (read device
identification from object ADDRESS, ARG the read code: "ok ID=TEXT,...")
and sid (report server id: "ok" and its bytes in hex).
One line a request: "ok V,V,..." (bits as 0/1), "ex CODE" or "err TEXT".
"""
import sys

try:
    from pymodbus.client import ModbusTcpClient
    from pymodbus.mei_message import ReadDeviceInformationRequest
    from pymodbus.other_message import ReportSlaveIdRequest
except ImportError:
    print("missing pymodbus")
    sys.exit(3)


def main():
    client = ModbusTcpClient("127.0.0.1", port=int(sys.argv[1]), timeout=3)
    if not client.connect():
        print("err connect")
        return 1
    for op in sys.argv[2:]:
        func, unit, address, arg = op.split(":")
        unit, address = int(unit), int(address)
        if func == "ir":
            r = client.read_input_registers(address, int(arg), slave=unit)
        elif func == "hr":
            r = client.read_holding_registers(address, int(arg), slave=unit)
        elif func == "di":
            r = client.read_discrete_inputs(address, int(arg), slave=unit)
        elif func == "co":
            r = client.read_coils(address, int(arg), slave=unit)
        elif func == "wc":
            r = client.write_coil(address, arg == "1", slave=unit)
        elif func == "wm":
            r = client.write_coils(address, [c == "1" for c in arg], slave=unit)
        elif func == "wr":
            r = client.write_register(address, int(arg), slave=unit)
        elif func == "id":
            r = client.execute(ReadDeviceInformationRequest(int(arg), address, unit=unit))
        elif func == "sid":
            r = client.execute(ReportSlaveIdRequest(unit=unit))
        else:
            print("err op")
            continue
        if r.isError():
            code = getattr(r, "exception_code", None)
            print("ex %d" % code if code is not None else "err %s" % r)
        elif func == "id":
            print("ok " + ",".join("%d=%s" % (k, v.decode()) for k, v in sorted(r.information.items())))
        elif func == "sid":
            print("ok " + r.identifier.hex())
        elif hasattr(r, "registers"):
            print("ok " + ",".join(str(v) for v in r.registers))
        elif hasattr(r, "bits") and func in ("di", "co"):
            print("ok " + ",".join("1" if b else "0" for b in r.bits[: int(arg)]))
        else:
            print("ok")
        sys.stdout.flush()
    client.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
