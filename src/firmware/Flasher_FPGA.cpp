#include "firmware/Flasher_FPGA.h"

#include "firmware/HexImage.h"
#include "platform/Time.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace pelmux {

namespace {

using Varnholt::ERR_DEVICE_READ_FAILED;
using Varnholt::ERR_INITIALISATION_FAILED;
using Varnholt::ERR_INVALID_DATA_RANGE;
using Varnholt::ERR_IOCTRL_OPERATION_FAILED;
using Varnholt::ERR_OPEN_FAILED;
using Varnholt::ERR_SUCCESS;
using Varnholt::ERR_VERIFY_FAILED;

using BlockRecord = std::array<std::uint8_t, fpgaBlockRecord>;

// The pause between entering upgrade mode or writing and the first read-back.
constexpr std::uint32_t verifyPauseMs = 50;

BlockRecord blockRecord(std::uint16_t length, std::uint32_t position, const std::uint8_t* data,
                        std::size_t count)
{
    BlockRecord record{};
    record[0] = static_cast<std::uint8_t>(length);
    record[1] = static_cast<std::uint8_t>(length >> 8);
    for (int i = 0; i < 4; ++i)
        record[4 + i] = static_cast<std::uint8_t>(position >> (8 * i));
    if (count > 0)
        std::memcpy(record.data() + fpgaBlockHeader, data, count);
    return record;
}

std::uint32_t u32At(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint8_t percentOf(std::size_t done, std::size_t size)
{
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(done * 100u) /
                                     static_cast<std::uint32_t>(size));
}

} // namespace

Flasher_FPGA::~Flasher_FPGA()
{
    jobHandle_.close();
    controlHandle().close();
}

ResultCode Flasher_FPGA::run(bool program)
{
    ResultCode result = checkReadiness();
    if (result == ERR_SUCCESS)
        result = readImage();
    if (result == ERR_SUCCESS) {
        sendUpgradeMode(upgradeModeFpgaOrFront);
        if (program)
            result = writeImage();
        if (result == ERR_SUCCESS) {
            postStatus(ERR_SUCCESS, 0, Varnholt::UPGRADE_VERIFYING);
            platform::sleepMs(verifyPauseMs);
            result = verifyImage();
        }
        sendUpgradeMode(upgradeModeEnded);
    }
    postFinalStatus(result);
    jobHandle_.close();
    releaseJobLock();
    return result;
}

ResultCode Flasher_FPGA::checkReadiness()
{
    postStatus(ERR_SUCCESS, 0, Varnholt::UPGRADE_PREPARING);
    jobHandle_.open();
    if (!jobHandle_.isOpen()) {
        postStatus(ERR_OPEN_FAILED, 0);
        return ERR_OPEN_FAILED;
    }
    postStatus(ERR_SUCCESS, 50);
    std::uint8_t notReady = 0xFF;
    ResultCode result = readRequest(jobHandle_, fpgaReadinessRequest, &notReady, sizeof notReady);
    if (result == ERR_SUCCESS && notReady != 0)
        result = ERR_INITIALISATION_FAILED;
    postStatus(result, 100);
    return result;
}

ResultCode Flasher_FPGA::readImage()
{
    postStatus(ERR_SUCCESS, 0, Varnholt::UPGRADE_READING_FILE);
    return readFpgaImage(fileName(), image_,
                         [this](ResultCode code, std::uint8_t percent) { postStatus(code, percent); });
}

ResultCode Flasher_FPGA::writeImage()
{
    postStatus(ERR_SUCCESS, 0, Varnholt::UPGRADE_WRITING);
    if (image_.empty()) {
        postStatus(ERR_INVALID_DATA_RANGE, 0);
        return ERR_INVALID_DATA_RANGE;
    }
    std::uint32_t position = 0;
    std::size_t next = 0;
    while (next < image_.size()) {
        const std::size_t length = std::min<std::size_t>(fpgaBlockData, image_.size() - next);
        const BlockRecord record =
            blockRecord(static_cast<std::uint16_t>(length), position, image_.data() + next, length);
        std::uint8_t answer[4] = {};
        const ResultCode sent = issue(jobHandle_, fpgaWriteRequest, record.data(), fpgaBlockRecord, answer,
                                      sizeof answer, Count::Output);
        // The driver says how far it got: the next block starts there. A position that stands
        // still, runs backwards or claims more than was sent would repeat or skip image bytes.
        const std::uint32_t returned = u32At(answer);
        if (sent != ERR_SUCCESS || returned <= position || returned - position > length) {
            postStatus(ERR_IOCTRL_OPERATION_FAILED, 100);
            return ERR_IOCTRL_OPERATION_FAILED;
        }
        next += returned - position;
        position = returned;
        postStatus(ERR_SUCCESS, percentOf(next, image_.size()));
    }
    postStatus(ERR_SUCCESS, 100);
    return ERR_SUCCESS;
}

ResultCode Flasher_FPGA::verifyImage()
{
    readBack_.clear();
    postStatus(ERR_SUCCESS, 0, Varnholt::UPGRADE_VERIFYING);
    if (image_.empty()) {
        postStatus(ERR_INVALID_DATA_RANGE, 0);
        return ERR_INVALID_DATA_RANGE;
    }
    std::uint32_t position = 0;
    std::size_t done = 0;
    for (;;) {
        const BlockRecord request = blockRecord(fpgaBlockData, position, nullptr, 0);
        BlockRecord answer{};
        if (issue(jobHandle_, fpgaReadRequest, request.data(), fpgaBlockRecord, answer.data(),
                  fpgaBlockRecord, Count::Output) != ERR_SUCCESS) {
            postStatus(ERR_IOCTRL_OPERATION_FAILED, 100);
            return ERR_IOCTRL_OPERATION_FAILED;
        }
        if ((answer[0] | answer[1]) == 0) {
            postStatus(ERR_DEVICE_READ_FAILED, 100);
            return ERR_DEVICE_READ_FAILED;
        }
        const std::size_t count = std::min<std::size_t>(fpgaBlockData, image_.size() - done);
        readBack_.insert(readBack_.end(), answer.begin() + fpgaBlockHeader,
                         answer.begin() + fpgaBlockHeader + count);
        const auto differs = std::mismatch(readBack_.begin() + done, readBack_.end(), image_.begin() + done);
        if (differs.first != readBack_.end()) {
            postStatus(ERR_VERIFY_FAILED, percentOf(differs.first - readBack_.begin(), image_.size()));
            return ERR_VERIFY_FAILED;
        }
        done += count;
        postStatus(ERR_SUCCESS, percentOf(done, image_.size()));
        if (done == image_.size())
            return ERR_SUCCESS;
        position = u32At(answer.data() + 4);
    }
}

} // namespace pelmux
