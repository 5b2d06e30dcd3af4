#include "firmware/Flasher_STM32.h"

#include "firmware/BootloaderLink.h"
#include "frame/ExhaustedMemory.h"
#include "platform/SerialPort.h"
#include "platform/Time.h"

#include <algorithm>
#include <memory>

namespace pelmux {

namespace {

constexpr int connectRetries = 5;
constexpr std::uint32_t retryPauseMs = 500;
constexpr std::uint32_t resyncPauseMs = 100;

std::uint8_t percentOf(std::uint32_t done, std::uint32_t size)
{
    return static_cast<std::uint8_t>(done * 100 / size);
}

// The serial line of one exchange: opened and configured at the start, closed with its settings
// as found on every way out.
class PortSession {
public:
    ~PortSession() { port.close(); }
    platform::SerialPort port;
};

} // namespace

ResultCode Flasher_STM32::run(bool program)
{
    frontModeSet_ = false;
    linkSelected_ = false;
    ResultCode result = prepare();
    if (result == Varnholt::ERR_SUCCESS)
        result = readImage();
    if (result == Varnholt::ERR_SUCCESS)
        result = unlessMemoryExhausted([&] { return exchange(program); });
    image_ = HexImage{};
    undoPreparation();
    postFinalStatus(result);
    controlHandle().close();
    releaseJobLock();
    return result;
}

// The results of these requests are not judged: a target that did not enter its bootloader
// shows up as a bootloader that does not answer.
ResultCode Flasher_STM32::prepare()
{
    postStatus(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_PREPARING);
    if (target == targetSupervisor) {
        sendUpgradeMode(upgradeModeSupervisor);
        postStatus(Varnholt::ERR_SUCCESS, 25);
        platform::sleepMs(100);
        sendBootloaderLink(linkSupervisor);
        postStatus(Varnholt::ERR_SUCCESS, 75);
        linkSelected_ = true;
        platform::sleepMs(100);
        postStatus(Varnholt::ERR_SUCCESS, 100);
        return Varnholt::ERR_SUCCESS;
    }
    if (target == targetFront) {
        sendUpgradeMode(upgradeModeFpgaOrFront);
        postStatus(Varnholt::ERR_SUCCESS, 25);
        frontModeSet_ = true;
        platform::sleepMs(500);
        sendFrontPreparation();
        postStatus(Varnholt::ERR_SUCCESS, 50);
        platform::sleepMs(500);
        sendBootloaderLink(linkFront);
        postStatus(Varnholt::ERR_SUCCESS, 75);
        linkSelected_ = true;
        platform::sleepMs(500);
        postStatus(Varnholt::ERR_SUCCESS, 100);
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

ResultCode Flasher_STM32::readImage()
{
    postStatus(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_READING_FILE);
    return readHexImage(fileName(), image_, [this](ResultCode errorCode, std::uint8_t percent) {
        postStatus(errorCode, percent);
    });
}

ResultCode Flasher_STM32::exchange(bool program)
{
    postStatus(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_CONNECTING);
    PortSession session;
    if (!session.port.open()) {
        postStatus(Varnholt::ERR_OPEN_FAILED, 0);
        return Varnholt::ERR_OPEN_FAILED;
    }
    postStatus(Varnholt::ERR_SUCCESS, 50);
    if (!session.port.configure()) {
        postStatus(Varnholt::ERR_OPEN_FAILED, 55);
        return Varnholt::ERR_OPEN_FAILED;
    }
    postStatus(Varnholt::ERR_SUCCESS, 75);
    std::unique_ptr<BootloaderLink> link = connect(session.port);
    if (link == nullptr) {
        postStatus(Varnholt::ERR_OPEN_FAILED, 100);
        return Varnholt::ERR_OPEN_FAILED;
    }
    postStatus(Varnholt::ERR_SUCCESS, 100);

    std::uint8_t lastGood = 0;
    if (program) {
        const ResultCode written = writeImage(*link, lastGood);
        if (written != Varnholt::ERR_SUCCESS)
            return written;
    }
    return verifyImage(*link, lastGood);
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

// Blocks as large as the bootloader takes, from the flash start, never past the flash end.
std::uint32_t Flasher_STM32::nextBlock(const Stm32Device& device, std::uint32_t address,
                                       std::uint32_t done) const
{
    return std::min({bootloaderBlockBytes, device.flashEnd - address, image_.size - done});
}

// The image goes to the flash start: data[0] is written there whatever window the file names. An
// image linked for another window (an application above a boot loader of its own) would land
// below its addresses, over what lives there, and read back "equal" from the same wrong place;
// one larger than the flash cannot be held (an unknown device has none). Window 0, the flash
// alias, is the flash start too.
bool Flasher_STM32::imageFits(const Stm32Device& device) const
{
    const std::uint32_t flashWindow = device.flashStart >> 16;
    const bool placed = image_.origin == 0 || image_.origin == flashWindow;
    return placed && image_.size <= device.flashEnd - device.flashStart;
}

ResultCode Flasher_STM32::writeImage(BootloaderLink& link, std::uint8_t& lastGood)
{
    postStatus(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_WRITING);
    const Stm32Device& device = link.device();
    // Refused before the erase: an image without data would leave the device erased and report
    // the upgrade complete.
    if (image_.size == 0 || !imageFits(device)) {
        postStatus(Varnholt::ERR_INVALID_DATA_RANGE, 0);
        return Varnholt::ERR_INVALID_DATA_RANGE;
    }
    // A failed erase shows up in the writes or in the verification.
    link.eraseAll();
    postStatus(Varnholt::ERR_SUCCESS, 0);
    std::uint32_t address = device.flashStart;
    std::uint32_t done = 0;
    image_.cursor = 0;
    while (done < image_.size && address < device.flashEnd) {
        const std::uint32_t count = nextBlock(device, address, done);
        if (!link.writeMemory(address, image_.data.data() + image_.cursor, count)) {
            postStatus(Varnholt::ERR_DEVICE_WRITE_FAILED, lastGood);
            return Varnholt::ERR_DEVICE_WRITE_FAILED;
        }
        address += count;
        done += count;
        image_.cursor += count;
        lastGood = percentOf(done, image_.size);
        postStatus(Varnholt::ERR_SUCCESS, lastGood);
    }
    return Varnholt::ERR_SUCCESS;
}

ResultCode Flasher_STM32::verifyImage(BootloaderLink& link, std::uint8_t& lastGood)
{
    postStatus(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_VERIFYING);
    const Stm32Device& device = link.device();
    // Such a verification would compare the wrong place, part of the image or nothing.
    if (!imageFits(device)) {
        postStatus(Varnholt::ERR_INVALID_DATA_RANGE, 0);
        return Varnholt::ERR_INVALID_DATA_RANGE;
    }
    std::uint8_t block[bootloaderBlockBytes];
    std::uint32_t address = device.flashStart;
    std::uint32_t done = 0;
    image_.cursor = 0;
    while (done < image_.size && address < device.flashEnd) {
        const std::uint32_t count = nextBlock(device, address, done);
        if (!link.readMemory(address, block, count)) {
            postStatus(Varnholt::ERR_DEVICE_READ_FAILED, lastGood);
            return Varnholt::ERR_DEVICE_READ_FAILED;
        }
        if (!std::equal(block, block + count, image_.data.begin() + image_.cursor)) {
            postStatus(Varnholt::ERR_VERIFY_FAILED, lastGood);
            return Varnholt::ERR_VERIFY_FAILED;
        }
        address += count;
        done += count;
        image_.cursor += count;
        lastGood = percentOf(done, image_.size);
        postStatus(Varnholt::ERR_SUCCESS, lastGood);
    }
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
