/* The class of the marshalling code generated from programming_server.idl:
 * the proxy DLL answers to it, and the simulator's registration points the
 * three interfaces at it. Its own identifier, so that registering it never
 * replaces a class the device maker's server registered. */
#ifndef ECUPROG_PLATFORM_WIN32_IDL_PROXY_CLSID_H
#define ECUPROG_PLATFORM_WIN32_IDL_PROXY_CLSID_H

#define ECUPROG_PROXY_CLSID_TEXT L"{0922B66F-8559-44D3-84B2-BEBDF8BF734F}"
#define ECUPROG_PROXY_CLSID_INIT \
  {0x0922b66f, 0x8559, 0x44d3, {0x84, 0xb2, 0xbe, 0xbd, 0xf8, 0xbf, 0x73, 0x4f}}

/* The DLL's file name; it is installed beside ecuprog-sim.exe. */
#define ECUPROG_PROXY_DLL_NAME L"ecuprog-sim-ps.dll"

#endif
