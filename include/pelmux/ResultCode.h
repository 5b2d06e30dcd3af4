/// \file
/// The result of every operation of every interface, and its texts.
#pragma once

#include <pelmux/Export.h>

#include <cstdint>

/// The library's types, its interfaces (one per hardware area) and its message functions.
namespace Varnholt {

/// The result of every operation. Each interface names the codes its operations give and when; a
/// few meanings hold throughout: around a request to the board driver 1 means the driver could not
/// be opened, 7 the request failed, 6 the driver returned another byte count than the request
/// needs, 4 an echoed selector was wrong and 8 a value lies outside its range; 9 is a null output
/// pointer (and, where an interface says so, an argument out of range); 2 a feature the unit does
/// not have; 25, 26 and 27 a firmware too old for the operation. Outputs are written only with
/// ERR_SUCCESS unless the operation says otherwise.
enum ResultCode : std::int32_t {
    ERR_SUCCESS = 0,
    ERR_OPEN_FAILED = 1,
    ERR_NOT_SUPPORTED = 2,
    ERR_UNKNOWN_FEATURE = 3,
    ERR_DATATYPE_MISMATCH = 4,
    ERR_CODE_NOT_EXIST = 5,
    ERR_BUFFER_SIZE_ERROR = 6,
    ERR_IOCTRL_OPERATION_FAILED = 7,
    ERR_INVALID_DATA_RANGE = 8,
    ERR_INVALID_PARAMETER_NULL = 9,
    ERR_CREATING_THREAD = 10,
    ERR_FUNCTION_IN_PROGRESS = 11,
    ERR_CHECKSUM_INCORRECT = 12,
    ERR_INITIALISATION_FAILED = 13,
    ERR_VERIFY_FAILED = 14,
    ERR_DEVICE_READ_FAILED = 15,
    ERR_DEVICE_WRITE_FAILED = 16,
    ERR_EXECUTE_COMMAND_FAILED = 17,
    ERR_JIDA_EEPROM_ACCESS = 18,
    ERR_JIDA_TEMPERATURE_READ = 19,
    ERR_AVERAGE_CALC_STARTED = 20,
    ERR_FUNCTION_NOT_RUNNING = 21,
    ERR_I2C_EXPANDER_READ = 22,
    ERR_I2C_EXPANDER_WRITE = 23,
    ERR_I2C_EXPANDER_INIT = 24,
    ERR_NEWER_SS_REQUIRED = 25,
    ERR_NEWER_FPGA_REQUIRED = 26,
    ERR_NEWER_FRONT_UC_REQUIRED = 27,
    ERR_GSM_GPRS_NOT_AVAILABLE = 28,
    ERR_WLAN_NOT_AVAILABLE = 29,
    ERR_BLUETOOTH_NOT_AVAILABLE = 30,
    ERR_GPS_NOT_AVAILABLE = 31,
    ERR_MEMORY_ALLOCATION_FAILED = 32,
};

/// Number of defined result codes (0 .. resultCodeCount - 1).
constexpr int resultCodeCount = 33;

/// The text of a result code, as narrow characters: "ERR_SUCCESS" for 0, a sentence for every other
/// defined code ("Open failed" for 1, ...), "Unknown result code" for any value outside 0 to 32.
/// The text is static storage that the caller never frees; any thread may call, nothing blocks.
PELMUX_MESSAGE_LINKAGE PELMUX_API const char* PELMUX_STDCALL GetErrorStringA(ResultCode code);
/// The text of a result code as wide characters; the same texts as GetErrorStringA.
PELMUX_MESSAGE_LINKAGE PELMUX_API const wchar_t* PELMUX_STDCALL GetErrorStringW(ResultCode code);

} // namespace Varnholt
