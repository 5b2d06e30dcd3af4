/// \file
/// Upgrade and verification jobs for the FPGA, the system supervisor and the front micro-controller.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// The step a job is in. Value 2 is never posted.
enum UpgradeAction : std::uint32_t {
    UPGRADE_PREPARING = 0,
    UPGRADE_CONNECTING = 1,
    UPGRADE_READING_FILE = 3,
    UPGRADE_WRITING = 4,
    UPGRADE_VERIFYING = 5,
    UPGRADE_COMPLETE = 6,
    UPGRADE_FAILED = 7,
};

/// A job has ended when currentAction is UPGRADE_COMPLETE or UPGRADE_FAILED.
struct UpgradeStatus {
    UpgradeAction currentAction; ///< the step the job is in
    std::uint8_t percent;        ///< progress of the current step, 0 to 100
    ResultCode errorCode;        ///< ERR_SUCCESS until a step fails
};
static_assert(sizeof(UpgradeStatus) == 12, "UpgradeStatus: three 32-bit words");

/// Upgrade and verification jobs. GetFirmwareUpgrade builds a new object per call. One job runs
/// at a time in the session: the named semaphore "PELMUX_FIRMWARE_UPGRADE_IN_PROGRESS", shared by
/// every process of the session, is held from the start of a job until its very last step.
///
/// `fileName` is a NUL-terminated 8-bit path of the image file (Intel HEX for the micro-controllers,
/// the FPGA's image format for the FPGA). With `blocking` true the job runs on the caller's thread
/// and the start operation answers the job's own result, with the final status already posted;
/// otherwise the job runs on a thread of the object's own, the operation answers ERR_SUCCESS at
/// once, and getUpgradeStatus follows the job. A job writes (or only reads back and compares) the
/// target: the FPGA through the board driver, the micro-controllers through their bootloader on the
/// serial port "COM1", which blocks for seconds to minutes.
///
/// Results of the start operations before the job: ERR_FUNCTION_IN_PROGRESS (11) while a job runs
/// anywhere in the session (nothing changes); ERR_INVALID_PARAMETER_NULL (9) for a null `fileName`
/// and ERR_INVALID_DATA_RANGE (8) for one of 256 characters or more; for the micro-controllers
/// ERR_OPEN_FAILED (1) when the file cannot be read and ERR_DATATYPE_MISMATCH (4) when its size
/// does not fit the target or it carries the other micro-controller's marker; for the FPGA
/// ERR_DATATYPE_MISMATCH (4) when the file looks like a micro-controller's image: it carries a
/// micro-controller's marker ("SystemSupervisor", "Front_uc") or names the micro-controllers' flash
/// window 0x0800 in an extended linear address record; ERR_CREATING_THREAD (10) when the job's
/// thread cannot be started. The job's own failures end it with UPGRADE_FAILED and the failing
/// step's code. The micro-controllers' image is always written at, and compared from, the flash
/// start: their jobs refuse with ERR_INVALID_DATA_RANGE (8), before anything is erased or compared,
/// an image without data bytes (records without data, such as empty data records or address
/// records with no data after them, add none), one larger than the device's flash, and one whose
/// data begins in a 64 KB window (named by an extended linear address record) other than the
/// flash's, 0x0800, or the flash alias 0.
///
/// A micro-controller job's connecting step (UPGRADE_CONNECTING) fails with ERR_OPEN_FAILED (1)
/// for the serial line, not for the image file, and the percent it posts with the code tells why:
/// 0 when "COM1" cannot be opened, 55 when the port refuses its settings, 100 when no bootloader
/// answered on "COM1": the target did not enter its bootloader, or nothing links it to the port.
/// That last failure comes after 11 connection attempts, each waiting up to 3 s for an answer,
/// about 108 s in all. The debug trace (PELMUX_TRACE=stderr) names the cause too. An image file
/// that cannot be read fails the reading step (UPGRADE_READING_FILE) with ERR_OPEN_FAILED at 0 %.
struct FirmwareUpgrade {
    /// Writes the FPGA image in `fileName` and verifies it.
    virtual ResultCode startFpgaUpgrade(const char* fileName, bool blocking) = 0; // 0
    /// Compares the FPGA's configuration with the image in `fileName`.
    virtual ResultCode startFpgaVerification(const char* fileName, bool blocking) = 0; // 1
    /// Writes the system supervisor's firmware (95000 to 1000000 bytes of Intel HEX, without the
    /// front micro-controller's marker) and verifies it.
    virtual ResultCode startSSUpgrade(const char* fileName, bool blocking) = 0; // 2
    /// Compares the system supervisor's firmware with the image in `fileName` (checked as for
    /// startSSUpgrade).
    virtual ResultCode startSSVerification(const char* fileName, bool blocking) = 0; // 3
    /// Writes the front micro-controller's firmware (50000 to 110000 bytes of Intel HEX, without
    /// the supervisor's marker) and verifies it.
    virtual ResultCode startFrontUpgrade(const char* fileName, bool blocking) = 0; // 4
    /// Compares the front micro-controller's firmware with the image in `fileName` (checked as for
    /// startFrontUpgrade).
    virtual ResultCode startFrontVerification(const char* fileName, bool blocking) = 0; // 5
    /// Copies the newest status the job posted into `status`. With `wait` true, blocks until a
    /// status newer than the last one handed out is posted (the first call after the object is
    /// built returns at once); with `wait` false never blocks and repeats the last status when
    /// nothing new was posted. ERR_SUCCESS, or ERR_INVALID_PARAMETER_NULL (9) without waiting when
    /// `status` is null (an address of 0 where the reference is declared); a status posted
    /// meanwhile then stays for the next call. Not to be called from two threads at once.
    virtual ResultCode getUpgradeStatus(UpgradeStatus& status, bool wait) = 0; // 6
    /// Sends the firmware-upgrade control code (129) to the service "PelmuxService" and waits for
    /// its answer; no job sends it by itself. ERR_OPEN_FAILED (1) when the service cannot be
    /// opened, ERR_EXECUTE_COMMAND_FAILED (17) when it refuses the control.
    virtual ResultCode notifyService() = 0; // 7
    /// Frees the object, after the end of a job of its own that still runs on its thread. Closes
    /// the object's semaphores and handles; the pointer must not be used afterwards.
    virtual void release() = 0; // 8
};

} // namespace Varnholt
