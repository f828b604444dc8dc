# How calls to a COM local server cross the process boundary.
#
# Each marshalled COM interface has a twin here with its operations in table
# order (the positions the client never calls have no twin). Every call
# answers with the server method's result code and its outputs, whatever
# that code is; arrays and texts travel by value, interface outputs as
# references to the server's objects.
#
# A number the server returns (a status, a version) starts on the server's
# side at the value the caller's variable held, carried in the request: a
# server that reports success without writing it leaves the caller's own
# starting value, as a call in the same process would, never a zero made up
# on the way.
@0x944a16ff04b90b12;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("com_marshal");

# A one-dimensional SAFEARRAY, or none.
struct Array {
  union {
    null @0 :Void;
    value :group {
      vartype @1 :UInt16;
      lowerBound @2 :Int32;
      elementCount @3 :UInt32;
      # elementCount elements of the vartype's size, in host order.
      elements @4 :Data;
    }
  }
}

# A BSTR, or none; an empty text is not none.
struct Text {
  union {
    null @0 :Void;
    # The UTF-16 code units, in host order.
    units @1 :Data;
  }
}

# What a started local server offers first: the instance its client asked
# for. `object` is an interface twin below, named by `iid`.
interface Activator {
  createInstance @0 (clsid :Data, iid :Data)
      -> (result :Int32, object :Capability, iid :Data);
}

interface ProgrammingServer {
  getIdentities @0 (unitKeyA :UInt16, unitKeyB :UInt16, first :Int32,
                    second :Int32, third :Int32)
      -> (result :Int32, identities :Array);
  getAccessName @1 (accessLevel :UInt16) -> (result :Int32, name :Text);
  getIdentityName @2 (identityGroup :UInt16, identityId :UInt16)
      -> (result :Int32, name :Text);
  setProfile @3 (profile :Array) -> (result :Int32);
  detectDevices @4 () -> (result :Int32, devices :Array);
  # addressTail: the six bytes of the tail exactly as the caller holds them.
  openDevice @5 (unitAddressA :UInt32, addressTail :Data)
      -> (result :Int32, device :DeviceInterface);
  getVersion @6 (major :UInt16, minor :UInt16)
      -> (result :Int32, major :UInt16, minor :UInt16);
}

interface DeviceInterface {
  getCodeProgrammer @0 (unitKeyA :UInt16, identityId :UInt16)
      -> (result :Int32, programmer :ProgrammingInterface);
  getStoreProgrammer @1 (unitKeyA :UInt16, identityId :UInt16)
      -> (result :Int32, programmer :ProgrammingInterface);
}

interface ProgrammingInterface {
  acquireGroup @0 (groupKey :UInt32, groupId :Data, status :UInt16)
      -> (result :Int32, ticket :Data, status :UInt16);
  startErase @1 (startAddress :UInt32, length :UInt32, status :UInt16)
      -> (result :Int32, status :UInt16);
  pollErase @2 (status :UInt16) -> (result :Int32, status :UInt16);
  programRegion @3 (startAddress :UInt32, length :UInt32, data :Array,
                    status :UInt16)
      -> (result :Int32, status :UInt16);
  resetDevice @4 (status :UInt16) -> (result :Int32, status :UInt16);
}

interface SimulatedServer {
  getSimulator @0 () -> (result :Int32, path :Text, bits :Int32);
}
