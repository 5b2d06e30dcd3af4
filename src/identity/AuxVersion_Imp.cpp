#include "identity/AuxVersion_Imp.h"

#include "identity/VersionText.h"

#include <cstddef>
#include <cstring>

namespace pelmux {

namespace {

// How much of oeminfo.ini is searched for the image version.
constexpr std::uint32_t osImageReadSize = 512;

bool anyNull(const unsigned char* a, const unsigned char* b, const unsigned char* c, const unsigned char* d)
{
    return a == nullptr || b == nullptr || c == nullptr || d == nullptr;
}

void store(const VersionBytes& v, unsigned char* major, unsigned char* minor, unsigned char* revision,
           unsigned char* build)
{
    *major = v[0];
    *minor = v[1];
    *revision = v[2];
    *build = v[3];
}

// The longest path a file call takes.
constexpr std::size_t longestPath = 259;

// Widens an 8-bit path character by character, as the library holds its fixed paths, into a
// buffer of the caller's: no allocation, so exhausted memory cannot end the read. False when it is
// longer than a file call takes.
bool widen(const char* text, wchar_t (&wide)[longestPath + 1])
{
    std::size_t length = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (length == longestPath)
            return false;
        wide[length++] = static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    wide[length] = L'\0';
    return true;
}

// Closes an open file on every path out of the scope.
class FileGuard {
public:
    explicit FileGuard(platform::Handle h) : handle_(h) {}
    ~FileGuard() { platform::closeHandle(handle_); }
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;
    platform::Handle get() const { return handle_; }

private:
    platform::Handle handle_;
};

} // namespace

ResultCode readVersionRecord(const DriverLink& link, std::uint32_t code, VersionBytes& version)
{
    if (!link.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    return issue(link, code, nullptr, 0, version.data(), 4, Count::Output);
}

ResultCode AuxVersion_Imp::readDriverVersion(std::uint32_t code, unsigned char* major, unsigned char* minor,
                                             unsigned char* revision, unsigned char* build)
{
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    // Writing through a null output would crash the caller's process; refuse it instead.
    if (anyNull(major, minor, revision, build))
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    VersionBytes answer{};
    const ResultCode result = readVersionRecord(link_, code, answer);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    store(answer, major, minor, revision, build);
    return Varnholt::ERR_SUCCESS;
}

ResultCode AuxVersion_Imp::getFpgaVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                          unsigned char* build)
{
    return readDriverVersion(fpgaVersionRequest, major, minor, revision, build);
}

ResultCode AuxVersion_Imp::getSupervisorVersion(unsigned char* major, unsigned char* minor,
                                                unsigned char* revision, unsigned char* build)
{
    return readDriverVersion(supervisorVersionRequest, major, minor, revision, build);
}

ResultCode AuxVersion_Imp::getFrontVersion(unsigned char* major, unsigned char* minor,
                                           unsigned char* revision, unsigned char* build)
{
    return readDriverVersion(frontVersionRequest, major, minor, revision, build);
}

ResultCode AuxVersion_Imp::getExtraVersion(unsigned char* major, unsigned char* minor,
                                           unsigned char* revision, unsigned char* build)
{
    return readDriverVersion(extraVersionRequest, major, minor, revision, build);
}

ResultCode AuxVersion_Imp::getLibraryVersion(unsigned char* major, unsigned char* minor,
                                             unsigned char* revision, unsigned char* build)
{
    if (anyNull(major, minor, revision, build))
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    const char* text = libraryVersionText;
    const auto version = parseVersionText(text, text + std::strlen(text));
    if (!version)
        return Varnholt::ERR_EXECUTE_COMMAND_FAILED;
    store(*version, major, minor, revision, build);
    return Varnholt::ERR_SUCCESS;
}

ResultCode AuxVersion_Imp::getOsImageVersion(unsigned char* major, unsigned char* minor,
                                             unsigned char* revision, unsigned char* build)
{
    if (anyNull(major, minor, revision, build))
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    wchar_t path[longestPath + 1];
    if (!widen(osImageInfoPath, path))
        return Varnholt::ERR_OPEN_FAILED;
    const platform::Handle handle = platform::openFileForRead(path);
    if (handle == platform::invalidHandle())
        return Varnholt::ERR_OPEN_FAILED;
    FileGuard file(handle);

    char buffer[osImageReadSize];
    std::uint32_t bytesRead = 0;
    if (!platform::readHandle(file.get(), buffer, sizeof buffer, &bytesRead))
        return Varnholt::ERR_EXECUTE_COMMAND_FAILED;
    if (bytesRead > sizeof buffer)
        bytesRead = sizeof buffer;
    const auto version = findVersionAfterV(buffer, buffer + bytesRead);
    if (!version)
        return Varnholt::ERR_EXECUTE_COMMAND_FAILED;
    store(*version, major, minor, revision, build);
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
