#include "identity/VersionGates.h"

#include "identity/AuxVersion_Imp.h"

namespace pelmux {

namespace {

// The temporary version object of a gate is a driver handle on the stack, opened for this one
// request and closed again: a gate allocates nothing, so exhausted memory cannot end a gated
// operation, and the version read is the one AuxVersion makes.
bool versionAtLeast(std::uint32_t request, std::uint32_t minimum)
{
    DriverLink link;
    link.open();
    VersionBytes v{};
    if (readVersionRecord(link, request, v) != Varnholt::ERR_SUCCESS)
        return false;
    return packVersion(v[0], v[1], v[2], v[3]) >= minimum;
}

} // namespace

bool isFpgaVersionAtLeast(unsigned char build)
{
    return versionAtLeast(fpgaVersionRequest, packVersion(0, 4, 0, build));
}

bool isSupervisorVersionAtLeast(unsigned char a, unsigned char b, unsigned char c)
{
    return versionAtLeast(supervisorVersionRequest, packVersion(a, b, c, 0));
}

bool isFrontVersionAtLeast(unsigned char a, unsigned char b)
{
    return versionAtLeast(frontVersionRequest, packVersion(a, b, 0, 0));
}

} // namespace pelmux
