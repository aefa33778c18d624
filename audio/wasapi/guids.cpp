// The class ID and property keys of the Core Audio headers, which declare
// them only: defined here, once, as initguid.h makes the headers do.
#include <windows.h>

#include <initguid.h>

#include <mmdeviceapi.h>

#include <functiondiscoverykeys_devpkey.h>
