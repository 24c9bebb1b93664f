// The seven entry points of one adapter driver library. Compiled once per
// library with RQ_PREFIX (the entry point prefix) and one of RQ_KIND_COM,
// RQ_KIND_ISA, RQ_KIND_PCI, RQ_KIND_USB, RQ_KIND_LAN.
#include "Driver.h"
#include "VendorBridge.h"

#define RQ_JOIN2(prefix, name) prefix##_##name
#define RQ_JOIN(prefix, name) RQ_JOIN2(prefix, name)
#define RQ_ENTRY(name) RQ_JOIN(RQ_PREFIX, name)
#define RQ_TEXT2(prefix) #prefix
#define RQ_TEXT(prefix) RQ_TEXT2(prefix)
// With the maker's own library present, each entry point forwards to it.
// Init looks for it again, so a library dropped in counts from the next connection.
#define RQ_VENDOR() rqdrv::vendorLibrary(RQ_TEXT(RQ_PREFIX))
#define RQ_VENDOR_INIT() rqdrv::vendorLibrary(RQ_TEXT(RQ_PREFIX), true)

using namespace rqdrv;

extern "C" {

RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(Version)(void)
{
    if (VendorLibrary *vendor = RQ_VENDOR())
        return vendor->version();
    return kVersion;
}

#if defined(RQ_KIND_COM)
RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(Init)(uint32_t *handle, uint32_t port)
{
    if (VendorLibrary *vendor = RQ_VENDOR_INIT())
        return vendor->init(VendorLibrary::Word, handle, nullptr, port);
    if (!handle || port == 0)
        return handle ? PortOpenFailed : BadArgument;
    std::unique_ptr<Transport> transport;
    const uint32_t result = openSerial(comPortPath(port), transport);
    return result != Ok ? result : addConnection(std::move(transport), handle);
}
#elif defined(RQ_KIND_ISA)
RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(Init)(uint32_t *handle, uint32_t baseAddress)
{
    if (VendorLibrary *vendor = RQ_VENDOR_INIT())
        return vendor->init(VendorLibrary::Word, handle, nullptr, baseAddress);
    // No ISA bus on this platform: say so rather than pretend.
    return handle ? IsaCardMissing : BadArgument;
}
#elif defined(RQ_KIND_PCI)
RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(Init)(uint32_t *handle)
{
    if (VendorLibrary *vendor = RQ_VENDOR_INIT())
        return vendor->init(VendorLibrary::Plain, handle, nullptr, 0);
    // The card's kernel driver does not exist here: say so rather than pretend.
    return handle ? PciCardMissing : BadArgument;
}
#elif defined(RQ_KIND_USB)
RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(Init)(uint32_t *handle)
{
    if (VendorLibrary *vendor = RQ_VENDOR_INIT())
        return vendor->init(VendorLibrary::Plain, handle, nullptr, 0);
    if (!handle)
        return BadArgument;
    std::unique_ptr<Transport> transport;
    const uint32_t result = openSerial(usbPath(), transport);
    return result != Ok ? result : addConnection(std::move(transport), handle);
}
#elif defined(RQ_KIND_LAN)
RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(Init)(uint32_t *handle, uintptr_t *block)
{
    if (VendorLibrary *vendor = RQ_VENDOR_INIT())
        return vendor->init(VendorLibrary::Block, handle, block, 0);
    if (!handle || !block)
        return BadArgument;
    // The block lives only during this call: everything needed is taken now.
    const char *host = reinterpret_cast<const char *>(block[0]);
    const auto port = static_cast<uint32_t>(block[1]);
    const auto timeoutMs = static_cast<uint32_t>(block[2]);
    std::unique_ptr<Transport> transport;
    const uint32_t result = openUdp(host, port, timeoutMs, transport);
    return result != Ok ? result : addConnection(std::move(transport), handle);
}
#else
#error "RQ_KIND_* not defined"
#endif

RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(SetConfig)(uint32_t handle, uint32_t baud, uint32_t timeout,
                                               uint32_t third)
{
    if (VendorLibrary *vendor = RQ_VENDOR())
        return vendor->setConfig(handle, baud, timeout, third);
    return setConfig(handle, baud, timeout, third);
}

RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(GetConfig)(uint32_t handle, uint32_t *baud, uint32_t *timeout,
                                               uint32_t *third)
{
    if (VendorLibrary *vendor = RQ_VENDOR())
        return vendor->getConfig(handle, baud, timeout, third);
    return getConfig(handle, baud, timeout, third);
}

RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(Send)(uint32_t handle, uint32_t *request, uint32_t *response,
                                          uint32_t *status, uint32_t *error)
{
    if (VendorLibrary *vendor = RQ_VENDOR())
        return vendor->send(handle, request, response, status, error);
    return send(handle, request, response, status, error);
}

RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(Done)(uint32_t *handle)
{
    if (VendorLibrary *vendor = RQ_VENDOR())
        return vendor->done(handle);
    return done(handle);
}

RQ_EXPORT uint32_t RQ_CALL RQ_ENTRY(Error)(uint32_t code, uint32_t *buffer)
{
    if (VendorLibrary *vendor = RQ_VENDOR())
        return vendor->error(code, buffer);
    if (!buffer)
        return BadArgument;
    errorText(code, buffer);
    return Ok;
}

} // extern "C"
