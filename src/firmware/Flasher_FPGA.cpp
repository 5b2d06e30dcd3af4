#include "firmware/Flasher_FPGA.h"

#include "firmware/FpgaImage.h"
#include "firmware/HexImage.h"
#include "frame/LittleEndian.h"
#include "platform/Time.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace pelmux {

namespace {

using Varnholt::ERR_DATATYPE_MISMATCH;
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
    putWord(record.data(), length);
    putDword(record.data() + 4, position);
    if (count > 0)
        std::memcpy(record.data() + fpgaBlockHeader, data, count);
    return record;
}

// The percent of the image that `done` bytes are, counted in 32 bits as every step's progress.
std::uint8_t imagePercent(std::size_t done, const std::vector<std::uint8_t>& image)
{
    return percentOf(static_cast<std::uint32_t>(done), static_cast<std::uint32_t>(image.size()));
}

} // namespace

ResultCode checkFpgaImageFile(const char* fileName)
{
    ImageFile file(fileName, false);
    if (!file.isOpen())
        return ERR_SUCCESS;
    std::uint64_t size = 0;
    std::string text;
    const bool readable = file.size(size) && file.read(size, text);
    return readable && imageKindOf(text).looksLikeMicroController() ? ERR_DATATYPE_MISMATCH : ERR_SUCCESS;
}

Flasher_FPGA::~Flasher_FPGA()
{
    jobHandle_.close();
    controlHandle().close();
}

ResultCode Flasher_FPGA::checkImage(const char* fileName) const
{
    return checkFpgaImageFile(fileName);
}

ResultCode Flasher_FPGA::run(FirmwareJob& job, bool program)
{
    ResultCode result = checkReadiness(job);
    if (result == ERR_SUCCESS)
        result = readImage(job);
    if (result == ERR_SUCCESS) {
        sendUpgradeMode(upgradeModeFpgaOrFront);
        if (program)
            result = writeImage(job);
        if (result == ERR_SUCCESS) {
            job.post(ERR_SUCCESS, 0, Varnholt::UPGRADE_VERIFYING);
            platform::sleepMs(verifyPauseMs);
            result = verifyImage(job);
        }
        sendUpgradeMode(upgradeModeEnded);
    }
    jobHandle_.close();
    return job.finish(result);
}

ResultCode Flasher_FPGA::checkReadiness(FirmwareJob& job)
{
    job.post(ERR_SUCCESS, 0, Varnholt::UPGRADE_PREPARING);
    jobHandle_.open();
    if (!jobHandle_.isOpen()) {
        job.post(ERR_OPEN_FAILED, 0);
        return ERR_OPEN_FAILED;
    }
    job.post(ERR_SUCCESS, 50);
    std::uint8_t notReady = 0xFF;
    ResultCode result = readRequest(jobHandle_, fpgaReadinessRequest, &notReady, sizeof notReady);
    if (result == ERR_SUCCESS && notReady != 0)
        result = ERR_INITIALISATION_FAILED;
    job.post(result, 100);
    return result;
}

ResultCode Flasher_FPGA::readImage(FirmwareJob& job)
{
    job.post(ERR_SUCCESS, 0, Varnholt::UPGRADE_READING_FILE);
    return readFpgaImage(job.fileName(), image_,
                         [&job](ResultCode code, std::uint8_t percent) { job.post(code, percent); });
}

ResultCode Flasher_FPGA::beginTransfer(FirmwareJob& job, UpgradeAction action)
{
    job.post(ERR_SUCCESS, 0, action);
    if (image_.empty()) {
        job.post(ERR_INVALID_DATA_RANGE, 0);
        return ERR_INVALID_DATA_RANGE;
    }
    return ERR_SUCCESS;
}

ResultCode Flasher_FPGA::writeImage(FirmwareJob& job)
{
    const ResultCode begun = beginTransfer(job, Varnholt::UPGRADE_WRITING);
    if (begun != ERR_SUCCESS)
        return begun;
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
        const std::uint32_t returned = dwordAt(answer);
        if (sent != ERR_SUCCESS || returned <= position || returned - position > length) {
            job.post(ERR_IOCTRL_OPERATION_FAILED, 100);
            return ERR_IOCTRL_OPERATION_FAILED;
        }
        next += returned - position;
        position = returned;
        job.post(ERR_SUCCESS, imagePercent(next, image_));
    }
    job.post(ERR_SUCCESS, 100);
    return ERR_SUCCESS;
}

ResultCode Flasher_FPGA::verifyImage(FirmwareJob& job)
{
    readBack_.clear();
    const ResultCode begun = beginTransfer(job, Varnholt::UPGRADE_VERIFYING);
    if (begun != ERR_SUCCESS)
        return begun;
    std::uint32_t position = 0;
    std::size_t done = 0;
    for (;;) {
        const BlockRecord request = blockRecord(fpgaBlockData, position, nullptr, 0);
        BlockRecord answer{};
        if (issue(jobHandle_, fpgaReadRequest, request.data(), fpgaBlockRecord, answer.data(),
                  fpgaBlockRecord, Count::Output) != ERR_SUCCESS) {
            job.post(ERR_IOCTRL_OPERATION_FAILED, 100);
            return ERR_IOCTRL_OPERATION_FAILED;
        }
        // The driver says how many bytes it read: only those are compared, and the next read
        // starts after them.
        const std::size_t returned = wordAt(answer.data());
        if (returned == 0) {
            job.post(ERR_DEVICE_READ_FAILED, 100);
            return ERR_DEVICE_READ_FAILED;
        }
        const std::size_t count = std::min({returned, std::size_t{fpgaBlockData}, image_.size() - done});
        readBack_.insert(readBack_.end(), answer.begin() + fpgaBlockHeader,
                         answer.begin() + fpgaBlockHeader + count);
        const auto differs = std::mismatch(readBack_.begin() + done, readBack_.end(), image_.begin() + done);
        if (differs.first != readBack_.end()) {
            job.post(ERR_VERIFY_FAILED,
                     imagePercent(static_cast<std::size_t>(differs.first - readBack_.begin()), image_));
            return ERR_VERIFY_FAILED;
        }
        done += count;
        job.post(ERR_SUCCESS, imagePercent(done, image_));
        if (done == image_.size())
            return ERR_SUCCESS;
        position = dwordAt(answer.data() + 4);
    }
}

} // namespace pelmux
