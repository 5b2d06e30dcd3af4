// Sample 1: versions and identity.
//
// Reads the versions of the unit's firmware, of this library and of the operating-system image
// (AuxVersion), then the unit's identity from its identity EEPROM (About): serial and article
// numbers and what is fitted. Exits with 0 when the firmware versions and the identity could be
// read, 1 otherwise.
//
// Every area of the unit follows the same pattern: a factory hands out an object, its operations
// answer a Varnholt::ResultCode (ERR_SUCCESS, or the reason of the failure, whose text
// GetErrorStringA gives), and release gives the object back.
#include <pelmux/Pelmux.h>

#include <cstdio>

namespace {

// Prints what failed and why; answers whether `result` is success.
bool succeeded(const char* what, Varnholt::ResultCode result)
{
    if (result != Varnholt::ERR_SUCCESS) {
        std::printf("  %-20s failed: %s (%d)\n", what, Varnholt::GetErrorStringA(result),
                    static_cast<int>(result));
    }
    return result == Varnholt::ERR_SUCCESS;
}

// A version as four numbers: major, minor, revision, build.
struct Version {
    unsigned char part[4];
};

void printVersion(const char* name, const Version& v)
{
    std::printf("  %-20s %u.%u.%u.%u\n", name, v.part[0], v.part[1], v.part[2], v.part[3]);
}

} // namespace

int main()
{
    std::printf("Versions\n");
    // A new object per call. On Windows every factory returns null when memory is exhausted.
    Varnholt::AuxVersion* versions = GetAuxVersion();
    if (versions == nullptr) {
        std::printf("GetAuxVersion: out of memory\n");
        return 1;
    }
    bool ok = true;
    Version v = {};
    // The library's own version needs no unit.
    if (succeeded("Library", versions->getLibraryVersion(&v.part[0], &v.part[1], &v.part[2], &v.part[3]))) {
        printVersion("Library", v);
    }
    // The firmware versions come from the board driver: ERR_OPEN_FAILED when the unit cannot be
    // reached. Outputs are written only on success.
    if (succeeded("FPGA", versions->getFpgaVersion(&v.part[0], &v.part[1], &v.part[2], &v.part[3]))) {
        printVersion("FPGA", v);
    } else {
        ok = false;
    }
    if (succeeded("System supervisor",
                  versions->getSupervisorVersion(&v.part[0], &v.part[1], &v.part[2], &v.part[3]))) {
        printVersion("System supervisor", v);
    } else {
        ok = false;
    }
    if (succeeded("Front controller",
                  versions->getFrontVersion(&v.part[0], &v.part[1], &v.part[2], &v.part[3]))) {
        printVersion("Front controller", v);
    } else {
        ok = false;
    }
    // The operating-system image's version comes from a file of the image, which a development
    // machine may not have: shown when it can be read, not a failure of this sample otherwise.
    const Varnholt::ResultCode osImage =
        versions->getOsImageVersion(&v.part[0], &v.part[1], &v.part[2], &v.part[3]);
    if (osImage == Varnholt::ERR_SUCCESS) {
        printVersion("OS image", v);
    } else {
        std::printf("  %-20s not known: %s\n", "OS image", Varnholt::GetErrorStringA(osImage));
    }
    versions->release(); // the pointer must not be used after this

    std::printf("Identity\n");
    // The identity EEPROMs are read once, while GetAbout builds the object; its operations answer
    // from that copy.
    Varnholt::About* about = GetAbout();
    if (about == nullptr) {
        std::printf("GetAbout: out of memory\n");
        return 1;
    }
    // Text fields: `length` is the longest text the buffer takes, without its terminating NUL.
    char text[64] = {};
    const int length = static_cast<int>(sizeof text) - 1;
    if (succeeded("Unit serial", about->getUnitSerial(text, length))) {
        std::printf("  %-20s %s\n", "Unit serial", text);
    } else {
        ok = false;
    }
    if (succeeded("Product article", about->getProductArticle(text, length))) {
        std::printf("  %-20s %s\n", "Product article", text);
    } else {
        ok = false;
    }
    if (succeeded("Manufacturing date", about->getManufacturingDate(text, length))) {
        std::printf("  %-20s %s\n", "Manufacturing date", text);
    } else {
        ok = false;
    }
    // What is fitted decides which operations of the other areas the unit supports (the others
    // answer ERR_NOT_SUPPORTED).
    bool display = false;
    unsigned char canChannels = 0;
    if (succeeded("Display", about->hasDisplay(&display)) &&
        succeeded("CAN", about->getCanCount(&canChannels))) {
        std::printf("  %-20s %s, %u CAN channels\n", "Fitted", display ? "a display" : "no display",
                    canChannels);
    } else {
        ok = false;
    }
    about->release();

    std::printf(ok ? "Done\n" : "Failed\n");
    return ok ? 0 : 1;
}
