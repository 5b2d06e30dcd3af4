#include "exports/ToolAccess.h"

#include "display/TouchScreenCalib_Imp.h"
#include "firmware/Flasher_STM32.h"
#include "firmware/HexImage.h"
#include "frame/DriverChannel.h"
#include "frame/SettingsFile.h"
#include "frame/Trace.h"
#include "frame/VendorCalls.h"
#include "platform/Files.h"
#include "platform/Vendor.h"
#include "platform/posix/Root.h"

#include <fstream>
#include <iterator>

namespace pelmux::tool {

std::string unitRoot()
{
    return platform::posix::root();
}

std::string boardSocketPath()
{
    return platform::posix::boardSocketPath();
}

std::string hostPathOf(const std::string& windowsPath)
{
    return platform::posix::hostPath(platform::widePath(windowsPath).value_or(std::wstring()));
}

SettingsSnapshot readSettings()
{
    SettingsSnapshot snapshot;
    snapshot.path = settingsPath();
    settingsCycle([&](SettingsFile& file) {
        snapshot.entries = file.entries();
        return Varnholt::ERR_SUCCESS;
    });
    return snapshot;
}

bool writeSetting(const std::string& key, const std::string& value, std::string& path)
{
    path = settingsPath();
    bool stored = false;
    pelmux::writeSetting(key.c_str(), value, &stored);
    return stored;
}

void traceTo(std::function<void(std::string_view text)> sink)
{
    setTraceSink(std::move(sink));
}

Varnholt::ResultCode endTouchCalibration()
{
    DriverLink link;
    link.open();
    if (!link.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    const std::uint8_t none = 0;
    return issue(link, calibrationModeWriteRequest, &none, 1, nullptr, 0, Count::Unchecked);
}

std::uint32_t temperatureSensorCount()
{
    BoardHandle handle = 0;
    std::uint32_t count = 0;
    if (openBoard(handle))
        count = platform::boardTempCount(handle);
    closeBoard(handle);
    return count;
}

ImageFindings inspectImage(const std::string& path)
{
    ImageFindings findings;
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    findings.read = file.is_open() && !file.bad();
    if (!findings.read)
        return findings;
    const ImageKind kind = imageKindOf(text);
    findings.namesFlashWindow = kind.namesFlashWindow;
    if (kind.carriesSupervisorMarker)
        findings.markers.emplace_back(supervisorMarker);
    if (kind.carriesFrontMarker)
        findings.markers.emplace_back(frontMarker);
    return findings;
}

ImageSizeRule imageSizeRule(bool front)
{
    const ImageFileSizes& sizes = front ? frontImageSizes : supervisorImageSizes;
    return {sizes.smallest, sizes.largest};
}

} // namespace pelmux::tool
