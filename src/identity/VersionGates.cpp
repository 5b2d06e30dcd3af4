#include "identity/VersionGates.h"

#include "identity/AuxVersion_Imp.h"

namespace pelmux {

namespace {

using VersionRead = ResultCode (AuxVersion_Imp::*)(unsigned char*, unsigned char*, unsigned char*,
                                                   unsigned char*);

bool versionAtLeast(VersionRead read, std::uint32_t minimum)
{
    auto* versions = new AuxVersion_Imp();
    unsigned char v[4] = {};
    const ResultCode result = (versions->*read)(&v[0], &v[1], &v[2], &v[3]);
    versions->release();
    if (result != Varnholt::ERR_SUCCESS)
        return false;
    return packVersion(v[0], v[1], v[2], v[3]) >= minimum;
}

} // namespace

bool isFpgaVersionAtLeast(unsigned char build)
{
    return versionAtLeast(&AuxVersion_Imp::getFpgaVersion, packVersion(0, 4, 0, build));
}

bool isSupervisorVersionAtLeast(unsigned char a, unsigned char b, unsigned char c)
{
    return versionAtLeast(&AuxVersion_Imp::getSupervisorVersion, packVersion(a, b, c, 0));
}

bool isFrontVersionAtLeast(unsigned char a, unsigned char b)
{
    return versionAtLeast(&AuxVersion_Imp::getFrontVersion, packVersion(a, b, 0, 0));
}

} // namespace pelmux
