// The library's application manifest: it asks to run with the caller's
// rights and no UI access. Kept as a string rather than a file so that no
// checkout's line-ending conversion can change its bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrelumen {

constexpr std::uint16_t MANIFEST_RESOURCE_TYPE = 24;  // RT_MANIFEST
constexpr std::uint16_t MANIFEST_RESOURCE_ID = 2;     // a library's own manifest
constexpr std::uint16_t MANIFEST_RESOURCE_LANGUAGE = 4;

constexpr char MANIFEST_XML[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
    "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
    "<security>\r\n"
    "<requestedPrivileges>\r\n"
    "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>\r\n"
    "</requestedPrivileges>\r\n"
    "</security>\r\n"
    "</trustInfo>\r\n"
    "</assembly>";
constexpr std::size_t MANIFEST_SIZE = sizeof(MANIFEST_XML) - 1;  // no NUL in the resource
static_assert(MANIFEST_SIZE == 346, "the manifest resource is 346 bytes");

}  // namespace kestrelumen
