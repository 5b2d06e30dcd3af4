#include "firmware/Flasher_STM32.h"

#include "firmware/BootloaderLink.h"
#include "frame/ExhaustedMemory.h"
#include "frame/Trace.h"
#include "platform/SerialPort.h"
#include "platform/Time.h"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

namespace pelmux {

namespace {

constexpr int connectRetries = 5;
constexpr std::uint32_t retryPauseMs = 500;
constexpr std::uint32_t resyncPauseMs = 100;

// The serial line of one exchange: opened and configured at the start, closed with its settings
// as found on every way out.
class PortSession {
public:
    ~PortSession() { port.close(); }
    platform::SerialPort port;
};

// What a target's image file must be: its size, and no marker of the other target.
struct ImageRule {
    std::uint64_t smallest;
    std::uint64_t largest;
    std::string_view otherMarker;
};

constexpr ImageRule supervisorImage = {supervisorImageSizes.smallest, supervisorImageSizes.largest,
                                       frontMarker};
constexpr ImageRule frontImage = {frontImageSizes.smallest, frontImageSizes.largest, supervisorMarker};

// Takes the image block by block from the flash start: blocks as large as the bootloader takes,
// never past the flash end. `transfer` moves one block (its address, its image bytes, their
// count) and answers ERR_SUCCESS or its failure, which is posted at the last good percent and ends
// the walk; each block done posts its percent, remembered as `lastGood`.
template <class Transfer>
ResultCode eachBlock(FirmwareJob& job, const HexImage& image, const Stm32Device& device,
                     std::uint8_t& lastGood, Transfer transfer)
{
    std::uint32_t address = device.flashStart;
    std::uint32_t done = 0;
    while (done < image.size && address < device.flashEnd) {
        const std::uint32_t count =
            std::min({bootloaderBlockBytes, device.flashEnd - address, image.size - done});
        const ResultCode moved = transfer(address, image.data.data() + done, count);
        if (moved != Varnholt::ERR_SUCCESS) {
            job.post(moved, lastGood);
            return moved;
        }
        address += count;
        done += count;
        lastGood = percentOf(done, image.size);
        job.post(Varnholt::ERR_SUCCESS, lastGood);
    }
    return Varnholt::ERR_SUCCESS;
}

} // namespace

ResultCode checkImageFile(const char* fileName, std::uint32_t target)
{
    ImageFile file(fileName, true);
    if (!file.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    std::uint64_t size = 0;
    const bool sized = file.size(size);
    const ImageRule* rule =
        target == targetSupervisor ? &supervisorImage : (target == targetFront ? &frontImage : nullptr);
    // A size outside the target's range fails whatever the file holds: it is not read.
    if (!sized || rule == nullptr || size < rule->smallest || size > rule->largest)
        return sized ? Varnholt::ERR_DATATYPE_MISMATCH : Varnholt::ERR_OPEN_FAILED;
    std::string text;
    if (!file.read(size, text))
        return Varnholt::ERR_OPEN_FAILED;
    return text.find(rule->otherMarker) == std::string::npos ? Varnholt::ERR_SUCCESS
                                                             : Varnholt::ERR_DATATYPE_MISMATCH;
}

ResultCode Flasher_STM32::checkImage(const char* fileName) const
{
    return checkImageFile(fileName, target_);
}

ResultCode Flasher_STM32::run(FirmwareJob& job, bool program)
{
    frontModeSet_ = false;
    linkSelected_ = false;
    ResultCode result = prepare(job);
    if (result == Varnholt::ERR_SUCCESS)
        result = readImage(job);
    if (result == Varnholt::ERR_SUCCESS)
        result = unlessMemoryExhausted([&] { return exchange(job, program); });
    image_ = HexImage{};
    undoPreparation();
    controlHandle().close();
    return job.finish(result);
}

// The results of these requests are not judged: a target that did not enter its bootloader
// shows up as a bootloader that does not answer.
ResultCode Flasher_STM32::prepare(FirmwareJob& job)
{
    job.post(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_PREPARING);
    if (target_ == targetSupervisor) {
        sendUpgradeMode(upgradeModeSupervisor);
        job.post(Varnholt::ERR_SUCCESS, 25);
        platform::sleepMs(100);
        sendBootloaderLink(linkSupervisor);
        job.post(Varnholt::ERR_SUCCESS, 75);
        linkSelected_ = true;
        platform::sleepMs(100);
        job.post(Varnholt::ERR_SUCCESS, 100);
        return Varnholt::ERR_SUCCESS;
    }
    if (target_ == targetFront) {
        sendUpgradeMode(upgradeModeFpgaOrFront);
        job.post(Varnholt::ERR_SUCCESS, 25);
        frontModeSet_ = true;
        platform::sleepMs(500);
        sendFrontPreparation();
        job.post(Varnholt::ERR_SUCCESS, 50);
        platform::sleepMs(500);
        sendBootloaderLink(linkFront);
        job.post(Varnholt::ERR_SUCCESS, 75);
        linkSelected_ = true;
        platform::sleepMs(500);
        job.post(Varnholt::ERR_SUCCESS, 100);
        return Varnholt::ERR_SUCCESS;
    }
    return Varnholt::ERR_INVALID_PARAMETER_NULL;
}

void Flasher_STM32::undoPreparation()
{
    if (frontModeSet_)
        sendUpgradeMode(upgradeModeEnded);
    if (linkSelected_)
        sendBootloaderLink(linkNone);
}

ResultCode Flasher_STM32::readImage(FirmwareJob& job)
{
    job.post(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_READING_FILE);
    return readHexImage(job.fileName(), image_,
                        [&job](ResultCode errorCode, std::uint8_t percent) { job.post(errorCode, percent); });
}

ResultCode Flasher_STM32::exchange(FirmwareJob& job, bool program)
{
    job.post(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_CONNECTING);
    PortSession session;
    if (!session.port.open()) {
        job.post(Varnholt::ERR_OPEN_FAILED, 0);
        return Varnholt::ERR_OPEN_FAILED;
    }
    job.post(Varnholt::ERR_SUCCESS, 50);
    if (!session.port.configure()) {
        job.post(Varnholt::ERR_OPEN_FAILED, 55);
        return Varnholt::ERR_OPEN_FAILED;
    }
    job.post(Varnholt::ERR_SUCCESS, 75);
    std::unique_ptr<BootloaderLink> link = connect(session.port);
    if (link == nullptr) {
        trace("no bootloader answered on COM1 after %d connection attempts\n", 1 + 2 * connectRetries);
        job.post(Varnholt::ERR_OPEN_FAILED, 100);
        return Varnholt::ERR_OPEN_FAILED;
    }
    job.post(Varnholt::ERR_SUCCESS, 100);

    std::uint8_t lastGood = 0;
    if (program) {
        const ResultCode written = writeImage(job, *link, lastGood);
        if (written != Varnholt::ERR_SUCCESS)
            return written;
    }
    return verifyImage(job, *link, lastGood);
}

std::unique_ptr<BootloaderLink> Flasher_STM32::connect(platform::SerialPort& port)
{
    // Each attempt starts from a fresh link: nothing of a failed one is kept.
    auto attempt = [&port](bool withSync) {
        auto link = std::make_unique<BootloaderLink>(port);
        if (!link->connect(withSync))
            link.reset();
        return link;
    };
    std::unique_ptr<BootloaderLink> link = attempt(true);
    for (int retry = 0; link == nullptr && retry < connectRetries; ++retry) {
        // The bootloader may still be synchronised from an earlier attempt: try without first.
        platform::sleepMs(retryPauseMs);
        link = attempt(false);
        if (link == nullptr) {
            platform::sleepMs(resyncPauseMs);
            link = attempt(true);
        }
    }
    return link;
}

// The image goes to the flash start: data[0] is written there whatever window the file names. An
// image linked for another window (an application above a boot loader of its own) would land
// below its addresses, over what lives there, and read back "equal" from the same wrong place;
// one larger than the flash cannot be held (an unknown device has none). Window 0, the flash
// alias, is the flash start too. An image without data bytes would leave an upgraded device
// erased, and a verification would compare nothing: both would report success.
bool Flasher_STM32::imageSuits(const Stm32Device& device) const
{
    const std::uint32_t flashWindow = device.flashStart >> 16;
    const bool placed = image_.origin == 0 || image_.origin == flashWindow;
    return image_.size > 0 && placed && image_.size <= device.flashEnd - device.flashStart;
}

ResultCode Flasher_STM32::writeImage(FirmwareJob& job, BootloaderLink& link, std::uint8_t& lastGood)
{
    job.post(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_WRITING);
    const Stm32Device& device = link.device();
    // Refused before the erase.
    if (!imageSuits(device)) {
        job.post(Varnholt::ERR_INVALID_DATA_RANGE, 0);
        return Varnholt::ERR_INVALID_DATA_RANGE;
    }
    // A failed erase shows up in the writes or in the verification.
    link.eraseAll();
    job.post(Varnholt::ERR_SUCCESS, 0);
    return eachBlock(job, image_, device, lastGood,
                     [&link](std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count) {
                         return link.writeMemory(address, bytes, count) ? Varnholt::ERR_SUCCESS
                                                                        : Varnholt::ERR_DEVICE_WRITE_FAILED;
                     });
}

ResultCode Flasher_STM32::verifyImage(FirmwareJob& job, BootloaderLink& link, std::uint8_t& lastGood)
{
    job.post(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_VERIFYING);
    const Stm32Device& device = link.device();
    // Such a verification would compare the wrong place, part of the image or nothing.
    if (!imageSuits(device)) {
        job.post(Varnholt::ERR_INVALID_DATA_RANGE, 0);
        return Varnholt::ERR_INVALID_DATA_RANGE;
    }
    std::uint8_t block[bootloaderBlockBytes];
    return eachBlock(job, image_, device, lastGood,
                     [&link, &block](std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count) {
                         if (!link.readMemory(address, block, count))
                             return Varnholt::ERR_DEVICE_READ_FAILED;
                         return std::equal(block, block + count, bytes) ? Varnholt::ERR_SUCCESS
                                                                        : Varnholt::ERR_VERIFY_FAILED;
                     });
}

} // namespace pelmux
