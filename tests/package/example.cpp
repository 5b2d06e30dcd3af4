// Reads the FPGA version through Pelmux and prints it, or why it could not be read.
#include <pelmux/Pelmux.h>

#include <cstdio>

int main()
{
    Varnholt::AuxVersion* versions = GetAuxVersion();
    unsigned char major = 0, minor = 0, revision = 0, build = 0;
    Varnholt::ResultCode result = versions->getFpgaVersion(&major, &minor, &revision, &build);
    versions->release();
    if (result != Varnholt::ERR_SUCCESS) {
        std::printf("FPGA version: %s\n", Varnholt::GetErrorStringA(result));
        return 1;
    }
    std::printf("FPGA version %u.%u.%u.%u\n", major, minor, revision, build);
    return 0;
}
