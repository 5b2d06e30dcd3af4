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
/// ERR_SUCCESS unless the operation says otherwise. Beside each code: its text (GetErrorStringA).
enum ResultCode : std::int32_t {
    ERR_SUCCESS = 0,                   ///< "ERR_SUCCESS"
    ERR_OPEN_FAILED = 1,               ///< "Open failed"
    ERR_NOT_SUPPORTED = 2,             ///< "Not supported"
    ERR_UNKNOWN_FEATURE = 3,           ///< "Unknown feature"
    ERR_DATATYPE_MISMATCH = 4,         ///< "Datatype mismatch"
    ERR_CODE_NOT_EXIST = 5,            ///< "Code not exist"
    ERR_BUFFER_SIZE_ERROR = 6,         ///< "Buffer size error"
    ERR_IOCTRL_OPERATION_FAILED = 7,   ///< "IoCtrl operation failed"
    ERR_INVALID_DATA_RANGE = 8,        ///< "Invalid data (range)"
    ERR_INVALID_PARAMETER_NULL = 9,    ///< "Invalid parameter (NULL pointer)"
    ERR_CREATING_THREAD = 10,          ///< "Error creating thread"
    ERR_FUNCTION_IN_PROGRESS = 11,     ///< "Function in progress"
    ERR_CHECKSUM_INCORRECT = 12,       ///< "Checksum incorrect when converting file"
    ERR_INITIALISATION_FAILED = 13,    ///< "Initialisation failed"
    ERR_VERIFY_FAILED = 14,            ///< "Verify failed"
    ERR_DEVICE_READ_FAILED = 15,       ///< "Failed to read data from device"
    ERR_DEVICE_WRITE_FAILED = 16,      ///< "Failed to write data to device"
    ERR_EXECUTE_COMMAND_FAILED = 17,   ///< "Failed to execute command"
    ERR_JIDA_EEPROM_ACCESS = 18,       ///< "Failed to access eeprom (JIDA)"
    ERR_JIDA_TEMPERATURE_READ = 19,    ///< "Failed to read temperature (JIDA)"
    ERR_AVERAGE_CALC_STARTED = 20,     ///< "Average calulation started by other process"
    ERR_FUNCTION_NOT_RUNNING = 21,     ///< "Function not running"
    ERR_I2C_EXPANDER_READ = 22,        ///< "Failed to read from I2C expander (JIDA)"
    ERR_I2C_EXPANDER_WRITE = 23,       ///< "Failed to write to I2C expander (JIDA)"
    ERR_I2C_EXPANDER_INIT = 24,        ///< "I2C expander initialisation failed (JIDA)"
    ERR_NEWER_SS_REQUIRED = 25,        ///< "A newer version of SS is required"
    ERR_NEWER_FPGA_REQUIRED = 26,      ///< "A newer version of FPGA is required"
    ERR_NEWER_FRONT_UC_REQUIRED = 27,  ///< "A newer version of Front uc is required"
    ERR_GSM_GPRS_NOT_AVAILABLE = 28,   ///< "The GSM/GPRS module is not available"
    ERR_WLAN_NOT_AVAILABLE = 29,       ///< "The WLAN module is not available"
    ERR_BLUETOOTH_NOT_AVAILABLE = 30,  ///< "The Bluetooth module is not available"
    ERR_GPS_NOT_AVAILABLE = 31,        ///< "The GPS module is not available"
    ERR_MEMORY_ALLOCATION_FAILED = 32, ///< "Failed to allocate memory"
};

/// Number of defined result codes (0 .. resultCodeCount - 1).
constexpr int resultCodeCount = 33;

/// The text of a result code, as narrow characters. "ERR_SUCCESS" for 0, a sentence for every other
/// defined code ("Open failed" for 1, ...), "Unknown result code" for any value outside 0 to 32.
/// The text is static storage that the caller never frees; any thread may call, nothing blocks.
PELMUX_MESSAGE_LINKAGE PELMUX_API const char* PELMUX_STDCALL GetErrorStringA(ResultCode code);
/// The text of a result code as wide characters; the same texts as GetErrorStringA.
PELMUX_MESSAGE_LINKAGE PELMUX_API const wchar_t* PELMUX_STDCALL GetErrorStringW(ResultCode code);

} // namespace Varnholt
